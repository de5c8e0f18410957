#include "platform/app/CommandLine.h"

#include "platform/app/Script.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>
#include <ranges>

using platform::parseCommandLine;
using platform::parseScript;
using platform::ScriptStep;
using testing_support::errorOf;

namespace {

// Each refusal says what is wrong; the unknown option and a script's unknown action are held by the
// start-up refusals of the end-to-end tests.
TEST(CommandLineTest, BadOptionsSayWhatIsWrong) {
    const std::pair<std::vector<std::string_view>, const char*> cases[] = {
        {{"--scale", "4"}, "--scale takes 1, 2 or 3, not '4'"},
        {{"--scale"}, "--scale needs a value"},
        {{"--duration", "-1"}, "seconds"},
        {{"--duration", "1e400"}, "seconds"},
        {{"--duration", "3s"}, "seconds, not '3s'"},
        {{"--trigger", "0"}, "--trigger takes a level above 0"},
        {{"--trigger", "nan"}, "level above 0 (1 is the edge of the paper), not 'nan'"},
        {{"--trigger=1", "--hold", "60.5"}, "--hold takes a number of seconds from 0 to 60"},
        {{"--trigger=1", "--pre", "-0.1"}, "--pre takes a number of seconds from 0 to 60"},
        {{"--trigger=1", "--events="}, "--events needs a folder name"},
        {{"--hold", "1"}, "--hold needs --trigger"},
        {{"--fast"}, "--fast needs --headless"},
        {{"--headless=yes"}, "takes no value"},
        {{"--record", ""}, "needs a file name"},
        {{"--units", "kg"}, "--units takes g or ms2, not 'kg'"},
        {{"--headless", "--fullscreen"}, "--fullscreen needs a window"},
        {{"--source", "sim", "a.csv"}, "the file 'a.csv' and --source both name"},
        {{"a.csv", "b.csv"}, "the files 'a.csv' and 'b.csv' both name"},
    };
    for (const auto& [arguments, message] : cases) {
        const std::string said = errorOf<std::invalid_argument>([&] { parseCommandLine(arguments); });
        EXPECT_NE(said.find(message), std::string::npos) << said;
    }
}

TEST(CommandLineTest, ReadsEveryOption) {
    const platform::Options o =
        parseCommandLine({"--source=file:a.csv", "--headless", "--fast", "--duration=2.5", "--scale", "3",
                          "--script=s.txt", "--record=r.csv", "--screenshot=p.png", "--dump-state=d.json",
                          "--units=ms2", "--sysfs-root=/tmp/fake", "--list-sources", "--trigger=0.25",
                          "--hold=0", "--pre", "60", "--events=ev"});
    EXPECT_TRUE(o.headless && o.fast && o.listSources);
    EXPECT_EQ(std::tuple(o.duration, o.scale, o.trigger, o.hold, o.pre), std::tuple(2.5, 3, 0.25, 0.0, 60.0));
    EXPECT_EQ(std::vector({o.script, o.record, o.screenshot, o.dumpState, o.events}),
              std::vector<std::optional<std::filesystem::path>>({"s.txt", "r.csv", "p.png", "d.json", "ev"}));
    EXPECT_EQ(std::tuple(o.units, o.sysfsRoot), std::tuple("ms2", "/tmp/fake"));
    // The source by default, by a FILE argument, and by the last of several --source options.
    const std::pair<std::vector<std::string_view>, const char*> cases[] = {
        {{}, "auto"},
        {{"--headless", "rec.csv"}, "file:rec.csv"},
        {{"--", "-r.csv"}, "file:-r.csv"},
        {{"-"}, "stdin"},
        {{"--source=sim", "--source", "iio"}, "iio"}};
    for (const auto& [arguments, source] : cases) {
        EXPECT_EQ(parseCommandLine(arguments).source, source);
    }
}

TEST(ScriptTest, ReadsEveryVerbAndSkipsComments) {
    const std::vector<ScriptStep> steps =
        parseScript("# demo\nwait 1.5\n\ntap run   # pause\r\ntap settings\n"
                    "select axis 2\nclick 10 20.5\nscreenshot a.png\n"
                    "dump-state s.json\nquit",
                    "demo");
    using V = ScriptStep::Verb;
    const auto verbs = steps | std::views::transform(&ScriptStep::verb);
    EXPECT_EQ(std::vector(verbs.begin(), verbs.end()),
              std::vector({V::Wait, V::TapRun, V::TapSettings, V::Select, V::Click, V::Screenshot,
                           V::DumpState, V::Quit}));
    EXPECT_EQ(std::tuple(steps[0].seconds, steps[1].line, steps[3].control, steps[3].index, steps[4].y,
                         steps[5].file),
              std::tuple(1.5, 4, "axis", 2, 20.5f, "a.png"));
}

TEST(ScriptTest, BadLinesNameTheFileAndLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"wait 1\nwait\n", "demo:2: expected 'wait SECONDS'"},
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
        const std::string said = errorOf<std::invalid_argument>([&] { parseScript(text, "demo"); });
        EXPECT_NE(said.find(message), std::string::npos) << said;
    }
}

} // namespace
