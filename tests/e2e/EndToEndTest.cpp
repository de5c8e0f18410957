#include "Classes/SampleConditioning.h"
#include "tests/e2e/Run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <cmath>
#include <functional>
#include <memory>

using e2e::headless;
using e2e::Scratch;
using nlohmann::json;

namespace {

json state(const Scratch& scratch, const std::string& name = "state.json") {
    return json::parse(scratch.read(name));
}

struct Row {
    double t;
    double x, y, z;
    bool recorded;
    std::string deflection;
};

std::vector<Row> rows(const std::string& csv) {
    std::vector<Row> out;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "t,x,y,z,deflection");
    while (std::getline(in, line)) {
        Row row{};
        std::istringstream fields(line);
        std::string f[5];
        for (int i = 0; i < 5; ++i) {
            std::getline(fields, f[i], ',');
        }
        row.t = std::stod(f[0]);
        row.x = std::stod(f[1]);
        row.y = std::stod(f[2]);
        row.z = std::stod(f[3]);
        row.recorded = !f[4].empty();
        row.deflection = f[4];
        out.push_back(row);
    }
    return out;
}

// Writes `count` samples made by `make` to samples.csv, exactly (%.17g), and returns them.
std::vector<platform::Acceleration> writeSamples(const Scratch& scratch, int count,
                                                 const std::function<platform::Acceleration(int)>& make) {
    std::vector<platform::Acceleration> input;
    std::string samples = "# x,y,z\n";
    for (int i = 0; i < count; ++i) {
        const platform::Acceleration a = make(i);
        input.push_back(a);
        char line[128];
        std::snprintf(line, sizeof line, "%.17g,%.17g,%.17g\n", a.x, a.y, a.z);
        samples += line;
    }
    scratch.write("samples.csv", samples);
    return input;
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
    EXPECT_EQ(s["flags"], json::parse(R"({"updatingIsEnabled":true,"animating":false,"settingsOpen":false,"lastRunState":true})"));
    ASSERT_EQ(s["toolbar"].size(), 3u);
    EXPECT_EQ(s["toolbar"][0]["title"], "Pause");
    EXPECT_EQ(s["toolbar"][0]["style"], 1);
    EXPECT_EQ(s["toolbar"][1]["title"], "");
    EXPECT_EQ(s["toolbar"][2]["title"], "Settings");
    EXPECT_EQ(s["trace"]["history"].size(), 200u);
    EXPECT_EQ(s["trace"]["nextIndex"], 39) << "40 per second, the ticks before the end at t = 1";
    EXPECT_FALSE(std::filesystem::exists(scratch.preferences())) << "nothing is saved until the settings page closes";
}

// The run-control table, through the buttons, with the state at the end.
struct RunControlCase {
    const char* name;
    const char* script;
    const char* page;
    const char* runTitle;
    bool runEnabled;
    const char* settingsTitle;
    bool updatingIsEnabled;
    bool settingsOpen;
};

void PrintTo(const RunControlCase& c, std::ostream* os) { *os << c.name; }

class RunControlTest : public testing::TestWithParam<RunControlCase> {};

