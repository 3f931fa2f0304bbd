#include "platform/media/AssetReader.h"

#include "platform/core/MediaUnits.h"
#include "platform/media/AssetReader_internal.h"
#include "platform/media/ComposedSource.h"
#include "platform/media/PictureProbe_internal.h"
#include "platform/media/StatedLength_internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace fw::media {

using namespace detail;

namespace detail {

bool ReaderCore::shouldStop() const {
    return cancelled.load() || status == AssetReader::Status::failed || status == AssetReader::Status::cancelled;
}

ReaderCore::~ReaderCore() {
    if (sourceDescriptor >= 0) ::close(sourceDescriptor);
}

void ReaderCore::failReading(const std::string& message, std::optional<int> trackID, std::optional<SourceFault> fault) {
    {
        std::lock_guard lock(mutex);
        if (status == AssetReader::Status::reading || status == AssetReader::Status::unknown) {
            status = AssetReader::Status::failed;
            error = message;
            failedTrackID = trackID;
            sourceFault = fault;
        }
    }
    changed.notify_all();
}

namespace {

// True when the container's header or index gives its length. Lengths
// estimated from the timestamps at the file's end (MPEG-TS, MPEG-PS) or from
// its bit rate (raw streams) are only what there is to read.
bool lengthFromHeader(const AVFormatContext& format) {
    return format.duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
}

bool isMatroska(const AVFormatContext& format) {
    return format.iformat && std::string_view(format.iformat->name) == "matroska,webm";
}

bool isFlv(const AVFormatContext& format) { return format.iformat && std::string_view(format.iformat->name) == "flv"; }

// Whether the file is an FLV its writer finished: it is the size its header
// states. The length beside that is the last time the writer was given,
// which may have lain out of line; it tells nothing of a cut.
bool flvWrittenWhole(const ReaderCore& core) {
    if (!isFlv(*core.format) || core.sourceDescriptor < 0) return false;
    const auto fileSize = static_cast<std::uint64_t>(std::max<off_t>(core.sourceOpened.st_size, 0));
    std::vector<std::uint8_t> head(std::min<std::uint64_t>(kStatedLengthHeadBytes, fileSize));
    head.resize(readerOf(core.sourceDescriptor)(0, head));
    return flvStatedFileSize(head) == fileSize;
}

bool isMp4(const AVFormatContext& format) {
    return format.iformat && std::string_view(format.iformat->name) == "mov,mp4,m4a,3gp,3g2,mj2";
}

// Whether a stream carries media that could run on past the others' end: a
// cover picture or an attached font does not.
bool carriesMedia(const AVStream& stream) {
    return !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC) &&
           stream.codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT;
}

// Where a read track ends by what the file states for that track, in seconds
// on the asset's timeline; none when it states nothing for it. Matroska gives
// a track without a length of its own the whole segment's, which covers a
// late caption or a longer track: it says how long this one is only where
// every track that could outlast it is read too. Its index (the cues) still
// says the track reaches at least its last listed key frame.
std::optional<double> trackStatedEnd(const ReaderCore& core, const AssetTrack& track) {
    const AVFormatContext& format = *core.format;
    // Non-const: the library's index getters take it so.
    AVStream& stream = *format.streams[track.trackID];
    const double start = track.timeRange.start.isNumeric() ? track.timeRange.start.seconds() : 0.0;
    if (stream.duration != AV_NOPTS_VALUE) {
        if (!track.timeRange.duration.isNumeric()) return std::nullopt;
        return start + track.timeRange.duration.seconds();
    }
    if (isMatroska(format))
        if (const AVDictionaryEntry* tag = av_dict_get(stream.metadata, "DURATION", nullptr, 0))
            if (const auto seconds = matroskaTagSeconds(tag->value))
                return *seconds - timelineStart(format) / double(AV_TIME_BASE);
    const bool othersRead = std::all_of(format.streams, format.streams + format.nb_streams, [&](const AVStream* other) {
        return !carriesMedia(*other) ||
               std::any_of(core.outputs.begin(), core.outputs.end(),
                           [&](const ReaderOutputBase* output) { return output->track().trackID == other->index; });
    });
    if (othersRead && track.timeRange.duration.isNumeric()) return start + track.timeRange.duration.seconds();
    if (const int entries = avformat_index_get_entries_count(&stream); entries > 0) {
        const AVIndexEntry* last = avformat_index_get_entry(&stream, entries - 1);
        const MediaTime at = toMediaTime(last->timestamp - timelineStart(format, stream), stream.time_base);
        if (at.isNumeric()) return at.seconds();
    }
    return std::nullopt;
}

// Where the tracks being read end by what the file states for them, in
// seconds on the asset's timeline; none when it states nothing. A track
// nobody reads has no say: a chapter track, a caption or a timecode track may
// outlast the media. For AVI and WAV FFmpeg gives the length of what is in
// the file, so their own headers are read.
std::optional<double> statedEnd(const ReaderCore& core) {
    const auto stated = statedStreamSeconds(*core.format, core.sourceDescriptor);
    if ((!stated && !lengthFromHeader(*core.format)) || flvWrittenWhole(core)) return std::nullopt;
    std::optional<double> end;
    for (const ReaderOutputBase* output : core.outputs) {
        const AssetTrack& track = output->track();
        std::optional<double> trackEnd;
        if (stated) {
            if (const auto length = (*stated)[static_cast<std::size_t>(track.trackID)])
                trackEnd = (track.timeRange.start.isNumeric() ? track.timeRange.start.seconds() : 0.0) + *length;
        } else {
            trackEnd = trackStatedEnd(core, track);
        }
        if (trackEnd) end = std::max(end.value_or(0.0), *trackEnd);
    }
    return end;
}

// Whether the file is an MP4 in fragments one of which lists samples whose
// bytes the file does not hold: it was cut inside that fragment. Each
// fragment states only its own samples, so the file's length is unknown and
// no tail of it is excused. One cut between fragments cannot be told from a
// whole one.
bool cutInsideFragment(const ReaderCore& core) {
    if (!isMp4(*core.format) || core.sourceDescriptor < 0) return false;
    const auto fileSize = static_cast<std::uint64_t>(std::max<off_t>(core.sourceOpened.st_size, 0));
    bool pastTheEnd = false;
    for (unsigned i = 0; i < core.format->nb_streams && !pastTheEnd; ++i) {
        AVStream* stream = core.format->streams[i];
        const int entries = avformat_index_get_entries_count(stream);
        for (int j = 0; j < entries && !pastTheEnd; ++j) {
            const AVIndexEntry* entry = avformat_index_get_entry(stream, j);
            pastTheEnd = entry->pos >= 0 && static_cast<std::uint64_t>(entry->pos) + entry->size > fileSize;
        }
    }
    return pastTheEnd && mp4Fragmented(readerOf(core.sourceDescriptor), fileSize).value_or(false);
}

std::string damagedText(const ReaderCore& core) {
    return "The file " + quotedName(core.asset->path()) + " is damaged or truncated";
}

// How far short of its length a read of the file came, when the file states
// a length and the read came further short than the tail tolerance, or at all
// where it was cut inside a fragment.
std::optional<SourceFault> shortfall(const ReaderCore& core, bool cutInFragment) {
    if (!core.format) return std::nullopt;
    const std::optional<double> length = statedEnd(core);
    if (!length) return std::nullopt;
    const double start = core.range.start.isNumeric() ? std::max(core.range.start.seconds(), 0.0) : 0.0;
    double end = *length;
    if (core.range.end().isNumeric()) end = std::min(end, core.range.end().seconds());
    const double expected = end - start;
    if (!(expected > 0)) return std::nullopt;
    // A length stated from a time out of line is reached as far as that time.
    const std::int64_t furthest =
        std::max(core.reachedMicros, core.timelines ? core.timelines->outOfLineReached() : AV_NOPTS_VALUE);
    const double reached = furthest == AV_NOPTS_VALUE ? 0.0 : std::max(furthest / double(AV_TIME_BASE) - start, 0.0);
    if (!cutInFragment && reached >= expected - sourceTailToleranceSeconds(expected)) return std::nullopt;
    return SourceFault{SourceFault::Kind::endedEarly, reached, expected};
}

}  // namespace

