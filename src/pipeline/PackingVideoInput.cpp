#include "pipeline/PackingVideoInput.h"

#include "model/EncodingError.h"
#include "platform/core/ThreadName.h"
#include "platform/media/PictureConversion.h"
#include "platform/media/SampleBuffer.h"

#include <tbb/info.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <condition_variable>
#include <utility>

namespace fw {

namespace {

// One arena for every packing input of the process: encodes running side by
// side share the workers instead of each asking for all of them. Never
// destroyed, so no task can outlive it at exit.
tbb::task_arena& packingArena() {
    static tbb::task_arena* arena = new tbb::task_arena();
    return *arena;
}

std::string sizeText(int width, int height) { return std::to_string(width) + "\u00D7" + std::to_string(height); }

}  // namespace

// One picture on its way to the file. The worker fills frame or error and then
// sets done; the appending thread reads them only after seeing done.
struct PackingVideoInput::Slot {
    media::PixelBufferRef picture;
    media::MediaTime time;
    media::MediaTime duration;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::vector<std::uint8_t> frame;
    std::exception_ptr error;

    void waitUntilDone() {
        std::unique_lock lock(mutex);
        finished.wait(lock, [this] { return done; });
    }
    bool isDone() {
        std::lock_guard lock(mutex);
        return done;
    }
};

// Buffers of written frames, handed to later packings. The writer may hold a
// frame a while after it is appended (interleaving it with the sound), so a
// buffer returns whenever its last holder lets go; at most `kept` wait here.
struct PackingVideoInput::FramePool {
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> idle;
    std::size_t kept;

    explicit FramePool(std::size_t keep) : kept(keep) {}
    std::vector<std::uint8_t> take() {
        std::lock_guard lock(mutex);
        if (idle.empty()) return {};
        std::vector<std::uint8_t> frame = std::move(idle.back());
        idle.pop_back();
        return frame;
    }
    void give(std::vector<std::uint8_t> frame) {
        std::lock_guard lock(mutex);
        if (idle.size() < kept) idle.push_back(std::move(frame));
    }
};

PackingVideoInput::PackingVideoInput(media::AssetWriterInputRef stored, FramePacking packing, int width, int height,
                                     std::size_t framesInFlight)
    : stored_(std::move(stored)),
      packing_(std::make_shared<const FramePacking>(std::move(packing))),
      frames_(std::make_shared<FramePool>(std::max<std::size_t>(framesInFlight, 1) + 1)),
      width_(width),
      height_(height),
      framesInFlight_(std::max<std::size_t>(framesInFlight, 1)),
      writer_([this] { writeFrames(); }) {}

PackingVideoInput::~PackingVideoInput() {
    {
        std::lock_guard lock(mutex_);
        leaving_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) writer_.join();
    std::lock_guard lock(mutex_);
    abandonInFlight();
}

std::size_t PackingVideoInput::defaultFramesInFlight(int width, int height) {
    constexpr double kPictureBytesInFlight = 128.0 * 1024 * 1024;
    const double pictureBytes = 4.0 * std::max(width, 1) * std::max(height, 1);
    const int byWorkers = std::clamp(tbb::info::default_concurrency(), 2, 8);
    const int byMemory = static_cast<int>(std::clamp(kPictureBytesInFlight / pictureBytes, 2.0, 8.0));
    return static_cast<std::size_t>(std::min(byWorkers, byMemory));
}

bool PackingVideoInput::appendPixelBuffer(const media::PixelBufferRef& picture, media::MediaTime presentationTime) {
    return append(picture, presentationTime, media::MediaTime::invalid());
}

bool PackingVideoInput::appendSampleBuffer(const media::SampleBuffer& sample) {
    return append(sample.imageBuffer(), sample.presentationTime(), sample.duration());
}

bool PackingVideoInput::append(media::PixelBufferRef picture, media::MediaTime time, media::MediaTime duration) {
    std::unique_lock lock(mutex_);
    if (failure_ || finished_) return false;
    if (!picture || picture->format() != media::PixelFormat::bgra8) {
        fail(std::make_exception_ptr(
            EncodingError::writerFailed("a frame's pixels could not be read as 8-bit BGRA; nothing was packed")));
        return false;
    }
    if (picture->width() != width_ || picture->height() != height_) {
        fail(std::make_exception_ptr(EncodingError::writerFailed(
            "a " + sizeText(picture->width(), picture->height()) + " frame reached the " + sizeText(width_, height_) +
            " " + packing_->frameName + " track; frames are never packed at another size")));
        return false;
    }
    // Room for this one first; then it packs while the pump fetches the next.
    changed_.wait(lock, [&] { return failure_ || inFlight_.size() < framesInFlight_; });
    if (failure_) return false;

    auto slot = std::make_shared<Slot>();
    slot->picture = std::move(picture);
    slot->time = time;
    slot->duration = duration;
    inFlight_.push_back(slot);
    packingArena().enqueue([slot, packing = packing_, frames = frames_] {
        try {
            const media::PixelBufferRef shown =
                packing->keepsAlpha ? slot->picture : media::composedOverBlack(slot->picture);
            if (!shown) throw EncodingError::writerFailed("out of memory for a " + packing->frameName + " frame");
            slot->frame = frames->take();
            packing->packFrame(*shown, slot->frame);
        } catch (...) {
            slot->error = std::current_exception();
        }
        slot->picture.reset();  // back to its pool as soon as it is packed
        std::lock_guard slotLock(slot->mutex);
        slot->done = true;
        slot->finished.notify_all();
    });
    changed_.notify_all();
    return true;
}

void PackingVideoInput::writeFrames() {
    nameThisThread("encode.store");
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return leaving_ || failure_ || !inFlight_.empty(); });
        if (leaving_ || failure_) return;
        const std::shared_ptr<Slot> slot = inFlight_.front();
        writing_ = true;
        lock.unlock();
        slot->waitUntilDone();
        lock.lock();
        // A failure meanwhile dropped the frames in flight, this one among them.
        if (!failure_ && !leaving_) {
            inFlight_.pop_front();
            changed_.notify_all();  // room for the next append
            lock.unlock();
            std::exception_ptr failure = write(*slot);
            lock.lock();
            if (failure) fail(std::move(failure));
        }
        writing_ = false;
        changed_.notify_all();
    }
}

