#include "pipeline/FrameResizer.h"

#include "pipeline/Timecode.h"
#include "pipeline/raster/ColorCube.h"
#include "pipeline/raster/Raster.h"
#include "pipeline/raster/Resampler.h"
#include "pipeline/raster/TimecodeOverlay.h"
#include "pipeline/raster/YuvRows.h"
#include "platform/media/PictureConversion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace fw {

using raster::AxisFilter;
using raster::PixelTraits;
using raster::Raster;
using raster::RasterView;

namespace {

constexpr int kMaxSide = 32768;
constexpr std::int64_t kMaxCubePoints = 256;
// Watermark width as a fraction of the output width, and the margin of the
// watermark and the timecode box from the edges (both axes), likewise.
constexpr double kWatermarkWidth = 0.25;
constexpr double kMargin = 0.02;
// Timecode font size as a fraction of the output height, and its floor.
constexpr double kTimecodeFontSize = 0.045;
constexpr double kTimecodeMinimumFontSize = 12.0;

// The picture's axes after flips and rotation, as seen from the canvas: which
// source axis runs along the canvas rows, and whether each runs backwards.
struct Orientation {
    bool swapsAxes = false;        // source rows run along canvas columns
    bool reversesColumns = false;  // source x counts down along its canvas axis
    bool reversesRows = false;     // source y counts down along its canvas axis
};

// Composes the flips and the rotation (in that order, on a picture with y
// growing downwards) and inverts the result. In unit coordinates each step is
// p' = M·p + t with M a signed permutation; the inverse of M is its transpose.
Orientation orientationOf(const GeometrySettings& geometry) {
    struct Step {
        int m[2][2];
        int t[2];
    };
    Step total{{{1, 0}, {0, 1}}, {0, 0}};
    auto apply = [&](const Step& step) {
        Step next{};
        for (int r = 0; r < 2; ++r) {
            for (int c = 0; c < 2; ++c) next.m[r][c] = step.m[r][0] * total.m[0][c] + step.m[r][1] * total.m[1][c];
            next.t[r] = step.m[r][0] * total.t[0] + step.m[r][1] * total.t[1] + step.t[r];
        }
        total = next;
    };
    if (geometry.flipHorizontal) apply({{{-1, 0}, {0, 1}}, {1, 0}});
    if (geometry.flipVertical) apply({{{1, 0}, {0, -1}}, {0, 1}});
    switch (geometry.rotation) {
    case Rotation::r90: apply({{{0, -1}, {1, 0}}, {1, 0}}); break;  // clockwise: (u, v) -> (1 - v, u)
    case Rotation::r180: apply({{{-1, 0}, {0, -1}}, {1, 1}}); break;
    case Rotation::r270: apply({{{0, 1}, {-1, 0}}, {0, 1}}); break;  // counter-clockwise: (v, 1 - u)
    case Rotation::none: break;
    }
    // Inverse matrix: the transpose. Row r tells which canvas axis source axis r follows.
    Orientation o;
    o.swapsAxes = total.m[0][0] == 0;
    if (!o.swapsAxes) {
        o.reversesColumns = total.m[0][0] < 0;
        o.reversesRows = total.m[1][1] < 0;
    } else {
        o.reversesColumns = total.m[1][0] < 0;  // transpose of m[0][1]
        o.reversesRows = total.m[0][1] < 0;     // transpose of m[1][0]
    }
    return o;
}

int clampSide(std::int64_t side) { return static_cast<int>(std::clamp<std::int64_t>(side, 0, kMaxSide + 1)); }

int roundToInt(double value) { return static_cast<int>(std::clamp(std::round(value), -4.0e9 / 4, 4.0e9 / 4)); }

// Lower-left corner (bottom-up coordinates) of a w × h item on a W × H canvas,
// turned into the top-left pixel of the item in top-down rows.
std::array<int, 2> cornerPosition(FilterCorner corner, double canvasWidth, double canvasHeight, double w, double h) {
    const double m = canvasWidth * kMargin;
    double x = 0, y = 0;
    switch (corner) {
    case FilterCorner::topLeft: x = m, y = canvasHeight - h - m; break;
    case FilterCorner::topRight: x = canvasWidth - w - m, y = canvasHeight - h - m; break;
    case FilterCorner::bottomLeft: x = m, y = m; break;
    case FilterCorner::bottomRight: x = canvasWidth - w - m, y = m; break;
    case FilterCorner::center: x = (canvasWidth - w) * 0.5, y = (canvasHeight - h) * 0.5; break;
    }
    return {roundToInt(x), roundToInt(canvasHeight - y - h)};
}

template <class T>
void copyRow(T* destination, const T* source, int count, bool forceOpaque) {
    if (!forceOpaque) {
        std::memcpy(destination, source, static_cast<std::size_t>(count) * 4 * sizeof(T));
        return;
    }
    // Whole pixels as one word each, alpha (the top lane) set.
    using Word = std::conditional_t<std::is_same_v<T, std::uint8_t>, std::uint32_t, std::uint64_t>;
    constexpr Word kAlpha = static_cast<Word>(PixelTraits<T>::kMax) << (sizeof(Word) * 6);
    for (int x = 0; x < count; ++x) {
        Word pixel;
        std::memcpy(&pixel, source + 4 * x, sizeof pixel);
        pixel |= kAlpha;
        std::memcpy(destination + 4 * x, &pixel, sizeof pixel);
    }
}

}  // namespace

