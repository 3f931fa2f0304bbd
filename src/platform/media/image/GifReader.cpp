// GIF through giflib, first frame only: the frame is placed on the logical
// screen at its offset over transparent black (what viewers show before the
// first frame); transparent indices stay transparent.

#include "platform/media/MediaError.h"
#include "platform/media/image/ImageReaders.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace fw::media::image {

namespace {
struct MemoryInput {
    std::span<const std::uint8_t> bytes;
    std::size_t offset = 0;
};

int readInput(GifFileType* gif, GifByteType* target, int length) {
    auto* input = static_cast<MemoryInput*>(gif->UserData);
    const std::size_t count = std::min<std::size_t>(std::max(length, 0), input->bytes.size() - input->offset);
    std::memcpy(target, input->bytes.data() + input->offset, count);
    input->offset += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const noexcept {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

[[noreturn]] void fail(int error) {
    const char* text = GifErrorString(error);
    throw MediaError(std::string("the GIF data is damaged: ") + (text ? text : "unknown error"));
}

// Rows in the order an interlaced frame stores them: every 8th from 0, every
// 8th from 4, every 4th from 2, every 2nd from 1.
std::vector<int> storedRowOrder(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) rows.push_back(y);
        return rows;
    }
    constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < height; y += kStep[pass]) rows.push_back(y);
    return rows;
}

// The transparent index of the graphic control extension just read; -1 when none.
int transparentIndex(GifFileType* gif, int code, GifByteType* extension) {
    int transparent = -1;
    if (code == GRAPHICS_EXT_FUNC_CODE && extension && extension[0] == 4) {
        GraphicsControlBlock control{};
        if (DGifExtensionToGCB(4, extension + 1, &control) == GIF_OK) transparent = control.TransparentColor;
    }
    while (extension) {
        if (DGifGetExtensionNext(gif, &extension) == GIF_ERROR) fail(gif->Error);
    }
    return transparent;
}

void drawFrame(GifFileType* gif, int transparent, const CanvasProvider& canvas) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) fail(gif->Error);
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colors = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!colors || !colors->Colors) throw MediaError("the GIF data is damaged: its first frame has no colour table");
    // A screen of 0 × 0 comes from careless writers: the frame sets the size then.
    const bool hasScreen = gif->SWidth > 0 && gif->SHeight > 0;
    const int width = hasScreen ? gif->SWidth : frame.Width, height = hasScreen ? gif->SHeight : frame.Height;
    checkImageSize(width, height);
    checkImageSize(frame.Width, frame.Height);
    const int left = hasScreen ? frame.Left : 0, top = hasScreen ? frame.Top : 0;

    const ImageCanvas target = canvas(width, height);
    for (int y = 0; y < height; ++y)
        std::memset(target.pixels + static_cast<std::size_t>(y) * target.stride, 0,
                    static_cast<std::size_t>(width) * 4);
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    for (const int frameY : storedRowOrder(frame.Height, frame.Interlace)) {
        const int y = top + frameY;
        // Rows below the screen are not shown; in stored order nothing visible follows them.
        if (!frame.Interlace && y >= height) break;
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) fail(gif->Error);
        if (y < 0 || y >= height) continue;
        std::uint8_t* row = target.pixels + static_cast<std::size_t>(y) * target.stride;
        for (int x = std::max(0, -left); x < frame.Width && left + x < width; ++x) {
            const int index = line[static_cast<std::size_t>(x)];
            if (index == transparent) continue;
            std::uint8_t* pixel = row + 4 * static_cast<std::size_t>(left + x);
            // An index past the table is drawn black, as the table's missing entries would be.
            const GifColorType color = index < colors->ColorCount ? colors->Colors[index] : GifColorType{0, 0, 0};
            pixel[0] = color.Blue, pixel[1] = color.Green, pixel[2] = color.Red, pixel[3] = 255;
        }
    }
}
}  // namespace

void readGif(std::span<const std::uint8_t> file, const CanvasProvider& canvas) {
    MemoryInput input{file};
    int error = 0;
    GifPtr gif(DGifOpen(&input, readInput, &error));
    if (!gif) fail(error);
    int transparent = -1;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) fail(gif->Error);
        if (record == IMAGE_DESC_RECORD_TYPE) {
            drawFrame(gif.get(), transparent, canvas);
            return;
        }
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            if (DGifGetExtension(gif.get(), &code, &extension) == GIF_ERROR) fail(gif->Error);
            const int found = transparentIndex(gif.get(), code, extension);
            if (code == GRAPHICS_EXT_FUNC_CODE) transparent = found;
        } else if (record == TERMINATE_RECORD_TYPE) {
            throw MediaError("the GIF file holds no picture");
        }
    }
}

}  // namespace fw::media::image