void ReaderCore::failFileLocked(std::string message) {
    if (timelines) timelines->finish();
    if (status != AssetReader::Status::reading) return;
    status = AssetReader::Status::failed;
    const bool cut = cutInsideFragment(*this);
    error = cut ? damagedText(*this) : std::move(message);
    failedTrackID.reset();
    sourceFault = shortfall(*this, cut);
}

void ReaderCore::endOfFileLocked() {
    endOfFile = true;
    if (timelines) timelines->finish();
    // Where the index lists samples past the end of the file, the demuxer just ends.
    if (status == AssetReader::Status::reading && (cutInsideFragment(*this) || shortfall(*this, false)))
        failFileLocked("The file " + quotedName(asset->path()) + " ends early");
}

void ReaderCore::checkUnchangedLocked() {
    if (sourceDescriptor < 0 || status == AssetReader::Status::cancelled) return;
    struct stat now {};
    if (::fstat(sourceDescriptor, &now) != 0) return;
    if (now.st_size == sourceOpened.st_size && now.st_mtim.tv_sec == sourceOpened.st_mtim.tv_sec &&
        now.st_mtim.tv_nsec == sourceOpened.st_mtim.tv_nsec)
        return;
    // What was read may be part old file, part new: nothing of it can be trusted.
    status = AssetReader::Status::failed;
    error = "The source file " + quotedName(asset->path()) + " changed while it was being encoded";
    failedTrackID.reset();
    sourceFault = SourceFault{SourceFault::Kind::changed};
}

