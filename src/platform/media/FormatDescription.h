#pragma once
// What a track or a sample holds: media type, four-character subtype, picture
// or sound geometry. Immutable once made; shared by reference between threads.

#include "platform/media/ColorTags.h"
#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw::media {

enum class MediaType { video, audio, subtitle, timecode, data };

// Four characters packed most significant first: 'Hap1' is 0x48617031.
using FourCharCode = std::uint32_t;

constexpr FourCharCode fourCharCode(std::string_view text) {
    FourCharCode code = 0;
    for (std::size_t i = 0; i < 4; ++i) code = (code << 8) | static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
    return code;
}
// "Hap1"; bytes outside printable ASCII come out as '?'.
std::string fourCharCodeString(FourCharCode code);

namespace subtype {
inline constexpr FourCharCode bgra = fourCharCode("BGRA");  // decoded 32-bit BGRA
inline constexpr FourCharCode x420 = fourCharCode("x420");  // decoded 10-bit 4:2:0 bi-planar
inline constexpr FourCharCode i420 = fourCharCode("y420");  // decoded 8-bit 4:2:0 planar
inline constexpr FourCharCode x422 = fourCharCode("p422");  // decoded 10-bit 4:2:2 planar
inline constexpr FourCharCode linearPCM = fourCharCode("lpcm");
inline constexpr FourCharCode hap1 = fourCharCode("Hap1");
inline constexpr FourCharCode hap5 = fourCharCode("Hap5");
inline constexpr FourCharCode hapY = fourCharCode("HapY");
inline constexpr FourCharCode dxd3 = fourCharCode("DXD3");
inline constexpr FourCharCode dxdi = fourCharCode("DXDI");
}  // namespace subtype

// Layout of linear PCM data: interleaved, native (little-endian) order.
enum class AudioSampleFormat { float32, int16 };

inline int bytesPerSample(AudioSampleFormat format) { return format == AudioSampleFormat::float32 ? 4 : 2; }

struct FormatDescription {
    MediaType mediaType = MediaType::data;
    // The container's codec tag as stored ('avc1', 'apch', 'Hap1', 'DXD3'),
    // 'BGRA'/'x420' for decoded pictures, 'lpcm' for decoded sound. 0 when unknown.
    FourCharCode mediaSubtype = 0;
    // The decoder's short name ("h264", "prores", "hap"); informative only.
    std::string codecName;

    // Video: coded picture size in pixels (before any display transform).
    int width = 0;
    int height = 0;
    // Decoded video only: the pixel format of the image buffers.
    PixelFormat pixelFormat = PixelFormat::bgra8;
    // Stored video: the pictures are Y'CbCr with chroma at half width and half
    // height and no alpha (4:2:0), so reading them as x420 loses nothing.
    bool chroma420 = false;
    // Stored video: Y'CbCr with chroma at half width and full height, no alpha.
    bool chroma422 = false;
    // Stored video: bits a sample of its pictures (0 when unknown), and whether
    // subsampled chroma sits on the even columns (as the writers store it).
    int bitDepth = 0;
    bool chromaSitedLeft = true;
    // Video: the colour tags as the stream stores them (unspecified where it
    // names none); decoded video: what the pictures hold, matrix and range
    // made definite (x420 pictures carry the source's matrix unchanged).
    ColorTags color{ColorPrimaries::unspecified, TransferFunction::unspecified, YCbCrMatrix::unspecified,
                    ColorRange::unspecified};

    // Audio: frames per second and channels of the stream.
    double sampleRate = 0;
    int channelCount = 0;
    // Decoded audio ('lpcm') only: the data layout of the samples.
    AudioSampleFormat sampleFormat = AudioSampleFormat::float32;
    // Decoded audio only: the speaker of each channel in sample order, by
    // FFmpeg's short names ("FL", "FR", "FC", "LFE", "BL", "BR", "SL", "SR", …).
    std::vector<std::string> channelNames;

    int bytesPerFrame() const { return channelCount * bytesPerSample(sampleFormat); }
};

using FormatDescriptionRef = std::shared_ptr<const FormatDescription>;

}  // namespace fw::media
