#include "platform/media/AssetReader.h"

#include "platform/media/AssetReader_internal.h"

namespace fw::media {

using namespace detail;

namespace detail {

bool ReaderCore::shouldStop() const {
    return cancelled.load() || status == AssetReader::Status::failed || status == AssetReader::Status::cancelled;
}

void ReaderCore::failReading(const std::string& message) {
    {
        std::lock_guard lock(mutex);
        if (status == AssetReader::Status::reading || status == AssetReader::Status::unknown) {
            status = AssetReader::Status::failed;
            error = message;
        }
    }
    changed.notify_all();
}

void ReaderCore::outputFinished(ReaderOutputBase& output, bool normalEnd) {
    {
        std::lock_guard lock(mutex);
        output.wantsPackets = false;
        output.queue.clear();
        if (normalEnd && status == AssetReader::Status::reading) {
            bool allDone = true;
            for (const auto& other : outputs)
                if (other->wantsPackets) allDone = false;
            if (allDone) status = AssetReader::Status::completed;
        }
    }
    changed.notify_all();
}

PacketResult ReaderCore::nextPacket(ReaderOutputBase& output, PacketPtr& packet) {
    std::unique_lock lock(mutex);
    for (;;) {
        if (cancelled.load() || status == AssetReader::Status::cancelled) return PacketResult::stop;
        if (!output.queue.empty()) {
            packet = std::move(output.queue.front());
            output.queue.pop_front();
            return PacketResult::packet;
        }
        // A failure ends reading, but not before each output has had what was
        // read before it: one output may run well ahead of another, and the
        // furthest point each got to is what tells a damaged tail from a
        // damaged source.
        if (endOfFile || status == AssetReader::Status::failed) return PacketResult::endOfStream;
        if (demuxing) {
            changed.wait(lock);
            continue;
        }
        // Read without holding the lock, so others can take what is already queued.
        demuxing = true;
        lock.unlock();
        PacketPtr read = makePacket();
        int status_ = av_read_frame(format.get(), read.get());
        lock.lock();
        demuxing = false;
        if (status_ == AVERROR_EOF) {
            endOfFile = true;
        } else if (status_ < 0) {
            if (!cancelled.load() && status == AssetReader::Status::reading) {
                status = AssetReader::Status::failed;
                error = "Could not read " + quotedName(asset->path()) + ": " + errorText(status_);
            }
        } else if (read->flags & AV_PKT_FLAG_CORRUPT) {
            if (status == AssetReader::Status::reading) {
                status = AssetReader::Status::failed;
                error = "The file " + quotedName(asset->path()) + " is damaged or truncated";
            }
        } else {
            const int streamIndex = read->stream_index;
            ReaderOutputBase* last = nullptr;
            for (const auto& candidate : outputs)
                if (candidate->wantsPackets && candidate->track().trackID == streamIndex) last = candidate;
            for (const auto& candidate : outputs) {
                if (!candidate->wantsPackets || candidate->track().trackID != streamIndex) continue;
                if (candidate == last) {
                    candidate->queue.push_back(std::move(read));
                } else {
                    PacketPtr copy(av_packet_clone(read.get()));
                    if (copy) candidate->queue.push_back(std::move(copy));
                }
            }
        }
        changed.notify_all();
    }
}

ReaderOutputBase::~ReaderOutputBase() {
    {
        std::lock_guard lock(core_->mutex);
        std::erase(core_->outputs, this);
    }
    core_->changed.notify_all();
}

SampleBufferRef ReaderOutputBase::copyNextSampleBuffer() {
    std::lock_guard pull(pullMutex_);
    if (finished_) return nullptr;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->status == AssetReader::Status::unknown) return nullptr;
    }
    SampleBufferRef sample;
    if (!core_->cancelled.load()) {
        try {
            sample = produce();
        } catch (const std::exception& error) {
            core_->failReading(error.what());
            sample = nullptr;
        }
    }
    if (sample && core_->cancelled.load()) sample = nullptr;
    if (!sample) {
        finished_ = true;
        bool normal;
        {
            std::lock_guard lock(core_->mutex);
            normal = !core_->shouldStop();
        }
        core_->outputFinished(*this, normal);
    }
    return sample;
}