struct FrameResizer::Impl {
    // Everything about a frame that depends only on the source size.
    struct Plan {
        int sourceWidth = -1, sourceHeight = -1;
        // The crop in stored pixels; the filters below count from its corner.
        int cropX = 0, cropY = 0, cropWidth = 0, cropHeight = 0;
        // Stored rows run down the canvas columns (the display transform and
        // the geometry together make an odd number of quarter turns).
        bool rowsRunDown = false;
        // Visible picture on the canvas, top-down pixels [x0, x1) × [y0, y1).
        int visibleX0 = 0, visibleX1 = 0, visibleY0 = 0, visibleY1 = 0;
        bool hasPicture = false;
        AxisFilter horizontal, vertical;  // in stored axes
        bool lutBeforeScaling = false;
        // x420 sources scale their planes as they are (Y, then Cb and Cr at
        // the same positions) and turn into RGB at the output size.
        AxisFilter chromaHorizontal, chromaVertical;
        int chromaX = 0, chromaY = 0;  // first stored chroma sample and row under the crop
        // The picture lands on the canvas as it is stored: same size, nothing
        // cropped, turned or mirrored.
        bool unchanged = false;
    };

    int width = 0, height = 0;
    ResizeMode mode = ResizeMode::aspect;
    std::optional<GeometrySettings> geometry;
    Orientation orientation;
    std::optional<FrameOrientation> display;
    bool tenBit = false;
    bool preservesAlpha = false;
    double frameRate = 30;

    std::shared_ptr<media::PixelBufferPool> pool;
    // i420 and x422 pictures: passed on in their own pool, or made what the
    // decoder would have made for this resizer first (bgra8, or x420).
    std::shared_ptr<media::PixelBufferPool> planePool;
    media::PixelBufferRef workingSource;
    std::optional<raster::ColorCube> cube;
    Raster<std::uint8_t> watermark8;
    Raster<std::uint16_t> watermark16;
    int watermarkX = 0, watermarkY = 0;
    std::unique_ptr<raster::TimecodeOverlay> timecode;
    FilterCorner timecodePosition = FilterCorner::bottomLeft;

    Plan plan;
    raster::Resampler<std::uint8_t> resampler8;
    raster::Resampler<std::uint16_t> resampler16;
    raster::Resampler<std::uint16_t, 1> planeResampler;
    std::vector<std::uint8_t> row8;
    std::vector<std::uint16_t> row16;
    std::vector<std::uint16_t> chromaRow;
    std::array<std::vector<std::uint16_t>, 3> planes;  // scaled Y, Cb, Cr
    Raster<std::uint16_t> canvas16;

    void prepareWatermark(const media::PixelBuffer& image, double opacity);
    void updatePlan(int sourceWidth, int sourceHeight);
    bool keepsPicture() const {
        return plan.unchanged && !cube && watermark8.empty() && watermark16.empty() && !timecode;
    }
    media::PixelBufferRef passedPlanes(const media::PixelBuffer& source);
    const media::PixelBuffer* asWorkingFormat(const media::PixelBuffer& source);
    media::PixelBufferRef makeBuffer();
    template <class T>
    void render(const media::PixelBuffer& source, const RasterView<T>& canvas, double timeSeconds);
    template <class T>
    const T* fetchRow(const media::PixelBuffer& source, int cropRow, std::vector<T>& scratch);
    template <class T>
    raster::Resampler<T>& resampler();
    template <class T, class Store>
    void scalePlanes(const media::PixelBuffer& source, std::vector<T>& scratch, Store&& store);
};

