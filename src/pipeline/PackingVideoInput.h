#pragma once
// The video input of a texture-codec movie (Hap, DXV): pictures appended to it
// are packed into stored frames by our own coder and handed, in append order,
// to a passthrough input of the media layer's writer, which stores them as
// they are. To the pumps it is one more writer input, so the movie encoder's
// pumps, read-ahead, resizer and tail rule serve these movies unchanged.
//
// Several pictures are packed at once on oneTBB's workers (each packer is free
// to fan out further, over block rows), and the packed frames are written in
// order on a thread of the input's own, so that writing a frame (megabytes at
// 4K) holds up neither the appends nor the packing. At most framesInFlight
// pictures are held between their append and the end of their packing, and
// one more packed frame is being written: an append waits once that many are
// in flight, so memory stays flat however long the source. The frames' buffers
// come back once written and serve later frames.
//
// Pictures: bgra8 of exactly the track's size. Anything else (another format,
// another size, no picture at all) is never packed at some other size or
// written as an empty frame: it fails the input.
//
// Failures: once a picture is refused, a packer throws or the passthrough
// input refuses a frame, this append or a later one returns false and
// failure() says why (an EncodingError). Frames still in flight are then
// dropped. markAsFinished() packs and writes what is in flight first, so a
// failure among the last frames is found there; read failure() after the pump
// has ended.
//
// Thread-safety: appends and markAsFinished are serialised by a lock (one
// pump appends); failure() may be called from any thread. The writes stop
// when the stored input refuses a frame, as it does once its writer is
// cancelled.

#include "platform/media/AssetWriter.h"
#include "platform/media/PixelBuffer.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fw {

// How a texture codec stores one picture.
struct FramePacking {
    // Codec type of the stored frames ('Hap1', 'DXD3', ...).
    media::FourCharCode codecType = 0;
    // The frames' name in messages: "could not append Hap frame".
    std::string frameName;
    // One bgra8 picture of the track's size into the bytes of one stored frame,
    // left in frame. frame arrives empty or holding an earlier frame's bytes,
    // so that its memory can be reused (megabytes a frame would otherwise be
    // fresh pages each time). Called on worker threads, several at once. What
    // it throws fails the encode: an EncodingError as it is, anything else as
    // writerFailed "could not pack <name> frame: <what>".
    std::function<void(const media::PixelBuffer& picture, std::vector<std::uint8_t>& frame)> packFrame;
    // Whether the stored frames keep the pictures' alpha; without it packFrame
    // is handed each picture as shown over black.
    bool keepsAlpha = false;
};

class PackingVideoInput final : public media::AssetWriterInput {
public:
    // stored: a passthrough video input of width × height frames of
    // packing.codecType. framesInFlight: at least 1.
    PackingVideoInput(media::AssetWriterInputRef stored, FramePacking packing, int width, int height,
                      std::size_t framesInFlight);
    // Waits for packing in progress and the frame being written; frames not
    // yet written are dropped.
    ~PackingVideoInput() override;
    PackingVideoInput(const PackingVideoInput&) = delete;
    PackingVideoInput& operator=(const PackingVideoInput&) = delete;

    // Enough frames to keep the workers busy with whole frames, at most 8, and
    // no more than about 128 MiB of width × height pictures (at least 2): large
    // frames keep the workers busy over their block rows instead.
    static std::size_t defaultFramesInFlight(int width, int height);

    media::MediaType mediaType() const override { return media::MediaType::video; }
    // A picture at a presentation time; the stored frame lasts until the next.
    bool appendPixelBuffer(const media::PixelBufferRef& picture, media::MediaTime presentationTime) override;
    // A decoded picture sample: its picture, presentation time and duration.
    bool appendSampleBuffer(const media::SampleBuffer& sample) override;
    // Said of the passthrough input, where the frames are paced.
    void expectFirstSample(media::MediaTime sourceTime) override { stored_->expectFirstSample(sourceTime); }
    void setSourceWaiting(bool waiting) override { stored_->setSourceWaiting(waiting); }
    // Writes the frames in flight (unless a failure came first), then
    // finishes the passthrough input. Idempotent.
    void markAsFinished() override;

    // The first failure, or null.
    std::exception_ptr failure() const;

private:
    struct Slot;
    struct FramePool;
    bool append(media::PixelBufferRef picture, media::MediaTime time, media::MediaTime duration);
    // The writing thread: the oldest frame once packed, in order.
    void writeFrames();
    // Without the lock: the frame's failure, or null once written.
    std::exception_ptr write(Slot& slot) const;
    // REQUIRES: the lock is held.
    void fail(std::exception_ptr failure);
    // REQUIRES: the lock is held.
    void abandonInFlight();

    media::AssetWriterInputRef stored_;
    std::shared_ptr<const FramePacking> packing_;
    std::shared_ptr<FramePool> frames_;  // written frames' buffers, for the next ones
    int width_;
    int height_;
    std::size_t framesInFlight_;
    std::deque<std::shared_ptr<Slot>> inFlight_;  // appended, not yet taken by the writing thread
    bool writing_ = false;                        // the writing thread holds a frame
    bool finished_ = false;
    bool leaving_ = false;      // the writing thread ends
    mutable std::mutex mutex_;  // all of the above, and failure_
    std::condition_variable changed_;
    std::exception_ptr failure_;
    std::thread writer_;  // last: it starts once the rest is set up
};

}  // namespace fw
