#include "pipeline/raster/TimecodeOverlay.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <type_traits>

namespace fw::raster {

namespace {

// Bold monospaced first: digits keep their places as the time runs.
constexpr const char* kFontCandidates[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
};

// Opacity of the box behind the text.
constexpr double kBoxOpacity = 0.55;
// Padding around the text, as a fraction of the font size.
constexpr double kPadding = 0.35;

struct LibraryDeleter {
    void operator()(FT_Library library) const noexcept { FT_Done_FreeType(library); }
};
struct FaceDeleter {
    void operator()(FT_Face face) const noexcept { FT_Done_Face(face); }
};
using LibraryHandle = std::unique_ptr<std::remove_pointer_t<FT_Library>, LibraryDeleter>;
using FaceHandle = std::unique_ptr<std::remove_pointer_t<FT_Face>, FaceDeleter>;

inline int fromFixed(FT_Pos value) { return static_cast<int>((value + 32) >> 6); }

}  // namespace

int TimecodeOverlay::glyphIndex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c == ':') return 10;
    return -1;
}

TimecodeOverlay::TimecodeOverlay(double fontSize) {
    FT_Library rawLibrary = nullptr;
    if (FT_Init_FreeType(&rawLibrary) != 0) return;
    LibraryHandle library(rawLibrary);
    FaceHandle face;
    for (const char* candidate : kFontCandidates) {
        std::error_code ignored;
        if (!std::filesystem::exists(candidate, ignored)) continue;
        FT_Face rawFace = nullptr;
        if (FT_New_Face(library.get(), candidate, 0, &rawFace) == 0) {
            face.reset(rawFace);
            fontPath_ = candidate;
            break;
        }
    }
    if (!face) return;
    if (FT_Set_Char_Size(face.get(), 0, static_cast<FT_F26Dot6>(std::lround(fontSize * 64.0)), 72, 72) != 0) return;

    ascender_ = fromFixed(face->size->metrics.ascender);
    lineHeight_ = std::max(1, ascender_ - fromFixed(face->size->metrics.descender));
    padding_ = static_cast<int>(std::lround(kPadding * fontSize));
    const char characters[] = "0123456789:";
    for (int i = 0; i < 11; ++i) {
        if (FT_Load_Char(face.get(), static_cast<FT_ULong>(characters[i]), FT_LOAD_RENDER) != 0) return;
        FT_GlyphSlot slot = face->glyph;
        if (slot->bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) return;
        Glyph& glyph = glyphs_[i];
        glyph.left = slot->bitmap_left;
        glyph.top = slot->bitmap_top;
        glyph.width = static_cast<int>(slot->bitmap.width);
        glyph.rows = static_cast<int>(slot->bitmap.rows);
        glyph.coverage.resize(static_cast<std::size_t>(glyph.width) * glyph.rows);
        for (int row = 0; row < glyph.rows; ++row) {
            const unsigned char* line = slot->bitmap.buffer + static_cast<std::ptrdiff_t>(row) * slot->bitmap.pitch;
            std::copy(line, line + glyph.width,
                      glyph.coverage.begin() + static_cast<std::ptrdiff_t>(row) * glyph.width);
        }
        advance_ = std::max(advance_, fromFixed(slot->advance.x));
    }
    valid_ = advance_ > 0;
}

int TimecodeOverlay::boxWidth(std::string_view text) const {
    return static_cast<int>(text.size()) * advance_ + 2 * padding_;
}

template <class T>
void TimecodeOverlay::draw(const RasterView<T>& canvas, std::string_view text, int x, int y) const {
    if (!valid_) return;
    constexpr std::uint32_t kMax = PixelTraits<T>::kMax;
    darkenRect(canvas, x, y, boxWidth(text), boxHeight(), static_cast<std::uint32_t>(std::lround(kBoxOpacity * kMax)));
    const int baseline = y + padding_ + ascender_;
    int pen = x + padding_;
    for (char c : text) {
        int index = glyphIndex(c);
        if (index >= 0) {
            const Glyph& glyph = glyphs_[index];
            const int left = pen + glyph.left;
            const int top = baseline - glyph.top;
            for (int row = std::max(0, -top); row < glyph.rows && top + row < canvas.height; ++row) {
                const std::uint8_t* coverage = glyph.coverage.data() + static_cast<std::ptrdiff_t>(row) * glyph.width;
                for (int column = std::max(0, -left); column < glyph.width && left + column < canvas.width; ++column) {
                    // Premultiplied white at the glyph's coverage.
                    std::uint32_t alpha = coverage[column] * (kMax / 255);
                    if (alpha == 0) continue;
                    T* d = canvas.pixel(left + column, top + row);
                    const std::uint32_t keep = kMax - alpha;
                    for (int ch = 0; ch < 4; ++ch) d[ch] = static_cast<T>(alpha + mulDivMax<T>(d[ch], keep));
                }
            }
        }
        pen += advance_;
    }
}

template void TimecodeOverlay::draw<std::uint8_t>(const RasterView<std::uint8_t>&, std::string_view, int, int) const;
template void TimecodeOverlay::draw<std::uint16_t>(const RasterView<std::uint16_t>&, std::string_view, int, int) const;

}  // namespace fw::raster
