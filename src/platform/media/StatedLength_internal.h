#pragma once
// Internal to fw_media: what a file's own bytes state about its length where
// FFmpeg does not say. For AVI and WAV FFmpeg's length is what it finds in the
// file: with the end cut off, the index gone or the data chunk short, it gives
// the length of what is left, so a cut copy would pass for a whole one. The
// header's own numbers still say how long the file was written to be. A
// Matroska track's length is a tag FFmpeg leaves as text, whether an MP4
// comes in fragments (each stating only its own samples) it does not tell,
// and neither the size an FLV's writer gives beside its length.
//
// Byte layout read here (every number little-endian):
//   chunk:  fourcc id, u32 size, size bytes, one pad byte when size is odd
//   LIST:   a chunk whose payload is a fourcc list type, then chunks
//   AVI:    RIFF 'AVI ' { LIST 'hdrl' { avih, LIST 'strl' { strh, ... }... } ... }
//           avih: u32 microseconds per frame @0, u32 total frames @16
//           strh: fourcc type @0, u32 scale @20, u32 rate @24, u32 length @32
//                 (length in units of scale / rate seconds)
//   WAV:    RIFF 'WAVE' { 'fmt ' ..., 'data' (size = bytes of sound) }
//           fmt: u16 format tag @0, u16 channels @2, u32 sample rate @4,
//                u32 bytes per second @8, u16 block align @12, u16 bits @14
//   MP4:    boxes one after another, each u32 size (big-endian, header
//           included), fourcc type, then a u64 size where the first is 1
//   FLV:    (big-endian) "FLV", u8 version, u8 flags, u32 header size, then
//           each tag after the u32 size of the one before: u8 type (18:
//           script), u24 size, u32 time, u24 stream, data. The first script
//           data: u8 2, u16 size, "onMetaData", then u8 8 and a u32 count, or
//           u8 3, and values each after a u16-sized name, ending at an empty
//           one: u8 type, then for 0 (number) an f64, 1 (boolean) a u8, 2
//           (text) a u16 size and bytes, 5 and 6 (none) nothing, 11 (date)
//           an f64 and an s16
//
// The bytes are hostile: every size is checked against the bytes there are,
// and a header that runs past them states nothing. Pure functions (but for the
// reads they are given); any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

struct AVFormatContext;

namespace fw::media::detail {

// Seconds each stream lasts by the header, in stream order as FFmpeg numbers
// them; an empty entry where the header states nothing for that stream.
using StreamSeconds = std::vector<std::optional<double>>;

// How many of an AVI's first bytes are read for its header.
inline constexpr std::size_t kStatedLengthHeadBytes = 256 * 1024;

// How many chunks of a WAV are looked at for its data chunk.
inline constexpr int kMostWavChunks = 4096;

// Fills `into` from the file's bytes at `offset`; gives how many it read,
// fewer at the end of the file or on a failure.
using ReadAt = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> into)>;

// AVI: each video stream's frame count times its frame time (the stream
// header's, else the main header's). Sound and other streams state nothing
// here: writers disagree on what their lengths count. None when the bytes are
// not an AVI header, or one FFmpeg reads as other streams (DV type 1).
std::optional<StreamSeconds> aviStatedSeconds(std::span<const std::uint8_t> head);

// WAV: the data chunk's size over the bytes per second of sound. A size of 0
// or from 0x7FFFF000 up states nothing: tools writing to a pipe put these
// there for "unknown" (0xFFFFFFFF, 0x7FFFFFFF, 0x7FFFF000). None when the file
// of `fileSize` bytes is not a RIFF WAVE (RF64 included) or its data chunk is
// not among its first kMostWavChunks chunks. Tag chunks before the sound may
// be of any size, so only each chunk's header is read on the way.
std::optional<StreamSeconds> wavStatedSeconds(const ReadAt& read, std::uint64_t fileSize);

// How many boxes of an MP4 or QuickTime file, and of its movie header, are
// looked at for the movie header and its fragment box.
inline constexpr int kMostMp4Boxes = 4096;

// MP4/QuickTime (each box: u32 big-endian size, fourcc type; size 1: a u64
// size follows, 0: to the end of the file): whether the movie header ('moov')
// announces fragments ('mvex'), each with a sample table of its own, after it.
// None when the header is not among the first kMostMp4Boxes boxes or a box
// before it is malformed.
std::optional<bool> mp4Fragmented(const ReadAt& read, std::uint64_t fileSize);

// FLV: the "filesize" its writer states among the values of its first script
// tag, as it finishes the file; none when it states none, among values of the
// kinds above only.
std::optional<std::uint64_t> flvStatedFileSize(std::span<const std::uint8_t> head);

// A Matroska track's "DURATION" tag ("H:MM:SS.fraction", as muxers write it
// for each track) in seconds; none when it is anything else.
std::optional<double> matroskaTagSeconds(std::string_view text);

// Reads through `descriptor` with pread.
ReadAt readerOf(int descriptor);

// The stated lengths of an open AVI or WAV file's streams, read through
// `descriptor` (the file FFmpeg opened); none for other formats, or when the
// header cannot be read or does not match FFmpeg's streams.
std::optional<StreamSeconds> statedStreamSeconds(const AVFormatContext& format, int descriptor);

}  // namespace fw::media::detail
