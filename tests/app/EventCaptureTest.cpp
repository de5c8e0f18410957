#include "platform/app/EventCapture.h"

#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

namespace {

using platform::Event;
using platform::EventCapture;

constexpr double kInterval = 0.025; // 40 samples per second

struct Collected : platform::EventSink {
    std::vector<Event> events;
    void eventEnded(Event&& event) override { events.push_back(std::move(event)); }
};

// An event's start, end, peak, ending and number of samples kept.
using Summary = std::tuple<double, double, float, Event::Ending, std::size_t>;

// An event from its first and last sample's numbers (from 1), at the times the samples are given.
Summary event(int first, int last, float peak, Event::Ending ending, std::size_t kept) {
    return {first * kInterval, last * kInterval, peak, ending, kept};
}

// Level 0.5, hold 0.1 s (four samples), pre 0.05 s (two samples). The hold, a later crossing and an
// event open at the end are held by the replay in the end-to-end tests.
TEST(EventCaptureTest, FindsEventsByTheRule) {
    using E = Event::Ending;
    // One character per sample: '.' a deflection below the level, 'x' and 'X' two above it, '-' a
    // sample let pass (paused). Pictures are taken whenever asked for.
    const struct {
        const char* name;
        std::string samples;
        std::vector<Summary> events;
        std::vector<std::size_t> pictures; // the samples after which a picture was asked for
    } cases[] = {
        {"first_sample_after_launch_or_a_pause_never_starts_one", "X...--X.....", {}, {}},
        {"a_pause_ends_it_at_its_last_recorded_sample",
         "....xX--....",
         {event(5, 6, 0.8f, E::Pause, 4)},
         {6}},
        {"pre_keeps_samples_let_pass", "..--.X.....", {event(6, 10, 0.8f, E::Quiet, 7)}, {9}},
        {"picture_when_the_peak_is_halfway_down",
         "....X" + std::string(120, 'x') + "....",
         {event(5, 129, 0.8f, E::Quiet, 127)},
         {104}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Collected sink;
        EventCapture capture({0.5f, 0.1, 0.05}, sink);
        std::vector<std::size_t> pictures;
        const platform::CairoSurfacePtr frame = platform::makeImageSurface(1, 1);
        for (std::size_t i = 0; i <= c.samples.size(); ++i) {
            if (i == c.samples.size()) {
                capture.finish();
            } else if (const char s = c.samples[i]; s == '-') {
                capture.sampleDelivered({static_cast<double>(i + 1) * kInterval, {}, std::nullopt});
            } else {
                const float deflection = s == 'X' ? -0.8f : s == 'x' ? 0.6f : 0.1f;
                capture.sampleDelivered({static_cast<double>(i + 1) * kInterval, {}, deflection});
            }
            if (capture.wantsPicture()) {
                pictures.push_back(i);
                capture.takePicture(frame);
            }
        }
        EXPECT_EQ(pictures, c.pictures);
        ASSERT_EQ(sink.events.size(), c.events.size());
        EXPECT_EQ(capture.count(), c.events.size());
        for (std::size_t e = 0; e < c.events.size(); ++e) {
            const Event& got = sink.events[e];
            ASSERT_EQ(std::tuple(got.start, got.end, got.peak, got.ending, got.samples.size()), c.events[e]);
            EXPECT_NEAR(got.samples.front().time, got.start - 0.05, 1e-9) << "two samples before it";
            EXPECT_EQ(got.samples.back().time, got.end);
            EXPECT_TRUE(got.picture);
        }
    }
}

// Ten minutes of shaking: cut at ten minutes into pieces that follow one another, sample by sample.
TEST(EventCaptureTest, LongEventsAreCutAtTenMinutes) {
    Collected sink;
    EventCapture capture({0.5f, 2.0, 2.0}, sink);
    for (int i = 1; i <= 30000; ++i) {
        capture.sampleDelivered({i * kInterval, {}, 0.9f});
        capture.takePicture(nullptr);
    }
    capture.finish();
    capture.takePicture(nullptr);
    ASSERT_EQ(sink.events.size(), 2u);
    const Event& first = sink.events[0];
    const Event& second = sink.events[1];
    EXPECT_EQ(std::tuple(first.ending, second.ending, second.continues),
              std::tuple(Event::Ending::Cut, Event::Ending::Exit, true));
    EXPECT_NEAR(second.start - first.start, EventCapture::kLongestSeconds, 1e-9);
    EXPECT_NEAR(second.samples.front().time - first.samples.back().time, kInterval, 1e-9);
    EXPECT_EQ(first.samples.size() + second.samples.size(), 30000u)
        << "each sample in one piece, none before";
}

} // namespace