template <>
raster::Resampler<std::uint8_t>& FrameResizer::Impl::resampler<std::uint8_t>() {
    return resampler8;
}
template <>
raster::Resampler<std::uint16_t>& FrameResizer::Impl::resampler<std::uint16_t>() {
    return resampler16;
}

FrameResizer::FrameResizer(std::int64_t width, std::int64_t height, ResizeMode mode, const PreparedFilters* filters,
                           double frameRate, const std::optional<GeometrySettings>& geometry, bool tenBit,
                           bool preservesAlpha, const std::optional<FrameOrientation>& display)
    : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.width = clampSide(width);
    d.height = clampSide(height);
    d.mode = mode;
    d.tenBit = tenBit;
    d.preservesAlpha = preservesAlpha;
    d.frameRate = frameRate;
    d.display = display;
    if (geometry && geometry->isActive()) {
        d.geometry = geometry;
        d.orientation = orientationOf(*geometry);
    }
    const bool validSize = d.width >= 1 && d.height >= 1 && d.width <= kMaxSide && d.height <= kMaxSide;
    if (!filters || !validSize) return;
    // A table that cannot be used (inconsistent, or beyond 256 points a side,
    // far past what LUT files carry) is skipped like one that fails to load.
    if (const auto& cube = filters->cube;
        cube && cube->dimension >= 2 && cube->dimension <= kMaxCubePoints &&
        cube->data.size() == static_cast<std::size_t>(cube->dimension * cube->dimension * cube->dimension * 4))
        d.cube.emplace(*cube);
    if (filters->watermark && filters->watermark->image &&
        filters->watermark->image->format() == media::PixelFormat::bgra8)
        d.prepareWatermark(*filters->watermark->image, filters->watermarkOpacity);
    if (filters->timecode) {
        d.timecodePosition = filters->timecodePosition;
        auto overlay =
            std::make_unique<raster::TimecodeOverlay>(std::max(d.height * kTimecodeFontSize, kTimecodeMinimumFontSize));
        if (overlay->valid()) d.timecode = std::move(overlay);
    }
    // Watermark placement depends only on the output size.
    if (!d.watermark8.empty() || !d.watermark16.empty()) {
        const int w = d.tenBit ? d.watermark16.width() : d.watermark8.width();
        const int h = d.tenBit ? d.watermark16.height() : d.watermark8.height();
        auto position = cornerPosition(filters->watermarkPosition, d.width, d.height, w, h);
        d.watermarkX = position[0];
        d.watermarkY = position[1];
    }
}

FrameResizer::~FrameResizer() = default;
FrameResizer::FrameResizer(FrameResizer&&) noexcept = default;
FrameResizer& FrameResizer::operator=(FrameResizer&&) noexcept = default;

std::int64_t FrameResizer::outputWidth() const { return impl_->width; }
std::int64_t FrameResizer::outputHeight() const { return impl_->height; }

