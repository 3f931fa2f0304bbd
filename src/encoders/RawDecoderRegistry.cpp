#include "encoders/RawDecoderRegistry.h"

#include "model/EncodingError.h"

#include <algorithm>
#include <cstring>

namespace fw {

namespace {

// The largest side a picture holds (PixelBuffer::create).
constexpr std::int64_t kMaxSide = 32768;

bool isComplete(const FWRawDecoderPlugin& plugin) {
    return plugin.identifier && plugin.canOpen && plugin.openClip && plugin.frameCount && plugin.frameRate &&
           plugin.width && plugin.height && plugin.copyFrame && plugin.closeClip;
}

// Hands a plug-in's frame back exactly once, on every path out.
class FrameRelease {
public:
    explicit FrameRelease(FWRawFrame& frame) : frame_(frame) {}
    ~FrameRelease() {
        if (frame_.release) frame_.release(&frame_);
    }
    FrameRelease(const FrameRelease&) = delete;
    FrameRelease& operator=(const FrameRelease&) = delete;

private:
    FWRawFrame& frame_;
};

}  // namespace

media::PixelBufferRef bgraPicture(std::int64_t width, std::int64_t height, std::span<const std::uint8_t> bytes) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return nullptr;
    std::uint64_t needed = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), &needed) ||
        __builtin_mul_overflow(needed, std::uint64_t{4}, &needed) || bytes.size() < needed)
        return nullptr;
    auto picture =
        media::PixelBuffer::create(static_cast<int>(width), static_cast<int>(height), media::PixelFormat::bgra8);
    if (!picture) return nullptr;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < picture->height(); ++y)
        std::memcpy(picture->row(y), bytes.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    return picture;
}

// ------------------------------------------------------------------- RawClip

RawClip::~RawClip() { plugin_->closeClip(handle_); }

std::int64_t RawClip::frameCount() const {
    std::lock_guard lock(mutex_);
    return plugin_->frameCount(handle_);
}

double RawClip::frameRate() const {
    std::lock_guard lock(mutex_);
    return plugin_->frameRate(handle_);
}

std::int64_t RawClip::width() const {
    std::lock_guard lock(mutex_);
    return plugin_->width(handle_);
}

std::int64_t RawClip::height() const {
    std::lock_guard lock(mutex_);
    return plugin_->height(handle_);
}

media::PixelBufferRef RawClip::copyFrame(std::int64_t index) const {
    std::lock_guard lock(mutex_);
    FWRawFrame frame{};
    FrameRelease release(frame);
    if (plugin_->copyFrame(handle_, index, &frame) != 0 || !frame.bgraData) return nullptr;
    if (frame.byteCount > SIZE_MAX) return nullptr;
    return bgraPicture(frame.width, frame.height, {frame.bgraData, static_cast<std::size_t>(frame.byteCount)});
}

// ---------------------------------------------------------------- RawDecoder

RawDecoder::RawDecoder(const FWRawDecoderPlugin& plugin) : identifier_(plugin.identifier ? plugin.identifier : "") {
    auto copy = std::make_shared<FWRawDecoderPlugin>(plugin);
    copy->identifier = nullptr;  // ours is identifier_; the plug-in's text need not outlive registration
    plugin_ = std::move(copy);
}

bool RawDecoder::canOpen(const std::filesystem::path& file) const {
    return plugin_->canOpen(plugin_->context, file.c_str()) != 0;
}

std::shared_ptr<RawClip> RawDecoder::open(const std::filesystem::path& file) const {
    FWRawClipHandle* handle = plugin_->openClip(plugin_->context, file.c_str());
    if (!handle) throw EncodingError::rawDecodeFailed("the plug-in could not open " + file.filename().string());
    return std::shared_ptr<RawClip>(new RawClip(plugin_, handle, file));
}

// -------------------------------------------------------- RawDecoderRegistry

RawDecoderRegistry& RawDecoderRegistry::shared() {
    static RawDecoderRegistry registry;
    return registry;
}

void RawDecoderRegistry::registerDecoder(std::shared_ptr<const RawDecoder> decoder) {
    std::lock_guard lock(mutex_);
    std::erase_if(decoders_, [&](const auto& known) { return known->identifier() == decoder->identifier(); });
    decoders_.push_back(std::move(decoder));
}

std::shared_ptr<const RawDecoder> RawDecoderRegistry::decoder(const std::filesystem::path& file) const {
    std::lock_guard lock(mutex_);
    for (const auto& decoder : decoders_)
        if (decoder->canOpen(file)) return decoder;
    return nullptr;
}

}  // namespace fw

extern "C" int FWRawDecoderRegistryRegisterPlugin(const FWRawDecoderPlugin* plugin) {
    if (!plugin) return FW_RAW_INCOMPLETE_PLUGIN;
    if (plugin->apiVersion != FW_RAW_PLUGIN_API_VERSION) return FW_RAW_UNSUPPORTED_VERSION;
    if (!fw::isComplete(*plugin)) return FW_RAW_INCOMPLETE_PLUGIN;
    try {
        fw::RawDecoderRegistry::shared().registerDecoder(std::make_shared<const fw::RawDecoder>(*plugin));
    } catch (...) {
        return FW_RAW_REGISTRATION_FAILED;  // out of memory; C callers see no exception
    }
    return FW_RAW_REGISTERED;
}