TEST_P(RunControlTest, EndsInTheStateTheButtonsImply) {
    const RunControlCase& c = GetParam();
    Scratch scratch;
    scratch.write("script.txt", c.script);
    const e2e::Result result = scratch.run(headless({"--script", "script.txt", "--dump-state", "state.json"}));
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

INSTANTIATE_TEST_SUITE_P(
    States, RunControlTest,
    testing::Values(
        RunControlCase{"pause", "wait 0.5\ntap run\nwait 0.1\n", "recorder", "Resume", true, "Settings", false, false},
        RunControlCase{"pause_resume", "tap run\nwait 0.1\ntap run\nwait 0.1\n", "recorder", "Pause", true, "Settings",
                       true, false},
        RunControlCase{"settings_open", "tap settings\nwait 1.5\n", "settings", "Resume", false, "Save", false, true},
        RunControlCase{"double_press_starts_one_turn", "tap settings\nwait 0.2\ntap settings\nwait 1.5\n", "settings",
                       "Resume", false, "Save", false, true},
        RunControlCase{"open_close_while_recording", "tap settings\nwait 1.5\ntap settings\nwait 1.5\n", "recorder",
                       "Pause", true, "Settings", true, false},
        RunControlCase{"open_close_while_paused", "tap run\ntap settings\nwait 1.5\ntap settings\nwait 1.5\n",
                       "recorder", "Resume", true, "Settings", false, false},
        RunControlCase{"run_button_deaf_on_settings_page", "tap settings\nwait 1.5\ntap run\nwait 0.1\n", "settings",
                       "Resume", false, "Save", false, true}),
    [](const testing::TestParamInfo<RunControlCase>& info) { return info.param.name; });

TEST(EndToEndTest, NoSampleIsRecordedFromThePressUntilTheCloseEnds) {
    Scratch scratch;
    scratch.write("script.txt", "wait 1\ntap settings\nwait 2\ntap settings\nwait 2\n");
    const e2e::Result result = scratch.run(headless({"--script", "script.txt", "--record", "rec.csv"}));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<Row> all = rows(scratch.read("rec.csv"));
    ASSERT_FALSE(all.empty());
    for (const Row& row : all) {
        const bool suspended = row.t > 1.0 && row.t <= 4.0;
        if (suspended) {
            EXPECT_FALSE(row.recorded) << "t = " << row.t;
        } else if (row.t < 1.0 || row.t > 4.03) {
            EXPECT_TRUE(row.recorded) << "t = " << row.t;
        }
    }
    EXPECT_EQ(all.size(), 200u) << "one row per tick at 40 per second for 5 s";
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

// The recorded deflections are exactly what the unit-tested handler computes for the same
// samples and settings.
TEST(EndToEndTest, RecordedDeflectionsMatchTheHandlerToTheBit) {
    Scratch scratch;
    std::filesystem::create_directories(scratch / "config/trembit");
    scratch.write("config/trembit/preferences.conf", "[trembit]\nfilter=1\nupdateFrequency=3\nscale=0\naxis=2\n");
    const std::vector<platform::Acceleration> input = writeSamples(scratch, 300, [](int i) {
        return platform::Acceleration{0.01 * std::sin(i * 0.7), 0.02 * std::cos(i * 1.3), -1.0 + 0.3 * std::sin(i * 0.11)};
    });
    const e2e::Result result = scratch.run(headless({"--source", "file:samples.csv", "--record", "rec.csv"}));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<Row> recorded = rows(scratch.read("rec.csv"));
    ASSERT_EQ(recorded.size(), input.size());
    std::array<double, 3> last{};
    std::array<double, 3> filter{};
    for (std::size_t i = 0; i < input.size(); ++i) {
        const float expected = conditionSample(input[i], last, filter, 1, 2, 0);
        ASSERT_TRUE(recorded[i].recorded);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(std::stof(recorded[i].deflection)), std::bit_cast<std::uint32_t>(expected))
            << "sample " << i << ": " << recorded[i].deflection << " vs " << expected;
        EXPECT_DOUBLE_EQ(recorded[i].t, 0.005 * static_cast<double>(i + 1));
        EXPECT_TRUE(recorded[i].x == input[i].x && recorded[i].y == input[i].y && recorded[i].z == input[i].z)
            << "sample " << i << ": the columns hold x, y and z as given, exactly";
    }
}

// Filter, scale and axis chosen on the settings page act from the first sample after it closes.
TEST(EndToEndTest, SavedSettingsReachTheNextSample) {
    Scratch scratch;
    const std::vector<platform::Acceleration> input = writeSamples(scratch, 240, [](int i) {
        return platform::Acceleration{0.2 * std::sin(i * 0.9), 0.1 * std::cos(i * 0.4), -1.0 + 0.05 * std::sin(i * 2.1)};
    });
    scratch.write("script.txt", "wait 1\ntap settings\nwait 1.5\nselect filter 1\nselect scale 1\nselect axis 0\n"
                                "tap settings\nwait 3.5\n");
    const e2e::Result result =
        scratch.run(headless({"--source", "file:samples.csv", "--record", "rec.csv", "--script", "script.txt"}));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<Row> recorded = rows(scratch.read("rec.csv"));
    ASSERT_EQ(recorded.size(), input.size());
    std::array<double, 3> last{};
    std::array<double, 3> filter{};
    bool closed = false;
    int after = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (!recorded[i].recorded) {
            closed = i > 0;
            continue;
        }
        const float expected = closed ? conditionSample(input[i], last, filter, 1, 0, 1)
                                      : conditionSample(input[i], last, filter, 0, 1, 0);
        after += closed;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(std::stof(recorded[i].deflection)), std::bit_cast<std::uint32_t>(expected))
            << "sample " << i << (closed ? " after" : " before") << " the settings page";
    }
    EXPECT_GT(after, 50);
}