void FrameResizer::Impl::prepareWatermark(const media::PixelBuffer& image, double opacity) {
    // Opacity 1 or more, or not a number, leaves the image as it is.
    const double alphaScale = (opacity < 1.0) ? std::max(opacity, 0.0) : 1.0;
    if (alphaScale <= 0.0) return;  // invisible
    const int sourceWidth = image.width(), sourceHeight = image.height();
    // A quarter of the output width, never enlarged.
    const double scale = std::min(width * kWatermarkWidth / sourceWidth, 1.0);
    const int w = std::max(1, static_cast<int>(std::lround(sourceWidth * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(sourceHeight * scale)));
    const double stepX = static_cast<double>(sourceWidth) / w, stepY = static_cast<double>(sourceHeight) / h;
    AxisFilter horizontal = raster::makeAxisFilter(w, 0.5 * stepX, stepX, sourceWidth);
    AxisFilter vertical = raster::makeAxisFilter(h, 0.5 * stepY, stepY, sourceHeight);

    auto build = [&](auto& target, auto& sampler) {
        using T = std::remove_reference_t<decltype(*target.view().data)>;
        constexpr std::uint32_t kMax = PixelTraits<T>::kMax;
        const auto alpha = static_cast<std::uint32_t>(std::lround(alphaScale * kMax));
        target.resize(w, h);
        std::vector<T> scratch(static_cast<std::size_t>(sourceWidth) * 4);
        auto fetch = [&](int y) -> const T* {
            const std::uint8_t* row = image.row(y);
            for (int i = 0; i < sourceWidth * 4; ++i) scratch[i] = static_cast<T>(row[i] * (kMax / 255));
            raster::premultiplyRow(scratch.data(), sourceWidth);
            return scratch.data();
        };
        auto emit = [&](int y, T* pixels) {
            if (alpha != kMax)
                for (int i = 0; i < w * 4; ++i) pixels[i] = static_cast<T>(raster::mulDivMax<T>(pixels[i], alpha));
            std::memcpy(target.view().row(y), pixels, static_cast<std::size_t>(w) * 4 * sizeof(T));
        };
        sampler.run(horizontal, vertical, fetch, emit);
    };
    if (tenBit)
        build(watermark16, resampler16);
    else
        build(watermark8, resampler8);
}

void FrameResizer::Impl::updatePlan(int sourceWidth, int sourceHeight) {
    if (plan.sourceWidth == sourceWidth && plan.sourceHeight == sourceHeight) return;
    Plan p;
    p.sourceWidth = sourceWidth;
    p.sourceHeight = sourceHeight;

    // Crop, geometry and placement are worked out on the upright picture; its
    // axes are traced back to the stored frame at the end.
    const bool displaySwaps = display && display->swapsSides();
    const int uprightWidth = displaySwaps ? sourceHeight : sourceWidth;
    const int uprightHeight = displaySwaps ? sourceWidth : sourceHeight;

    // Crop, in whole upright pixels and never empty.
    int cropX = 0, cropY = 0, cropWidth = uprightWidth, cropHeight = uprightHeight;
    if (geometry && geometry->cropEnabled) {
        CropRect r = geometry->cropRect();
        int x0 = std::clamp(roundToInt(uprightWidth * r.x), 0, uprightWidth - 1);
        int x1 = std::clamp(roundToInt(uprightWidth * (r.x + r.width)), x0 + 1, uprightWidth);
        int y0 = std::clamp(roundToInt(uprightHeight * r.y), 0, uprightHeight - 1);
        int y1 = std::clamp(roundToInt(uprightHeight * (r.y + r.height)), y0 + 1, uprightHeight);
        cropX = x0;
        cropY = y0;
        cropWidth = x1 - x0;
        cropHeight = y1 - y0;
    }
    const bool swaps = geometry && orientation.swapsAxes;
    // The crop's displayed extent: a non-square pixel stretches the upright
    // axis that follows stored x. Placement works on it; sampling counts
    // stored pixels, so the stretch comes out of the step.
    const double pixelAspect = display ? display->pixelAspect() : 1.0;
    const double shownCropWidth = cropWidth * (displaySwaps ? 1.0 : pixelAspect);
    const double shownCropHeight = cropHeight * (displaySwaps ? pixelAspect : 1.0);
    const double orientedWidth = swaps ? shownCropHeight : shownCropWidth;
    const double orientedHeight = swaps ? shownCropWidth : shownCropHeight;

    // Scale and centre by the mode. An aspect output was sized to the picture
    // and rounded to even sides, so the picture covers it all: the fraction of
    // a pixel the rounding moved is stretched, never left as a background line.
    const double W = width, H = height;
    double s = 1.0;
    switch (mode) {
    case ResizeMode::fit:
    case ResizeMode::aspect: s = std::min(W / orientedWidth, H / orientedHeight); break;
    case ResizeMode::fill: s = std::max(W / orientedWidth, H / orientedHeight); break;
    case ResizeMode::pixelPerfect: s = 1.0; break;
    }
    const bool covers = mode == ResizeMode::aspect;
    const double pictureWidth = covers ? W : s * orientedWidth, pictureHeight = covers ? H : s * orientedHeight;
    // The picture covers whole pixels; sampling is spread exactly over them.
    // Both edges round halves the same way (up), so a picture whose centring
    // falls between pixels keeps its width instead of growing by one.
    auto edge = [](double value) { return roundToInt(std::floor(value + 0.5)); };
    const int px0 = edge((W - pictureWidth) * 0.5);
    const int px1 = std::max(px0 + 1, edge((W - pictureWidth) * 0.5 + pictureWidth));
    const int py0 = edge((H - pictureHeight) * 0.5);
    const int py1 = std::max(py0 + 1, edge((H - pictureHeight) * 0.5 + pictureHeight));
    p.visibleX0 = std::max(px0, 0);
    p.visibleX1 = std::min(px1, width);
    p.visibleY0 = std::max(py0, 0);
    p.visibleY1 = std::min(py1, height);
    p.hasPicture = p.visibleX0 < p.visibleX1 && p.visibleY0 < p.visibleY1;
    if (p.hasPicture) {
        // Canvas axis -> sample positions first + step · i along a source axis
        // of `count` pixels (pixel centres at k + 0.5).
        struct Positions {
            int outputs;
            double first, step;
        };
        auto positions = [](int visible0, int visible1, int picture0, int picture1, int count, bool reversed) {
            const double step = static_cast<double>(count) / (picture1 - picture0);
            const double first = (visible0 + 0.5 - picture0) * step;
            return reversed ? Positions{visible1 - visible0, count - first, -step}
                            : Positions{visible1 - visible0, first, step};
        };
        const bool reversesColumns = geometry && orientation.reversesColumns;
        const bool reversesRows = geometry && orientation.reversesRows;
        const Positions across = swaps ? positions(p.visibleY0, p.visibleY1, py0, py1, cropWidth, reversesColumns)
                                       : positions(p.visibleX0, p.visibleX1, px0, px1, cropWidth, reversesColumns);
        const Positions down = swaps ? positions(p.visibleX0, p.visibleX1, px0, px1, cropHeight, reversesRows)
                                     : positions(p.visibleY0, p.visibleY1, py0, py1, cropHeight, reversesRows);
        // Chroma of 4:2:0: sample j sits on luma column 2j and between luma rows
        // 2j and 2j+1, so in chroma units x / 2 + 0.25 and y / 2. An upright
        // picture turned from a stored one has its chroma planes turned as
        // planes, and is sited the same way in them.
        const int chromaX = cropX / 2, chromaY = cropY / 2;
        const int chromaColumns = (cropX + cropWidth - 1) / 2 + 1 - chromaX;
        const int chromaRows = (cropY + cropHeight - 1) / 2 + 1 - chromaY;
        // Each upright axis with its filters, then traced to the stored axis
        // it follows: a reversed one reads its crop (and chroma) from the far end.
        struct Axis {
            int cropStart, cropCount, chromaStart, chromaCount;
            AxisFilter luma, chroma;
        };
        Axis alongX{cropX,
                    cropWidth,
                    chromaX,
                    chromaColumns,
                    raster::makeAxisFilter(across.outputs, across.first, across.step, cropWidth),
                    raster::makeAxisFilter(across.outputs, (cropX + across.first) / 2 + 0.25 - chromaX, across.step / 2,
                                           chromaColumns)};
        Axis alongY{
            cropY,
            cropHeight,
            chromaY,
            chromaRows,
            raster::makeAxisFilter(down.outputs, down.first, down.step, cropHeight),
            raster::makeAxisFilter(down.outputs, (cropY + down.first) / 2 - chromaY, down.step / 2, chromaRows)};
        auto reverse = [](Axis& axis, int side) {
            axis.cropStart = side - axis.cropStart - axis.cropCount;
            axis.chromaStart = (side + 1) / 2 - axis.chromaStart - axis.chromaCount;
            axis.luma = raster::mirroredAxisFilter(axis.luma, axis.cropCount);
            axis.chroma = raster::mirroredAxisFilter(axis.chroma, axis.chromaCount);
        };
        if (display && display->reversesX()) reverse(alongX, uprightWidth);
        if (display && display->reversesY()) reverse(alongY, uprightHeight);
        Axis& storedX = displaySwaps ? alongY : alongX;
        Axis& storedY = displaySwaps ? alongX : alongY;
        p.cropX = storedX.cropStart;
        p.cropWidth = storedX.cropCount;
        p.chromaX = storedX.chromaStart;
        p.horizontal = std::move(storedX.luma);
        p.chromaHorizontal = std::move(storedX.chroma);
        p.cropY = storedY.cropStart;
        p.cropHeight = storedY.cropCount;
        p.chromaY = storedY.chromaStart;
        p.vertical = std::move(storedY.luma);
        p.chromaVertical = std::move(storedY.chroma);
        p.rowsRunDown = swaps != displaySwaps;
        // The LUT is a per-pixel map: run it where there are fewer pixels. On
        // the way down that is after scaling, which differs from LUT-then-scale
        // only in how edges inside the picture are averaged.
        const auto sourcePixels = static_cast<std::int64_t>(p.horizontal.sourceEnd - p.horizontal.sourceBegin) *
                                  (p.vertical.sourceEnd - p.vertical.sourceBegin);
        const auto outputPixels = static_cast<std::int64_t>(p.visibleX1 - p.visibleX0) * (p.visibleY1 - p.visibleY0);
        p.lutBeforeScaling = sourcePixels <= outputPixels;
        const bool mirrored =
            reversesColumns || reversesRows || (display && (display->reversesX() || display->reversesY()));
        p.unchanged = !p.rowsRunDown && !mirrored && p.cropX == 0 && p.cropY == 0 && p.cropWidth == sourceWidth &&
                      p.cropHeight == sourceHeight && width == sourceWidth && height == sourceHeight &&
                      p.visibleX0 == 0 && p.visibleY0 == 0 && p.visibleX1 == width && p.visibleY1 == height;
    }
    plan = std::move(p);
}

media::PixelBufferRef FrameResizer::Impl::makeBuffer() {
    if (!pool)
        pool = media::PixelBufferPool::create(width, height,
                                              tenBit ? media::PixelFormat::x420 : media::PixelFormat::bgra8);
    if (!pool) return nullptr;
    return pool->get();
}

media::PixelBufferRef FrameResizer::Impl::passedPlanes(const media::PixelBuffer& source) {
    if (!planePool || planePool->width() != source.width() || planePool->height() != source.height() ||
        planePool->format() != source.format())
        planePool = media::PixelBufferPool::create(source.width(), source.height(), source.format());
    media::PixelBufferRef output = planePool ? planePool->get() : nullptr;
    if (!output) return nullptr;
    output->setYCbCrMatrix(source.yCbCrMatrix());
    output->setFullRange(source.isFullRange());
    media::convertPlanes(media::planesOf(const_cast<media::PixelBuffer&>(source)), media::planesOf(*output));
    return output;
}

// The picture as the decoder would have made it for this resizer: bgra8, or
// x420 on the 10-bit path.
const media::PixelBuffer* FrameResizer::Impl::asWorkingFormat(const media::PixelBuffer& source) {
    const media::PixelFormat format = tenBit ? media::PixelFormat::x420 : media::PixelFormat::bgra8;
    if (!workingSource || workingSource->width() != source.width() || workingSource->height() != source.height() ||
        workingSource->format() != format)
        workingSource = media::PixelBuffer::create(source.width(), source.height(), format);
    if (!workingSource) return nullptr;
    const media::YCbCrPlanes given = media::planesOf(const_cast<media::PixelBuffer&>(source));
    workingSource->setYCbCrMatrix(source.yCbCrMatrix());
    if (tenBit)
        media::convertPlanes(given, media::planesOf(*workingSource));
    else
        media::convertToBgra(given, source.yCbCrMatrix(), *workingSource);
    return workingSource.get();
}

bool FrameResizer::keepsPicture(int sourceWidth, int sourceHeight) {
    Impl& d = *impl_;
    if (sourceWidth < 1 || sourceHeight < 1) return false;
    d.updatePlan(sourceWidth, sourceHeight);
    return d.keepsPicture();
}

template <class T>
const T* FrameResizer::Impl::fetchRow(const media::PixelBuffer& source, int cropRow, std::vector<T>& scratch) {
    const int y = plan.cropY + cropRow;
    const int c0 = plan.horizontal.sourceBegin, c1 = plan.horizontal.sourceEnd;
    const int count = c1 - c0;
    const bool lutHere = cube && plan.lutBeforeScaling;
    scratch.resize(static_cast<std::size_t>(plan.cropWidth) * 4);
    T* out = scratch.data() + 4 * c0;
    if (source.format() == media::PixelFormat::x420) {
        if (display)
            raster::x420RowToBgra(source, {display->swapsSides(), display->reversesX(), display->reversesY()}, y,
                                  plan.cropX + c0, plan.cropX + c1, out);
        else
            raster::x420RowToBgra(source, y, plan.cropX + c0, plan.cropX + c1, out);
        if (lutHere) cube->apply(out, count);
        return scratch.data();
    }
    const std::uint8_t* pixels = source.row(y) + 4 * static_cast<std::ptrdiff_t>(plan.cropX);
    const bool opaque = raster::rowIsOpaque(pixels + 4 * c0, count);
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        if (opaque && !lutHere) return pixels;
        std::memcpy(out, pixels + 4 * c0, static_cast<std::size_t>(count) * 4);
    } else {
        for (int i = 0; i < count * 4; ++i) out[i] = static_cast<T>(pixels[4 * c0 + i] * 257);
    }
    // The LUT reads straight colours; scaling needs premultiplied ones.
    if (lutHere) cube->apply(out, count);
    if (!opaque) raster::premultiplyRow(out, count);
    return scratch.data();
}