void ReaderCore::outputFinished(ReaderOutputBase& output, bool normalEnd) {
    {
        std::lock_guard lock(mutex);
        output.wantsPackets = false;
        clearQueueLocked(output);
        bool allDone = true;
        for (const auto& other : outputs)
            if (other->wantsPackets) allDone = false;
        if (allDone) {
            if (normalEnd && status == AssetReader::Status::reading) status = AssetReader::Status::completed;
            checkUnchangedLocked();
        }
    }
    changed.notify_all();
}

PacketResult ReaderCore::nextPacket(ReaderOutputBase& output, PacketPtr& packet) {
    std::unique_lock lock(mutex);
    for (;;) {
        if (cancelled.load() || status == AssetReader::Status::cancelled) return PacketResult::stop;
        if (!output.queue.empty()) {
            packet = dequeueLocked(output);
            return PacketResult::packet;
        }
        // A failure ends reading, but not before each output has had what was
        // read before it: one output may run well ahead of another, and the
        // furthest point each got to is what tells a damaged tail from a
        // damaged source.
        if (endOfFile || status == AssetReader::Status::failed || trackEndedLocked(output))
            return PacketResult::endOfStream;
        if (demuxing) {
            changed.wait(lock);
            continue;
        }
        // Where this track ends or pauses while another runs on, reading on
        // would queue all of the other's packets up to this one's next.
        if (othersFullLocked(output)) {
            if (mayLookAheadLocked(output)) {
                if (lookingAhead)
                    changed.wait(lock);
                else
                    lookAheadLocked(lock, output);
                continue;
            }
            output.tellWaitingLocked(true);
            ++waitingForRoom;
            changed.wait(lock);
            --waitingForRoom;
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
            endOfFileLocked();
        } else if (status_ < 0) {
            if (!cancelled.load())
                failFileLocked("Could not read " + quotedName(asset->path()) + ": " + errorText(status_));
        } else if (!readAheadAlreadyLocked(*read)) {
            fileLocked(std::move(read));
        }
        changed.notify_all();
    }
}

void ReaderCore::keepSampleBehind(AVPacket& packet, std::int64_t& furthest) const {
    if (!inFragments || packet.dts == AV_NOPTS_VALUE) return;
    if (furthest != AV_NOPTS_VALUE && packet.dts <= furthest) packet.flags &= ~AV_PKT_FLAG_DISCARD;
    furthest = std::max(furthest, packet.dts);
}

