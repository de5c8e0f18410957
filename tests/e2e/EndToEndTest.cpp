#include "Classes/SampleConditioning.h"
#include "tests/e2e/Run.h"

#include <bit>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using e2e::headless;
using e2e::Scratch;
using nlohmann::json;

namespace {

json state(const Scratch& scratch) {
    return json::parse(scratch.read("state.json"));
}

std::uint32_t bits(float f) {
    return std::bit_cast<std::uint32_t>(f);
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
        std::istringstream fields(text[i] + ",");
        std::string f[5];
        for (std::string& field : f) {
            std::getline(fields, field, ',');
        }
        out.push_back({std::stod(f[0]), std::stod(f[1]), std::stod(f[2]), std::stod(f[3]), f[4]});
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
    EXPECT_EQ(s["page"], "recorder") << "the interface file puts the settings page in the window";
    EXPECT_EQ(
        s["flags"],
        json::parse(
            R"({"updatingIsEnabled":true,"animating":false,"settingsOpen":false,"lastRunState":true})"));
    ASSERT_EQ(s["toolbar"].size(), 3u);
    EXPECT_EQ(s["toolbar"][0]["title"], "Pause");
    EXPECT_EQ(s["toolbar"][0]["style"], 1);
    EXPECT_EQ(s["toolbar"][1]["title"], "");
    EXPECT_EQ(s["toolbar"][2]["title"], "Settings");
    EXPECT_EQ(s["trace"]["history"].size(), 200u);
    EXPECT_EQ(s["trace"]["nextIndex"], 39) << "40 per second, the ticks before the end at t = 1";
    EXPECT_FALSE(std::filesystem::exists(scratch.preferences()))
        << "nothing is saved until the settings page closes";
}

// The run-control table, through the buttons, with the state at the end.
TEST(EndToEndTest, RunControlEndsInTheStateTheButtonsImply) {
    const struct {
        const char* script;
        const char* page;
        const char* runTitle;
        bool runEnabled;
        const char* settingsTitle;
        bool updatingIsEnabled;
        bool settingsOpen;
    } cases[] = {
        {"wait 0.5\ntap run\nwait 0.1\n", "recorder", "Resume", true, "Settings", false, false},
        {"tap run\nwait 0.1\ntap run\nwait 0.1\n", "recorder", "Pause", true, "Settings", true, false},
        {"tap settings\nwait 1.5\n", "settings", "Resume", false, "Save", false, true},
        // A second press while the page turns starts no second turn.
        {"tap settings\nwait 0.2\ntap settings\nwait 1.5\n", "settings", "Resume", false, "Save", false,
         true},
        {"tap settings\nwait 1.5\ntap settings\nwait 1.5\n", "recorder", "Pause", true, "Settings", true,
         false},
        {"tap run\ntap settings\nwait 1.5\ntap settings\nwait 1.5\n", "recorder", "Resume", true, "Settings",
         false, false},
        // The run button is deaf on the settings page.
        {"tap settings\nwait 1.5\ntap run\nwait 0.1\n", "settings", "Resume", false, "Save", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        Scratch scratch;
        scratch.write("script.txt", c.script);
        const e2e::Result result =
            scratch.run(headless({"--script", "script.txt", "--dump-state", "state.json"}));
        ASSERT_EQ(result.status, 0) << result.err;
        const json s = state(scratch);
        EXPECT_EQ(s["page"], c.page);
        EXPECT_EQ(s["toolbar"][0]["title"], c.runTitle);
        EXPECT_EQ(s["toolbar"][0]["enabled"], c.runEnabled);
        EXPECT_EQ(s["toolbar"][2]["title"], c.settingsTitle);
        EXPECT_EQ(s["flags"]["updatingIsEnabled"], c.updatingIsEnabled);
        EXPECT_EQ(s["flags"]["settingsOpen"], c.settingsOpen);
        EXPECT_EQ(s["flags"]["animating"], false);
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
        if (row.t > 1.0 && row.t <= 3.5) {
            EXPECT_EQ(row.deflection, "") << "t = " << row.t << ": recorded while the settings page showed";
        } else if (row.t < 1.0 || row.t > 3.53) {
            EXPECT_NE(row.deflection, "") << "t = " << row.t;
        }
        if (row.deflection.empty()) {
            continue;
        }
        ++kept;
        const float expected = row.t > 3.5 ? conditionSample(input[i], last, filter, 1, 1, 1)
                                           : conditionSample(input[i], last, filter, 0, 2, 0);
        ASSERT_EQ(bits(std::stof(row.deflection)), bits(expected))
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
    const std::string csv = scratch.read("rec.csv");
    ASSERT_EQ(csv.rfind("t,x,y,z,deflection\n", 0), 0u);
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    int complete = 0;
    bool partial = false;
    while (std::getline(in, line)) {
        ASSERT_FALSE(partial) << "only the last row may be cut short";
        const bool whole = !in.eof() && std::count(line.begin(), line.end(), ',') == 4;
        if (!whole) {
            partial = true;
            continue;
        }
        ++complete;
        EXPECT_NEAR(std::stod(line), 0.005 * complete, 1e-9) << "row " << complete << " is the next tick";
    }
    EXPECT_GT(complete, 100) << "samples were delivered before the kill";
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

// A missing image is said and the page works without it; an empty or cut-off interface file stops
// the program at start. The program is installed into the scratch folder with its resources, so
// they can be spoilt there.
TEST(EndToEndTest, SpoiltResources) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path& resources)> spoil;
        int status;
        const char* said;
    };
    const Case cases[] = {
        {"missing_image", [](const auto& r) { std::filesystem::remove(r / "needle.png"); }, 0,
         "needle.png: file not found"},
        {"truncated_interface",
         [](const auto& r) {
             std::filesystem::resize_file(r / "MainWindow.json",
                                          std::filesystem::file_size(r / "MainWindow.json") / 2);
         },
         2, "MainWindow.json: not valid JSON"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch scratch;
        const std::filesystem::path resources = scratch / "share/trembit";
        std::filesystem::create_directories(scratch / "bin");
        std::filesystem::create_directories(scratch / "share");
        std::filesystem::copy(TREMBIT_RESOURCES, resources, std::filesystem::copy_options::recursive);
        std::filesystem::copy_file(TREMBIT_BINARY, scratch / "bin/trembit");
        scratch.binary = (scratch / "bin/trembit").string();
        c.spoil(resources);
        const e2e::Result result = scratch.run(headless({"--duration", "0.5", "--screenshot", "page.png"}));
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        EXPECT_EQ(std::filesystem::exists(scratch / "page.png"), c.status == 0);
    }
}

TEST(EndToEndTest, TheWindowSpeaksTheUsersLanguageAndEverythingElseStaysEnglish) {
    // gettext passes LANGUAGE over in the plain C locale, so the German run says C.UTF-8.
    const std::map<std::string, std::optional<std::string>> german{
        {"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}, {"LC_ALL", std::nullopt}, {"LC_MESSAGES", std::nullopt}};
    std::map<std::string, std::optional<std::string>> english = german;
    english["LANGUAGE"] = std::nullopt;
    Scratch scratch;
    scratch.write("script.txt", "wait 0.5\ntap run\ntap settings\nwait 1.5\nscreenshot settings.png\n"
                                "dump-state state.json\nquit\n");
    std::string pictures[2];
    for (const auto& [environment, index] : {std::pair{english, 0}, std::pair{german, 1}}) {
        const e2e::Result result =
            scratch.run(headless({"--script", "script.txt", "--screenshot", "/nonexistent/end.png"}),
                        {.environment = environment});
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find("trembit: cannot write /nonexistent/end.png: No such file or directory"),
                  std::string::npos)
            << "a message on the command line in another language: " << result.err;
        pictures[index] = scratch.read("settings.png");
    }
    const json s = state(scratch);
    EXPECT_EQ(s["toolbar"][0]["title"], "Resume");
    EXPECT_EQ(s["toolbar"][0]["shownTitle"], "Fortsetzen");
    EXPECT_EQ(s["toolbar"][2]["title"], "Save");
    EXPECT_EQ(s["toolbar"][2]["shownTitle"], "Speichern");
    EXPECT_NE(pictures[0], pictures[1]) << "the settings page's labels are not drawn in German";
}
