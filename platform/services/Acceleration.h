#pragma once

namespace platform {

/// One accelerometer sample along the device's x, y and z axes, in units of g.
struct Acceleration {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

} // namespace platform