void ReaderCore::fileLocked(PacketPtr read) {
    // In a file whose header gives its length, a packet marked damaged has
    // lost bytes (a cut, a broken copy). A stream read to its end (MPEG-TS)
    // marks one so at any break in its continuity, as where two recordings
    // were joined: its decoder makes what it can of it, and reading goes on.
    if ((read->flags & AV_PKT_FLAG_CORRUPT) && lengthFromHeader(*format)) {
        failFileLocked(damagedText(*this));
        return;
    }
    if (const auto index = static_cast<std::size_t>(read->stream_index); index < furthestRead.size())
        keepSampleBehind(*read, furthestRead[index]);
    if (timelines) timelines->file(std::move(read));
}

void ReaderCore::startTimelinesLocked() {
    std::vector<StreamTiming> streams;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream& stream = *format->streams[i];
        streams.push_back({stream.codecpar->codec_type, stream.time_base, stream.pts_wrap_bits,
                           timelineStart(*format, stream),
                           std::any_of(outputs.begin(), outputs.end(), [&](const ReaderOutputBase* output) {
                               return output->track().trackID == static_cast<int>(i);
                           })});
    }
    inFragments =
        isMp4(*format) && sourceDescriptor >= 0 &&
        mp4Fragmented(readerOf(sourceDescriptor), static_cast<std::uint64_t>(std::max<off_t>(sourceOpened.st_size, 0)))
            .value_or(false);
    furthestRead.assign(format->nb_streams, AV_NOPTS_VALUE);
    timelines = std::make_unique<Timelines>(std::move(streams), format->iformat->flags & AVFMT_TS_DISCONT,
                                            [this](PacketPtr packet) { deliverLocked(std::move(packet)); });
}

void ReaderCore::deliverLocked(PacketPtr read) {
    const int streamIndex = read->stream_index;
    // Only the tracks read tell how far reading came: a timecode track's one
    // sample, or a caption, may last the whole movie however little is left.
    const bool trackRead = std::any_of(outputs.begin(), outputs.end(), [&](const ReaderOutputBase* output) {
        return output->track().trackID == streamIndex;
    });
    if (const std::int64_t stamp = read->pts != AV_NOPTS_VALUE ? read->pts : read->dts;
        trackRead && stamp != AV_NOPTS_VALUE) {
        const AVStream& stream = *format->streams[streamIndex];
        const std::int64_t end = stamp + std::max<std::int64_t>(read->duration, 0) - timelineStart(*format, stream);
        const std::int64_t micros = av_rescale_q(end, stream.time_base, AV_TIME_BASE_Q);
        if (reachedMicros == AV_NOPTS_VALUE || micros > reachedMicros) reachedMicros = micros;
    }
    ReaderOutputBase* last = nullptr;
    for (const auto& candidate : outputs)
        if (candidate->wantsPackets && candidate->track().trackID == streamIndex) last = candidate;
    for (const auto& candidate : outputs) {
        if (!candidate->wantsPackets || candidate->track().trackID != streamIndex) continue;
        if (candidate == last) {
            queueLocked(*candidate, std::move(read));
        } else {
            PacketPtr copy(av_packet_clone(read.get()));
            if (copy) queueLocked(*candidate, std::move(copy));
        }
    }
}

bool statesExactTimes(const AVInputFormat& format) {
    const std::string_view name = format.name;
    return name == "mov,mp4,m4a,3gp,3g2,mj2" || name == "matroska,webm" || name == "flv";
}

namespace {

// How far past a seek point the reader looks for a key frame before it takes
// the point as it is (streams that flag no key frames at all).
constexpr std::int64_t kKeyFrameSearchSpan = 10 * AV_TIME_BASE;
constexpr int kKeyFrameSearchPackets = 5000;
constexpr std::int64_t kBeforeEverything = 3600LL * AV_TIME_BASE;

bool needsKeyFrame(const AVStream& stream) {
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO) return false;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream.codecpar->codec_id);
    return !(descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY));
}

}  // namespace

