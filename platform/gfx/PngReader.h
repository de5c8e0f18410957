#pragma once

#include "platform/gfx/CairoPtr.h"

#include <span>

namespace platform {

/// Decodes the kind of PNG file the artwork is drawn as, and any like it: 8 bits a channel, RGB or
/// RGBA, not interlaced, with no transparent colour. Gives what Cairo's own reader gives for the
/// file (an RGB24 or premultiplied ARGB32 surface, every pixel the same) in a fraction of the time:
/// libdeflate inflates and checks several times as fast as zlib, and each pixel is converted once.
///
/// Null for every other file, valid or not, and for any fault (a checksum, the length of the image
/// data, a row's filter, a size Cairo cannot hold): the caller hands those to Cairo, which reads
/// every kind of PNG and says what is wrong with a bad one. `file` is the whole file's bytes.
CairoSurfacePtr decodeSimplePng(std::span<const unsigned char> file);

} // namespace platform
