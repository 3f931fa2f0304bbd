#include "cli/CommandLineTool.h"

#include "cli/CLIParser.h"
#include "cli/CommandLineTool_internal.h"
#include "model/EncodingError.h"
#include "pipeline/MovieEncoder.h"
#include "platform/media/Asset.h"
#include "platform/media/LibraryLogs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <pthread.h>
#include <stdexcept>
#include <thread>

namespace fw::CommandLineTool {

namespace {

namespace fs = std::filesystem;
using namespace detail;

// ---------------------------------------------------------------- output lines

// One whole line per call, flushed at once, so that lines of the two streams
// reach a shared terminal in the order they were made.
void writeLine(std::FILE* stream, const std::string& line) {
    std::string text = line;
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// ------------------------------------------------------------------ the source

// The first video track's size as displayed (after its transform), each side
// at least 2.
IntSize naturalPixelSize(const media::Asset& asset) {
    const auto videoTracks = asset.tracks(media::MediaType::video);
    if (videoTracks.empty()) throw EncodingError::noVideoTrack();
    const auto& track = videoTracks.front();
    const auto& t = track.preferredTransform;
    const double width = std::abs(t.a * track.naturalSize.width + t.c * track.naturalSize.height);
    const double height = std::abs(t.b * track.naturalSize.width + t.d * track.naturalSize.height);
    // 2^53: far beyond any real picture, and still exact as a double.
    constexpr double kLargest = 9007199254740992.0;
    if (!std::isfinite(width) || !std::isfinite(height) || width >= kLargest || height >= kLargest)
        throw std::runtime_error("The video track reports no usable picture size.");
    return {std::max<std::int64_t>(static_cast<std::int64_t>(width), 2),
            std::max<std::int64_t>(static_cast<std::int64_t>(height), 2)};
}

// ---------------------------------------------------------------------- routes
// One function per encoder family. Families whose encoder is not part of this
// build yet fail the input with a plain message.

[[noreturn]] void notAvailable(OutputCodec codec) {
    throw std::runtime_error(std::string(rawValue(codec)) + " output is not available in this build yet.");
}

void encodeGIF(const fs::path& /*input*/, const fs::path& /*output*/, const TargetSize& /*target*/) {
    notAvailable(OutputCodec::gif);
}

void encodeImage(OutputCodec codec, const fs::path& /*input*/, const fs::path& /*output*/,
                 const TargetSize& /*target*/) {
    notAvailable(codec);
}

void encodeHap(OutputCodec codec, const fs::path& /*input*/, const fs::path& /*output*/, const MoviePlan& /*plan*/) {
    notAvailable(codec);
}

void encodeDXV(const CLIOptions& options, const fs::path& /*input*/, const fs::path& /*output*/,
               const MoviePlan& /*plan*/) {
    notAvailable(options.codec);
}

void encodeWithPlatformEncoder(const CLIOptions& options, const media::AssetRef& asset, const fs::path& output,
                               const MoviePlan& plan) {
    auto settings = movieWriterSettings(options, plan);
    if (!settings) throw EncodingError::unsupportedCodec(std::string(rawValue(options.codec)));
    MovieEncoder encoder;
    encoder.videoSettings = *settings;
    encoder.fileType = fileType(options.codec);
    encoder.scaling = plan.scaling;
    encoder.audioGain = 1.0f;
    encoder.stripAudio = false;
    encoder.downmixMono = false;
    encoder.sampleRate = 48000;
    encoder.preserveAllAudioTracks = false;
    encoder.encode(asset, output, /*progress=*/{}, /*preview=*/{});
}

// --------------------------------------------------------------------- one input

void encodeOne(const fs::path& input, const fs::path& output, const CLIOptions& options) {
    const OutputCodec codec = options.codec;
    const TargetSize target = targetSize(options);
    if (usesGIFEncoder(codec)) return encodeGIF(input, output, target);
    if (usesImageEncoder(codec)) return encodeImage(codec, input, output, target);

    // Movie codecs: the picture is sized from the source as it is displayed.
    const media::AssetRef asset = media::Asset::open(input);
    const MoviePlan plan = moviePlan(options, naturalPixelSize(*asset));
    if (usesHapEncoder(codec)) return encodeHap(codec, input, output, plan);
    if (usesDXVEncoder(codec)) return encodeDXV(options, input, output, plan);
    encodeWithPlatformEncoder(options, asset, output, plan);
}

// The same file however it was spelled (relative parts, links to folders).
fs::path identity(const fs::path& path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : canonical;
}

int run(const CLIOptions& options) {
    bool anyFailed = false;
    // Outputs already written in this run, with the input that made each, so
    // that two inputs mapping to one name (clip.mov, clip.mp4) never overwrite
    // each other; and the inputs themselves, which no output may replace.
    std::map<fs::path, std::string> written;
    std::map<fs::path, std::string> inputs;
    for (const auto& input : options.inputs) inputs.emplace(identity(input), lastPathComponent(input));

    for (const auto& input : options.inputs) {
        const std::string inputName = lastPathComponent(input);
        try {
            const fs::path output = outputLocation(input, options);
            const std::string outputName = lastPathComponent(output);
            const fs::path key = identity(output);
            if (auto earlier = written.find(key); earlier != written.end())
                throw std::runtime_error(outputName + " was already written from " + earlier->second +
                                         " in this run; not overwriting it.");
            if (auto source = inputs.find(key); source != inputs.end())
                throw std::runtime_error(outputName + " is an input of this run; not overwriting it.");
            encodeOne(input, output, options);
            written.emplace(key, inputName);
            writeLine(stdout, "\u2713 " + inputName + " \u2192 " + outputName);
        } catch (const std::exception& error) {
            anyFailed = true;
            writeLine(stderr, "\u2717 " + inputName + ": " + error.what());
        } catch (...) {
            anyFailed = true;
            writeLine(stderr, "\u2717 " + inputName + ": unknown error");
        }
    }
    return anyFailed ? kSomeInputFailed : kAllSucceeded;
}

}  // namespace

int runBlocking(const std::vector<std::string>& arguments) {
    auto parsed = CLIParser::parse(arguments);
    if (auto* error = std::get_if<CLIError>(&parsed)) {
        writeLine(stderr, "Framewright: " + error->message);
        return kCommandLineRejected;
    }
    const CLIOptions options = std::get<CLIOptions>(std::move(parsed));
    // The result lines are all the run prints: a decoder's complaints about a
    // damaged source would mix into the failure stream.
    media::silenceLibraryLogs();

    // The encodes run on a thread of their own; the caller only waits. The
    // join orders the status write before the read.
    int status = kSomeInputFailed;
    std::thread worker([&] {
        pthread_setname_np(pthread_self(), "cli.encode");
        status = run(options);
    });
    worker.join();
    return status;
}

}  // namespace fw::CommandLineTool
