#pragma once

#include "platform/backend/InputEvent.h"
#include "platform/services/Clock.h"

#include <cairo.h>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace platform {

/// Where a run's frames go, where its input comes from and how its clock moves: a window on the
/// desktop, or an offscreen surface on a virtual clock. The main loop drives every backend alike:
/// it asks it to wait until a time and takes the input that came, composes frames into its surface
/// and has them presented. Another way of showing the page is one more class beside these.
class Backend {
public:
    /// A time that never comes.
    static constexpr double kForever = std::numeric_limits<double>::infinity();

    virtual ~Backend() = default;

    /// The run's clock, in seconds since startClock(); only wait() moves it.
    virtual const Clock& clock() const = 0;
    /// Pixels per point of the frames: 1, 2 or 3.
    virtual int scale() const = 0;
    /// True when the clock keeps to real time and someone may be watching: frames are composed as
    /// the views change. False when it runs as fast as the machine allows: animations still step,
    /// but no frame is composed that nobody asked for.
    virtual bool realTime() const = 0;
    /// True when the run is over once its samples are (a replay); a window stays open on the last
    /// trace until its user closes it.
    virtual bool endsWithInput() const = 0;

    /// Shows whatever shows the frames (a window). Called once, when launch has built the views.
    /// Throws std::runtime_error when it cannot.
    virtual void open() = 0;
    /// Time 0 is now; the run begins.
    virtual void startClock() = 0;

    /// Waits until the clock reaches `until` (kForever: no time), until input comes, until
    /// `descriptor` (-1: none) is readable, or until a stop is asked for, and moves the clock to
    /// where the wait ended. Returns the input that came, in order. A clock that runs as fast as it
    /// can jumps to `until` at once, but holds still while a descriptor is waited on. A backend with
    /// no user ends a wait for nothing at all with Quit.
    virtual std::vector<InputEvent> wait(double until, int descriptor) = 0;

    /// The surface the next frame is composed into: ARGB32, 320·scale x 480·scale pixels. The
    /// backend keeps it; it is valid until the next frameSurface() or wait().
    virtual cairo_surface_t* frameSurface() = 0;
    /// Shows the frame just composed into frameSurface().
    virtual void present() = 0;

    /// What a title bar shows, asked for whenever the backend refreshes its title (a window: four
    /// times a second). A backend without a title never asks.
    virtual void setTitleSource(std::function<std::string(double now)> source) = 0;
};

} // namespace platform
