#include "encoders/ImageExportEncoder.h"

#include "codecs/imagefile/DPXWriter.h"
#include "codecs/imagefile/EXRWriter.h"
#include "encoders/SourceEncode.h"
#include "model/EncodingError.h"
#include "model/ProgressEstimate.h"
#include "pipeline/DisplayedSize.h"
#include "pipeline/FrameOrientation.h"
#include "pipeline/FrameResizer.h"
#include "pipeline/TrackPumps.h"
#include "platform/core/AtomicFile.h"
#include "platform/core/CoreCount.h"
#include "platform/core/StagedFile.h"
#include "platform/core/StagedFolder.h"
#include "platform/core/ThreadName.h"
#include "platform/core/WriteFailure.h"
#include "platform/media/AssetReader.h"
#include "platform/media/ImageDecoder.h"
#include "platform/media/ImageDestination.h"
#include "platform/media/MediaError.h"

#include <fcntl.h>
#include <tbb/parallel_pipeline.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace fw {

namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------------- one picture

std::vector<std::uint8_t> fileBytes(const media::PixelBuffer& picture, OutputCodec codec) {
    using media::ImageDestination::FileType;
    const imagefile::BGRARaster raster{picture.data(), picture.width(), picture.height(),
                                       static_cast<std::int64_t>(picture.stride())};
    try {
        switch (codec) {
        case OutputCodec::png: return media::ImageDestination::encode(picture, FileType::png);
        case OutputCodec::jpeg: return media::ImageDestination::encode(picture, FileType::jpeg, 0.9);
        case OutputCodec::heic: return media::ImageDestination::encode(picture, FileType::heic, 0.9);
        case OutputCodec::dpx: return DPXWriter::data(raster);
        case OutputCodec::exr: return EXRWriter::data(raster);
        default: break;
        }
    } catch (const std::bad_alloc&) {
        throw EncodingError::writerFailed("could not write image: out of memory");
    } catch (const std::exception& error) {
        throw EncodingError::writerFailed(std::string("could not write image: ") + error.what());
    }
    throw EncodingError::unsupportedCodec(std::string(rawValue(codec)));
}

// Writes the whole file at `path`, which must not exist yet. Failures name
// `shown`, the file the user asked for: `path` is its hidden staging name.
void writeNewFile(const fs::path& path, const std::vector<std::uint8_t>& bytes, const fs::path& shown) {
    auto failed = [&](int error) {
        return EncodingError::writerFailed("could not write \u201c" + shown.filename().string() +
                                           "\u201d: " + writeFailureReason(error, shown));
    };
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor < 0) throw failed(errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(descriptor, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(descriptor);
            ::unlink(path.c_str());
            throw failed(error);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::close(descriptor) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        throw failed(error);
    }
}

// ------------------------------------------------------------- the pictures

FrameResizer resizerFor(const StillTarget& target, IntSize shown, double frameRate,
                        const std::optional<FrameOrientation>& orientation) {
    // Every image format here stores any size.
    const StillFrame frame = stillFrame(target, shown);
    return FrameResizer(frame.size.width, frame.size.height, frame.placement, target.filters.get(), frameRate,
                        std::nullopt, /*tenBit=*/false, /*preservesAlpha=*/false, orientation);
}

// The video side of a movie source, read from the first frame on.
class MovieFrames {
public:
    MovieFrames(const media::AssetRef& asset, const media::AssetTrack& track, const StillTarget& target)
        : reader_(std::make_shared<media::AssetReader>(asset)),
          resizer_(resizerFor(target, displayedPixelSize(track), track.nominalFrameRate.value_or(30.0),
                              FrameOrientation::of(track))) {
        if (!track.formatDescriptions.empty() && track.formatDescriptions.front())
            unpacker_ = frameUnpacker(*track.formatDescriptions.front());
        output_ = unpacker_ ? reader_->addPassthroughOutput(track)
                            : reader_->addVideoOutput(track, {media::PixelFormat::bgra8});
        if (!output_) throw EncodingError::cannotStartReading();
        if (!reader_->startReading()) throw EncodingError::readerFailed(detailOr(reader_->errorDescription()));
    }

    // Reads ahead `depth` samples. Call once.
    ResizedFrames frames(std::size_t depth) {
        return ResizedFrames(*output_, resizer_, unpacker_ ? &*unpacker_ : nullptr, depth);
    }
    media::AssetReader& reader() { return *reader_; }

    // After the last frame: the reader's failure, always reported.
    void throwIfReaderFailed() const {
        if (reader_->status() == media::AssetReader::Status::failed) throw readerFailure(*reader_);
    }

private:
    std::shared_ptr<media::AssetReader> reader_;
    FrameResizer resizer_;
    std::optional<FrameUnpacker> unpacker_;
    std::shared_ptr<media::AssetReaderOutput> output_;
};

EncodingError noFrames() { return EncodingError::readerFailed("the source has no video frames"); }

// ------------------------------------------------------------- single image