std::exception_ptr PackingVideoInput::write(Slot& slot) const {
    if (slot.error) {
        try {
            std::rethrow_exception(slot.error);
        } catch (const EncodingError&) {
            return slot.error;
        } catch (const std::exception& error) {
            return std::make_exception_ptr(
                EncodingError::writerFailed("could not pack " + packing_->frameName + " frame: " + error.what()));
        } catch (...) {
            return std::make_exception_ptr(
                EncodingError::writerFailed("could not pack " + packing_->frameName + " frame"));
        }
    }
    // The buffer goes back to the pool once the writer is done with it (or, the pool gone, is freed).
    const std::shared_ptr<std::vector<std::uint8_t>> bytes(
        new std::vector<std::uint8_t>(std::move(slot.frame)),
        [pool = std::weak_ptr<FramePool>(frames_)](std::vector<std::uint8_t>* frame) {
            std::unique_ptr<std::vector<std::uint8_t>> owned(frame);
            if (const auto alive = pool.lock()) alive->give(std::move(*owned));
        });
    const auto sample = media::SampleBuffer::makeShared(std::span<const std::uint8_t>(*bytes), bytes, slot.time,
                                                        slot.duration, /*format=*/nullptr);
    if (!stored_->appendSampleBuffer(*sample))
        return std::make_exception_ptr(
            EncodingError::writerFailed("could not append " + packing_->frameName + " frame"));
    return nullptr;
}

void PackingVideoInput::fail(std::exception_ptr failure) {
    if (!failure_) failure_ = std::move(failure);
    abandonInFlight();
    changed_.notify_all();  // the writing thread ends, a waiting append returns
}

void PackingVideoInput::abandonInFlight() {
    for (const auto& slot : inFlight_) slot->waitUntilDone();
    inFlight_.clear();
}

void PackingVideoInput::markAsFinished() {
    {
        std::unique_lock lock(mutex_);
        if (finished_) return;
        finished_ = true;
        changed_.wait(lock, [&] { return failure_ || (inFlight_.empty() && !writing_); });
        leaving_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) writer_.join();
    {
        std::lock_guard lock(mutex_);
        abandonInFlight();
    }
    stored_->markAsFinished();
}

std::exception_ptr PackingVideoInput::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

}  // namespace fw
