#include "platform/media/AssetWriter.h"

#include "platform/core/WriteFailure.h"
#include "platform/media/AssetWriter_internal.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <numeric>

namespace fw::media {

using namespace detail;

namespace detail {

void OutputFormatDeleter::operator()(AVFormatContext* c) const noexcept {
    if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
    avformat_free_context(c);
}

void setDisplayMatrix(AVStream& stream, const AffineTransform& transform) {
    if (transform.isIdentity()) return;
    auto* data = reinterpret_cast<std::int32_t*>(
        av_stream_new_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(std::int32_t)));
    if (!data) throw MediaError("Out of memory", AVERROR(ENOMEM));
    displayMatrixFromTransform(transform, data);
}

std::int32_t timescaleForFrameRate(double rate) {
    if (!(rate > 0) || rate > 1000) return 90000;
    double whole = std::round(rate);
    if (std::fabs(rate - whole) < 1e-6)
        return static_cast<std::int32_t>(std::lcm(std::int64_t{kSecondsTimescale}, static_cast<std::int64_t>(whole)));
    double ntsc = std::round(rate * 1.001);
    if (std::fabs(rate - ntsc * 1000 / 1001) < 1e-3) return static_cast<std::int32_t>(ntsc * 1000);
    return 90000;
}

WriterCore::~WriterCore() {
    if (status == AssetWriter::Status::cancelled)
        for (auto& input : inputs) input->abandon();
}

void WriterCore::failWriting(const std::string& message) {
    {
        std::lock_guard lock(mutex);
        if (status == AssetWriter::Status::writing || status == AssetWriter::Status::unknown) {
            status = AssetWriter::Status::failed;
            error = message;
        }
    }
    wakeInputs();
}

void WriterCore::wakeInputs() {
    pacer.stop();
    // The list is fixed once writing has started.
    for (auto& input : inputs) input->writerStopped();
}

bool WriterCore::isWriting() const {
    std::lock_guard lock(mutex);
    return status == AssetWriter::Status::writing;
}

// The status leaves `writing` before wakeInputs stops the pacer: an append
// let through in between is refused by writePacket.
bool WriterCore::pace(WriterInputBase& input, double seconds) {
    return isWriting() && pacer.waitToAppend(input.pacedTrack, seconds);
}

void WriterCore::findLoneStreamLocked() {
    if (status != AssetWriter::Status::writing) return;
    const WriterInputBase* lone = nullptr;
    int writing = 0;
    endedUntil = AV_NOPTS_VALUE;
    for (const auto& other : inputs) {
        const auto index = static_cast<std::size_t>(other->stream()->index);
        if (!other->finished && !other->sourceWaiting) {
            lone = other.get();
            ++writing;
        } else if (index < queuedUntil.size()) {
            endedUntil = std::max(endedUntil, queuedUntil[index]);
        }
    }
    const bool wasAlone = loneStream >= 0;
    loneStream = writing == 1 ? lone->stream()->index : -1;
    if (wasAlone && loneStream < 0) format->max_interleave_delta = kInterleaveDelta;
}

void WriterCore::inputFinished(WriterInputBase& input) {
    {
        std::lock_guard lock(mutex);
        input.finished = true;
        findLoneStreamLocked();
    }
    pacer.finish(input.pacedTrack);
}

void WriterCore::sourceWaiting(WriterInputBase& input, bool waiting) {
    {
        std::lock_guard lock(mutex);
        if (input.finished || input.sourceWaiting == waiting) return;
        input.sourceWaiting = waiting;
        findLoneStreamLocked();
    }
    pacer.setSourceWaiting(input.pacedTrack, waiting);
}

bool WriterCore::writePacket(AVPacket* packet, AVRational timeBase) {
    {
        std::lock_guard lock(mutex);
        if (status != AssetWriter::Status::writing) return false;
        AVStream* stream = format->streams[packet->stream_index];
        av_packet_rescale_ts(packet, timeBase, stream->time_base);
        if (packet->dts != AV_NOPTS_VALUE) {
            const std::int64_t at = av_rescale_q(packet->dts, stream->time_base, AV_TIME_BASE_Q);
            const auto index = static_cast<std::size_t>(packet->stream_index);
            if (queuedUntil.size() <= index) queuedUntil.resize(index + 1, AV_NOPTS_VALUE);
            queuedUntil[index] = at;
            // Alone: the muxer writes the packets that lie more than this before
            // the latest, so everything before this one (the ended streams' last
            // ones in their place) and, past the ended streams, all but this one.
            if (packet->stream_index == loneStream)
                format->max_interleave_delta = endedUntil == AV_NOPTS_VALUE || endedUntil <= at ? 1 : endedUntil - at;
        }
        int result = av_interleaved_write_frame(format.get(), packet);
        if (result >= 0) return true;
        status = AssetWriter::Status::failed;
        error = "Could not write " + quotedName(shownPath) + ": " + errorText(result);
    }
    wakeInputs();
    return false;
}

void WriterInputBase::setSourceWaiting(bool waiting) { core_.sourceWaiting(*this, waiting); }

void WriterInputBase::expectFirstSample(MediaTime sourceTime) {
    const MediaTime time = relative(sourceTime);
    // A sample before the session is placed at its start.
    if (time.isNumeric()) core_.pacer.expectFirst(pacedTrack, std::max(time.seconds(), 0.0));
}

void WriterInputBase::markAsFinished() {
    std::lock_guard guard(inputMutex_);
    if (finishedOnce_) return;
    finishedOnce_ = true;
    if (core_.isWriting()) {
        try {
            flush();
        } catch (const std::exception& error) {
            core_.failWriting(error.what());
        }
    }
    core_.inputFinished(*this);
}

bool WriterInputBase::unsupported(const char* what) {
    core_.failWriting(std::string("This input does not take ") + what);
    return false;
}

MediaTime WriterInputBase::relative(MediaTime sourceTime) const {
    std::lock_guard lock(core_.mutex);
    return sourceTime - core_.sessionStart;
}

namespace {

// Stores each sample's bytes as one frame of the given codec type.
class PassthroughVideoInput final : public WriterInputBase {
public:
    PassthroughVideoInput(WriterCore& core, const PassthroughVideoSettings& settings, const AffineTransform& transform)
        : WriterInputBase(core), settings_(settings), transform_(transform) {}

