#pragma once
// Where an encode's preview images go. An encoder offers a preview with a
// function that renders it; the callback renders only when a preview is
// wanted now, so a refused preview costs nothing. Wanted is decided by an
// optional throttle, which several callbacks may share (all the jobs of one
// batch feed a single live preview).

#include "pipeline/PreviewRenderer.h"

#include <concepts>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace fw {

// Thread-safe when its delivery function is: copies share the throttle, and
// encoders call it from their pump threads.
class PreviewCallback {
public:
    using Deliver = std::function<void(const PreviewFrame& frame)>;

    PreviewCallback() = default;
    // Takes every preview offered (none when `deliver` is empty).
    template <typename Function>
    requires(!std::same_as<std::remove_cvref_t<Function>, PreviewCallback> &&
             std::constructible_from<Deliver, Function>) PreviewCallback(Function&& deliver)
        : deliver_(std::forward<Function>(deliver)) {}
    // Takes only the previews `throttle` lets through; a throttle shared by
    // several callbacks lets one preview per interval through among them all.
    PreviewCallback(Deliver deliver, std::shared_ptr<PreviewThrottle> throttle)
        : deliver_(std::move(deliver)), throttle_(std::move(throttle)) {}

    // False when previews go nowhere: an encoder need not offer any.
    explicit operator bool() const { return static_cast<bool>(deliver_); }

    // When a preview is wanted now, calls `render` (returning a PreviewFrame)
    // and delivers its image unless that is null; otherwise calls nothing.
    template <typename Render>
    void offer(Render&& render) const {
        if (!wanted()) return;
        const PreviewFrame frame = std::forward<Render>(render)();
        if (frame.image) deliver_(frame);
    }

    // Delivers an image already made, when a preview is wanted now.
    void operator()(const PreviewFrame& frame) const {
        if (wanted()) deliver_(frame);
    }

private:
    // A true answer takes the throttle's turn: the caller then delivers.
    bool wanted() const { return deliver_ && (!throttle_ || throttle_->shouldEmit()); }

    Deliver deliver_;
    std::shared_ptr<PreviewThrottle> throttle_;
};

}  // namespace fw