// Rows are written whole and flushed one by one, so a kill loses at most the row being written.
TEST(EndToEndTest, RecordingSurvivesAKill) {
    Scratch scratch;
    std::filesystem::create_directories(scratch / "config/trembit");
    scratch.write("config/trembit/preferences.conf", "[trembit]\nupdateFrequency=3\n");
    const e2e::Result result = scratch.run({"--headless", "--source", "sim", "--record", "rec.csv"}, {.signalAfterSeconds = 1.5});
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

struct BadStart {
    const char* name;
    std::vector<std::string> arguments;
    const char* messagePart;
};

void PrintTo(const BadStart& c, std::ostream* os) { *os << c.name; }

class BadStartTest : public testing::TestWithParam<BadStart> {};

TEST_P(BadStartTest, SaysWhyAndExitsWithTwo) {
    Scratch scratch;
    scratch.write("bad-script.txt", "wait 1\njump\n");
    scratch.write("bad-ui.json", "{ not json");
    scratch.write("no-outlet.json",
                  R"({"delegate": "TrembitAppDelegate", "window": {"class": "Window", "id": "w", "frame": [0,0,320,480]},
                      "outlets": {"window": "w"}})");
    const e2e::Result result = scratch.run(GetParam().arguments);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find(GetParam().messagePart), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), result.err.find("Try") != std::string::npos ? 2 : 1)
        << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadStartTest,
    testing::Values(BadStart{"unknown_option", {"--frobnicate"}, "unknown option '--frobnicate'"},
                    BadStart{"bad_scale", {"--scale", "5"}, "--scale takes 1, 2 or 3"},
                    BadStart{"unknown_source", {"--headless", "--source", "usb"}, "unknown source 'usb'"},
                    BadStart{"missing_sample_file", {"--headless", "--source", "file:nowhere.csv"}, "nowhere.csv"},
                    BadStart{"unknown_script_verb", {"--headless", "--script", "bad-script.txt"}, "bad-script.txt:2: unknown action 'jump'"},
                    BadStart{"missing_script", {"--headless", "--script", "none.txt"}, "none.txt"},
                    BadStart{"malformed_interface", {"--headless", "--interface", "bad-ui.json"}, "bad-ui.json: not valid JSON"},
                    BadStart{"missing_interface", {"--headless", "--interface", "gone.json"}, "gone.json"},
                    BadStart{"missing_outlet", {"--headless", "--interface", "no-outlet.json"}, "no-outlet.json: the outlet \"settingsView\" is not connected"},
                    BadStart{"unwritable_record", {"--headless", "--record", "/nonexistent/rec.csv"}, "/nonexistent/rec.csv"}),
    [](const testing::TestParamInfo<BadStart>& info) { return info.param.name; });