void ReaderCore::seekToRangeStartLocked() {
    if (!format) return;  // composed tracks start where their range does
    const MediaTime start = range.start;
    if (!start.isNumeric() || start <= MediaTime::zero()) return;
    AVFormatContext* context = format.get();
    // The range is on the asset's timeline; seeking is on the stored one.
    const std::int64_t target = fromMediaTime(start, AVRational{1, AV_TIME_BASE}) + startTime;
    std::vector<int> keyed;
    for (const auto& output : outputs) {
        const int index = output->track().trackID;
        if (needsKeyFrame(*context->streams[index]) && std::find(keyed.begin(), keyed.end(), index) == keyed.end())
            keyed.push_back(index);
    }
    // Demuxers without an index (MPEG-TS, MPEG-PS) seek by timestamp to any
    // packet, not to a key frame, and pictures before the next key frame do
    // not decode. So look at what follows the seek point, and step back until
    // every decoded picture track meets a key frame at or before the start.
    // A failed seek is not fatal: the outputs skip what lies before the start.
    for (std::int64_t back = 0;; back = back == 0 ? AV_TIME_BASE : back * 2) {
        const std::int64_t at = target - back;
        if (at <= startTime || av_seek_frame(context, -1, at, AVSEEK_FLAG_BACKWARD) < 0) {
            // From the first packet: a time before any in the file lands there
            // (the start time would not: decode times come before it).
            av_seek_frame(context, -1, std::min<std::int64_t>(startTime, 0) - kBeforeEverything, AVSEEK_FLAG_BACKWARD);
            return;
        }
        if (keyed.empty()) return;
        // What was read, kept for the outputs; pictures before their track's
        // first key frame cannot be decoded and are left out.
        struct Held {
            PacketPtr packet;
            bool beforeKeyFrame;
        };
        std::vector<Held> held;
        std::vector<int> waiting = keyed;
        // How far each waiting track's pictures reach (asset time).
        std::vector<MediaTime> reach(keyed.size(), MediaTime::invalid());
        bool startsLate = false;
        int result = 0;
        while (!waiting.empty() && !startsLate && static_cast<int>(held.size()) < kKeyFrameSearchPackets) {
            PacketPtr packet = makePacket();
            result = av_read_frame(context, packet.get());
            if (result < 0) break;
            const AVStream& stream = *context->streams[packet->stream_index];
            const std::int64_t time = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            const bool beyond = time != AV_NOPTS_VALUE &&
                                av_rescale_q(time, stream.time_base, AV_TIME_BASE_Q) > at + kKeyFrameSearchSpan;
            auto found = std::find(waiting.begin(), waiting.end(), packet->stream_index);
            bool beforeKeyFrame = false;
            if (found != waiting.end()) {
                const std::size_t slot = static_cast<std::size_t>(
                    std::find(keyed.begin(), keyed.end(), packet->stream_index) - keyed.begin());
                const std::int64_t until = packet->pts != AV_NOPTS_VALUE && packet->duration > 0
                                               ? packet->pts + packet->duration
                                               : packet->pts;
                if (until != AV_NOPTS_VALUE) {
                    const MediaTime end = toMediaTime(until - timelineStart(*context, stream), stream.time_base);
                    if (!reach[slot].isValid() || end > reach[slot]) reach[slot] = end;
                }
                if (packet->flags & AV_PKT_FLAG_KEY) {
                    const std::int64_t keyTime = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                    if (keyTime != AV_NOPTS_VALUE &&
                        toMediaTime(keyTime - timelineStart(*context, stream), stream.time_base) > start)
                        startsLate = true;
                    waiting.erase(found);
                } else {
                    beforeKeyFrame = true;
                }
            }
            held.push_back({std::move(packet), beforeKeyFrame});
            if (beyond) break;
        }
        if (result == AVERROR_EOF) {
            // A track that ends before the start has nothing to decode there
            // (a range past the end); one that reaches into it needs an earlier key frame.
            std::erase_if(waiting, [&](int index) {
                const MediaTime& end =
                    reach[static_cast<std::size_t>(std::find(keyed.begin(), keyed.end(), index) - keyed.begin())];
                return !end.isValid() || end <= start;
            });
            if (!waiting.empty())
                startsLate = true;
            else
                endOfFileLocked();
        } else if (result < 0) {
            // Reading will meet the failure again and report it.
            av_seek_frame(context, -1, at, AVSEEK_FLAG_BACKWARD);
            return;
        }
        if (startsLate) continue;
        for (auto& [packet, beforeKeyFrame] : held) {
            // A track still waiting was given up on (no key frames flagged): keep all of it.
            if (beforeKeyFrame && std::find(waiting.begin(), waiting.end(), packet->stream_index) == waiting.end())
                continue;
            fileLocked(std::move(packet));
        }
        return;
    }
}

