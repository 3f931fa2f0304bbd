#pragma once
// The one error type every encoder throws for its own failures. Its message
// (what() / errorDescription()) is the text shown to the user: in the job row,
// the failed history record and the command-line failure line.
//
// ReachedSeconds records how far into the source the reading side of an
// encode got; EncodingError::readerTailFailure decides whether a reader that
// failed near the end of its source is forgiven.
//
// Thread-safety: EncodingError is an immutable value, free to cross threads.
// ReachedSeconds is safe to use and destroy from any thread.

#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>

namespace fw {

class EncodingError : public std::exception {
public:
    // Declaration order is meaningful to callers that switch over it.
    enum class Kind {
        unsupportedCodec,       // payload: codec display name
        readerFailed,           // payload: detail of the read failure
        writerFailed,           // payload: detail of the write failure
        rawDecoderUnavailable,  // payload: lower-cased source extension
        rawDecodeFailed,        // payload: detail from the camera-RAW path
        noVideoTrack,
        noAudioTrack,
        imageDecodeFailed,  // payload: the image reader's message, or empty
        cannotStartReading,
        cancelled,
    };

    static EncodingError unsupportedCodec(std::string codecDisplayName);
    static EncodingError readerFailed(std::string detail);
    static EncodingError writerFailed(std::string detail);
    // writerFailed for a destination that names the source being read.
    static EncodingError destinationIsSource();
    // writerFailed for a finished output that could not be moved into place:
    // "could not move the output to “<fileName>”: <reason>".
    static EncodingError outputNotMoved(const std::string& fileName, const std::string& reason);
    static EncodingError rawDecoderUnavailable(std::string extension);
    static EncodingError rawDecodeFailed(std::string detail);
    static EncodingError noVideoTrack();
    static EncodingError noAudioTrack();
    static EncodingError imageDecodeFailed();
    // The same case with the image reader's own message, which names the file
    // and the fault: the description is the case's text, then that message,
    // on one line.
    static EncodingError imageDecodeFailed(std::string detail);
    static EncodingError cannotStartReading();
    static EncodingError cancelled();

    Kind kind() const noexcept { return kind_; }
    // The carried text; empty for the cases without payload.
    const std::string& payload() const noexcept { return payload_; }
    // The user-facing message; never empty.
    const std::string& errorDescription() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    // Equal when the case is the same and, for the cases with a payload, the payloads are.
    friend bool operator==(const EncodingError& a, const EncodingError& b) noexcept {
        return a.kind_ == b.kind_ && a.payload_ == b.payload_;
    }

    // The source-tail rule. Called after the pumps have ended (and the encode
    // was not cancelled) when the source reader reports failure.
    //   readerErrorDescription: the reader's error text, nullopt when it has none.
    //   reachedSeconds: furthest source time reached minus the read range's start.
    //   expectedSeconds: the expected length of the read range; 0 or less when unknown.
    // Returns nullopt when the failure is forgiven (the caller keeps and finishes
    // the output): expected > 0, reached finite and
    //   reached >= expected - sourceTailToleranceSeconds(expected)
    // (MediaUnits.h: min(max(2 % of expected, 2 s), expected / 2)).
    // The cap at half the expected length keeps short sources from being
    // forgiven when most of them is missing. Otherwise returns readerFailed with
    // "<detail> Decoding stopped at R.Rs of E.Es — the source file may be damaged or truncated.", the last
    // clause left out when the detail already says the file is damaged or truncated.
    static std::optional<EncodingError> readerTailFailure(const std::optional<std::string>& readerErrorDescription,
                                                          double reachedSeconds, double expectedSeconds);
    // That readerFailed, for a failure that is not forgiven wherever it lay.
    static EncodingError readerStopped(const std::optional<std::string>& readerErrorDescription, double reachedSeconds,
                                       double expectedSeconds);

    // The largest share of a source's pictures that may be left out for damage while its output still succeeds,
    // saying how many: past it the output is no longer the movie the source holds.
    static constexpr double kMostDamagedPictureShare = 0.1;
    // readerFailed "The file “<fileName>” is damaged: <damaged> of its <damaged + delivered> pictures could not be
    // read." for the pictures of a source left out for damage (`damaged`, beside the `delivered` ones).
    static EncodingError damagedPictures(const std::string& fileName, std::int64_t damaged, std::int64_t delivered);
    // That error when more than kMostDamagedPictureShare of the pictures were left out; nullopt otherwise.
    static std::optional<EncodingError> damagedPicturesFailure(const std::string& fileName, std::int64_t damaged,
                                                               std::int64_t delivered);

private:
    EncodingError(Kind kind, std::string payload, std::string description);

    Kind kind_;
    std::string payload_;
    std::string description_;
};

// A reader's or writer's error description when it has a non-empty one, else
// `fallback`: the detail an EncodingError carries for a failure that may come
// without words.
std::string detailOr(const std::optional<std::string>& description, std::string fallback = "unknown error");

// Furthest source time (seconds) that the reading side of an encode reached.
// Written by the pump threads, read by the encode task after they end. Starts
// at 0 and never decreases.
class ReachedSeconds {
public:
    ReachedSeconds() = default;
    ReachedSeconds(const ReachedSeconds&) = delete;
    ReachedSeconds& operator=(const ReachedSeconds&) = delete;

    // One sample read from the source: its end is start + duration when the
    // duration is finite and positive, else start alone. A non-finite end is ignored.
    void record(double presentationSeconds, double durationSeconds);
    // A time without duration; a non-finite time is ignored.
    void update(double seconds);
    double seconds() const;

private:
    mutable std::mutex mutex_;
    double value_ = 0;
};

}  // namespace fw