    MediaType mediaType() const override { return MediaType::video; }
    std::int32_t trackTimescale() const override { return std::max<std::int32_t>(settings_.timescale, 0); }

    void open(AVFormatContext& format) override {
        stream_ = avformat_new_stream(&format, nullptr);
        if (!stream_) throw MediaError("Out of memory", AVERROR(ENOMEM));
        AVCodecParameters& par = *stream_->codecpar;
        par.codec_type = AVMEDIA_TYPE_VIDEO;
        par.codec_tag = toCodecTag(settings_.codecType);
        const AVCodecTag* tables[] = {avformat_get_mov_video_tags(), nullptr};
        par.codec_id = av_codec_get_id(tables, par.codec_tag);
        par.width = settings_.width;
        par.height = settings_.height;
        timeBase_ = AVRational{1, settings_.timescale > 0 ? settings_.timescale : kPassthroughTimescale};
        stream_->time_base = timeBase_;
        setDisplayMatrix(*stream_, transform_);
    }

    bool appendSampleBuffer(const SampleBuffer& sample) override {
        std::lock_guard guard(inputMutex_);
        if (sample.data().empty()) return unsupported("samples without data");
        MediaTime time = relative(sample.presentationTime());
        if (!time.isNumeric()) {
            core_.failWriting("A sample without a valid time was appended");
            return false;
        }
        MediaTime duration = sample.duration();
        if (time < MediaTime::zero()) {
            // Before the session: dropped, unless it is still showing when the session starts.
            if (!duration.isNumeric() || time + duration <= MediaTime::zero()) return core_.isWriting();
            duration = time + duration;
            time = MediaTime::zero();
        }
        if (!core_.pace(*this, time.seconds())) return false;
        std::int64_t pts = fromMediaTime(time, timeBase_);
        if (pts == lastPts_) return core_.isWriting();  // on the tick of the one before, as pictures are
        if (pts < lastPts_) {
            core_.failWriting("Samples must be appended in increasing time order");
            return false;
        }
        PacketPtr packet = makePacket();
        referToData(*packet, sample);
        packet->stream_index = stream_->index;
        packet->pts = packet->dts = pts;
        packet->duration = duration.isNumeric() && duration > MediaTime::zero() ? fromMediaTime(duration, timeBase_)
                                                                                : (lastPts_ >= 0 ? pts - lastPts_ : 0);
        if (sample.isKeyFrame()) packet->flags |= AV_PKT_FLAG_KEY;
        lastPts_ = pts;
        return core_.writePacket(packet.get(), timeBase_);
    }

private:
    // The packet refers to the sample's bytes and keeps them alive, without a copy (frames are megabytes); bytes
    // nobody owns are copied.
    static void referToData(AVPacket& packet, const SampleBuffer& sample) {
        const auto size = static_cast<int>(sample.data().size());
        if (!sample.dataOwner()) {
            check(av_new_packet(&packet, size), "Out of memory");
            std::memcpy(packet.data, sample.data().data(), sample.data().size());
            return;
        }
        auto owner = std::make_unique<std::shared_ptr<const void>>(sample.dataOwner());
        AVBufferRef* buffer = av_buffer_create(
            const_cast<std::uint8_t*>(sample.data().data()), static_cast<std::size_t>(size),
            [](void* opaque, std::uint8_t*) { delete static_cast<std::shared_ptr<const void>*>(opaque); }, owner.get(),
            AV_BUFFER_FLAG_READONLY);
        if (!buffer) check(AVERROR(ENOMEM), "Out of memory");
        owner.release();
        packet.buf = buffer;
        packet.data = buffer->data;
        packet.size = size;
    }

