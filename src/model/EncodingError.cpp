#include "model/EncodingError.h"

#include "platform/core/MediaUnits.h"
#include "platform/core/NumberText.h"

#include <algorithm>
#include <cmath>

namespace fw {

namespace {
std::string asciiUpper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}
}  // namespace

EncodingError::EncodingError(Kind kind, std::string payload, std::string description)
    : kind_(kind), payload_(std::move(payload)), description_(std::move(description)) {}

EncodingError EncodingError::unsupportedCodec(std::string codecDisplayName) {
    std::string text = codecDisplayName + " cannot be produced on this system.";
    return {Kind::unsupportedCodec, std::move(codecDisplayName), std::move(text)};
}

EncodingError EncodingError::readerFailed(std::string detail) {
    std::string text = "Reading failed: " + detail;
    return {Kind::readerFailed, std::move(detail), std::move(text)};
}

EncodingError EncodingError::writerFailed(std::string detail) {
    std::string text = "Writing failed: " + detail;
    return {Kind::writerFailed, std::move(detail), std::move(text)};
}

EncodingError EncodingError::destinationIsSource() { return writerFailed("the destination is the source file itself"); }

EncodingError EncodingError::outputNotMoved(const std::string& fileName, const std::string& reason) {
    return writerFailed("could not move the output to \u201c" + fileName + "\u201d: " + reason);
}

EncodingError EncodingError::rawDecoderUnavailable(std::string extension) {
    std::string text = asciiUpper(extension) + " is a camera-RAW format that needs a decoder plug-in. " +
                       "Install the vendor SDK (e.g. the Blackmagic RAW SDK for .braw) and its " +
                       "Framewright bridge, then relaunch.";
    return {Kind::rawDecoderUnavailable, std::move(extension), std::move(text)};
}

EncodingError EncodingError::rawDecodeFailed(std::string detail) {
    std::string text = "RAW decode failed: " + detail;
    return {Kind::rawDecodeFailed, std::move(detail), std::move(text)};
}

EncodingError EncodingError::noVideoTrack() { return {Kind::noVideoTrack, {}, "The source file has no video track."}; }

EncodingError EncodingError::noAudioTrack() { return {Kind::noAudioTrack, {}, "The source file has no audio track."}; }

EncodingError EncodingError::imageDecodeFailed() {
    return {Kind::imageDecodeFailed, {}, "The image could not be decoded."};
}

EncodingError EncodingError::imageDecodeFailed(std::string detail) {
    if (detail.empty()) return imageDecodeFailed();
    std::string text = "The image could not be decoded. " + detail;
    return {Kind::imageDecodeFailed, std::move(detail), std::move(text)};
}

EncodingError EncodingError::cannotStartReading() {
    return {Kind::cannotStartReading, {}, "Could not start reading the source file."};
}

EncodingError EncodingError::cancelled() { return {Kind::cancelled, {}, "The job was cancelled."}; }

std::optional<EncodingError> EncodingError::readerTailFailure(const std::optional<std::string>& readerErrorDescription,
                                                              double reachedSeconds, double expectedSeconds) {
    if (expectedSeconds > 0 && std::isfinite(reachedSeconds)) {
        if (reachedSeconds >= expectedSeconds - sourceTailToleranceSeconds(expectedSeconds)) return std::nullopt;
    }
    return readerStopped(readerErrorDescription, reachedSeconds, expectedSeconds);
}

EncodingError EncodingError::readerStopped(const std::optional<std::string>& readerErrorDescription,
                                           double reachedSeconds, double expectedSeconds) {
    std::string detail = detailOr(readerErrorDescription);
    // The detail is a sentence of its own: end it before the next one starts.
    if (!detail.empty() && detail.back() != '.' && detail.back() != '!' && detail.back() != '?') detail += '.';
    // NaN fails the comparison and so shows as 0, like a negative time.
    const double shown = reachedSeconds >= 0 ? reachedSeconds : 0;
    std::string text =
        detail + " Decoding stopped at " + formatFixed(shown, 1) + "s of " + formatFixed(expectedSeconds, 1) + "s";
    // A detail that already blames the file is not repeated.
    text += detail.find("damaged or truncated") == std::string::npos
                ? " \u2014 the source file may be damaged or truncated."
                : ".";
    return readerFailed(std::move(text));
}

EncodingError EncodingError::damagedPictures(const std::string& fileName, std::int64_t damaged,
                                             std::int64_t delivered) {
    return readerFailed("The file \u201c" + fileName + "\u201d is damaged: " + std::to_string(damaged) + " of its " +
                        std::to_string(damaged + delivered) + " pictures could not be read.");
}

std::optional<EncodingError> EncodingError::damagedPicturesFailure(const std::string& fileName, std::int64_t damaged,
                                                                   std::int64_t delivered) {
    if (damaged <= 0 ||
        static_cast<double>(damaged) <= kMostDamagedPictureShare * static_cast<double>(damaged + delivered))
        return std::nullopt;
    return damagedPictures(fileName, damaged, delivered);
}

std::string detailOr(const std::optional<std::string>& description, std::string fallback) {
    return description && !description->empty() ? *description : std::move(fallback);
}

void ReachedSeconds::record(double presentationSeconds, double durationSeconds) {
    double end = presentationSeconds;
    if (std::isfinite(durationSeconds) && durationSeconds > 0) end += durationSeconds;
    update(end);
}

void ReachedSeconds::update(double seconds) {
    if (!std::isfinite(seconds)) return;
    std::lock_guard lock(mutex_);
    value_ = std::max(value_, seconds);
}

double ReachedSeconds::seconds() const {
    std::lock_guard lock(mutex_);
    return value_;
}

}  // namespace fw
