#pragma once

// The units a sample stream may be written in. Everything past a source is in g.

#include "platform/services/Acceleration.h"

namespace platform {

enum class SampleUnits {
    G,                      ///< multiples of standard gravity, as the recorder works in
    MetresPerSecondSquared, ///< m/s², as most sensor tools and the kernel report
};

/// One g in m/s² (the conventional standard gravity, exact by definition).
inline constexpr double kStandardGravity = 9.80665;

/// A sample read in `units`, in g. Dividing by a constant larger than one keeps a finite sample
/// finite.
constexpr Acceleration toG(const Acceleration& sample, SampleUnits units) {
    if (units == SampleUnits::G) {
        return sample;
    }
    return Acceleration{sample.x / kStandardGravity, sample.y / kStandardGravity,
                        sample.z / kStandardGravity};
}

} // namespace platform
