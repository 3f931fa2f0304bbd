#include "encoders/HapEncoder.h"

#include "codecs/dxt/DXTEncoder.h"
#include "codecs/hap/Hap.h"
#include "encoders/TextureMovie.h"
#include "model/EncodingError.h"

namespace fw {

namespace {

struct HapVariant {
    media::FourCharCode codecType;
    std::uint8_t formatCode;
    DXTEncoder::Kind blocks;
};

HapVariant variant(HapKind kind) {
    switch (kind) {
    case HapKind::hap: return {media::subtype::hap1, Hap::kFormatDXT1, DXTEncoder::Kind::dxt1};
    case HapKind::hapAlpha: return {media::subtype::hap5, Hap::kFormatDXT5, DXTEncoder::Kind::dxt5};
    case HapKind::hapQ: return {media::subtype::hapY, Hap::kFormatScaledYCoCgDXT5, DXTEncoder::Kind::ycocg};
    }
    return {media::subtype::hap1, Hap::kFormatDXT1, DXTEncoder::Kind::dxt1};
}

}  // namespace

media::FourCharCode HapEncoder::codecType(HapKind kind) { return variant(kind).codecType; }

std::vector<std::uint8_t> HapEncoder::compressFrame(const media::PixelBuffer& picture, HapKind kind) {
    std::vector<std::uint8_t> frame;
    compressFrame(picture, kind, frame);
    return frame;
}

void HapEncoder::compressFrame(const media::PixelBuffer& picture, HapKind kind, std::vector<std::uint8_t>& frame) {
    if (picture.format() != media::PixelFormat::bgra8)
        throw EncodingError::writerFailed("a frame's pixels could not be read as 8-bit BGRA");
    const HapVariant hap = variant(kind);
    constexpr int kAlignment = 4;
    const int width = picture.width(), height = picture.height();
    // The encoder writes every texture byte, so a reused frame needs no clearing.
    Hap::frameInto(frame, DXTEncoder::textureBytes(width, height, hap.blocks, kAlignment), hap.formatCode,
                   [&](std::span<std::uint8_t> texture) {
                       DXTEncoder::encodeInto(picture.data(), picture.stride(), width, height, hap.blocks, kAlignment,
                                              texture);
                   });
}

FramePacking HapEncoder::packing(HapKind kind) {
    FramePacking packing;
    packing.codecType = codecType(kind);
    packing.frameName = "Hap";
    packing.packFrame = [kind](const media::PixelBuffer& picture, std::vector<std::uint8_t>& frame) {
        compressFrame(picture, kind, frame);
    };
    packing.keepsAlpha = kind == HapKind::hapAlpha;
    return packing;
}

EncodeResult HapEncoder::encode(const media::AssetRef& source, const std::filesystem::path& destination,
                                const ProgressCallback& progress, const PreviewCallback& preview,
                                std::stop_token stop) const {
    return textureMovieEncoder(*source, request_.scaling, request_.sound, packing(request_.kind), request_.threads)
        .encode(source, destination, progress, preview, stop);
}

void HapEncoder::encodeStillImage(const HapStillRequest& request, const std::filesystem::path& source,
                                  const std::filesystem::path& destination, const ProgressCallback& progress,
                                  const PreviewCallback& preview, std::stop_token stop) {
    writeStillClip(source, destination, request.clip, packing(request.kind),
                   /*checkSize=*/{}, progress, preview, stop);
}

}  // namespace fw
