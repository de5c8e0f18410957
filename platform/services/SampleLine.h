#pragma once

// The text form of one accelerometer sample, as sample files hold it: "x,y,z" in g, one sample per line.

#include "platform/services/Acceleration.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace platform {

/// The longest line a sample file may hold, in bytes, not counting the line ending. A longer line is
/// malformed: no sample needs a fraction of that, and a reader must never hold an unbounded line.
inline constexpr std::size_t kMaxSampleLineBytes = 4096;

/// The first line of a file written with --record. Its rows are "t,x,y,z,deflection".
inline constexpr std::string_view kRecordHeader = "t,x,y,z,deflection";

/// The columns of a sample file's lines.
enum class SampleLineLayout {
    Plain,  ///< "x,y,z"
    Record, ///< "t,x,y,z,deflection", as --record writes them (see classifySampleLine)
};

enum class SampleLineKind {
    Sample,    ///< three finite numbers
    Skip,      ///< blank (spaces and tabs only) or a comment (first visible character '#')
    Malformed, ///< anything else
};

/// Reads one line of a sample file, with or without its "\n" or "\r\n" ending.
///
/// A sample is exactly three comma-separated numbers, each with optional spaces or tabs around it and
/// an optional leading '+'. Numbers are plain decimal or exponent notation ("-0.5", ".5", "1e-3").
/// Not-a-number, infinities and numbers too large or too small for a double ("1e400", "1e-400") are
/// malformed: a sample that can not be drawn is an error the user should hear about. On Sample, `out`
/// holds the sample; otherwise `out` is left unchanged.
///
/// In the Record layout a line has five fields: the time, the sample's three numbers as above, and
/// the deflection, which is empty for a sample that was not recorded and may be any number, even
/// not-a-number or an infinity (the sample is what is replayed). Five fields are needed, so a last
/// row cut short by a crash is malformed rather than a wrong sample. The header is skipped, so
/// recordings joined end to end replay as one.
SampleLineKind classifySampleLine(std::string_view line, Acceleration& out,
                                  SampleLineLayout layout = SampleLineLayout::Plain);

/// True when `line` is kRecordHeader, with or without its line ending.
bool isRecordHeader(std::string_view line);

/// The sample on a data line; none for a blank, comment or malformed line.
std::optional<Acceleration> parseSampleLine(std::string_view line);

} // namespace platform
