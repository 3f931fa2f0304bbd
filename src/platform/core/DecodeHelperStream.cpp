#include "platform/core/DecodeHelperStream.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace fw {

namespace {

std::uint32_t le32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint64_t le64(const std::uint8_t* bytes) {
    return static_cast<std::uint64_t>(le32(bytes)) | static_cast<std::uint64_t>(le32(bytes + 4)) << 32;
}

// Largest rate whose rounding times 100 still fits a signed 32-bit timescale.
constexpr double kLargestFrameRate = std::numeric_limits<std::int32_t>::max() / 100;

}  // namespace

std::int32_t DecodeHelperHeader::timescale() const {
    const auto rounded = static_cast<std::int64_t>(std::llround(frameRate));
    return static_cast<std::int32_t>(std::max<std::int64_t>(600, rounded * 100));
}

std::int64_t DecodeHelperHeader::frameTime(std::int64_t index) const {
    // The small allowance keeps rates like 30000/1001 from truncating a whole tick away.
    return static_cast<std::int64_t>(std::floor(static_cast<double>(index) / frameRate * timescale() + 1e-6));
}

void DecodeHelperStream::readExactly(std::span<std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t count = read_(bytes);
        if (count == 0) throw DecodeHelperStreamError("decoder stream ended early");
        bytes = bytes.subspan(std::min(count, bytes.size()));
    }
}

void DecodeHelperStream::skip(std::uint64_t count) {
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(std::min<std::uint64_t>(count, kAudioChunkBytes)));
    while (count > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, scratch.size()));
        readExactly({scratch.data(), piece});
        count -= piece;
    }
}

const DecodeHelperHeader& DecodeHelperStream::readHeader() {
    std::uint8_t bytes[kHeaderBytes];
    readExactly(bytes);
    if (std::memcmp(bytes, "FWDC", 4) != 0) throw DecodeHelperStreamError("bad decoder handshake");
    const std::uint32_t width = le32(bytes + 8);
    const std::uint32_t height = le32(bytes + 12);
    const double frameRate = std::bit_cast<double>(le64(bytes + 16));
    const std::uint32_t sampleRate = le32(bytes + 32);
    const std::uint32_t channelCount = le32(bytes + 36);
    if (width < 1 || height < 1 || width > DecodeHelperHeader::kLargestSide ||
        height > DecodeHelperHeader::kLargestSide)
        throw DecodeHelperStreamError("decoder announced an unusable frame size " + std::to_string(width) + "x" +
                                      std::to_string(height));
    if (!std::isfinite(frameRate) || !(frameRate > 0) || frameRate > kLargestFrameRate)
        throw DecodeHelperStreamError("decoder announced an unusable frame rate");
    if (sampleRate > DecodeHelperHeader::kLargestSampleRate ||
        (sampleRate > 0 && (channelCount < 1 || channelCount > DecodeHelperHeader::kLargestChannelCount)))
        throw DecodeHelperStreamError("decoder announced an unusable sound format: " + std::to_string(sampleRate) +
                                      " Hz, " + std::to_string(channelCount) + " channels");
    header_.width = static_cast<int>(width);
    header_.height = static_cast<int>(height);
    header_.frameRate = frameRate;
    header_.sampleRate = static_cast<int>(sampleRate);
    header_.channelCount = sampleRate > 0 ? static_cast<int>(channelCount) : 0;
    return header_;
}

DecodeHelperStream::Part DecodeHelperStream::next() {
    if (pictureStarted_) skipPicture();
    if (ended_) return Part::end;
    while (audioLeft_ == 0) {
        std::uint8_t bytes[kMessageHeaderBytes];
        readExactly(bytes);
        const std::uint64_t length = le64(bytes + 1);
        switch (bytes[0]) {
        case 'E': ended_ = true; return Part::end;
        case 'V':
            pictureStarted_ = true;
            pictureLength_ = length;
            return Part::picture;
        case 'A':
            // Sound belongs before the pictures; later sound has no place in the movie.
            if (picturesRead_ > 0) {
                skip(length);
                break;
            }
            if (length == 0 || length % header_.audioFrameBytes() != 0)
                throw DecodeHelperStreamError("decoder sent a sound message of " + std::to_string(length) +
                                              " bytes, not whole frames");
            audioLeft_ = length;
            break;
        default: throw DecodeHelperStreamError("unknown decoder message");
        }
    }
    // Chunks of whole frames, at most kAudioChunkBytes, however long the message.
    const std::size_t frameBytes = header_.audioFrameBytes();
    const std::size_t largest = kAudioChunkBytes / frameBytes * frameBytes;
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(audioLeft_, largest));
    audio_.resize(chunk);
    readExactly(audio_);
    audioLeft_ -= chunk;
    return Part::audio;
}

void DecodeHelperStream::readPicture(std::uint8_t* rows, std::size_t stride) {
    if (!pictureStarted_) throw DecodeHelperStreamError("no picture to read");
    const std::size_t rowBytes = static_cast<std::size_t>(header_.width) * 4;
    // The payload fills the picture it covers, in order; what it leaves uncovered is cleared.
    std::uint64_t left = pictureLength_;
    const auto fill = [&](std::uint8_t* bytes, std::size_t count) {
        const auto covered = static_cast<std::size_t>(std::min<std::uint64_t>(left, count));
        readExactly({bytes, covered});
        std::memset(bytes + covered, 0, count - covered);
        left -= covered;
    };
    if (stride == rowBytes) {
        fill(rows, header_.frameBytes());
    } else {
        for (int y = 0; y < header_.height; ++y) fill(rows + static_cast<std::size_t>(y) * stride, rowBytes);
    }
    skip(left);
    pictureStarted_ = false;
    ++picturesRead_;
}

void DecodeHelperStream::skipPicture() {
    if (!pictureStarted_) return;
    skip(pictureLength_);
    pictureStarted_ = false;
    ++picturesRead_;
}

}  // namespace fw
