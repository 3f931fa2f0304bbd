#pragma once
// The burned-in timecode: white monospaced digits on a translucent black box.
// The glyphs of "0123456789:" are rendered once with FreeType when the overlay
// is made; drawing a frame's text only blends the cached coverage.
// Thread-safety: immutable after construction; draw from any thread.

#include "pipeline/raster/Raster.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw::raster {

class TimecodeOverlay {
public:
    // Pixel size of the font (em height). No font file found, or FreeType
    // failing, leaves the overlay invalid.
    explicit TimecodeOverlay(double fontSize);

    bool valid() const { return valid_; }
    // Size of the box for `text`: the text's advance width and line height plus
    // the padding on every side.
    int boxWidth(std::string_view text) const;
    int boxHeight() const { return lineHeight_ + 2 * padding_; }

    // Draws the box with its top-left corner at (x, y) and the text inside,
    // clipped to the canvas. Characters other than digits and ':' advance blank.
    template <class T>
    void draw(const RasterView<T>& canvas, std::string_view text, int x, int y) const;

    // The path of the font in use (empty when invalid).
    const std::string& fontPath() const { return fontPath_; }

private:
    struct Glyph {
        int left = 0;  // from the pen position to the bitmap's left edge
        int top = 0;   // from the baseline up to the bitmap's top edge
        int width = 0;
        int rows = 0;
        std::vector<std::uint8_t> coverage;  // rows × width
    };
    static int glyphIndex(char c);

    bool valid_ = false;
    std::string fontPath_;
    int advance_ = 0;
    int ascender_ = 0;
    int lineHeight_ = 0;
    int padding_ = 0;
    std::array<Glyph, 11> glyphs_;
};

}  // namespace fw::raster
