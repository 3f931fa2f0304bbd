#pragma once
// What a picture's numbers mean: primaries, transfer function, YCbCr matrix
// and range. The enumerators carry the ITU-T H.273 code points the streams
// store, so a code point without a name here still travels through unchanged.
// Thread-safety: plain values and pure functions.

#include <cstdint>

namespace fw::media {

enum class ColorPrimaries : std::uint8_t { bt709 = 1, unspecified = 2, bt470bg = 5, smpte170m = 6, bt2020 = 9 };
// bt709: SDR; smpteST2084: PQ; aribSTDB67: HLG.
enum class TransferFunction : std::uint8_t {
    bt709 = 1,
    unspecified = 2,
    smpte170m = 6,
    smpteST2084 = 16,
    aribSTDB67 = 18
};
enum class YCbCrMatrix : std::uint8_t {
    rgb = 0,
    bt709 = 1,
    unspecified = 2,
    fcc = 4,
    bt470bg = 5,
    smpte170m = 6,
    smpte240m = 7,
    bt2020 = 9
};
// video: luma 16…235 and chroma 16…240 (8-bit); full: 0…255.
enum class ColorRange : std::uint8_t { unspecified, video, full };

struct ColorTags {
    ColorPrimaries primaries = ColorPrimaries::bt709;
    TransferFunction transfer = TransferFunction::bt709;
    YCbCrMatrix matrix = YCbCrMatrix::bt709;
    ColorRange range = ColorRange::video;
    friend bool operator==(const ColorTags&, const ColorTags&) = default;
};

// A matrix's coefficients: Y = red·R + green·G + blue·B; back to RGB,
// R = Y + crToRed·Cr, B = Y + cbToBlue·Cb, G = Y − cbToGreen·Cb − crToGreen·Cr
// (Y, R, G, B in 0…1; Cb, Cr in −0.5…0.5).
struct YCbCrWeights {
    float red, green, blue;
    float crToRed, cbToBlue, cbToGreen, crToGreen;
};

// True for the matrices pictures are converted with (BT.709, BT.601 in its
// two names, SMPTE 240M, FCC, BT.2020 non-constant luminance).
bool isConvertible(YCbCrMatrix matrix);
// The matrix a picture of that height is read with when its stream names
// none that can be converted with: BT.709 above 576 rows, else BT.601.
YCbCrMatrix defaultMatrix(int height);
// BT.709's for a matrix that is not convertible.
YCbCrWeights weightsOf(YCbCrMatrix matrix);

// The tags as a stream stores them, with the matrix and range made definite:
// the matrix the pictures are converted with and video range when unnamed.
// Primaries and transfer stay as stored (unspecified when unnamed).
ColorTags resolvedColor(ColorTags stored, int height);

}  // namespace fw::media
