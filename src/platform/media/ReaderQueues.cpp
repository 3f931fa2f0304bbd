// What the reader holds for its outputs: the packets queued for each, how
// much that may be before the others' pulls stop reading for them, and, in an
// MP4, QuickTime, Matroska or WebM file, the look ahead that reads one track's
// next packets on its own instead.

#include "platform/media/AssetReader_internal.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace fw::media::detail {

void PacketQueue::push(PacketPtr packet, std::int64_t micros) {
    bytes_ += static_cast<std::size_t>(std::max(packet->size, 0));
    entries_.push_back({std::move(packet), micros});
}

PacketPtr PacketQueue::pop() {
    PacketPtr packet = std::move(entries_.front().packet);
    entries_.pop_front();
    bytes_ -= static_cast<std::size_t>(std::max(packet->size, 0));
    return packet;
}

void PacketQueue::clear() {
    entries_.clear();
    bytes_ = 0;
}

bool PacketQueue::full() const {
    if (bytes_ <= kQueuedBytes) return false;
    const std::int64_t first = entries_.front().micros, last = entries_.back().micros;
    return first == AV_NOPTS_VALUE || last == AV_NOPTS_VALUE || last - first > kQueuedMicros;
}

bool ReaderCore::othersFullLocked(const ReaderOutputBase& output) const {
    return std::any_of(outputs.begin(), outputs.end(), [&](const ReaderOutputBase* other) {
        return other != &output && other->pulled && other->wantsPackets && other->queue.full();
    });
}

void ReaderCore::queueLocked(ReaderOutputBase& output, PacketPtr packet) {
    const auto index = static_cast<std::size_t>(packet->stream_index);
    const AVStream& stream = *format->streams[index];
    const std::int64_t stamp = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (readAheads.size() < format->nb_streams) readAheads.resize(format->nb_streams);
    if (packet->dts != AV_NOPTS_VALUE) readAheads[index].queuedDts = std::max(readAheads[index].queuedDts, packet->dts);
    readAheads[index].queuedPos = packet->pos;
    readAheads[index].queuedEnd =
        stamp == AV_NOPTS_VALUE
            ? AV_NOPTS_VALUE
            : av_rescale_q(stamp + std::max<std::int64_t>(packet->duration, 0) - timelineStart(*format, stream),
                           stream.time_base, AV_TIME_BASE_Q);
    queuedBytes += static_cast<std::size_t>(std::max(packet->size, 0));
    mostQueuedBytes = std::max(mostQueuedBytes, queuedBytes);
    // Its pull has what it waited for: the others may be held for it again.
    output.tellWaitingLocked(false);
    output.queue.push(std::move(packet),
                      stamp == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(stamp, stream.time_base, AV_TIME_BASE_Q));
}

PacketPtr ReaderCore::dequeueLocked(ReaderOutputBase& output) {
    PacketPtr packet = output.queue.pop();
    queuedBytes -= static_cast<std::size_t>(std::max(packet->size, 0));
    // A pull waiting for room may read on.
    if (waitingForRoom > 0) changed.notify_all();
    return packet;
}

void ReaderCore::clearQueueLocked(ReaderOutputBase& output) {
    queuedBytes -= output.queue.bytes();
    output.queue.clear();
}

bool ReaderCore::mayLookAheadLocked(const ReaderOutputBase& output) const {
    // Each packet states its own time there, whichever way the file is read;
    // elsewhere the time rules read every track in the file's order.
    if (!format ||
        (std::string_view(format->iformat->name) != "mov,mp4,m4a,3gp,3g2,mj2" &&
         std::string_view(format->iformat->name) != "matroska,webm") ||
        (format->iformat->flags & AVFMT_TS_DISCONT))
        return false;
    const auto index = static_cast<std::size_t>(output.track().trackID);
    // What the time rules still hold of the track goes out first, in order:
    // until then the pull waits as in other files.
    if (timelines && timelines->holds(index)) return false;
    return index >= readAheads.size() || !(readAheads[index].failed || readAheads[index].ended);
}

bool ReaderCore::trackEndedLocked(const ReaderOutputBase& output) const {
    const auto index = static_cast<std::size_t>(output.track().trackID);
    return index < readAheads.size() && readAheads[index].ended;
}

bool ReaderCore::readAheadAlreadyLocked(const AVPacket& packet) {
    const auto index = static_cast<std::size_t>(packet.stream_index);
    if (index >= readAheads.size() || packet.dts == AV_NOPTS_VALUE) return false;
    StreamAhead& stream = readAheads[index];
    if (const auto moved = std::ranges::find(stream.moved, std::pair{packet.dts, packet.pos});
        moved != stream.moved.end()) {
        stream.moved.erase(moved);
        return true;
    }
    return stream.aheadDts != AV_NOPTS_VALUE && packet.dts <= stream.aheadDts;
}

