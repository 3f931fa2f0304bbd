#include "encoders/DXVEncoder.h"

#include "codecs/dxt/DXTEncoder.h"
#include "codecs/dxv/DXVFrame.h"
#include "codecs/dxv/DXVHighQuality.h"
#include "encoders/TextureMovie.h"
#include "model/EncodingError.h"

#include <string>

namespace fw {

media::FourCharCode DXVEncoder::codecType(DXVKind kind) {
    return kind == DXVKind::dxv3 ? media::subtype::dxd3 : media::subtype::dxdi;
}

void DXVEncoder::validateFrameSize(DXVKind kind, bool alpha, std::int64_t width, std::int64_t height) {
    if (kind != DXVKind::dxv2) return;
    constexpr std::int64_t kLargestPayload = 0xFFFFFF;
    const std::int64_t paddedWidth = DXTEncoder::roundUp(std::max<std::int64_t>(width, 0), 16);
    const std::int64_t paddedHeight = DXTEncoder::roundUp(std::max<std::int64_t>(height, 0), 16);
    // Half a byte a pixel for DXT1, one for DXT5; the second test keeps the product from overflowing.
    const std::int64_t textureBytes = paddedWidth > kLargestPayload || paddedHeight > kLargestPayload
                                          ? kLargestPayload + 1
                                          : paddedWidth * paddedHeight / (alpha ? 1 : 2);
    if (textureBytes + textureBytes / 32 + 16 > kLargestPayload)
        throw EncodingError::writerFailed("DXV2 can't store " + std::to_string(width) + "\u00D7" +
                                          std::to_string(height) +
                                          " frames \u2014 use DXV3 for resolutions beyond ~5K.");
}

std::vector<std::uint8_t> DXVEncoder::compressFrame(const media::PixelBuffer& picture, DXVKind kind, bool alpha,
                                                    bool highQuality) {
    if (picture.format() != media::PixelFormat::bgra8)
        throw EncodingError::writerFailed("a frame's pixels could not be read as 8-bit BGRA");
    // High-quality frames always carry the alpha plane.
    if (kind == DXVKind::dxv3 && highQuality)
        return DXV::hqCompressFrame(picture.data(), picture.stride(), picture.width(), picture.height(),
                                    DXV::HQFormat::yg10);
    const DXV::TextureFormat format = alpha ? DXV::TextureFormat::dxt5 : DXV::TextureFormat::dxt1;
    const std::vector<std::uint8_t> texture =
        DXTEncoder::encode(picture.data(), picture.stride(), picture.width(), picture.height(),
                           alpha ? DXTEncoder::Kind::dxt5 : DXTEncoder::Kind::dxt1, /*alignment=*/16);
    return DXV::frame(texture, kind == DXVKind::dxv3 ? DXV::Version::dxv3 : DXV::Version::dxv2, format);
}

FramePacking DXVEncoder::packing(DXVKind kind, bool alpha, bool highQuality) {
    FramePacking packing;
    packing.codecType = codecType(kind);
    packing.frameName = "DXV";
    packing.packFrame = [kind, alpha, highQuality](const media::PixelBuffer& picture,
                                                   std::vector<std::uint8_t>& frame) {
        frame = compressFrame(picture, kind, alpha, highQuality);
    };
    // High-quality frames carry an alpha plane either way; it holds the pictures' alpha only when asked for.
    packing.keepsAlpha = alpha;
    return packing;
}

void DXVEncoder::encodeStillImage(const DXVStillRequest& request, const std::filesystem::path& source,
                                  const std::filesystem::path& destination, const ProgressCallback& progress,
                                  const PreviewCallback& preview, std::stop_token stop) {
    const bool highQuality = request.kind == DXVKind::dxv3 && request.highQuality;
    writeStillClip(
        source, destination, request.clip, packing(request.kind, request.alpha, highQuality),
        [&request](std::int64_t width, std::int64_t height) {
            validateFrameSize(request.kind, request.alpha, width, height);
        },
        progress, preview, stop);
}

EncodeResult DXVEncoder::encode(const media::AssetRef& source, const std::filesystem::path& destination,
                                const ProgressCallback& progress, const PreviewCallback& preview,
                                std::stop_token stop) const {
    const MovieEncoder encoder =
        textureMovieEncoder(*source, request_.scaling, request_.sound,
                            packing(request_.kind, request_.alpha, request_.highQuality), request_.threads);
    validateFrameSize(request_.kind, request_.alpha, encoder.videoSettings.width, encoder.videoSettings.height);
    return encoder.encode(source, destination, progress, preview, stop);
}

}  // namespace fw
