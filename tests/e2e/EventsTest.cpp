// Unattended watching: a replay with bumps of known times and sizes. Folders that cannot take the
// events are among the reliability tests' writes.
#include "tests/e2e/Run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using e2e::headless;
using e2e::lines;
using e2e::Scratch;

namespace {

// At rest (z = -1 g) with one-sample jolts in z at 40 samples per second: on the linear scale a
// jolt of A g swings the trace to A/4 and back. The last jolt is still open when the file ends.
TEST(EventsTest, ReplayFindsTheBumpsAndKeepsTheirSamples) {
    Scratch scratch;
    scratch.prefer("scale=1\n");
    const std::map<int, double> jolts = {{80, 2.0}, {200, 4.0}, {210, 2.0}, {390, 2.0}};
    std::string samples;
    for (int i = 0; i < 400; ++i) {
        samples += "0,0," + std::to_string(-1.0 + (jolts.contains(i) ? jolts.at(i) : 0.0)) + "\n";
    }
    scratch.write("samples.csv", samples);
    const e2e::Result result = scratch.run(
        headless({"--source", "file:samples.csv", "--record", "rec.csv", "--dump-state", "state.json",
                  "--trigger", "0.4", "--hold", "1", "--pre", "0.5", "--events", "ev"}));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("trembit: 3 events saved in ev\n"), std::string::npos) << result.err;

    EXPECT_EQ(lines(scratch.read("ev/events.csv")),
              std::vector<std::string>({
                  "start,end,peak,rms,samples,csv,png,note",
                  "2.025,3.050,0.5,0.109108945,62,event-2.025.csv,event-2.025.png,",
                  "5.025,6.300,1,0.219264505,72,event-5.025.csv,event-5.025.png,",
                  "9.775,10.000,0.5,0.223606798,30,event-9.775.csv,event-9.775.png,open when the run ended",
              }));
    const std::vector<std::string> record = lines(scratch.read("rec.csv"));
    for (const auto& [name, from, to, rows] :
         {std::tuple("2.025", "1.525,", "3.05,", 62), std::tuple("5.025", "4.525,", "6.3,", 72),
          std::tuple("9.775", "9.275,", "10,", 30)}) {
        SCOPED_TRACE(name);
        const std::vector<std::string> event = lines(scratch.read(std::string("ev/event-") + name + ".csv"));
        const auto first =
            std::find_if(record.begin(), record.end(), [&](const auto& l) { return l.starts_with(from); });
        ASSERT_EQ(event.size(), static_cast<std::size_t>(rows) + 1);
        EXPECT_EQ(event[0], record[0]);
        EXPECT_TRUE(std::equal(event.begin() + 1, event.end(), first)) << "the record's rows from " << from;
        EXPECT_TRUE(event.back().starts_with(to)) << event.back();
        cairo_surface_t* png = cairo_image_surface_create_from_png(
            (scratch / "ev/event-").string().append(name).append(".png").c_str());
        EXPECT_EQ(cairo_image_surface_get_height(png), 480) << "the window at scale 1";
        cairo_surface_destroy(png);
    }
    EXPECT_EQ(nlohmann::json::parse(scratch.read("state.json"))["events"],
              nlohmann::json::parse(R"({"count": 3, "start": 9.775, "end": 10.0, "peak": 0.5})"));
}

} // namespace