void ReaderOutputBase::stopPackets() {
    {
        std::lock_guard lock(core_->mutex);
        wantsPackets = false;
        queue.clear();
    }
    core_->changed.notify_all();
}

namespace {

// Hands out the stored packets; for intra-only codecs the packets wholly
// before the range start are skipped.
class PassthroughOutput final : public ReaderOutputBase {
public:
    PassthroughOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track)
        : ReaderOutputBase(std::move(core), track) {
        outputFormat_ = track.formatDescriptions.empty() ? describeStream(stream()) : track.formatDescriptions[0];
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream().codecpar->codec_id);
        intraOnly_ = descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
    }

protected:
    SampleBufferRef produce() override {
        const AVRational timeBase = stream().time_base;
        const MediaTime start = core_->range.start;
        const MediaTime end = core_->range.end();
        for (;;) {
            PacketPtr packet;
            if (core_->nextPacket(*this, packet) != PacketResult::packet) return nullptr;
            MediaTime decode = assetTime(packet->dts);
            MediaTime presentation = assetTime(packet->pts);
            if (!presentation.isValid()) presentation = decode;
            MediaTime duration = packet->duration > 0 ? toMediaTime(packet->duration, timeBase) : MediaTime::invalid();
            if (end.isNumeric() && decode.isValid() && decode >= end) {
                stopPackets();
                return nullptr;
            }
            if (end.isNumeric() && presentation.isValid() && presentation >= end) continue;
            if (intraOnly_ && presentation.isValid() && start > MediaTime::zero()) {
                MediaTime until = duration.isValid() ? presentation + duration : presentation;
                if (duration.isValid() ? until <= start : until < start) continue;
            }
            std::span<const std::uint8_t> bytes(packet->data, static_cast<std::size_t>(packet->size));
            bool key = packet->flags & AV_PKT_FLAG_KEY;
            std::shared_ptr<const void> owner(packet.release(), [](const void* p) {
                AVPacket* owned = const_cast<AVPacket*>(static_cast<const AVPacket*>(p));
                av_packet_free(&owned);
            });
            return SampleBuffer::makeShared(bytes, std::move(owner), presentation, duration, outputFormat_, 1, key,
                                            decode != presentation ? decode : MediaTime::invalid());
        }
    }

private:
    bool intraOnly_ = false;
};

int interruptCallback(void* opaque) { return static_cast<ReaderCore*>(opaque)->cancelled.load() ? 1 : 0; }

}  // namespace

std::shared_ptr<ReaderOutputBase> makePassthroughOutput(std::shared_ptr<ReaderCore> core, const AssetTrack& track) {
    return std::make_shared<PassthroughOutput>(std::move(core), track);
}

}  // namespace detail

AssetReader::AssetReader(AssetRef asset) : core_(std::make_shared<ReaderCore>()) {
    quietLibraryLogs();
    if (!asset) throw MediaError("No asset to read");
    core_->asset = std::move(asset);
    const auto& path = core_->asset->path();
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) throw MediaError("Out of memory", AVERROR(ENOMEM));
    raw->interrupt_callback.callback = interruptCallback;
    raw->interrupt_callback.opaque = core_.get();
    int status = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (status < 0) fail("Could not open " + quotedName(path), status);
    core_->format.reset(raw);
    status = avformat_find_stream_info(raw, nullptr);
    if (status < 0) fail("Could not read the media in " + quotedName(path), status);
    core_->startTime = timelineStart(*raw);
}

AssetReader::~AssetReader() {
    // Outputs may outlive the reader; make sure nobody waits on a reader nobody drives.
    cancelReading();
}

const AssetRef& AssetReader::asset() const { return core_->asset; }

