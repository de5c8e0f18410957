// Until the application shell exists, the program renders the recorder page after a few hundred
// simulated deflection values and writes it as a PNG.
#include "Classes/TremView.h"
#include "platform/ui/Compositor.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

namespace {

constexpr platform::Rect kPageFrame(0.0f, 0.0f, 320.0f, 411.0f);
constexpr int kSimulatedValues = 340;

// A tap that rings down, over a little steady tremor: enough to show the trace, needle and paper.
float simulatedValue(int i) {
    const double t = i / 40.0;
    const double tremor = 0.08 * std::sin(t * 37.0) + 0.05 * std::sin(t * 91.0 + 1.3);
    const double tap = i >= 200 ? 0.9 * std::exp(-(i - 200) / 35.0) * std::sin((i - 200) * 0.9) : 0.0;
    return static_cast<float>(tremor + tap);
}

} // namespace

int main(int argc, char** argv) {
    try {
        int scale = 2;
        std::filesystem::path output = "trembit-recorder.png";
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--scale" && i + 1 < argc) {
                scale = std::stoi(argv[++i]);
            } else if (arg == "--screenshot" && i + 1 < argc) {
                output = argv[++i];
            } else {
                std::fprintf(stderr, "usage: trembit [--scale 1|2|3] [--screenshot FILE]\n");
                return 2;
            }
        }
        TremView page(kPageFrame);
        for (int i = 0; i < kSimulatedValues; ++i) {
            page.handleMove(simulatedValue(i));
        }
        platform::Compositor compositor(kPageFrame.size, scale);
        compositor.render(page);
        compositor.writePng(output);
        std::printf("trembit: recorder page written to %s\n", std::filesystem::absolute(output).c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "trembit: %s\n", error.what());
        return 2;
    }
}
