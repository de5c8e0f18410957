#pragma once

#include "platform/gfx/Geometry.h"

namespace platform {

/// One input event, already in window points: 320 x 480, origin at the picture's top-left corner,
/// y down, whatever the pixel scale or the letterbox around the picture.
struct InputEvent {
    enum class Kind {
        Press,   ///< Left button or first finger went down on the picture.
        Move,    ///< The pressing pointer moved; the point is clamped to the picture.
        Release, ///< The pressing pointer went up; the point is clamped to the picture.
        Cancel,  ///< The press ended without a release (the window lost focus or was hidden).
        Key,     ///< One of the keys below was pressed; `point` is unused.
        Quit,    ///< The window was closed, or Ctrl+Q (then `key` is Key::CtrlQ).
        Expose,  ///< The window needs its last picture presented again.
    };
    enum class Key { None, Space, S, Return, CtrlQ, CtrlS };

    Kind kind = Kind::Expose;
    Point point;
    Key key = Key::None;

    friend bool operator==(const InputEvent&, const InputEvent&) = default;
};

} // namespace platform