// Bad input met while running: skipped, counted and said, never a crash, never lost settings.
struct BadRunInput {
    const char* name;
    std::function<void(const Scratch&)> prepare;
    std::vector<std::string> arguments;
    const char* input; // a file in the scratch folder for standard input, or ""
    const char* said;  // part of what standard error must say
    int rows;          // rows expected in rec.csv
};

void PrintTo(const BadRunInput& c, std::ostream* os) { *os << c.name; }

class BadRunInputTest : public testing::TestWithParam<BadRunInput> {};

TEST_P(BadRunInputTest, IsSkippedCountedAndSaid) {
    const BadRunInput& c = GetParam();
    Scratch scratch;
    c.prepare(scratch);
    std::vector<std::string> arguments = headless({"--record", "rec.csv"});
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const e2e::Result result = scratch.run(arguments, {.input = c.input});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    EXPECT_EQ(static_cast<int>(rows(scratch.read("rec.csv")).size()), c.rows);
}

std::string tenMegabyteLine() { return std::string(10 * 1024 * 1024, '7') + "\n"; }

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadRunInputTest,
    testing::Values(
        BadRunInput{"sample_lines",
                    [](const Scratch& s) {
                        s.write("in.csv", "1,2\n\n# blank and comment lines are no samples\n1,2,3,4\nabc,0,0\n"
                                          "nan,0,0\ninf,0,0\n1e400,0,0\n0,0,-1\n");
                    },
                    {"--source", "file:in.csv"}, "", "skipped 6 malformed lines (first at line 1)", 1},
        BadRunInput{"ten_megabyte_line", [](const Scratch& s) { s.write("in.csv", tenMegabyteLine() + "0,0,-1\n"); },
                    {"--source", "file:in.csv"}, "", "skipped 1 malformed line", 1},
        BadRunInput{"binary_stream_on_stdin",
                    [](const Scratch& s) {
                        std::string bytes;
                        for (int i = 0; i < 200000; ++i) {
                            bytes += static_cast<char>((i * 7919) % 251);
                        }
                        s.write("in.bin", bytes + "\n0,0,-1\n");
                    },
                    {"--source", "-"}, "in.bin", "malformed line", 1},
        BadRunInput{"preference_file_of_random_bytes",
                    [](const Scratch& s) {
                        std::filesystem::create_directories(s / "config/trembit");
                        std::string bytes;
                        for (int i = 0; i < 4096; ++i) {
                            bytes += static_cast<char>((i * 104729) % 256);
                        }
                        s.write("config/trembit/preferences.conf", bytes);
                        s.write("in.csv", "0,0,-1\n");
                    },
                    {"--source", "file:in.csv"}, "", "preferences.conf.bad", 1}),
    [](const testing::TestParamInfo<BadRunInput>& info) { return info.param.name; });

// A save that cannot be written still sets the fields, and the program runs on.
TEST(EndToEndTest, UnwritablePreferencesStillChangeTheSettings) {
    Scratch scratch;
    scratch.write("config", "a file where the folder should be");
    scratch.write("script.txt", "tap settings\nwait 1.2\nselect axis 2\ntap settings\nwait 1.2\n");
    const e2e::Result result = scratch.run(headless({"--script", "script.txt", "--dump-state", "state.json"}));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(state(scratch)["settings"]["axis"], 2);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << "the source, and the failed save once:\n"
                                                                         << result.err;
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
        {"empty_interface", [](const auto& r) { std::ofstream(r / "MainWindow.json", std::ios::trunc); }, 2,
         "MainWindow.json: not valid JSON"},
        {"truncated_interface",
         [](const auto& r) {
             std::filesystem::resize_file(r / "MainWindow.json", std::filesystem::file_size(r / "MainWindow.json") / 2);
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
        const e2e::Result result = scratch.run(
            headless({"--script", "script.txt", "--screenshot", "/nonexistent/end.png"}),
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