template <class T, class Store>
void FrameResizer::Impl::scalePlanes(const media::PixelBuffer& source, std::vector<T>& scratch, Store&& store) {
    const Plan& p = plan;
    const int across = p.horizontal.outputCount, down = p.vertical.outputCount;
    const std::size_t samples = static_cast<std::size_t>(across) * down;
    for (auto& plane : planes) plane.resize(samples);
    auto keep = [&](std::vector<std::uint16_t>& plane) {
        return [&plane, across](int row, std::uint16_t* values) {
            std::memcpy(plane.data() + static_cast<std::size_t>(row) * across, values, across * sizeof(std::uint16_t));
        };
    };
    // Luma rows straight from the buffer (the kernel may read a few samples past
    // the crop; the chroma plane follows the luma plane in memory).
    planeResampler.run(
        p.horizontal, p.vertical, [&](int row) { return source.row<std::uint16_t>(p.cropY + row, 0) + p.cropX; },
        keep(planes[0]));
    // Cb, then Cr, each picked out of the interleaved plane into a padded row.
    chromaRow.assign(static_cast<std::size_t>(p.chromaHorizontal.sourceEnd) + 8, 0);
    for (int component = 0; component < 2; ++component) {
        planeResampler.run(
            p.chromaHorizontal, p.chromaVertical,
            [&](int row) {
                const std::uint16_t* pairs = source.row<std::uint16_t>(p.chromaY + row, 1) + 2 * p.chromaX;
                for (int j = p.chromaHorizontal.sourceBegin; j < p.chromaHorizontal.sourceEnd; ++j)
                    chromaRow[j] = pairs[2 * j + component];
                return chromaRow.data();
            },
            keep(planes[1 + component]));
    }
    scratch.resize(static_cast<std::size_t>(across) * 4);
    for (int row = 0; row < down; ++row) {
        const std::size_t offset = static_cast<std::size_t>(row) * across;
        raster::yuvRowToBgra(source.yCbCrMatrix(), planes[0].data() + offset, planes[1].data() + offset,
                             planes[2].data() + offset, across, scratch.data());
        store(row, scratch.data());
    }
}

