#pragma once
// A GIF file written frame by frame through giflib's streaming calls, so
// memory stays at one frame whatever the number of frames: a GIF89a logical
// screen of the frames' size, the application extension that loops forever
// (when asked), then each frame as a full-screen image with a colour table of
// its own and, when given, a delay in hundredths of a second.
//
// A delay beyond the 16-bit field (655.35 s) is carried on by 1 × 1 frames
// that are fully transparent and leave the picture in place, so that delays
// still add up.
//
// Failures throw EncodingError::writerFailed: "could not create GIF “<name>”"
// when the file cannot be opened or its header written, "could not write GIF
// frame to “<name>”" for a frame, "could not finalize GIF “<name>”" when the
// file cannot be completed, each followed by ": " and the reason
// (writeFailureReason for the file's own failures: a missing folder, no
// permission, a full disk; else giflib's). A writer destroyed unfinished
// closes its file as it stands.
//
// Thread-safety: none; one encode owns one writer.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace fw {

// One frame in palette form.
struct IndexedPicture {
    int width = 0;
    int height = 0;
    // 1 to 256 colours, red, green, blue.
    std::vector<std::array<std::uint8_t, 3>> palette;
    // width × height palette indices, top row first.
    std::vector<std::uint8_t> indices;
};

class GIFWriter {
public:
    enum class Looping { once, forever };

    // Creates (or truncates) `file`; messages name `shown` (`file` when
    // empty), the destination a staged file stands for.
    // REQUIRES: sides 1...65535.
    GIFWriter(const std::filesystem::path& file, int width, int height, Looping looping,
              const std::filesystem::path& shown = {});
    ~GIFWriter();
    GIFWriter(GIFWriter&&) noexcept;
    GIFWriter& operator=(GIFWriter&&) noexcept;
    GIFWriter(const GIFWriter&) = delete;
    GIFWriter& operator=(const GIFWriter&) = delete;

    // Appends a frame of the screen's size shown for `delayHundredths` (none:
    // no graphic control block at all, as for a single still).
    // REQUIRES: the picture has the screen's size, a palette of 1...256
    // colours and indices below the palette's size; delay 0 or more.
    void addFrame(const IndexedPicture& picture, std::optional<std::int64_t> delayHundredths);

    // Writes the trailer and closes the file. Call once, after the last frame.
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fw
