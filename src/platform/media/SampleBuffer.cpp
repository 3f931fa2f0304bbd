#include "platform/media/SampleBuffer.h"

namespace fw::media {

std::string fourCharCodeString(FourCharCode code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
        text[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

SampleBufferRef SampleBuffer::makeImage(PixelBufferRef image, MediaTime presentationTime, MediaTime duration,
                                        FormatDescriptionRef format) {
    std::shared_ptr<SampleBuffer> sample(new SampleBuffer());
    sample->image_ = std::move(image);
    sample->presentationTime_ = presentationTime;
    sample->duration_ = duration;
    sample->format_ = std::move(format);
    return sample;
}

SampleBufferRef SampleBuffer::makeData(std::vector<std::uint8_t> bytes, MediaTime presentationTime, MediaTime duration,
                                       FormatDescriptionRef format, int sampleCount, bool keyFrame) {
    auto owned = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    return makeShared(*owned, owned, presentationTime, duration, std::move(format), sampleCount, keyFrame);
}

SampleBufferRef SampleBuffer::makeShared(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner,
                                         MediaTime presentationTime, MediaTime duration, FormatDescriptionRef format,
                                         int sampleCount, bool keyFrame, MediaTime decodeTime) {
    std::shared_ptr<SampleBuffer> sample(new SampleBuffer());
    sample->owner_ = std::move(owner);
    sample->data_ = bytes;
    sample->presentationTime_ = presentationTime;
    sample->duration_ = duration;
    sample->decodeTime_ = decodeTime;
    sample->format_ = std::move(format);
    sample->sampleCount_ = sampleCount;
    sample->keyFrame_ = keyFrame;
    return sample;
}

}  // namespace fw::media