template <class T>
void FrameResizer::Impl::render(const media::PixelBuffer& source, const RasterView<T>& canvas, double timeSeconds) {
    constexpr T kMax = static_cast<T>(PixelTraits<T>::kMax);
    const T background[4] = {0, 0, 0, preservesAlpha ? T{0} : kMax};
    const Plan& p = plan;

    // Background around the picture.
    for (int y = 0; y < height; ++y) {
        T* row = canvas.row(y);
        if (!p.hasPicture || y < p.visibleY0 || y >= p.visibleY1) {
            raster::fillRow(row, width, background);
        } else {
            raster::fillRow(row, p.visibleX0, background);
            raster::fillRow(row + 4 * p.visibleX1, width - p.visibleX1, background);
        }
    }

    if (p.hasPicture) {
        std::vector<T>& scratch = [this]() -> std::vector<T>& {
            if constexpr (std::is_same_v<T, std::uint8_t>)
                return row8;
            else
                return row16;
        }();
        const bool lutAfter = cube && !p.lutBeforeScaling;
        const bool swaps = p.rowsRunDown;
        const bool forceOpaque = !preservesAlpha;
        const int count = p.horizontal.outputCount;
        // A row of the scaled picture (in source axes) onto the canvas.
        auto store = [&](int index, const T* pixels) {
            if (!swaps) {
                copyRow(canvas.pixel(p.visibleX0, p.visibleY0 + index), pixels, count, forceOpaque);
                return;
            }
            // Source rows run down the canvas columns.
            T* column = canvas.pixel(p.visibleX0 + index, p.visibleY0);
            for (int i = 0; i < count; ++i, column += canvas.stride) {
                std::memcpy(column, pixels + 4 * i, 4 * sizeof(T));
                if (forceOpaque) column[3] = kMax;
            }
        };
        if (source.format() == media::PixelFormat::x420 && !(cube && p.lutBeforeScaling)) {
            scalePlanes<T>(source, scratch, [&](int index, T* pixels) {
                if (lutAfter) cube->apply(pixels, count);  // opaque: no premultiplication
                store(index, pixels);
            });
        } else {
            auto fetch = [&](int cropRow) { return fetchRow<T>(source, cropRow, scratch); };
            resampler<T>().run(p.horizontal, p.vertical, fetch, [&](int index, T* pixels) {
                if (lutAfter) cube->applyPremultiplied(pixels, count);
                store(index, pixels);
            });
        }
    }

    const Raster<T>& mark = [this]() -> const Raster<T>& {
        if constexpr (std::is_same_v<T, std::uint8_t>)
            return watermark8;
        else
            return watermark16;
    }();
    if (!mark.empty()) raster::blendRaster(canvas, mark.view(), watermarkX, watermarkY);

    if (timecode) {
        const std::string text = Timecode::string(timeSeconds, frameRate);
        auto position =
            cornerPosition(timecodePosition, width, height, timecode->boxWidth(text), timecode->boxHeight());
        timecode->draw(canvas, text, position[0], position[1]);
    }
}