ReaderOutputBase::~ReaderOutputBase() {
    {
        std::lock_guard lock(core_->mutex);
        core_->clearQueueLocked(*this);
        std::erase(core_->outputs, this);
    }
    core_->changed.notify_all();
}

void ReaderOutputBase::setWaitObserver(std::function<void(bool waiting)> observer) {
    std::lock_guard lock(core_->mutex);
    tellWaitingLocked(false);
    waitObserver_ = std::move(observer);
}

void ReaderOutputBase::tellWaitingLocked(bool waiting) {
    if (toldWaiting_ == waiting) return;
    toldWaiting_ = waiting;
    if (waitObserver_) waitObserver_(waiting);
}

SampleBufferRef ReaderOutputBase::copyNextSampleBuffer() {
    std::lock_guard pull(pullMutex_);
    if (finished_) return nullptr;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->status == AssetReader::Status::unknown) return nullptr;
        if (!pulled) {
            pulled = true;
            // Its queue may be full already: the others' pulls look again.
            core_->changed.notify_all();
        }
    }
    SampleBufferRef sample;
    if (!core_->cancelled.load()) {
        try {
            sample = produce();
        } catch (const SourceFaultError& error) {
            core_->failReading(error.what(), std::nullopt, error.fault());
            sample = nullptr;
        } catch (const std::exception& error) {
            // A file's demuxing fails in nextPacket; what throws here is this
            // track's decoding. A composed track's failure is its sources'.
            core_->failReading(error.what(), core_->format ? std::optional(track_.trackID) : std::nullopt);
            sample = nullptr;
        }
    }
    if (sample && core_->cancelled.load()) sample = nullptr;
    {
        std::lock_guard lock(core_->mutex);
        tellWaitingLocked(false);
    }
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
        core_->clearQueueLocked(*this);
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

namespace {

FormatInputPtr openAndProbe(ReaderCore& core) {
    const auto& path = core.asset->path();
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) throw MediaError("Out of memory", AVERROR(ENOMEM));
    raw->interrupt_callback.callback = interruptCallback;
    raw->interrupt_callback.opaque = &core;
    int status = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (status < 0) fail("Could not open " + quotedName(path), status);
    FormatInputPtr format(raw);
    status = avformat_find_stream_info(raw, nullptr);
    if (status < 0) fail("Could not read the media in " + quotedName(path), status);
    const AVIOInterruptCB interrupt = raw->interrupt_callback;
    return probeFurtherForPictureSizes(std::move(format), path, interrupt);
}

}  // namespace