// The picture is the caller's alone; it becomes the preview once written.
void writeSingle(media::PixelBufferRef picture, OutputCodec codec, const fs::path& destination, const fs::path& source,
                 const PreviewCallback& preview) {
    StagedFile staged(destination);
    if (staged.replaces(source)) throw EncodingError::destinationIsSource();
    writeNewFile(staged.path(), fileBytes(*picture, codec), destination);
    if (auto error = staged.commit())
        throw EncodingError::outputNotMoved(destination.filename().string(), error.message());
    if (preview) preview(PreviewFrame{std::move(picture)});
}

// ------------------------------------------------------------- sequences

// The numbered files of one sequence. They are written into a staged folder
// that takes the destination's place once every frame is there.
class SequenceNames {
public:
    SequenceNames(std::string baseName, std::string extension)
        : baseName_(std::move(baseName)), extension_(std::move(extension)) {}

    std::string name(std::int64_t index) const {
        char digits[24];
        std::snprintf(digits, sizeof digits, "%05lld", static_cast<long long>(index));
        return baseName_ + "_" + digits + "." + extension_;
    }

    // A frame of a sequence of this name, of any run and length.
    bool isFrame(const std::string& name) const {
        const std::size_t head = baseName_.size() + 1, tail = extension_.size() + 1;
        if (name.size() < head + 5 + tail || !name.starts_with(baseName_ + "_") || !name.ends_with("." + extension_))
            return false;
        const auto digits = std::string_view(name).substr(head, name.size() - head - tail);
        return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    }

private:
    std::string baseName_;
    std::string extension_;
};

// One frame on its way through the sequence pipeline.
struct SequenceFrame {
    std::int64_t index = 0;
    double seconds = 0;
    media::PixelBufferRef picture;
};

// fileBytes() on a thread of its own that a stop leaves behind: a HEIC
// picture takes seconds at 4K and its library cannot be interrupted. Nothing
// once a stop has come; the thread then ends on its own, its bytes dropped.
std::optional<std::vector<std::uint8_t>> fileBytesUnlessStopped(media::PixelBufferRef picture, OutputCodec codec,
                                                                std::stop_token stop) {
    struct Result {
        std::mutex mutex;
        std::condition_variable_any done;
        bool ready = false;
        std::vector<std::uint8_t> bytes;
        std::exception_ptr failure;
    };
    const auto result = std::make_shared<Result>();
    std::thread([result, picture = std::move(picture), codec] {
        nameThisThread("image.encode");
        std::vector<std::uint8_t> bytes;
        std::exception_ptr failure;
        try {
            bytes = fileBytes(*picture, codec);
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(result->mutex);
        result->bytes = std::move(bytes);
        result->failure = failure;
        result->ready = true;
        result->done.notify_all();
    }).detach();
    std::unique_lock lock(result->mutex);
    if (!result->done.wait(lock, stop, [&] { return result->ready; })) return std::nullopt;
    if (result->failure) std::rethrow_exception(result->failure);
    return std::move(result->bytes);
}

// Frames go into `folder`, staged; messages name `shownFolder`, where they will be.
// The pictures left out for damage in the movie.
std::int64_t exportSequence(MovieFrames& movie, OutputCodec codec, const SequenceNames& names, const fs::path& folder,
                            const fs::path& shownFolder, double durationSeconds, const ProgressCallback& progress,
                            const PreviewCallback& preview, std::stop_token stop) {
    // Frames in flight bound the memory: each holds one picture and one file's bytes.
    const std::size_t workers = static_cast<std::size_t>(std::max(2, usableCoreCount()));
    // HEIC's encoder spreads one picture over every core by itself: more of
    // them at once only share the machine, each taking seconds at 4K, and a
    // stop waits for the pictures in flight. Three keep the cores as busy.
    const std::size_t inFlight = codec == OutputCodec::heic ? 3 : std::min<std::size_t>(workers + 2, 18);
    ResizedFrames frames = movie.frames(3);
    PreviewThrottle throttle(0.1);
    std::int64_t nextIndex = 1;

    using Item = std::shared_ptr<SequenceFrame>;
    // In order, one at a time: the next frame through the resizer, numbered.
    auto read = [&](tbb::flow_control& control) -> Item {
        std::optional<ResizedFrames::Frame> frame;
        if (!stop.stop_requested()) frame = frames.next();
        if (!frame) {
            control.stop();
            return nullptr;
        }
        auto item = std::make_shared<SequenceFrame>();
        item->index = nextIndex++;
        item->seconds = frame->seconds;
        item->picture = std::move(frame->picture);
        return item;
    };
    // Any number at once: the file's bytes, written into the staged folder.
    // Nothing is written once a stop has come.
    auto write = [&](Item item) {
        std::optional<std::vector<std::uint8_t>> bytes = codec == OutputCodec::heic
                                                             ? fileBytesUnlessStopped(item->picture, codec, stop)
                                                             : std::optional(fileBytes(*item->picture, codec));
        if (!bytes || stop.stop_requested()) return item;
        writeNewFile(folder / names.name(item->index), *bytes, shownFolder / names.name(item->index));
        if (preview && throttle.shouldEmit())
            preview.offer([&] {
                return PreviewFrame{PreviewRenderer::downscaledImage(*item->picture, PreviewRenderer::kMaxDimension)};
            });
        item->picture.reset();
        return item;
    };
    // In order again: the progress.
    auto report = [&](Item item) {
        if (const auto fraction = ProgressEstimate::reached(item->seconds, 0, durationSeconds); progress && fraction)
            progress(*fraction);
    };
    // A throw in any stage ends the pipeline after the frames in flight and is rethrown here.
    tbb::parallel_pipeline(inFlight, tbb::make_filter<void, Item>(tbb::filter_mode::serial_in_order, read) &
                                         tbb::make_filter<Item, Item>(tbb::filter_mode::parallel, write) &
                                         tbb::make_filter<Item, void>(tbb::filter_mode::serial_in_order, report));
    if (stop.stop_requested()) throw EncodingError::cancelled();
    movie.throwIfReaderFailed();
    if (nextIndex == 1) throw noFrames();
    return damagedPictures(movie.reader());
}

}  // namespace

