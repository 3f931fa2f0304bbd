#pragma once
// A minimal signal for observable model objects, without Qt: observers
// register callbacks and are told after a real change. Objects compare the
// assigned value with the old one and emit only when it differs.
// Thread-safety: connect/disconnect/emit may be called from any thread;
// callbacks run on the emitting thread and must not disconnect themselves.

#include <functional>
#include <mutex>
#include <utility>
#include <vector>

// Qt defines `emit` as an empty macro; hide it here so that this header may
// follow a Qt header in any translation unit.
#pragma push_macro("emit")
#undef emit

namespace fw {

template <class... Args>
class Signal {
public:
    using Callback = std::function<void(Args...)>;
    using Token = std::size_t;

    Token connect(Callback callback) {
        std::lock_guard lock(mutex_);
        slots_.emplace_back(++lastToken_, std::move(callback));
        return lastToken_;
    }

    void disconnect(Token token) {
        std::lock_guard lock(mutex_);
        std::erase_if(slots_, [token](const auto& slot) { return slot.first == token; });
    }

    void emit(Args... args) const {
        std::vector<std::pair<Token, Callback>> copy;
        {
            std::lock_guard lock(mutex_);
            copy = slots_;
        }
        for (auto& slot : copy) slot.second(args...);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<Token, Callback>> slots_;
    Token lastToken_ = 0;
};

// Assigns `value` to `field` and emits `changed` only when they differ.
template <class T, class U, class Sig>
bool assignIfChanged(T& field, U&& value, const Sig& changed) {
    if (field == value) return false;
    field = std::forward<U>(value);
    changed.emit();
    return true;
}

}  // namespace fw

#pragma pop_macro("emit")
