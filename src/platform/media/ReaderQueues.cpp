// What the reader holds for its outputs: the packets queued for each, how
// much that may be before the others' pulls stop reading for them, and, in an
// MP4, QuickTime, Matroska or WebM file, the look ahead that reads one track's
// next packets on its own instead.

#include "platform/media/AssetReader_internal.h"

#include <algorithm>
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

std::size_t peekedBytes(const ReaderCore::StreamAhead& stream) {
    std::size_t bytes = 0;
    for (const PacketPtr& packet : stream.peeked) bytes += static_cast<std::size_t>(std::max(packet->size, 0));
    return bytes;
}

}  // namespace

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
            if (!timelines->passedAhead(next, ahead, stream.peekEnd == AVERROR_EOF, wanted < Timelines::kMostInDoubt))
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
        // The others' samples are passed over without being read.
        for (unsigned i = 0; i < raw->nb_streams; ++i)
            raw->streams[i]->discard = i == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
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
        if (read->stream_index != static_cast<int>(index)) continue;
        if (after != AV_NOPTS_VALUE && read->dts != AV_NOPTS_VALUE && read->dts <= after) continue;
        packet = std::move(read);
        return 0;
    }
}

}  // namespace fw::media::detail
