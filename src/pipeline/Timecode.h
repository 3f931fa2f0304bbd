#pragma once
// Timecode text of the burned-in timecode and of the movie's timecode track.
// Thread-safety: pure functions.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

namespace Timecode {

// "HH:MM:SS:FF", each field at least two digits, hours not wrapping at 24.
// The frame rate counts at 30 when it is not above 0 or not finite; invalid
// seconds (negative, not finite) give "00:00:00:00".
std::string string(double seconds, double frameRate);

// The frame number of "h:m:s:f" (four non-negative integers; empty pieces from
// doubled colons are skipped), or nullopt. Frames beyond a second's last frame
// count as that last frame. nullopt also when the result leaves 64 bits.
std::optional<std::int64_t> frames(std::string_view text, double frameRate);

}  // namespace Timecode

}  // namespace fw