    PassthroughVideoSettings settings_;
    AffineTransform transform_;
    std::int64_t lastPts_ = -1;
    AVRational timeBase_{1, kPassthroughTimescale};
};

// The muxer doubles a video track timescale below 10000 until it is not. One
// asked for is kept; the muxer's option holds for every video track, so only
// when they all ask for the same.
void keepVideoTimescale(const std::vector<std::unique_ptr<WriterInputBase>>& inputs, AVDictionary*& options) {
    std::int32_t asked = 0;
    for (const auto& input : inputs) {
        if (input->mediaType() != MediaType::video) continue;
        const std::int32_t timescale = input->trackTimescale();
        if (timescale <= 0 || (asked > 0 && timescale != asked)) return;
        asked = timescale;
    }
    if (asked > 0) av_dict_set_int(&options, "video_track_timescale", asked, 0);
}

const char* muxerName(FileType type) {
    switch (type) {
    case FileType::quickTimeMovie: return "mov";
    case FileType::mpeg4: return "mp4";
    case FileType::appleM4A: return "ipod";
    }
    return "mov";
}

// MPEG-4 files take the plain names, which the muxer turns into the iTunes
// atoms readers show. QuickTime movies keep every key in a metadata box
// (movflags use_metadata_tags), where readers look for the QuickTime names.
std::string metadataKeyName(MetadataKey key, FileType fileType) {
    const char* name = "comment";
    switch (key) {
    case MetadataKey::title: name = "title"; break;
    case MetadataKey::artist: name = "artist"; break;
    case MetadataKey::comment: name = "comment"; break;
    case MetadataKey::copyright: name = "copyright"; break;
    case MetadataKey::description: name = "description"; break;
    }
    return fileType == FileType::quickTimeMovie ? std::string("com.apple.quicktime.") + name : name;
}

std::string timecodeText(std::int64_t frames, int quanta) {
    std::int64_t perHour = static_cast<std::int64_t>(quanta) * 3600;
    std::int64_t hours = frames / perHour;
    frames %= perHour;
    std::int64_t minutes = frames / (static_cast<std::int64_t>(quanta) * 60);
    frames %= static_cast<std::int64_t>(quanta) * 60;
    std::int64_t seconds = frames / quanta;
    frames %= quanta;
    auto two = [](std::int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    return two(hours) + ":" + two(minutes) + ":" + two(seconds) + ":" + two(frames);
}

}  // namespace
}  // namespace detail

AssetWriter::AssetWriter(std::filesystem::path path, FileType fileType, std::filesystem::path shownPath)
    : core_(std::make_shared<WriterCore>()) {
    quietLibraryLogs();
    core_->shownPath = shownPath.empty() ? path : std::move(shownPath);
    core_->path = std::move(path);
    core_->fileType = fileType;
}

AssetWriter::~AssetWriter() {
    if (status() == Status::writing) cancelWriting();
}

const std::filesystem::path& AssetWriter::path() const { return core_->path; }
FileType AssetWriter::fileType() const { return core_->fileType; }

void AssetWriter::setMetadata(std::vector<MetadataItem> items) {
    std::lock_guard lock(core_->mutex);
    if (core_->status == Status::unknown) core_->metadata = std::move(items);
}

void AssetWriter::setTimecode(std::int64_t startFrame, int frameQuanta) {
    std::lock_guard lock(core_->mutex);
    if (core_->status == Status::unknown && startFrame >= 0 && frameQuanta >= 1)
        core_->timecode = std::make_pair(startFrame, frameQuanta);
}

namespace {

AssetWriterInputRef addInput(const std::shared_ptr<WriterCore>& core, std::unique_ptr<WriterInputBase> input) {
    std::lock_guard lock(core->mutex);
    if (core->status != AssetWriter::Status::unknown) return nullptr;
    WriterInputBase* raw = input.get();
    raw->pacedTrack = core->pacer.addTrack();
    core->inputs.push_back(std::move(input));
    // The reference keeps the whole writer state alive, which owns the input.
    return AssetWriterInputRef(core, raw);
}

}  // namespace

AssetWriterInputRef AssetWriter::addVideoInput(const VideoEncoderSettings& settings, const AffineTransform& transform) {
    if (core_->fileType == FileType::appleM4A) return nullptr;
    if (settings.codec == VideoCodec::proRes && core_->fileType != FileType::quickTimeMovie) return nullptr;
    if (settings.width <= 0 || settings.height <= 0) return nullptr;
    return addInput(core_, makeVideoEncoderInput(*core_, settings, transform));
}

AssetWriterInputRef AssetWriter::addAudioInput(const AudioEncoderSettings& settings) {
    if (settings.codec == AudioCodec::pcm16 && core_->fileType != FileType::quickTimeMovie) return nullptr;
    if (settings.channelCount < 1) return nullptr;
    return addInput(core_, makeAudioEncoderInput(*core_, settings));
}

AssetWriterInputRef AssetWriter::addPassthroughVideoInput(const PassthroughVideoSettings& settings,
                                                          const AffineTransform& transform) {
    if (core_->fileType != FileType::quickTimeMovie || settings.codecType == 0) return nullptr;
    if (settings.width <= 0 || settings.height <= 0) return nullptr;
    return addInput(core_, std::make_unique<PassthroughVideoInput>(*core_, settings, transform));
}

bool AssetWriter::startWriting() {
    WriterCore& core = *core_;
    {
        std::lock_guard lock(core.mutex);
        if (core.status != Status::unknown) return core.status == Status::writing;
        if (core.inputs.empty()) {
            core.status = Status::failed;
            core.error = "Nothing to write: no inputs were added";
            return false;
        }
    }
    try {
        AVFormatContext* raw = nullptr;
        check(avformat_alloc_output_context2(&raw, nullptr, muxerName(core.fileType), core.path.c_str()),
              "Could not create " + quotedName(core.shownPath));
        core.format.reset(raw);
        AVDictionary* options = nullptr;
        bool anyMetadata = false;
        for (const auto& item : core.metadata) {
            if (item.value.empty()) continue;
            av_dict_set(&raw->metadata, metadataKeyName(item.key, core.fileType).c_str(), item.value.c_str(), 0);
            anyMetadata = true;
        }
        // QuickTime movies keep only some keys in their user data (and the
        // description under the comment's atom); metadata tags keep them all.
        if (anyMetadata && core.fileType == FileType::quickTimeMovie)
            av_dict_set(&options, "movflags", "use_metadata_tags", 0);
        for (auto& input : core.inputs) input->open(*raw);
        keepVideoTimescale(core.inputs, options);
        if (core.timecode) {
            for (auto& input : core.inputs) {
                if (input->mediaType() != MediaType::video) continue;
                // The muxer counts the timecode at the stream's frame rate.
                AVStream* stream = input->stream();
                stream->avg_frame_rate = AVRational{core.timecode->second, 1};
                av_dict_set(&stream->metadata, "timecode",
                            timecodeText(core.timecode->first, core.timecode->second).c_str(), 0);
                break;
            }
        }
        raw->max_interleave_delta = kInterleaveDelta;
        int status = avio_open(&raw->pb, core.path.c_str(), AVIO_FLAG_WRITE);
        if (status < 0) {
            av_dict_free(&options);
            if (status == AVERROR(ENOENT))
                throw MediaError("Could not create " + quotedName(core.shownPath) + ": " +
                                     writeFailureReason(ENOENT, core.shownPath),
                                 status);
            fail("Could not create " + quotedName(core.shownPath), status);
        }
        {
            std::lock_guard lock(core.mutex);
            core.fileOpen = true;
            core.fileCreated = true;
        }
        status = avformat_write_header(raw, &options);
        av_dict_free(&options);
        check(status, "Could not start writing " + quotedName(core.shownPath));
    } catch (const std::exception& error) {
        core.failWriting(error.what());
        return false;
    }
    std::lock_guard lock(core.mutex);
    if (core.status != Status::unknown) return false;
    core.status = Status::writing;
    return true;
}

void AssetWriter::startSession(MediaTime sourceTime) {
    std::lock_guard lock(core_->mutex);
    if (sourceTime.isNumeric()) core_->sessionStart = sourceTime;
}

bool AssetWriter::finishWriting() {
    WriterCore& core = *core_;
    for (auto& input : core.inputs) input->markAsFinished();
    bool completed = false;
    {
        std::lock_guard lock(core.mutex);
        if (core.status != Status::writing) return core.status == Status::completed;
        int result = av_write_trailer(core.format.get());
        int closed = avio_closep(&core.format->pb);
        core.fileOpen = false;
        completed = result >= 0 && closed >= 0;
        core.status = completed ? Status::completed : Status::failed;
        if (!completed)
            core.error =
                "Could not finish " + quotedName(core.shownPath) + ": " + errorText(result < 0 ? result : closed);
    }
    core.wakeInputs();
    return completed;
}

void AssetWriter::cancelWriting() {
    WriterCore& core = *core_;
    {
        std::lock_guard lock(core.mutex);
        if (core.status == Status::completed || core.status == Status::cancelled) return;
        bool removeFile = core.fileCreated;
        core.status = Status::cancelled;
        if (core.fileOpen) {
            avio_closep(&core.format->pb);
            core.fileOpen = false;
        }
        if (removeFile) {
            std::error_code ignored;
            std::filesystem::remove(core.path, ignored);
        }
    }
    core.wakeInputs();
}

AssetWriter::Status AssetWriter::status() const {
    std::lock_guard lock(core_->mutex);
    return core_->status;
}

std::optional<std::string> AssetWriter::errorDescription() const {
    std::lock_guard lock(core_->mutex);
    return core_->error;
}

}  // namespace fw::media
