#pragma once
// Frame sizes: FloatSize as the media layer reports a source (it may carry
// fractions or a sign from a transform), IntSize for the whole pixels we write.

#include <cstdint>

namespace fw {

struct IntSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool operator==(const IntSize&) const = default;
};

struct FloatSize {
    double width = 0;
    double height = 0;
    constexpr FloatSize() = default;
    constexpr FloatSize(double w, double h) : width(w), height(h) {}
    // Whole sizes feed straight into further sizing steps.
    constexpr FloatSize(IntSize size)  // NOLINT(google-explicit-constructor)
        : width(static_cast<double>(size.width)), height(static_cast<double>(size.height)) {}
    bool operator==(const FloatSize&) const = default;
};

}  // namespace fw
