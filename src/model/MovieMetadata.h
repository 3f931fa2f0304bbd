#pragma once
// What the metadata card puts in or beside a movie output: container metadata
// items, an optional timecode track, and the WebVTT caption sidecar converted
// from a SubRip file.
// Thread-safety: plain values and pure functions, safe from any thread.

#include "platform/core/MediaTime.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// The container metadata and timecode request for one movie output.
struct MovieMetadata {
    std::optional<std::string> title;
    std::optional<std::string> artist;
    std::optional<std::string> comment;
    std::optional<std::string> copyright;
    std::optional<std::string> descriptionText;
    // Present only when a timecode track is wanted ("hh:mm:ss:ff").
    std::optional<std::string> startTimecode;
    double timecodeFrameRate = 30;

    // At least one of the five texts is present and not empty (a single
    // space counts); startTimecode does not count.
    bool hasContainerMetadata() const;

    enum class KeySpace { common, quickTimeUserData };
    enum class Key { title, artist, description, copyrights, comment };
    struct Item {
        KeySpace keySpace = KeySpace::common;
        Key key = Key::title;
        std::string value;
        bool operator==(const Item&) const = default;
    };
    // Title, artist, description, copyright (common key space) and comment
    // (QuickTime user data), in that order, each only when present and not
    // empty. Texts go in as they are, untrimmed.
    std::vector<Item> metadataItems() const;

    bool operator==(const MovieMetadata&) const = default;
};

// The container tag a metadata key is written under: "title", "artist",
// "description", "copyright", "comment".
std::string_view tagName(MovieMetadata::Key key);

// The metadata card's state. Never stored; starts from the defaults.
struct MetadataSettings {
    bool enabled = false;  // off: no metadata, no timecode track, no caption sidecar
    std::string title;
    std::string artist;
    std::string comment;
    std::string copyright;
    std::string descriptionText;
    bool writeTimecodeTrack = false;
    std::string startTimecode = "00:00:00:00";
    double timecodeFrameRate = 30.0;
    bool captionsEnabled = false;
    std::optional<std::filesystem::path> captionSourceURL;

    // nullopt when disabled; otherwise the texts as they stand, the start
    // timecode only when writeTimecodeTrack is on, and the frame rate.
    std::optional<MovieMetadata> movie() const;

    bool operator==(const MetadataSettings&) const = default;
};

// A 32-bit QuickTime timecode track ('tmcd'): frames counted at an integer
// rate, no drop-frame, no 24-hour wrap, no negative times.
namespace TimecodeTrack {

struct FormatDescription {
    static constexpr std::uint32_t kFormatType = 0x746D6364;  // 'tmcd'
    // One frame lasts frameDuration (value 1 over a timescale of the quanta).
    MediaTime frameDuration;
    std::uint32_t frameQuanta = 30;
    std::uint32_t flags = 0;
    bool operator==(const FormatDescription&) const = default;
};

struct Sample {
    // The first frame's number, signed 32-bit big-endian.
    std::array<std::uint8_t, 4> payload{};
    MediaTime duration;
    MediaTime presentationTime = MediaTime::zero();
    FormatDescription format;
};

// Quanta = the rate rounded (halves away from zero), at least 1; a rate that
// is 0 or less, NaN or infinite counts as 30. 29.97 gives 30, 23.976 gives 24.
// nullopt only when the rounded rate does not fit 32 bits.
std::optional<FormatDescription> formatDescription(double frameRate);

// The one sample of the track. nullopt when startFrames does not fit a signed
// 32-bit integer.
std::optional<Sample> sampleBuffer(std::int64_t startFrames, MediaTime duration, const FormatDescription& format);

}  // namespace TimecodeTrack

namespace CaptionConverter {

// SubRip text to WebVTT: "WEBVTT" and a blank line, then each usable cue as
// its timing line (commas turned into full stops), its text and a blank line.
// A leading byte-order mark is dropped; CRLF, CR and LF all end lines; any
// number of blank lines (empty, or only spaces and tabs) separates cues. A cue without "-->" in its timing
// line or without text is dropped; the rest still convert. Never fails.
std::string srtToVTT(std::string_view subRip);

}  // namespace CaptionConverter

}  // namespace fw
