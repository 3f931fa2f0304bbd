#include "pipeline/Timecode.h"

#include "platform/core/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace fw {

namespace {

void appendTwoDigits(std::string& out, std::uint64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ptr - buffer < 2) out.push_back('0');
    out.append(buffer, result.ptr);
}

// Frames per second for counting: the rate when above 0 and finite, else 30,
// rounded halves away from zero, at least 1.
double countingRate(double frameRate) { return (std::isfinite(frameRate) && frameRate > 0) ? frameRate : 30.0; }

std::int64_t wholeFramesPerSecond(double rate) {
    double fps = std::max(1.0, std::round(rate));
    return fps >= 9.0e18 ? static_cast<std::int64_t>(9.0e18) : static_cast<std::int64_t>(fps);
}

}  // namespace

namespace Timecode {

std::string string(double seconds, double frameRate) {
    if (!std::isfinite(seconds) || seconds < 0) return "00:00:00:00";
    // Beyond this the whole seconds no longer fit an unsigned 64-bit count.
    seconds = std::min(seconds, 1.8e19);
    double rate = countingRate(frameRate);
    std::int64_t fps = wholeFramesPerSecond(rate);
    double wholeSeconds = std::trunc(seconds);
    double frame = std::trunc((seconds - wholeSeconds) * rate);
    auto whole = static_cast<std::uint64_t>(wholeSeconds);
    auto frames = static_cast<std::uint64_t>(std::min(frame, static_cast<double>(fps - 1)));

    std::string text;
    appendTwoDigits(text, whole / 3600);
    text.push_back(':');
    appendTwoDigits(text, (whole % 3600) / 60);
    text.push_back(':');
    appendTwoDigits(text, whole % 60);
    text.push_back(':');
    appendTwoDigits(text, frames);
    return text;
}

std::optional<std::int64_t> frames(std::string_view text, double frameRate) {
    std::vector<std::int64_t> fields;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t colon = text.find(':', start);
        std::size_t end = colon == std::string_view::npos ? text.size() : colon;
        if (end > start) {
            auto value = parseInteger(text.substr(start, end - start));
            if (!value || *value < 0) return std::nullopt;
            fields.push_back(*value);
        }
        if (colon == std::string_view::npos) break;
        start = colon + 1;
    }
    if (fields.size() != 4) return std::nullopt;
    std::int64_t fps = wholeFramesPerSecond(countingRate(frameRate));
    std::int64_t total = 0;
    if (__builtin_mul_overflow(fields[0], std::int64_t{3600}, &total)) return std::nullopt;
    std::int64_t minutes = 0;
    if (__builtin_mul_overflow(fields[1], std::int64_t{60}, &minutes)) return std::nullopt;
    if (__builtin_add_overflow(total, minutes, &total)) return std::nullopt;
    if (__builtin_add_overflow(total, fields[2], &total)) return std::nullopt;
    if (__builtin_mul_overflow(total, fps, &total)) return std::nullopt;
    if (__builtin_add_overflow(total, std::min(fields[3], fps - 1), &total)) return std::nullopt;
    return total;
}

}  // namespace Timecode

}  // namespace fw