namespace {

struct Span {
    std::int64_t from, to;
};

Span spanOf(std::int64_t at, std::int64_t other) { return {std::min(at, other), std::max(at, other)}; }

// The times of the other pictures and sound stored just before and just
// after byte `pos` of the file (AV_TIME_BASE, the asset's timeline), by those
// the second reading came across, else by its index of their samples (every
// sample of an MP4 or QuickTime file; the key pictures of a Matroska file
// once its cues are read). None where neither reaches past `pos` both ways.
std::optional<Span> othersAround(const AVFormatContext& format, const ReaderCore::StreamAhead& reading,
                                 std::size_t index, std::int64_t pos) {
    if (pos < 0 || !reading.format || reading.format->nb_streams != format.nb_streams) return std::nullopt;
    const auto& seen = reading.othersSeen;
    if (const auto after = std::ranges::upper_bound(seen, pos, {}, &ReaderCore::PlacedSample::pos);
        after != seen.begin() && after != seen.end())
        return spanOf(std::prev(after)->at, after->at);
    std::optional<Span> around;
    for (unsigned other = 0; other < format.nb_streams; ++other) {
        AVStream& stream = *reading.format->streams[other];
        const AVMediaType kind = stream.codecpar->codec_type;
        if (other == index || (kind != AVMEDIA_TYPE_VIDEO && kind != AVMEDIA_TYPE_AUDIO)) continue;
        // Samples are indexed in their order in time, which is their order in the file.
        const int count = avformat_index_get_entries_count(&stream);
        int after = 0;
        for (int step = count; step > 0;)
            if (const int half = step / 2; avformat_index_get_entry(&stream, after + half)->pos <= pos)
                after += half + 1, step -= half + 1;
            else
                step = half;
        if (after == 0 || after == count) continue;
        const AVIndexEntry& before = *avformat_index_get_entry(&stream, after - 1);
        const AVIndexEntry& next = *avformat_index_get_entry(&stream, after);
        if (before.pos > pos || next.pos <= pos) continue;
        const std::int64_t start = timelineStart(format, *format.streams[other]);
        const auto micros = [&](std::int64_t at) { return av_rescale_q(at - start, stream.time_base, AV_TIME_BASE_Q); };
        const Span span = spanOf(micros(before.timestamp), micros(next.timestamp));
        around = around ? Span{std::min(around->from, span.from), std::max(around->to, span.to)} : span;
    }
    return around;
}

void noteOther(const AVFormatContext& format, ReaderCore::StreamAhead& reading, const AVPacket& packet) {
    const AVStream& stream = *format.streams[packet.stream_index];
    const std::int64_t stamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (stamp == AV_NOPTS_VALUE || packet.pos < 0) return;
    const ReaderCore::PlacedSample placed{
        packet.pos, av_rescale_q(stamp - timelineStart(format, stream), stream.time_base, AV_TIME_BASE_Q)};
    auto& seen = reading.othersSeen;
    if (seen.size() >= 2 && seen[seen.size() - 2].pos > reading.readPos)
        seen.back() = placed;
    else
        seen.push_back(placed);
}

std::size_t peekedBytes(const ReaderCore::StreamAhead& stream) {
    std::size_t bytes = 0;
    for (const PacketPtr& packet : stream.peeked) bytes += static_cast<std::size_t>(std::max(packet->size, 0));
    return bytes;
}

}  // namespace

OthersBeside ReaderCore::othersBesideAheadLocked(std::size_t index, std::int64_t pos) const {
    const StreamAhead& stream = readAheads[index];
    if (stream.queuedEnd == AV_NOPTS_VALUE) return {};
    const std::optional<Span> here = othersAround(*format, stream, index, pos);
    const std::optional<Span> before = othersAround(*format, stream, index, stream.queuedPos);
    if (!here || !before) return {};
    // In halves: the sum of two times need not fit.
    const std::int64_t middle = here->from / 2 + here->to / 2, middleBefore = before->from / 2 + before->to / 2;
    return {middle + (stream.queuedEnd - middleBefore), (here->to - here->from) / 2 + (before->to - before->from) / 2};
}