void AssetReader::setTimeRange(const TimeRange& range) {
    std::lock_guard lock(core_->mutex);
    if (core_->status == Status::unknown) core_->range = range;
}

TimeRange AssetReader::timeRange() const {
    std::lock_guard lock(core_->mutex);
    return core_->range;
}


template <class Make>
static std::shared_ptr<AssetReaderOutput> addOutput(const std::shared_ptr<ReaderCore>& core, const AssetTrack& track,
                                                    std::optional<MediaType> type, Make make) {
    {
        std::lock_guard lock(core->mutex);
        if (core->status != AssetReader::Status::unknown) return nullptr;
    }
    const AssetTrack* known = nullptr;
    for (const auto& candidate : core->asset->tracks())
        if (candidate.trackID == track.trackID) known = &candidate;
    if (!known || (type && known->mediaType != *type)) return nullptr;
    if (known->trackID >= static_cast<int>(core->format->nb_streams)) return nullptr;
    std::shared_ptr<ReaderOutputBase> output;
    try {
        output = make(*known);
    } catch (const MediaError&) {
        return nullptr;
    }
    if (!output) return nullptr;
    std::lock_guard lock(core->mutex);
    core->outputs.push_back(output.get());
    return output;
}

std::shared_ptr<AssetReaderOutput> AssetReader::addVideoOutput(const AssetTrack& track, VideoOutputSettings settings) {
    if (settings.pixelFormat == PixelFormat::rgbaHalf) return nullptr;
    return addOutput(core_, track, MediaType::video,
                     [&](const AssetTrack& known) { return makeVideoOutput(core_, known, settings); });
}

std::shared_ptr<AssetReaderOutput> AssetReader::addAudioOutput(const AssetTrack& track, AudioOutputSettings settings) {
    return addOutput(core_, track, MediaType::audio,
                     [&](const AssetTrack& known) { return makeAudioOutput(core_, known, 1.0f, settings); });
}

std::shared_ptr<AssetReaderOutput> AssetReader::addAudioMixOutput(const AssetTrack& track, float gain,
                                                                  AudioOutputSettings settings) {
    return addOutput(core_, track, MediaType::audio,
                     [&](const AssetTrack& known) { return makeAudioOutput(core_, known, gain, settings); });
}

std::shared_ptr<AssetReaderOutput> AssetReader::addPassthroughOutput(const AssetTrack& track) {
    return addOutput(core_, track, std::nullopt,
                     [&](const AssetTrack& known) { return makePassthroughOutput(core_, known); });
}

bool AssetReader::startReading() {
    std::unique_lock lock(core_->mutex);
    if (core_->status != Status::unknown) return core_->status == Status::reading;
    if (core_->outputs.empty()) {
        core_->status = Status::failed;
        core_->error = "Nothing to read: no outputs were added";
        return false;
    }
    MediaTime start = core_->range.start;
    if (start.isNumeric() && start > MediaTime::zero()) {
        // The range is on the asset's timeline; seeking is on the stored one.
        std::int64_t target = fromMediaTime(start, AVRational{1, AV_TIME_BASE}) + core_->startTime;
        // A failed seek is not fatal: the outputs skip what lies before the start.
        if (av_seek_frame(core_->format.get(), -1, target, AVSEEK_FLAG_BACKWARD) < 0)
            av_seek_frame(core_->format.get(), -1, core_->startTime, AVSEEK_FLAG_BACKWARD);
    }
    core_->status = Status::reading;
    return true;
}

void AssetReader::cancelReading() {
    {
        std::lock_guard lock(core_->mutex);
        core_->cancelled = true;
        if (core_->status == Status::reading || core_->status == Status::unknown) core_->status = Status::cancelled;
    }
    core_->changed.notify_all();
}

AssetReader::Status AssetReader::status() const {
    std::lock_guard lock(core_->mutex);
    return core_->status;
}

std::optional<std::string> AssetReader::errorDescription() const {
    std::lock_guard lock(core_->mutex);
    return core_->error;
}

}  // namespace fw::media
