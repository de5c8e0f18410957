#include "platform/services/SampleLine.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace {

using platform::Acceleration;
using platform::classifySampleLine;
using platform::kMaxSampleLineBytes;
using platform::parseSampleLine;
using platform::SampleLineKind;
using namespace std::string_literals;

constexpr const char* kKindNames[] = {"Sample", "Skip", "Malformed"};

TEST(SampleLineTest, DataLinesReadAsThreeNumbers) {
    const struct {
        std::string line;
        Acceleration expected;
    } cases[] = {
        {"0,0,-1", {0.0, 0.0, -1.0}},
        {"0.25,-0.5,1e-3", {0.25, -0.5, 0.001}},
        {" \t1 , 2\t,3  ", {1.0, 2.0, 3.0}},
        {"1,2,3\r\n", {1.0, 2.0, 3.0}},
        {"1,2,3\n", {1.0, 2.0, 3.0}},
        {"+1,+0.5,-2", {1.0, 0.5, -2.0}},
        {".5,-.5,5.", {0.5, -0.5, 5.0}},
        {"1E2,-2.5e+1,4e-310", {100.0, -25.0, 4e-310}},
        {"-0,0,0", {-0.0, 0.0, 0.0}},
        {"1.7976931348623157e308,0,0", {1.7976931348623157e308, 0.0, 0.0}},
    };
    for (const auto& c : cases) {
        Acceleration out{9.0, 9.0, 9.0};
        EXPECT_EQ(classifySampleLine(c.line, out), SampleLineKind::Sample) << '"' << c.line << '"';
        EXPECT_EQ(out.x, c.expected.x) << c.line;
        EXPECT_EQ(out.y, c.expected.y) << c.line;
        EXPECT_EQ(out.z, c.expected.z) << c.line;
        EXPECT_EQ(std::signbit(out.x), std::signbit(c.expected.x)) << c.line;
        EXPECT_TRUE(parseSampleLine(c.line).has_value()) << c.line;
    }
}

TEST(SampleLineTest, EverythingElseIsSkippedOrMalformedAndLeavesTheOutputAlone) {
    const struct {
        std::string line;
        SampleLineKind expected;
    } cases[] = {
        {"", SampleLineKind::Skip},
        {" \t ", SampleLineKind::Skip},
        {"\r\n", SampleLineKind::Skip},
        {"  # x,y,z", SampleLineKind::Skip},
        {"1,2", SampleLineKind::Malformed},
        {"1,2,3,4", SampleLineKind::Malformed},
        {"1,2,3,", SampleLineKind::Malformed},
        {",1,2", SampleLineKind::Malformed},
        {"1,,3", SampleLineKind::Malformed},
        {"1;2;3", SampleLineKind::Malformed},
        {"1 2 3", SampleLineKind::Malformed},
        {"x,y,z", SampleLineKind::Malformed},
        {"1,2,3 # note", SampleLineKind::Malformed},
        {"nan,0,0", SampleLineKind::Malformed},
        {"0,-nan,0", SampleLineKind::Malformed},
        {"inf,0,0", SampleLineKind::Malformed},
        {"1e400,0,0", SampleLineKind::Malformed},
        {"0,-1e400,0", SampleLineKind::Malformed},
        {"0,0,1e-400", SampleLineKind::Malformed},
        {"0x10,0,0", SampleLineKind::Malformed},
        {"++1,0,0", SampleLineKind::Malformed},
        {"+-1,0,0", SampleLineKind::Malformed},
        {"+,0,0", SampleLineKind::Malformed},
        {"1,2,3\n4", SampleLineKind::Malformed},
        {"1,2\r,3", SampleLineKind::Malformed},
        {"1\0,2,3"s, SampleLineKind::Malformed},
        {"\xEF\xBB\xBF"
         "1,2,3",
         SampleLineKind::Malformed},
    };
    for (const auto& c : cases) {
        Acceleration out{9.0, 9.0, 9.0};
        const SampleLineKind kind = classifySampleLine(c.line, out);
        EXPECT_EQ(kind, c.expected) << '"' << c.line << "\": expected "
                                    << kKindNames[static_cast<int>(c.expected)] << ", got "
                                    << kKindNames[static_cast<int>(kind)];
        EXPECT_EQ(out.x, 9.0) << c.line;
        EXPECT_FALSE(parseSampleLine(c.line).has_value()) << c.line;
    }
}

TEST(SampleLineTest, LineLengthLimitExcludesTheLineEnding) {
    std::string atLimit = "1,2,3";
    atLimit.append(kMaxSampleLineBytes - atLimit.size(), ' ');
    Acceleration out;
    EXPECT_EQ(classifySampleLine(atLimit, out), SampleLineKind::Sample);
    EXPECT_EQ(classifySampleLine(atLimit + "\r\n", out), SampleLineKind::Sample);
    EXPECT_EQ(classifySampleLine(atLimit + " ", out), SampleLineKind::Malformed);
    EXPECT_EQ(classifySampleLine(std::string(kMaxSampleLineBytes + 1, ' '), out), SampleLineKind::Malformed);
}

} // namespace
