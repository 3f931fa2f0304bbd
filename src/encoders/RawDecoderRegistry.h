#pragma once
// The camera-RAW decoders registered in this process, and the clips they
// open. Plug-ins come in through the C interface of RawDecoderPlugin.h; this
// is our side of it.
//
// Thread-safety: the registry guards its list with its own lock (not
// recursive: a plug-in must not register from inside canOpen). A RawClip
// serialises its calls into the plug-in, so the plug-in sees one call at a
// time per clip.

#include "encoders/RawDecoderPlugin.h"
#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace fw {

// An opened camera-RAW clip. Its properties are the plug-in's answers,
// unchecked: the clip encoder bounds them. Closes the plug-in's clip when
// the last reference goes.
class RawClip {
public:
    ~RawClip();
    RawClip(const RawClip&) = delete;
    RawClip& operator=(const RawClip&) = delete;

    // The file the clip was opened from.
    const std::filesystem::path& path() const { return path_; }
    std::int64_t frameCount() const;
    double frameRate() const;
    std::int64_t width() const;
    std::int64_t height() const;
    // Frame `index` as a bgra8 picture, or nullptr when the plug-in fails or
    // its frame is unusable (see bgraPicture). The plug-in's frame is released
    // before this returns, in every case.
    media::PixelBufferRef copyFrame(std::int64_t index) const;

private:
    friend class RawDecoder;
    RawClip(std::shared_ptr<const FWRawDecoderPlugin> plugin, FWRawClipHandle* handle, std::filesystem::path path)
        : plugin_(std::move(plugin)), handle_(handle), path_(std::move(path)) {}

    std::shared_ptr<const FWRawDecoderPlugin> plugin_;
    FWRawClipHandle* handle_;
    std::filesystem::path path_;
    mutable std::mutex mutex_;
};

// One registered plug-in.
class RawDecoder {
public:
    explicit RawDecoder(const FWRawDecoderPlugin& plugin);

    const std::string& identifier() const { return identifier_; }
    bool canOpen(const std::filesystem::path& file) const;
    // Throws EncodingError::rawDecodeFailed("the plug-in could not open " +
    // file name) when the plug-in gives no clip.
    std::shared_ptr<RawClip> open(const std::filesystem::path& file) const;

private:
    std::string identifier_;
    std::shared_ptr<const FWRawDecoderPlugin> plugin_;
};

class RawDecoderRegistry {
public:
    // The process's registry, made on first use.
    static RawDecoderRegistry& shared();

    // Removes decoders with the same identifier, then appends `decoder`.
    void registerDecoder(std::shared_ptr<const RawDecoder> decoder);
    // The first decoder, in registration order, that can open `file`; null when none.
    std::shared_ptr<const RawDecoder> decoder(const std::filesystem::path& file) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<const RawDecoder>> decoders_;
};

// A plug-in's frame as a bgra8 picture: null when a side is below 1 or
// beyond what a picture holds, or `bytes` is shorter than width × height × 4
// (reckoned without overflow); extra bytes are ignored.
media::PixelBufferRef bgraPicture(std::int64_t width, std::int64_t height, std::span<const std::uint8_t> bytes);

}  // namespace fw
