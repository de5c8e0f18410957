#include "platform/app/CommandLine.h"
#include "platform/app/Script.h"

#include <gtest/gtest.h>

using platform::parseCommandLine;
using platform::parseScript;
using platform::ScriptStep;

namespace {

struct BadCommandLine {
    std::vector<std::string_view> arguments;
    const char* messagePart;
};

void PrintTo(const BadCommandLine& c, std::ostream* os) { *os << c.messagePart; }

class CommandLineErrorTest : public testing::TestWithParam<BadCommandLine> {};

TEST_P(CommandLineErrorTest, SaysWhatIsWrong) {
    try {
        parseCommandLine(GetParam().arguments);
        FAIL() << "expected an error";
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().messagePart), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLineErrorTest,
    testing::Values(BadCommandLine{{"--bogus"}, "unknown option '--bogus'"},
                    BadCommandLine{{"--scale", "4"}, "--scale takes 1, 2 or 3, not '4'"},
                    BadCommandLine{{"--scale"}, "--scale needs a value"},
                    BadCommandLine{{"--duration", "-1"}, "seconds"},
                    BadCommandLine{{"--duration", "1e400"}, "seconds"},
                    BadCommandLine{{"--duration", "nan"}, "seconds"},
                    BadCommandLine{{"--duration", "3s"}, "seconds, not '3s'"},
                    BadCommandLine{{"--fast"}, "--fast needs --headless"},
                    BadCommandLine{{"--headless=yes"}, "takes no value"},
                    BadCommandLine{{"--record", ""}, "needs a file name"},
                    BadCommandLine{{"--units", "kg"}, "--units takes g or ms2, not 'kg'"},
                    BadCommandLine{{"--headless", "--fullscreen"}, "--fullscreen needs a window"},
                    BadCommandLine{{"--source", "sim", "a.csv"}, "the file 'a.csv' and --source both name"},
                    BadCommandLine{{"a.csv", "b.csv"}, "the files 'a.csv' and 'b.csv' both name"}));

TEST(CommandLineTest, ReadsEveryOption) {
    const platform::Options o =
        parseCommandLine({"--source", "file:a.csv", "--headless", "--fast", "--duration=2.5", "--scale", "3",
                          "--script", "s.txt", "--record", "r.csv", "--screenshot", "p.png", "--dump-state", "d.json",
                          "--units", "ms2", "--sysfs-root", "/tmp/fake", "--list-sources"});
    EXPECT_TRUE(o.headless && o.fast && o.listSources);
    EXPECT_EQ(o.duration, 2.5);
    EXPECT_EQ(o.scale, 3);
    EXPECT_EQ(o.script, "s.txt");
    EXPECT_EQ(o.record, "r.csv");
    EXPECT_EQ(o.screenshot, "p.png");
    EXPECT_EQ(o.dumpState, "d.json");
    EXPECT_EQ(o.units, "ms2");
    EXPECT_EQ(o.sysfsRoot, "/tmp/fake");
    // The source by default, by a FILE argument, and by the last of several --source options.
    const std::pair<std::vector<std::string_view>, const char*> cases[] = {
        {{}, "auto"}, {{"--headless", "rec.csv"}, "file:rec.csv"}, {{"--", "-r.csv"}, "file:-r.csv"},
        {{"-"}, "stdin"}, {{"--source=sim", "--source", "iio"}, "iio"}};
    for (const auto& [arguments, source] : cases) {
        EXPECT_EQ(parseCommandLine(arguments).source, source);
    }
}

TEST(ScriptTest, ReadsEveryVerbAndSkipsComments) {
    const std::vector<ScriptStep> steps = parseScript("# demo\nwait 1.5\n\ntap run   # pause\r\ntap settings\n"
                                                      "select axis 2\nclick 10 20.5\nscreenshot a.png\n"
                                                      "dump-state s.json\nquit",
                                                      "demo");
    ASSERT_EQ(steps.size(), 8u);
    EXPECT_EQ(steps[0].verb, ScriptStep::Verb::Wait);
    EXPECT_EQ(steps[0].seconds, 1.5);
    EXPECT_EQ(steps[1].verb, ScriptStep::Verb::TapRun);
    EXPECT_EQ(steps[1].line, 4);
    EXPECT_EQ(steps[2].verb, ScriptStep::Verb::TapSettings);
    EXPECT_EQ(steps[3].control, "axis");
    EXPECT_EQ(steps[3].index, 2);
    EXPECT_EQ(steps[4].y, 20.5f);
    EXPECT_EQ(steps[5].file, "a.png");
    EXPECT_EQ(steps[6].verb, ScriptStep::Verb::DumpState);
    EXPECT_EQ(steps[7].verb, ScriptStep::Verb::Quit);
}

TEST(ScriptTest, BadLinesNameTheFileAndLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"wait 1\njump 3\n", "demo:2: unknown action 'jump'"},
        {"wait\n", "demo:1: expected 'wait SECONDS'"},
        {"wait -2\n", "demo:1: wait takes a number of seconds"},
        {"wait inf\n", "demo:1: wait takes a number of seconds"},
        {"tap pause\n", "demo:1: tap takes 'run' or 'settings'"},
        {"select colour 1\n", "demo:1: select takes filter"},
        {"select axis two\n", "demo:1: select takes a segment index"},
        {"click 1\n", "demo:1: expected 'click X Y'"},
        {"click nan 2\n", "demo:1: click takes two numbers"},
        {"quit now\n", "demo:1: expected 'quit'"},
    };
    for (const auto& [text, message] : cases) {
        try {
            parseScript(text, "demo");
            ADD_FAILURE() << "no error for " << text;
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
        }
    }
}

} // namespace
