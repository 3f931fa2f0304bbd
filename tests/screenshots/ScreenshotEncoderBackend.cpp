#include "ScreenshotEncoderBackend.h"

#include "model/EncodingError.h"
#include "pipeline/PreviewRenderer.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>

namespace fw::screenshots {

namespace {

// A 480 × 270 dusk scene: sky gradient, a sun and a dark hill line.
ImageRef paintedFrame() {
    constexpr int kWidth = 480;
    constexpr int kHeight = 270;
    auto buffer = media::PixelBuffer::create(kWidth, kHeight, media::PixelFormat::bgra8);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = buffer->row(y);
        const double v = double(y) / kHeight;
        for (int x = 0; x < kWidth; ++x) {
            const double u = double(x) / kWidth;
            double red = 40 + 200 * v, green = 60 + 90 * v, blue = 140 - 60 * v;
            const double sunDistance = std::hypot(x - 330.0, y - 150.0);
            if (sunDistance < 34) red = 255, green = 210, blue = 120;
            const double hill = 190 + 25 * std::sin(u * 7.0) + 12 * std::sin(u * 17.0 + 1);
            if (y > hill) red = 25 + 20 * u, green = 30 + 15 * u, blue = 45;
            std::uint8_t* pixel = row + 4 * x;
            pixel[0] = std::uint8_t(std::clamp(blue, 0.0, 255.0));
            pixel[1] = std::uint8_t(std::clamp(green, 0.0, 255.0));
            pixel[2] = std::uint8_t(std::clamp(red, 0.0, 255.0));
            pixel[3] = 255;
        }
    }
    return buffer;
}

}  // namespace

void ScreenshotEncoderBackend::script(const std::string& fileName, Script script) {
    const std::lock_guard lock(mutex_);
    scripts_[fileName] = script;
}

jobs::SourceProbe ScreenshotEncoderBackend::probe(const std::filesystem::path& source,
                                                  const ExportConfiguration&) const {
    return jobs::SourceProbe::sized(source, {1920, 1080});
}

EncodeResult ScreenshotEncoderBackend::encode(const jobs::OutputPlan& plan, const ProgressCallback& progress,
                                              const PreviewCallback& preview, std::stop_token stop) const {
    const std::filesystem::path& source = plan.source();
    Script script;
    {
        const std::lock_guard lock(mutex_);
        const auto found = scripts_.find(source.filename().string());
        if (found == scripts_.end()) return {};
        script = found->second;
    }
    if (progress) progress(script.progress);
    if (script.preview && preview) preview(PreviewFrame{paintedFrame()});
    std::mutex waitMutex;
    std::unique_lock lock(waitMutex);
    std::condition_variable_any().wait(lock, stop, [] { return false; });
    throw EncodingError::cancelled();
}

std::filesystem::path ScreenshotEncoderBackend::stitch(const std::vector<std::filesystem::path>&,
                                                       const ExportConfiguration&, const SourceEncodeOptions&,
                                                       const std::function<std::filesystem::path(IntSize)>&,
                                                       const ProgressCallback&, const PreviewCallback&,
                                                       std::stop_token) const {
    throw EncodingError::cancelled();
}

}  // namespace fw::screenshots
