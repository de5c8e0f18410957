#include "platform/services/SampleLine.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

namespace {

using platform::Acceleration;
using platform::classifySampleLine;
using platform::kMaxSampleLineBytes;
using platform::SampleLineKind;
using platform::SampleLineLayout;
using namespace std::string_literals;

constexpr SampleLineLayout kRecord = SampleLineLayout::Record;

TEST(SampleLineTest, DataLinesReadAsThreeNumbers) {
    const struct {
        std::string line;
        Acceleration expected;
        SampleLineLayout layout = SampleLineLayout::Plain;
    } cases[] = {
        {"0,0,-1", {0.0, 0.0, -1.0}},
        {"0.25,-0.5,1e-3", {0.25, -0.5, 0.001}},
        {" \t1 , 2\t,3  ", {1.0, 2.0, 3.0}},
        {"1,2,3\r\n", {1.0, 2.0, 3.0}},
        {"+1,+0.5,-2", {1.0, 0.5, -2.0}},
        {".5,-.5,5.", {0.5, -0.5, 5.0}},
        {"1E2,-2.5e+1,4e-310", {100.0, -25.0, 4e-310}},
        {"-0,0,0", {-0.0, 0.0, 0.0}},
        {"1.7976931348623157e308,0,0", {1.7976931348623157e308, 0.0, 0.0}},
        // The length limit leaves out the line ending.
        {"1,2,3" + std::string(kMaxSampleLineBytes - 5, ' ') + "\r\n", {1.0, 2.0, 3.0}},
        // A recording's rows: the time and the deflection (empty when not recorded) around x, y, z.
        {"0.025,1,2,3,0.5\n", {1.0, 2.0, 3.0}, kRecord},
        {"0.05, 4 ,5,-6,", {4.0, 5.0, -6.0}, kRecord},
        {"7,8,9,10,-nan", {8.0, 9.0, 10.0}, kRecord},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Acceleration out{9.0, 9.0, 9.0};
        EXPECT_EQ(classifySampleLine(c.line, out, c.layout), SampleLineKind::Sample);
        EXPECT_EQ(std::tuple(out.x, out.y, out.z, std::signbit(out.x)),
                  std::tuple(c.expected.x, c.expected.y, c.expected.z, std::signbit(c.expected.x)));
    }
}

TEST(SampleLineTest, EverythingElseIsSkippedOrMalformedAndLeavesTheOutputAlone) {
    const std::string longest = "1,2,3" + std::string(kMaxSampleLineBytes - 4, ' ');
    const struct {
        SampleLineLayout layout;
        SampleLineKind kind;
        std::vector<std::string> lines;
    } groups[] = {
        // clang-format off
        {SampleLineLayout::Plain, SampleLineKind::Skip, {"", " \t ", "\r\n", "  # x,y,z"}},
        {SampleLineLayout::Plain, SampleLineKind::Malformed,
         {"1,2", "1,2,3,4", "1,2,3,", ",1,2", "1,,3", "1 2 3", "1,2,3 # note", "nan,0,0", "inf,0,0", "1e400,0,0",
          "0,0,1e-400", "0x10,0,0", "++1,0,0", "+-1,0,0", "+,0,0", "1,2,3\n4", "1,2\r,3", "1\0,2,3"s,
          "\xEF\xBB\xBF" "1,2,3", longest, std::string(kMaxSampleLineBytes + 1, ' '), "t,x,y,z,deflection"}},
        {kRecord, SampleLineKind::Skip, {"t,x,y,z,deflection\r\n"}},
        // Among them a row cut short by a crash, "0.5,1,2,-0.98".
        {kRecord, SampleLineKind::Malformed, {"1,2,3", "0.5,1,2,-0.98", "0.5,1,2,3,4,5", "nan,1,2,3,", "0.5,1,2,3,x"}},
        // clang-format on
    };
    for (const auto& group : groups) {
        for (const std::string& line : group.lines) {
            SCOPED_TRACE('"' + line + '"');
            Acceleration out{9.0, 9.0, 9.0};
            EXPECT_EQ(classifySampleLine(line, out, group.layout), group.kind)
                << "0 Sample, 1 Skip, 2 Malformed";
            EXPECT_EQ(out.x, 9.0);
        }
    }
}

} // namespace
