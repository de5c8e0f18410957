#include "Classes/SampleConditioning.h"
#include "tests/e2e/Run.h"

#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using e2e::headless;
using e2e::Scratch;
using nlohmann::json;

namespace {

namespace fs = std::filesystem;

json state(const Scratch& scratch) {
    return json::parse(scratch.read("state.json"));
}

struct Row {
    double t, x, y, z;
    std::string deflection; // empty when the sample was let pass
};

std::vector<Row> rows(const std::string& csv) {
    std::vector<std::string> text = e2e::lines(csv);
    EXPECT_EQ(text.empty() ? "" : text[0], "t,x,y,z,deflection");
    std::vector<Row> out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        Row& row = out.emplace_back();
        char deflection[32] = "";
        EXPECT_GE(
            std::sscanf(text[i].c_str(), "%lf,%lf,%lf,%lf,%31s", &row.t, &row.x, &row.y, &row.z, deflection),
            4);
        row.deflection = deflection;
    }
    return out;
}

// The page, the run and settings buttons' titles (the run button's marked when it is off) and the
// flags that are set.
std::string summary(const json& s) {
    std::string out = s["page"].get<std::string>() + " " + s["toolbar"][0]["title"].get<std::string>() +
                      (s["toolbar"][0]["enabled"] ? "" : " (off)") + " " +
                      s["toolbar"][2]["title"].get<std::string>();
    for (const char* flag : {"updatingIsEnabled", "animating", "settingsOpen"}) {
        out += s["flags"][flag] ? std::string(" ") + flag : "";
    }
    return out;
}

} // namespace

TEST(EndToEndTest, FirstLaunchRecordsWithTheDefaults) {
    Scratch scratch;
    const e2e::Result result = scratch.run(headless({"--duration", "1", "--dump-state", "state.json"}));
    ASSERT_EQ(result.status, 0) << result.err;
    const json s = state(scratch);
    EXPECT_EQ(s["settings"], json::parse(R"({"filter":0,"updateFrequency":1,"scale":0,"axis":1})"));
    EXPECT_EQ(s["controls"], json::parse(R"({"filter":0,"updateFrequency":1,"scale":0,"axis":1})"));
    EXPECT_EQ(s["updateInterval"].get<double>(), 0.025);
    EXPECT_EQ(summary(s), "recorder Pause Settings updatingIsEnabled");
    EXPECT_EQ(s["flags"]["lastRunState"], true);
    ASSERT_EQ(s["toolbar"].size(), 3u);
    EXPECT_EQ(std::tuple(s["toolbar"][0]["style"], s["toolbar"][1]["title"]), std::tuple(1, ""));
    EXPECT_EQ(s["trace"]["history"].size(), 200u);
    EXPECT_EQ(s["trace"]["nextIndex"], 39) << "40 per second, the ticks before the end at t = 1";
    EXPECT_FALSE(fs::exists(scratch.preferences())) << "nothing is saved until the settings page closes";
}

// The run-control table, through the buttons, with the state at the end.
TEST(EndToEndTest, RunControlEndsInTheStateTheButtonsImply) {
    const std::pair<const char*, const char*> cases[] = {
        {"wait 0.5\ntap run\nwait 0.1\n", "recorder Resume Settings"},
        {"tap run\nwait 0.1\ntap run\nwait 0.1\n", "recorder Pause Settings updatingIsEnabled"},
        {"tap settings\nwait 1.5\n", "settings Resume (off) Save settingsOpen"},
        // A second press while the page turns starts no second turn.
        {"tap settings\nwait 0.2\ntap settings\nwait 1.5\n", "settings Resume (off) Save settingsOpen"},
        {"tap settings\nwait 1.5\ntap settings\nwait 1.5\n", "recorder Pause Settings updatingIsEnabled"},
        {"tap run\ntap settings\nwait 1.5\ntap settings\nwait 1.5\n", "recorder Resume Settings"},
        // The run button is deaf on the settings page.
        {"tap settings\nwait 1.5\ntap run\nwait 0.1\n", "settings Resume (off) Save settingsOpen"},
    };
    for (const auto& [script, expected] : cases) {
        SCOPED_TRACE(script);
        Scratch scratch;
        scratch.write("script.txt", script);
        const e2e::Result result =
            scratch.run(headless({"--script", "script.txt", "--dump-state", "state.json"}));
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(summary(state(scratch)), expected);
    }
}

