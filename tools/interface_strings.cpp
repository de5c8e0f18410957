// Writes the words a main interface file puts in the window (its labels' texts and its segments'
// titles) as a message catalogue template, for xgettext to merge with the strings of the code:
// xgettext cannot read them from JSON itself. The file is loaded by the program's own loader, so
// a file the program would refuse fails the build here too.
//
// Usage: interface_strings INTERFACE_FILE SHOWN_NAME OUTPUT_POT
// SHOWN_NAME is the file's name in the template's references, e.g. resources/MainWindow.json.

#include "platform/app/InterfaceFile.h"
#include "platform/services/OutputFile.h"
#include "platform/ui/Label.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

// Text with no letter in it (a number, a sign) reads the same in every language.
bool hasLetter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || byte >= 0x80;
    });
}

void collect(const platform::View& view, std::vector<std::string>& texts) {
    const auto add = [&texts](const std::string& text) {
        if (hasLetter(text) && std::find(texts.begin(), texts.end(), text) == texts.end()) {
            texts.push_back(text);
        }
    };
    if (const auto* label = dynamic_cast<const platform::Label*>(&view)) {
        add(label->text());
    }
    if (const auto* control = dynamic_cast<const platform::SegmentedControl*>(&view)) {
        for (std::size_t i = 0; i < control->numberOfSegments(); ++i) {
            add(control->titleForSegment(i));
        }
    }
    for (const std::shared_ptr<platform::View>& subview : view.subviews()) {
        collect(*subview, texts);
    }
}

// A C string literal's body as the catalogue format writes it.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default: out += c; break;
        }
    }
    return out + "\"";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: interface_strings INTERFACE_FILE SHOWN_NAME OUTPUT_POT\n");
        return 2;
    }
    try {
        const platform::Interface interface = platform::loadInterface(argv[1]);
        std::vector<std::string> texts;
        collect(*interface.window, texts);
        std::string pot = "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n";
        for (const std::string& text : texts) {
            pot += std::string("\n#: ") + argv[2] + "\nmsgid " + quoted(text) + "\nmsgstr \"\"\n";
        }
        platform::writeOutputFile(argv[3], pot);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "interface_strings: %s\n", error.what());
        return 1;
    }
}
