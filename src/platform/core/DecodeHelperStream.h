#pragma once
// The byte stream a decode helper writes in stream mode, read and checked.
// Every number is little-endian.
//
//   header, 40 bytes:
//     0  "FWDC"            8  width (u32)      12 height (u32)
//     16 frame rate (f64)  32 sample rate (u32; 0: no sound)
//     36 channel count (u32); bytes 4..7 and 24..31 are the helper's own.
//   then messages, each a type byte and a u64 length:
//     'A' interleaved signed 16-bit PCM, `length` bytes of whole frames; taken
//         only before the first picture, read and dropped after it
//     'V' one picture: width × height pixels of B, G, R, A bytes, rows top to
//         bottom without padding; `length` is width × height × 4. A shorter
//         payload fills the part of the picture it covers (the rest is 0), and
//         bytes beyond the picture are read and dropped
//     'E' the end; its length is not read, nor anything after it
//
// Nothing the helper says is trusted: sizes are checked before anything is
// allocated or read (a frame's size comes from the checked header, never from
// a message), sound is handed out and dropped bytes are read in chunks of at
// most kAudioChunkBytes, and every fault is a DecodeHelperStreamError naming
// it. The helper sends no times: pictures follow one another at the header's
// rate, and sound counts its frames from zero.
//
// Thread-safety: none; one reader drives a stream.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <vector>

namespace fw {

class DecodeHelperStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DecodeHelperHeader {
    static constexpr std::uint32_t kLargestSide = 32768;
    static constexpr std::uint32_t kLargestSampleRate = 768000;
    static constexpr std::uint32_t kLargestChannelCount = 64;

    int width = 0;
    int height = 0;
    double frameRate = 0;  // finite, above 0, and 100 × its rounding fits 32 bits
    int sampleRate = 0;    // 0: no sound
    int channelCount = 0;  // 1...kLargestChannelCount when there is sound

    std::size_t frameBytes() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4; }
    std::size_t audioFrameBytes() const { return static_cast<std::size_t>(channelCount > 0 ? channelCount : 1) * 2; }
    // Ticks per second of the pictures' times: max(600, 100 × the rounded rate),
    // fine enough to keep frames of any rate apart.
    std::int32_t timescale() const;
    // Time of picture `index` in ticks of timescale().
    std::int64_t frameTime(std::int64_t index) const;
};

class DecodeHelperStream {
public:
    static constexpr std::size_t kHeaderBytes = 40;
    static constexpr std::size_t kMessageHeaderBytes = 9;
    static constexpr std::size_t kAudioChunkBytes = 1 << 16;

    // Reads into the span and returns how many bytes came, 0 at the end of the
    // stream. May throw; what it throws passes through unchanged.
    using Read = std::function<std::size_t(std::span<std::uint8_t>)>;

    explicit DecodeHelperStream(Read read) : read_(std::move(read)) {}

    // Reads and checks the header. Call once, first.
    const DecodeHelperHeader& readHeader();
    const DecodeHelperHeader& header() const { return header_; }

    enum class Part { audio, picture, end };
    // The next part of the stream:
    //   audio: the next chunk of sound, in audio() (whole frames, not empty);
    //   picture: a picture message has begun; call readPicture() before next()
    //     (or next() drops it);
    //   end: the end message came; call nothing more.
    Part next();
    std::span<const std::uint8_t> audio() const { return audio_; }
    // The picture's rows into `rows`, each `stride` bytes apart.
    // REQUIRES: next() returned picture; stride >= width × 4; rows holds height rows.
    void readPicture(std::uint8_t* rows, std::size_t stride);
    // The picture's bytes are read and dropped (no one takes pictures).
    void skipPicture();
    std::int64_t picturesRead() const { return picturesRead_; }

private:
    // Exactly `bytes.size()` bytes, or "decoder stream ended early".
    void readExactly(std::span<std::uint8_t> bytes);
    // Reads and drops `count` bytes, a bounded piece at a time.
    void skip(std::uint64_t count);

    Read read_;
    DecodeHelperHeader header_;
    std::vector<std::uint8_t> audio_;
    std::uint64_t audioLeft_ = 0;      // bytes of the current sound message not yet handed out
    bool pictureStarted_ = false;      // a picture message whose bytes are still unread
    std::uint64_t pictureLength_ = 0;  // its payload's length
    std::int64_t picturesRead_ = 0;
    bool ended_ = false;
};

}  // namespace fw
