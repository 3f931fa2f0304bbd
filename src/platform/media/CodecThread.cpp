#include "platform/media/CodecThread_internal.h"

#include "platform/core/ThreadName.h"
#include "platform/media/AssetWriter_internal.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace fw::media::detail {

namespace {

// Frames waiting for the codec: one being converted, two queued and one in
// the codec keep both threads busy.
constexpr std::size_t kQueuedFrames = 2;

}  // namespace

struct CodecThread::State {
    struct Item {
        FramePtr frame;  // null: the end of the stream
        std::int64_t fallbackDuration = 0;
    };

    CodecContextPtr codec;  // the thread's alone once it runs
    int streamIndex = 0;
    std::size_t pacedTrack = 0;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> queue;
    bool ended = false;          // the codec's last packet is written
    bool failed = false;         // the codec failed or a packet could not be written
    bool writerStopped = false;  // the writer stopped writing
    bool leaving = false;        // the owner is gone or going: end now

    // The writer, while it may be used; the thread holds coreMutex around
    // every use, and abandon() clears it under the same lock.
    std::mutex coreMutex;
    WriterCore* core = nullptr;

    // One packet a picture: each one written lets the pacer go past the
    // earliest picture the codec held.
    bool writePacket(AVPacket& packet) {
        std::lock_guard lock(coreMutex);
        if (core == nullptr || !core->writePacket(&packet, codec->time_base)) return false;
        core->pacer.release(pacedTrack);
        return true;
    }
    void fail(const std::string& message) {
        std::lock_guard lock(coreMutex);
        if (core != nullptr) core->failWriting(message);
    }

    // Pictures the codec holds, by presentation time; the first packet's
    // decode time behind the earliest of them; the last decode time written.
    // Only the thread touches them.
    std::multiset<std::int64_t> inCodec;
    std::optional<std::int64_t> reorderTicks;
    std::int64_t lastDts = AV_NOPTS_VALUE;

    // libx264 and libx265 decode each picture a fixed number of pictures
    // before the one it shows. After a pause in the pictures, that times the
    // first pictures after it at the pause's start, and the muxer, which
    // places packets by decode time, writes them ahead of all the sound of
    // the pause. The decode time stays as far behind the earliest picture
    // still to be shown as at the start (never past the packet's own time).
    void placeDecodeTime(AVPacket& packet) {
        if (packet.pts == AV_NOPTS_VALUE || packet.dts == AV_NOPTS_VALUE) return;
        // A picture shown before this packet is decoded was written already.
        while (!inCodec.empty() && *inCodec.begin() < packet.dts) inCodec.erase(inCodec.begin());
        const std::int64_t earliest = inCodec.empty() ? packet.pts : std::min(packet.pts, *inCodec.begin());
        if (auto shown = inCodec.find(packet.pts); shown != inCodec.end()) inCodec.erase(shown);
        if (!reorderTicks) reorderTicks = std::max<std::int64_t>(earliest - packet.dts, 0);
        std::int64_t dts = std::max(packet.dts, earliest - *reorderTicks);
        if (lastDts != AV_NOPTS_VALUE) dts = std::max(dts, lastDts + 1);
        if (dts <= packet.pts) packet.dts = dts;
        lastDts = packet.dts;
    }

    // Sends one frame (or the end) and writes the packets that are ready.
    bool encode(const Item& item) {
        if (item.frame && item.frame->pts != AV_NOPTS_VALUE) inCodec.insert(item.frame->pts);
        const int sent = avcodec_send_frame(codec.get(), item.frame.get());
        if (sent < 0) {
            fail("Encoding failed: " + errorText(sent));
            return false;
        }
        PacketPtr packet = makePacket();
        for (;;) {
            const int received = avcodec_receive_packet(codec.get(), packet.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
            if (received < 0) {
                fail("Encoding failed: " + errorText(received));
                return false;
            }
            packet->stream_index = streamIndex;
            if (packet->duration <= 0) packet->duration = item.fallbackDuration;
            placeDecodeTime(*packet);
            if (!writePacket(*packet)) return false;
            av_packet_unref(packet.get());
        }
    }

    void run() {
        for (;;) {
            Item item;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return leaving || (!queue.empty() && !failed && !ended); });
                if (leaving) break;
                item = std::move(queue.front());
                queue.pop_front();
                changed.notify_all();
            }
            const bool isEnd = !item.frame;
            const bool ok = encode(item);
            item.frame.reset();  // the picture's pool slot is free again
            std::lock_guard lock(mutex);
            failed = failed || !ok;
            ended = ended || (ok && isEnd);
            changed.notify_all();
        }
        // Here, not on the owner's thread: the close of a codec with frames
        // in flight waits for them.
        codec.reset();
    }
};

CodecThread::CodecThread(CodecContextPtr codec, WriterCore& core, int streamIndex, std::size_t pacedTrack)
    : state_(std::make_shared<State>()) {
    state_->codec = std::move(codec);
    state_->streamIndex = streamIndex;
    state_->pacedTrack = pacedTrack;
    state_->core = &core;
    thread_ = std::thread([state = state_] {
        nameThisThread("media.encode");
        state->run();
    });
}

CodecThread::~CodecThread() {
    {
        std::lock_guard lock(state_->mutex);
        state_->leaving = true;
        state_->queue.clear();
    }
    state_->changed.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool CodecThread::send(const AVFrame& frame, std::int64_t fallbackDuration) {
    FramePtr reference = makeFrame();
    check(av_frame_ref(reference.get(), &frame), "Out of memory for a picture");
    State& state = *state_;
    std::unique_lock lock(state.mutex);
    state.changed.wait(lock, [&] { return state.failed || state.writerStopped || state.queue.size() < kQueuedFrames; });
    if (state.failed || state.writerStopped) return false;
    state.queue.push_back({std::move(reference), fallbackDuration});
    state.changed.notify_all();
    return true;
}

void CodecThread::finish(std::int64_t fallbackDuration) {
    State& state = *state_;
    std::unique_lock lock(state.mutex);
    if (state.failed || state.writerStopped) return;
    state.queue.push_back({nullptr, fallbackDuration});
    state.changed.notify_all();
    state.changed.wait(lock, [&] { return state.ended || state.failed || state.writerStopped; });
}

void CodecThread::writerStopped() {
    {
        std::lock_guard lock(state_->mutex);
        state_->writerStopped = true;
    }
    state_->changed.notify_all();
}

void CodecThread::abandon() {
    {
        std::lock_guard lock(state_->coreMutex);
        state_->core = nullptr;
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->leaving = true;
        state_->queue.clear();
    }
    state_->changed.notify_all();
    if (thread_.joinable()) thread_.detach();
}

}  // namespace fw::media::detail
