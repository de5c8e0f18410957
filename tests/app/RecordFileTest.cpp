#include "platform/app/RecordFile.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using platform::DeliveredSample;
using platform::RecordFile;

TEST(RecordFileTest, RowsKeepTheirDigitsAndNeighbouringTimesNeverMeet) {
    const struct {
        double t;
        std::optional<float> deflection;
        const char* row;
    } cases[] = {
        {0.025, 0.68390435f, "0.025,0.10000000000000001,-2,-1,0.68390435\n"},
        {1.0 / 60.0, std::nullopt, "0.0166666667,0.10000000000000001,-2,-1,\n"},
        {999999.995, -0.0f, "999999.995,0.10000000000000001,-2,-1,-0\n"},
        // Past 10^6 s nine digits would give neighbouring ticks the same time.
        {1000000.005, 1.0f, "1000000.005,0.10000000000000001,-2,-1,1\n"},
        {12345678.125, 1e-10f, "12345678.125,0.10000000000000001,-2,-1,1.00000001e-10\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.t);
        EXPECT_EQ(RecordFile::row(DeliveredSample{c.t, {0.1, -2.0, -1.0}, c.deflection}), c.row);
    }
    EXPECT_NE(RecordFile::row({2e6 + 0.005, {}, {}}), RecordFile::row({2e6 + 0.010, {}, {}}));
}

} // namespace