EncodeResult ImageExportEncoder::encode(const fs::path& source, const fs::path& destination,
                                        const ProgressCallback& progress, const PreviewCallback& preview,
                                        std::stop_token stop) const {
    const OutputCodec codec = request.codec;
    if (!usesImageEncoder(codec)) throw EncodingError::unsupportedCodec(std::string(rawValue(codec)));

    // A file the media layer cannot open may still be an image.
    media::AssetRef asset;
    std::optional<media::MediaError> openFailure;
    try {
        asset = media::Asset::open(source);
    } catch (const media::MediaError& error) {
        openFailure = error;
    }
    const std::vector<media::AssetTrack> videoTracks =
        asset && !asset->isStillImage() ? asset->tracks(media::MediaType::video) : std::vector<media::AssetTrack>{};

    if (videoTracks.empty()) {
        // The image decoder names the file and its fault; a media file without
        // pictures (sound only) has no video track, as the movie routes say.
        media::PixelBufferRef picture;
        try {
            picture = media::ImageDecoder::pixelBuffer(source);
        } catch (const media::MediaError& error) {
            if (asset && !asset->isStillImage()) throw EncodingError::noVideoTrack();
            // A file neither named nor made as an image was meant as a movie: the movie routes' words.
            if (openFailure && !isStillImageSource(source)) throw *openFailure;
            throw EncodingError::imageDecodeFailed(error.what());
        }
        FrameResizer resizer = resizerFor(request.target, {picture->width(), picture->height()}, 30.0, std::nullopt);
        media::PixelBufferRef upright = resizer.resized(*picture, 0.0);
        if (!upright) throw EncodingError::imageDecodeFailed();
        if (stop.stop_requested()) throw EncodingError::cancelled();
        writeSingle(upright, codec, destination, source, preview);
        if (progress) progress(1.0);
        return {};
    }

    MovieFrames movie(asset, videoTracks.front(), request.target);
    auto& reader = movie.reader();
    std::stop_callback cancelReading(stop, [&reader] { reader.cancelReading(); });

    if (!asSequence) {
        std::optional<ResizedFrames::Frame> poster = movie.frames(1).next();
        if (stop.stop_requested()) throw EncodingError::cancelled();
        if (!poster) {
            movie.throwIfReaderFailed();
            throw noFrames();
        }
        writeSingle(std::move(poster->picture), codec, destination, source, preview);
        if (progress) progress(1.0);
        return {};
    }

    double durationSeconds = asset->duration().seconds();
    if (!std::isfinite(durationSeconds)) durationSeconds = 0;
    // An earlier sequence stays whole until this one is complete. A link to a
    // folder stays a link: the folder it leads to is the one replaced.
    std::error_code error;
    const fs::path target =
        fs::is_symlink(fs::symlink_status(destination, error)) ? fs::canonical(destination, error) : destination;
    const fs::file_type kind = fs::status(target, error).type();
    if (kind != fs::file_type::not_found && kind != fs::file_type::directory)
        throw EncodingError::writerFailed("\u201c" + destination.string() + "\u201d is not a folder");
    const SequenceNames names(fs::path(source).stem().string(), std::string(fileExtension(codec)));
    std::optional<StagedFolder> folder;
    try {
        folder.emplace(target);
    } catch (const fs::filesystem_error& failure) {
        throw EncodingError::writerFailed("could not create the folder \u201c" + destination.string() +
                                          "\u201d: " + failure.code().message());
    }
    const std::int64_t leftOut =
        exportSequence(movie, codec, names, folder->path(), destination, durationSeconds, progress, preview, stop);
    // The earlier run's frames go with its folder; whatever else it held stays.
    if (auto failure = folder->commit([&names](const fs::path& name) { return !names.isFrame(name.string()); }))
        throw EncodingError::writerFailed("could not put the frames in place at \u201c" + destination.string() +
                                          "\u201d: " + failure.message());
    if (progress) progress(1.0);
    return {0, leftOut};
}

}  // namespace fw
