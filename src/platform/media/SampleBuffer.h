#pragma once
// One unit of media moving from a reader output to a writer input: a decoded
// picture (image buffer), a run of PCM frames, or one compressed packet, with
// its presentation time, duration and format description.
//
// Immutable and reference-counted (SampleBufferRef); safe to hand between
// threads. Compressed data may share memory with the demuxer's packet; it is
// kept alive as long as the sample is.

#include "platform/media/FormatDescription.h"
#include "platform/media/MediaTime.h"
#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace fw::media {

class SampleBuffer;
using SampleBufferRef = std::shared_ptr<const SampleBuffer>;

class SampleBuffer {
public:
    // A picture. REQUIRES: image != nullptr.
    static SampleBufferRef makeImage(PixelBufferRef image, MediaTime presentationTime, MediaTime duration,
                                     FormatDescriptionRef format);
    // Bytes the sample owns (a compressed frame, PCM frames). For PCM,
    // sampleCount is the number of frames (data size / bytes per frame).
    static SampleBufferRef makeData(std::vector<std::uint8_t> bytes, MediaTime presentationTime, MediaTime duration,
                                    FormatDescriptionRef format, int sampleCount = 1, bool keyFrame = true);
    // Bytes owned by someone else, kept alive through owner.
    static SampleBufferRef makeShared(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner,
                                      MediaTime presentationTime, MediaTime duration, FormatDescriptionRef format,
                                      int sampleCount = 1, bool keyFrame = true,
                                      MediaTime decodeTime = MediaTime::invalid());

    MediaTime presentationTime() const { return presentationTime_; }
    // Invalid when unknown.
    MediaTime duration() const { return duration_; }
    // Invalid unless it differs from the presentation time (reordered codecs).
    MediaTime decodeTime() const { return decodeTime_; }
    const FormatDescriptionRef& formatDescription() const { return format_; }
    // The picture, or nullptr for data samples.
    const PixelBufferRef& imageBuffer() const { return image_; }
    // Compressed bytes or PCM frames; empty for pictures.
    std::span<const std::uint8_t> data() const { return data_; }
    // What keeps data() alive (null for pictures): holding it keeps the bytes
    // readable after the sample is gone.
    const std::shared_ptr<const void>& dataOwner() const { return owner_; }
    int sampleCount() const { return sampleCount_; }
    bool isKeyFrame() const { return keyFrame_; }

private:
    SampleBuffer() = default;
    MediaTime presentationTime_, duration_, decodeTime_;
    FormatDescriptionRef format_;
    PixelBufferRef image_;
    std::shared_ptr<const void> owner_;
    std::span<const std::uint8_t> data_;
    int sampleCount_ = 1;
    bool keyFrame_ = true;
};

}  // namespace fw::media