TEST(EndToEndTest, ClosingSavesAllFourAndRateWaitsForTheNextLaunch) {
    Scratch scratch;
    scratch.write("script.txt",
                  "tap settings\nwait 1.5\nselect updateFrequency 3\nselect axis 2\nselect scale 1\n"
                  "tap settings\nwait 1.5\n");
    ASSERT_EQ(scratch.run(headless({"--script", "script.txt", "--dump-state", "state.json"})).status, 0);
    json s = state(scratch);
    EXPECT_EQ(s["settings"], json::parse(R"({"filter":0,"updateFrequency":3,"scale":1,"axis":2})"));
    EXPECT_EQ(s["updateInterval"].get<double>(), 0.025) << "the rate applies at the next launch";
    const std::string saved = scratch.read("config/trembit/preferences.conf");
    for (const char* entry : {"filter=0", "updateFrequency=3", "scale=1", "axis=2"}) {
        EXPECT_NE(saved.find(entry), std::string::npos) << entry << " in\n" << saved;
    }

    ASSERT_EQ(scratch.run(headless({"--duration", "0.1", "--dump-state", "state.json"})).status, 0);
    s = state(scratch);
    EXPECT_EQ(s["updateInterval"].get<double>(), 0.005);
    EXPECT_EQ(s["controls"], json::parse(R"({"filter":0,"updateFrequency":3,"scale":1,"axis":2})"));
}

// A replay at 200 samples per second through a visit to the settings page. Each row holds its
// tick's time and the sample's x, y and z as given; from the press until the page has turned back
// nothing is recorded, and nothing reaches the trace or the handler's memory; every deflection is
// what the handler computes, to the bit, for the saved settings before and the chosen ones after.
TEST(EndToEndTest, RecordHoldsEveryTickAndTheHandlersDeflections) {
    Scratch scratch;
    scratch.prefer("filter=0\nupdateFrequency=3\nscale=0\naxis=2\n");
    std::vector<platform::Acceleration> input;
    std::string samples = "# x,y,z\n";
    for (int i = 0; i < 1200; ++i) {
        input.push_back({0.2 * std::sin(i * 0.9), 0.1 * std::cos(i * 1.3), -1.0 + 0.3 * std::sin(i * 0.11)});
        char line[128];
        std::snprintf(line, sizeof line, "%.17g,%.17g,%.17g\n", input.back().x, input.back().y,
                      input.back().z);
        samples += line;
    }
    scratch.write("samples.csv", samples);
    scratch.write("script.txt",
                  "wait 1\ntap settings\nwait 1.5\nselect filter 1\nselect scale 1\nselect axis 1\n"
                  "tap settings\nwait 3.5\n");
    const e2e::Result result =
        scratch.run(headless({"--source", "file:samples.csv", "--record", "rec.csv", "--script", "script.txt",
                              "--dump-state", "state.json"}));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<Row> recorded = rows(scratch.read("rec.csv"));
    ASSERT_EQ(recorded.size(), input.size());
    std::array<double, 3> last{};
    std::array<double, 3> filter{};
    int kept = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        const Row& row = recorded[i];
        EXPECT_DOUBLE_EQ(row.t, 0.005 * static_cast<double>(i + 1));
        EXPECT_TRUE(row.x == input[i].x && row.y == input[i].y && row.z == input[i].z) << "row " << i;
        // Nothing is handled while the settings page shows; the page's turn back ends within a few ticks.
        if (const bool settings = row.t > 1.0 && row.t <= 3.5; settings || row.t < 1.0 || row.t > 3.53) {
            EXPECT_EQ(row.deflection.empty(), settings) << "t = " << row.t;
        }
        if (row.deflection.empty()) {
            continue;
        }
        ++kept;
        const float expected = row.t > 3.5 ? conditionSample(input[i], last, filter, 1, 1, 1)
                                           : conditionSample(input[i], last, filter, 0, 2, 0);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(std::stof(row.deflection)),
                  std::bit_cast<std::uint32_t>(expected))
            << "t = " << row.t << ": " << row.deflection;
    }
    EXPECT_EQ(state(scratch)["trace"]["nextIndex"], kept % 200);
}