void ReaderCore::lookAheadLocked(std::unique_lock<std::mutex>& lock, const ReaderOutputBase& output) {
    const auto index = static_cast<std::size_t>(output.track().trackID);
    if (readAheads.size() < format->nb_streams) readAheads.resize(format->nb_streams);
    const std::int64_t after = readAheads[index].queuedDts;
    // The packet handed out, and as many after it as the track's timeline
    // looks at when it reads in the file's order: a pause reads as one only
    // where the packets after it go on from it, and a far jump once the few
    // seconds after it do not come back.
    for (std::size_t wanted = TrackTimeline::kLookAhead;; wanted = Timelines::kMostInDoubt) {
        lookingAhead = true;
        lock.unlock();
        for (StreamAhead& reading = readAheads[index]; reading.peekEnd == 0 && reading.peeked.size() <= wanted &&
                                                       peekedBytes(reading) <= Timelines::kMostInDoubtBytes;) {
            PacketPtr packet;
            if (const int result = readAhead(index, after, packet); result < 0)
                reading.peekEnd = result;
            else if (packet->dts == AV_NOPTS_VALUE || (packet->flags & AV_PKT_FLAG_CORRUPT))
                // Left to the file's own reading, which meets it in turn.
                reading.peekEnd = AVERROR_INVALIDDATA;
            else
                keepSampleBehind(*reading.peeked.emplace_back(std::move(packet)), reading.furthestRead);
        }
        lock.lock();
        lookingAhead = false;
        changed.notify_all();
        StreamAhead& stream = readAheads[index];
        while (stream.othersSeen.size() >= 2 && stream.othersSeen[1].pos <= stream.queuedPos)
            stream.othersSeen.pop_front();
        while (!stream.peeked.empty() && stream.queuedDts != AV_NOPTS_VALUE &&
               stream.peeked.front()->dts <= stream.queuedDts)
            stream.peeked.pop_front();
        if (stream.peeked.empty()) {
            stream.ended = stream.peekEnd == AVERROR_EOF;
            stream.failed = stream.peekEnd < 0 && !stream.ended;
            return;
        }
        AVPacket& next = *stream.peeked.front();
        if (timelines) {
            std::vector<const AVPacket*> ahead;
            for (auto later = stream.peeked.begin() + 1; later != stream.peeked.end(); ++later)
                ahead.push_back(later->get());
            const std::pair stored{next.dts, next.pos};
            if (!timelines->passedAhead(next, ahead, stream.peekEnd == AVERROR_EOF, wanted < Timelines::kMostInDoubt,
                                        othersBesideAheadLocked(index, next.pos)))
                continue;
            // Kept until the file's own reading meets it; damage enough to
            // fill this in one read-ahead is past telling apart anyway.
            if (next.dts != stored.first && stream.moved.size() < 4096) stream.moved.push_back(stored);
        }
        // As its timeline placed it: the file's own reading passes over the track's line up to there.
        stream.aheadDts = next.dts;
        PacketPtr packet = std::move(stream.peeked.front());
        stream.peeked.pop_front();
        // How far the file itself was read is what tells a damaged tail.
        const std::int64_t reached = reachedMicros;
        deliverLocked(std::move(packet));
        reachedMicros = reached;
        return;
    }
}

int ReaderCore::readAhead(std::size_t index, std::int64_t after, PacketPtr& packet) {
    StreamAhead& stream = readAheads[index];
    if (!stream.format) {
        AVFormatContext* raw = avformat_alloc_context();
        if (!raw) return AVERROR(ENOMEM);
        raw->interrupt_callback = format->interrupt_callback;
        if (const int opened = avformat_open_input(&raw, asset->path().c_str(), format->iformat, nullptr); opened < 0)
            return opened;
        stream.format.reset(raw);
        if (raw->nb_streams != format->nb_streams) return AVERROR_INVALIDDATA;
        // The others' samples are passed over without being read; in Matroska,
        // which reads them either way, their pictures' and sound's times tell
        // where they lie around the track's (othersSeen).
        const bool matroska = std::string_view(raw->iformat->name) == "matroska,webm";
        for (unsigned i = 0; i < raw->nb_streams; ++i) {
            const AVMediaType kind = raw->streams[i]->codecpar->codec_type;
            const bool seen = matroska && (kind == AVMEDIA_TYPE_VIDEO || kind == AVMEDIA_TYPE_AUDIO);
            raw->streams[i]->discard = i == index || seen ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        }
        const AVRational timeBase = raw->streams[index]->time_base;
        std::int64_t from = after;
        if (from == AV_NOPTS_VALUE && range.start.isNumeric() && range.start > MediaTime::zero())
            from = av_rescale_q(fromMediaTime(range.start, AV_TIME_BASE_Q) + startTime, AV_TIME_BASE_Q, timeBase);
        // Failing that, it reads from the start, passing over what came already.
        if (from != AV_NOPTS_VALUE) av_seek_frame(raw, static_cast<int>(index), from, AVSEEK_FLAG_BACKWARD);
    }
    for (;;) {
        PacketPtr read = makePacket();
        if (const int result = av_read_frame(stream.format.get(), read.get()); result < 0) return result;
        if (read->stream_index != static_cast<int>(index)) {
            noteOther(*format, stream, *read);
            continue;
        }
        stream.readPos = read->pos;
        if (after != AV_NOPTS_VALUE && read->dts != AV_NOPTS_VALUE && read->dts <= after) continue;
        packet = std::move(read);
        return 0;
    }
}

}  // namespace fw::media::detail