AssetReader::AssetReader(AssetRef asset) : core_(std::make_shared<ReaderCore>()) {
    quietLibraryLogs();
    if (!asset) throw MediaError("No asset to read");
    core_->asset = std::move(asset);
    if (core_->asset->composedSource()) return;
    core_->format = takeProbedInput(*core_->asset);
    if (core_->format) {
        core_->format->interrupt_callback.callback = interruptCallback;
        core_->format->interrupt_callback.opaque = core_.get();
    } else {
        core_->format = openAndProbe(*core_);
    }
    core_->startTime = timelineStart(*core_->format);
    core_->sourceDescriptor = ::open(core_->asset->path().c_str(), O_RDONLY | O_CLOEXEC);
    if (core_->sourceDescriptor >= 0 && ::fstat(core_->sourceDescriptor, &core_->sourceOpened) != 0) {
        ::close(core_->sourceDescriptor);
        core_->sourceDescriptor = -1;
    }
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
    if (core->format && known->trackID >= static_cast<int>(core->format->nb_streams)) return nullptr;
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
    return addOutput(core_, track, MediaType::video, [&](const AssetTrack& known) {
        if (core_->format) return makeVideoOutput(core_, known, settings);
        if (settings.pixelFormat == PixelFormat::i420 || settings.pixelFormat == PixelFormat::x422)
            settings.pixelFormat = PixelFormat::bgra8;
        return makeComposedVideoOutput(core_, known, settings);
    });
}

std::shared_ptr<AssetReaderOutput> AssetReader::addAudioOutput(const AssetTrack& track, AudioOutputSettings settings) {
    return addOutput(core_, track, MediaType::audio, [&](const AssetTrack& known) {
        return core_->format ? makeAudioOutput(core_, known, 1.0f, settings)
                             : makeComposedAudioOutput(core_, known, 1.0f, settings);
    });
}

std::shared_ptr<AssetReaderOutput> AssetReader::addAudioMixOutput(const AssetTrack& track, float gain,
                                                                  AudioOutputSettings settings) {
    return addOutput(core_, track, MediaType::audio, [&](const AssetTrack& known) {
        return core_->format ? makeAudioOutput(core_, known, gain, settings)
                             : makeComposedAudioOutput(core_, known, gain, settings);
    });
}

std::shared_ptr<AssetReaderOutput> AssetReader::addPassthroughOutput(const AssetTrack& track) {
    return addOutput(core_, track, std::nullopt, [&](const AssetTrack& known) {
        return core_->format ? makePassthroughOutput(core_, known) : nullptr;
    });
}

bool AssetReader::startReading() {
    std::unique_lock lock(core_->mutex);
    if (core_->status != Status::unknown) return core_->status == Status::reading;
    if (core_->outputs.empty()) {
        core_->status = Status::failed;
        core_->error = "Nothing to read: no outputs were added";
        return false;
    }
    core_->status = Status::reading;
    if (core_->format) core_->startTimelinesLocked();
    core_->seekToRangeStartLocked();
    return true;
}

void AssetReader::cancelReading() {
    // Before the lock: it stops a read that startReading may be waiting on.
    core_->cancelled = true;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->status == Status::reading || core_->status == Status::unknown) core_->status = Status::cancelled;
    }
    core_->changed.notify_all();
    if (const auto& composed = core_->asset->composedSource()) composed->cancelReading();
}

AssetReader::Status AssetReader::status() const {
    std::lock_guard lock(core_->mutex);
    return core_->status;
}

std::optional<std::string> AssetReader::errorDescription() const {
    std::lock_guard lock(core_->mutex);
    return core_->error;
}

std::optional<int> AssetReader::failedTrackID() const {
    std::lock_guard lock(core_->mutex);
    return core_->status == Status::failed ? core_->failedTrackID : std::nullopt;
}

double AssetReader::concealedSoundSeconds() const {
    std::lock_guard lock(core_->mutex);
    return core_->concealedSoundSeconds;
}

double AssetReader::leftOutSoundSeconds() const {
    std::lock_guard lock(core_->mutex);
    return core_->leftOutSoundSeconds;
}

AssetReader::PictureTally AssetReader::pictureTally() const {
    return {core_->picturesDelivered.load(), core_->picturesDamaged.load()};
}

std::optional<SourceFault> AssetReader::sourceFault() const {
    std::lock_guard lock(core_->mutex);
    return core_->status == Status::failed ? core_->sourceFault : std::nullopt;
}

std::size_t AssetReader::mostQueuedBytes() const {
    std::lock_guard lock(core_->mutex);
    return core_->mostQueuedBytes;
}

}  // namespace fw::media