// Rows are written whole and flushed one by one, so a kill loses at most the row being written.
TEST(EndToEndTest, RecordingSurvivesAKill) {
    Scratch scratch;
    scratch.prefer("updateFrequency=3\n");
    const e2e::Result result =
        scratch.run({"--headless", "--source", "sim", "--record", "rec.csv"}, {.signalAfterSeconds = 1.5});
    ASSERT_EQ(result.status, 128 + SIGKILL);
    // Only the row being written when the kill came, after the last line break, may be cut short.
    const std::string csv = scratch.read("rec.csv");
    const std::vector<std::string> whole = e2e::lines(csv.substr(0, csv.rfind('\n') + 1));
    ASSERT_GT(whole.size(), 100u) << "samples were delivered before the kill";
    EXPECT_EQ(whole[0], "t,x,y,z,deflection");
    for (std::size_t i = 1; i < whole.size(); ++i) {
        EXPECT_EQ(std::count(whole[i].begin(), whole[i].end(), ','), 4) << whole[i];
        EXPECT_NEAR(std::stod(whole[i]), 0.005 * static_cast<double>(i), 1e-9)
            << "row " << i << " is the next tick";
    }
}

// Bad lines and binary junk on standard input are skipped, counted and said, never a crash.
TEST(EndToEndTest, BadInputLinesAreSkippedCountedAndSaid) {
    Scratch scratch;
    std::string junk;
    for (int i = 0; i < 200000; ++i) {
        junk += static_cast<char>((i * 7919) % 251);
    }
    scratch.write("in.csv", "1,2\n\n# blank and comment lines are no samples\n1,2,3,4\nabc,0,0\nnan,0,0\n" +
                                junk + "\n0,0,-1\n");
    const e2e::Result result =
        scratch.run(headless({"--source", "-", "--record", "rec.csv"}), {.input = "in.csv"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("trembit: stdin: skipped "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" malformed lines (first at line 1)\n"), std::string::npos) << result.err;
    EXPECT_EQ(rows(scratch.read("rec.csv")).size(), 1u);
}

// A save that cannot be written still sets the fields, and the program runs on.
TEST(EndToEndTest, UnwritablePreferencesStillChangeTheSettings) {
    Scratch scratch;
    scratch.write("config", "a file where the folder should be");
    scratch.write("script.txt", "tap settings\nwait 1.2\nselect axis 2\ntap settings\nwait 1.2\n");
    const e2e::Result result =
        scratch.run(headless({"--script", "script.txt", "--dump-state", "state.json"}));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(state(scratch)["settings"]["axis"], 2);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2)
        << "the source, the failed save once: " << result.err;
}

// A missing image is said and the page works without it. The program is installed into the scratch
// folder with its resources, so that one can be taken away there. A bad interface file is among the
// reliability tests' start-up refusals and caps.
TEST(EndToEndTest, AMissingImageIsSaidAndThePageWorksWithoutIt) {
    Scratch scratch;
    fs::create_directories(scratch / "bin");
    fs::create_directories(scratch / "share");
    fs::copy(TREMBIT_RESOURCES, scratch / "share/trembit", fs::copy_options::recursive);
    fs::remove(scratch / "share/trembit/needle.png");
    fs::copy_file(TREMBIT_BINARY, scratch / "bin/trembit");
    scratch.binary = (scratch / "bin/trembit").string();
    const e2e::Result result = scratch.run(headless({"--duration", "0.5", "--screenshot", "page.png"}));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("needle.png: file not found"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(scratch / "page.png"));
}

TEST(EndToEndTest, TheWindowSpeaksTheUsersLanguageAndEverythingElseStaysEnglish) {
    // gettext passes LANGUAGE over in the plain C locale, so the German run says C.UTF-8.
    e2e::Environment english{{"LANG", "C.UTF-8"}, {"LANGUAGE", {}}, {"LC_ALL", {}}, {"LC_MESSAGES", {}}};
    e2e::Environment german = english;
    german["LANGUAGE"] = "de";
    Scratch scratch;
    scratch.write("script.txt", "wait 0.5\ntap run\ntap settings\nwait 1.5\nscreenshot settings.png\n"
                                "dump-state state.json\nquit\n");
    std::vector<std::string> pictures;
    for (const e2e::Environment& environment : {english, german}) {
        const e2e::Result result =
            scratch.run(headless({"--script", "script.txt", "--screenshot", "/nonexistent/end.png"}),
                        {.environment = environment});
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find("trembit: cannot write /nonexistent/end.png: No such file or directory"),
                  std::string::npos)
            << "a message on the command line in another language: " << result.err;
        pictures.push_back(scratch.read("settings.png"));
    }
    const json s = state(scratch);
    EXPECT_EQ(summary(s), "settings Resume (off) Save settingsOpen")
        << "the state file's titles stay English";
    EXPECT_EQ(std::tuple(s["toolbar"][0]["shownTitle"], s["toolbar"][2]["shownTitle"]),
              std::tuple("Fortsetzen", "Speichern"));
    EXPECT_NE(pictures[0], pictures[1]) << "the settings page's labels are not drawn in German";
}
