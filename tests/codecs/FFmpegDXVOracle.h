#pragma once
// DXV frames decoded by FFmpeg's own dxv decoder, unpacked plane by plane.

#include <optional>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "FFmpegOracle.h"

namespace fw::test {

struct OracleFrame {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0;
    int height = 0;
    // One tightly packed buffer per plane (RGBA: one plane, 4 bytes a pixel).
    std::vector<std::vector<std::uint8_t>> planes;
    std::vector<int> planeWidths;
    std::vector<int> planeHeights;
    const std::uint8_t* at(int plane, int x, int y) const {
        const int bytes = format == AV_PIX_FMT_RGBA ? 4 : 1;
        return planes[plane].data() + (static_cast<std::size_t>(y) * planeWidths[plane] + x) * bytes;
    }
};

// The decoded frame, or nullopt when FFmpeg refuses the packet.
inline std::optional<OracleFrame> ffmpegDecodeDXV(const std::vector<std::uint8_t>& frame, int width, int height) {
    const AVFramePtr decoded = ffmpegDecodePacket(AV_CODEC_ID_DXV, 0, frame, width, height);
    if (!decoded) return std::nullopt;

    OracleFrame result;
    result.format = static_cast<AVPixelFormat>(decoded->format);
    result.width = decoded->width;
    result.height = decoded->height;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(result.format);
    const int planeCount = av_pix_fmt_count_planes(result.format);
    for (int plane = 0; plane < planeCount; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int w = chroma ? AV_CEIL_RSHIFT(decoded->width, descriptor->log2_chroma_w) : decoded->width;
        const int h = chroma ? AV_CEIL_RSHIFT(decoded->height, descriptor->log2_chroma_h) : decoded->height;
        const int bytes = result.format == AV_PIX_FMT_RGBA ? 4 : 1;
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(w) * h * bytes);
        for (int y = 0; y < h; ++y)
            std::copy_n(decoded->data[plane] + static_cast<std::ptrdiff_t>(y) * decoded->linesize[plane],
                        static_cast<std::size_t>(w) * bytes, packed.data() + static_cast<std::size_t>(y) * w * bytes);
        result.planes.push_back(std::move(packed));
        result.planeWidths.push_back(w);
        result.planeHeights.push_back(h);
    }
    return result;
}

}  // namespace fw::test
