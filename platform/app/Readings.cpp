#include "platform/app/Readings.h"

#include "platform/gfx/Translation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <langinfo.h>
#include <string_view>

namespace platform {

// SDL converts titles to the locale's character set for older window managers and gives up on
// characters it cannot show, so the em dash is used only in a UTF-8 locale.
Readings::Readings() : dash_(std::string_view(nl_langinfo(CODESET)) == "UTF-8" ? "\u2014" : "-") {}

void Readings::sampleDelivered(const DeliveredSample& delivered) {
    forgetBefore(delivered.time);
    times_.push_back(delivered.time);
    if (delivered.deflection) {
        trace_[next_] = *delivered.deflection;
        next_ = (next_ + 1) % kTraceLength;
    }
}

std::string Readings::title(double now) {
    forgetBefore(now);
    float peak = 0.0f;
    double sumOfSquares = 0.0;
    for (const float v : trace_) {
        if (!std::isnan(v)) {
            peak = std::max(peak, std::fabs(v));
            sumOfSquares += static_cast<double>(v) * static_cast<double>(v);
        }
    }
    const double rms = std::sqrt(sumOfSquares / static_cast<double>(kTraceLength));
    const auto twoDecimals = [](double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", value);
        return std::string(text);
    };
    return std::string("Trembit ") + dash_ + " " +
           substitute(translate("%s/s"), std::to_string(times_.size())) + " " + dash_ + " " +
           substitute(translate("peak %s"), twoDecimals(peak)) + " " + dash_ + " " +
           substitute(translate("rms %s"), twoDecimals(rms));
}

std::string Readings::title(double now, std::uint64_t events, bool notSaved) {
    // Appended piece by piece: GCC 12 mistakes " " + text for an overlapping copy.
    std::string text = title(now);
    text += ' ';
    text += dash_;
    text += ' ';
    text += substitute(translatePlural("%s event", "%s events", events), std::to_string(events));
    if (notSaved) {
        text += ' ';
        text += translate("(not saved)");
    }
    return text;
}

void Readings::forgetBefore(double now) {
    while (!times_.empty() && times_.front() <= now - 1.0) {
        times_.pop_front();
    }
}

} // namespace platform
