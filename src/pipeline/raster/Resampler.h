#pragma once
// Separable resampling of four-channel rows (Catmull-Rom cubic, widened when
// scaling down so that every source pixel contributes). Each axis has its own
// list of sample positions, so one pass does scaling, sub-pixel placement and
// mirroring (a negative step walks the source backwards). Taps beyond the
// source edge repeat the edge pixel.
//
// Rows stream through: each needed source row is fetched and filtered
// horizontally exactly once, kept in a ring of `taps` rows, and every output
// row is emitted as soon as its rows are in.
// Thread-safety: a Resampler holds scratch rows; use one per thread.

#include "pipeline/raster/Raster.h"

#include <cstdint>
#include <type_traits>
#include <vector>

namespace fw::raster {

struct AxisFilter {
    int outputCount = 0;
    int taps = 0;
    bool increasing = true;           // source starts grow with the output index
    int sourceBegin = 0;              // first source index any output reads
    int sourceEnd = 0;                // one past the last
    std::vector<int> start;           // per output: first source index of its window
    std::vector<std::int16_t> fixed;  // per output: taps weights summing to exactly 1 << 14
    // Per output: the weights in pairs (w0, w1) repeated four times, (w, 0)
    // for an odd last one, ready for pmaddwd without shuffling.
    std::vector<std::int16_t> pairs;
    // Per output: the weights zero-padded to a multiple of eight (paddedTaps).
    int paddedTaps = 0;
    std::vector<std::int16_t> padded;
};

// Output i samples the source at position first + step · i, in source pixels
// whose centres lie at k + 0.5, for k in [0, sourceCount).
// REQUIRES: outputCount >= 1, sourceCount >= 1, step != 0, both finite.
AxisFilter makeAxisFilter(int outputCount, double first, double step, int sourceCount);

// The same filter read from the other end of the source: output i takes the
// weights it had, from source index sourceCount − 1 − k instead of k. Exact,
// unlike a filter made with mirrored positions, whose rounded weights may land
// differently.
// REQUIRES: sourceCount is the count `filter` was made for.
AxisFilter mirroredAxisFilter(const AxisFilter& filter, int sourceCount);

// Horizontally filtered rows hold 16-bit fixed point: 8-bit values times 64,
// 16-bit values divided by 4 (14 significant bits, ample for 10-bit output).
// Either leaves headroom for the cubic's overshoot.
template <class T>
using Accumulator = std::int16_t;

// One output row of values from `taps` horizontally filtered rows.
template <class T>
void verticalPass(const Accumulator<T>* const* rows, const AxisFilter& filter, int outputIndex, int valueCount, T* out);
// Horizontal filtering of one source row (pixel 0 at `source`). Channels:
// 4 (B, G, R, A pixels, 8- or 16-bit) or 1 (a plane of 16-bit samples; the
// row must stay readable for 7 samples past the filter's sourceEnd).
template <class T, int kChannels>
void horizontalPass(const T* source, const AxisFilter& filter, Accumulator<T>* out);

template <class T, int kChannels = 4>
class Resampler {
public:
    // fetch(sourceRow) -> const T*: the row's pixels, pixel 0 first; only the
    //   columns [horizontal.sourceBegin, horizontal.sourceEnd) are read.
    // emit(outputRow, T* pixels): horizontal.outputCount pixels the callee may change.
    template <class Fetch, class Emit>
    void run(const AxisFilter& horizontal, const AxisFilter& vertical, Fetch&& fetch, Emit&& emit) {
        const int taps = vertical.taps;
        const std::size_t rowValues = static_cast<std::size_t>(horizontal.outputCount) * kChannels;
        ring_.resize(rowValues * static_cast<std::size_t>(taps));
        output_.resize(rowValues);
        rowPointers_.resize(static_cast<std::size_t>(taps));
        int nextSourceRow = vertical.sourceBegin;
        for (int n = 0; n < vertical.outputCount; ++n) {
            int i = vertical.increasing ? n : vertical.outputCount - 1 - n;
            int first = vertical.start[i];
            // Windows only move forward in this order, so every row is filtered once.
            if (nextSourceRow < first) nextSourceRow = first;
            for (; nextSourceRow < first + taps; ++nextSourceRow)
                horizontalPass<T, kChannels>(fetch(nextSourceRow), horizontal, slot(nextSourceRow, taps));
            for (int k = 0, ring = first % taps; k < taps; ++k, ring = ring + 1 == taps ? 0 : ring + 1)
                rowPointers_[k] = ring_.data() + static_cast<std::size_t>(ring) * output_.size();
            verticalPass<T>(rowPointers_.data(), vertical, i, static_cast<int>(rowValues), output_.data());
            emit(i, output_.data());
        }
    }

private:
    Accumulator<T>* slot(int sourceRow, int taps) {
        return ring_.data() + static_cast<std::size_t>(sourceRow % taps) * output_.size();
    }
    std::vector<Accumulator<T>> ring_;
    std::vector<const Accumulator<T>*> rowPointers_;
    std::vector<T> output_;
};

}  // namespace fw::raster