media::PixelBufferRef FrameResizer::resized(const media::PixelBuffer& given, double timeSeconds) {
    Impl& d = *impl_;
    if (given.width() < 1 || given.height() < 1) return nullptr;
    if (given.format() == media::PixelFormat::rgbaHalf) return nullptr;
    d.updatePlan(given.width(), given.height());
    const media::PixelBuffer* picture = &given;
    if (given.format() == media::PixelFormat::i420 || given.format() == media::PixelFormat::x422) {
        if (d.keepsPicture()) return d.passedPlanes(given);
        picture = d.asWorkingFormat(given);
        if (!picture) return nullptr;
    }
    const media::PixelBuffer& source = *picture;
    media::PixelBufferRef output = d.makeBuffer();
    if (!output) return nullptr;

    if (!d.tenBit) {
        RasterView<std::uint8_t> canvas{output->data(), static_cast<std::ptrdiff_t>(output->stride()), d.width,
                                        d.height};
        d.render(source, canvas, timeSeconds);
        if (d.preservesAlpha)
            for (int y = 0; y < d.height; ++y) raster::unpremultiplyRow(canvas.row(y), d.width);
        return output;
    }
    output->setYCbCrMatrix(source.yCbCrMatrix());
    // Nothing to do to the picture: its planes go over as they are, without a
    // trip through RGB that would clip what lies outside it.
    if (source.format() == media::PixelFormat::x420 && d.keepsPicture()) {
        for (int plane = 0; plane < 2; ++plane)
            for (int y = 0; y < source.planeHeight(plane); ++y)
                std::memcpy(output->row(y, plane), source.row(y, plane),
                            static_cast<std::size_t>(source.planeWidth(plane)) * (plane == 0 ? 2 : 4));
        return output;
    }
    if (d.canvas16.width() != d.width || d.canvas16.height() != d.height) d.canvas16.resize(d.width, d.height);
    RasterView<std::uint16_t> canvas = d.canvas16.view();
    d.render(source, canvas, timeSeconds);
    raster::bgraToX420(canvas.data, canvas.stride, *output);
    return output;
}

}  // namespace fw
