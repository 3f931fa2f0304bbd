#include "jobs/SettingsBounds.h"

#include <algorithm>
#include <cmath>

namespace fw::SettingsBounds {

namespace {

// NaN gives `fallback`; infinities land on the nearer bound.
double clampedNumber(double value, double lowest, double highest, double fallback) {
    if (std::isnan(value)) return fallback;
    return std::clamp(value, lowest, highest);
}

}  // namespace

H264Settings bounded(H264Settings settings) {
    settings.bitrateMbps =
        clampedNumber(settings.bitrateMbps, kSmallestBitrateMbps, kLargestBitrateMbps, H264Settings{}.bitrateMbps);
    settings.crush = clampedNumber(settings.crush, 0, 1, 0);
    settings.maxKeyFrameInterval = std::clamp<std::int64_t>(settings.maxKeyFrameInterval, 1, kLargestKeyFrameInterval);
    return settings;
}

ResizeSettings bounded(ResizeSettings settings) {
    settings.width = std::clamp<std::int64_t>(settings.width, 2, kLargestSide);
    settings.height = std::clamp<std::int64_t>(settings.height, 2, kLargestSide);
    return settings;
}

GeometrySettings bounded(GeometrySettings settings) {
    if (!std::isfinite(settings.frameRate) || settings.frameRate <= 0)
        settings.frameRateEnabled = false;
    else
        settings.frameRate = std::min(settings.frameRate, kLargestFrameRate);
    return settings;
}

TrimRange bounded(TrimRange trim) {
    trim.start = clampedNumber(trim.start, 0, kLongestSeconds, 0);
    if (trim.end) {
        if (std::isfinite(*trim.end))
            trim.end = std::clamp(*trim.end, 0.0, kLongestSeconds);
        else
            trim.end.reset();
    }
    return trim;
}

ExportConfiguration bounded(ExportConfiguration configuration) {
    configuration.h264 = bounded(configuration.h264);
    configuration.resize = bounded(configuration.resize);
    if (configuration.geometry) configuration.geometry = bounded(*configuration.geometry);
    if (configuration.trim) configuration.trim = bounded(*configuration.trim);
    return configuration;
}

double stillDuration(double seconds) {
    return clampedNumber(seconds, kShortestStillSeconds, kLongestSeconds, kDefaultStillSeconds);
}

}  // namespace fw::SettingsBounds
