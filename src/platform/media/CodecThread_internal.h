#pragma once
// Internal to fw_media: the codec of a writer's video input, run on a thread
// of its own ("media.encode").
//
// The appending thread converts a picture and hands the frame over; this
// thread sends it to the codec and writes the packets that come out. A short
// queue between them paces the appends as the codec itself did, and lets the
// conversion of one picture overlap the encoding of the one before.
//
// The point is the way out. A writer that is cancelled abandons its codec
// instead of waiting for it: libx264 and libx265 can hold one call for the
// time of a whole frame (seconds at 4K on a busy machine), and closing them
// waits for the frames they have in flight. An abandoned codec thread drops
// its queue, finishes the call it is in, frees the codec and ends on its own;
// it never touches the writer again, so the writer may go at once.
//
// Thread-safety: send() and finish() from the input's appending thread, one
// call at a time; writerStopped() from any thread; abandon() and the
// destructor from the owner once no send() or finish() is in progress.

#include "platform/media/FFmpeg_internal.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

namespace fw::media::detail {

struct WriterCore;

class CodecThread {
public:
    // Starts the thread. The codec is open; its packets go to `streamIndex`
    // of the core's file, and each one releases the earliest picture that
    // `pacedTrack` holds in the core's pacer. `core` must outlive this object
    // unless abandon() was called.
    CodecThread(CodecContextPtr codec, WriterCore& core, int streamIndex, std::size_t pacedTrack);
    // Without abandon(): drops what is queued and waits for the thread,
    // which frees the codec.
    ~CodecThread();
    CodecThread(const CodecThread&) = delete;
    CodecThread& operator=(const CodecThread&) = delete;

    // Queues a reference to `frame`, waiting while the queue is full. Packets
    // without a duration get `fallbackDuration` (codec time base). False once
    // writing has stopped or the codec has failed (the writer says why).
    bool send(const AVFrame& frame, std::int64_t fallbackDuration);
    // Ends the stream and waits until the codec's last packet is written, or
    // until writing stops or the codec fails.
    void finish(std::int64_t fallbackDuration);
    // The writer is no longer writing (cancelled, failed or complete): a
    // waiting send() or finish() returns.
    void writerStopped();
    // Leaves the codec to its thread and stops waiting for it; then only the
    // destructor may follow.
    void abandon();

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace fw::media::detail
