#pragma once
// Loudness and true peak of interleaved 32-bit float PCM after ITU-R BS.1770-4:
// K-weighting (high shelf then high pass, designed for the meter's own sample
// rate), 400 ms blocks every 100 ms, an absolute gate at -70 LUFS and a
// relative gate 10 LU below the ungated mean, and a true peak from 4x
// oversampling (2x from 96 kHz, none from 192 kHz).
//
// Memory grows by one double per 100 ms of audio, whatever the channel count.
// Thread-safety: none; one meter belongs to one measurement.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace fw {

class LoudnessMeter {
public:
    enum class Measurements { loudness, truePeak, loudnessAndTruePeak };

    // Channel weight of each BS.1770 channel kind.
    static constexpr double kFrontWeight = 1.0;
    static constexpr double kSurroundWeight = 1.41;  // +1.5 dB
    static constexpr double kExcludedWeight = 0.0;   // low-frequency effects

    // REQUIRES: sampleRate finite and > 0. Channels below 1 count as 1. The
    // channels are taken to be in FFmpeg's default order for their count
    // (defaultChannelWeights).
    LoudnessMeter(int channels, double sampleRate, Measurements measurements = Measurements::loudness);
    // One weight per channel (kFrontWeight, kSurroundWeight or kExcludedWeight);
    // REQUIRES: sampleRate finite and > 0; an empty list means one front channel.
    LoudnessMeter(std::vector<double> channelWeights, double sampleRate,
                  Measurements measurements = Measurements::loudness);

    // Weights for `channels` channels in FFmpeg's default layout of that count:
    // mono and stereo all front; 5.1 is FL FR FC LFE BL BR; 7.1 adds SL SR.
    static std::vector<double> defaultChannelWeights(int channels);
    // Weights for channels named by speaker as FFmpeg names them: LFE and LFE2
    // excluded; back, side, top-back and surround-direct channels as surrounds;
    // all others front.
    static std::vector<double> channelWeights(const std::vector<std::string>& speakerNames);

    int channels() const { return channels_; }

    // Feeds `count` interleaved samples; a trailing incomplete frame is
    // ignored (not carried into the next call). Blocks may span calls.
    void add(const float* samples, std::size_t count);

    // Gated integrated loudness in LUFS; nullopt with less than 400 ms of
    // audio, when every block is below -70 LUFS, or when loudness is not measured.
    std::optional<double> integratedLUFS() const;

    // Highest true peak over all channels, linear (1.0 is full scale); never
    // below the highest sample. nullopt when no sample was non-zero or true
    // peak is not measured.
    std::optional<double> truePeak() const;
    // The same in dB relative to full scale (dBTP).
    std::optional<double> truePeakDb() const;

    // One second-order section in direct form I.
    struct Biquad {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double process(double x) {
            // The newest output enters last, keeping the recursion's critical path short.
            const double y = b0 * x + b1 * x1 + b2 * x2 - a2 * y2 - a1 * y1;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    // The two K-weighting sections for a sample rate (at 48 kHz the values of
    // ITU-R BS.1770-4 Table 1 and 2).
    static Biquad kWeightingShelf(double sampleRate);
    static Biquad kWeightingHighPass(double sampleRate);

private:
    // The hot loops built for one vector unit; chosen once per meter.
    struct Kernels;
    static const Kernels& widestKernels();

    void filterSegment(const float* frames, std::size_t count);
    void measurePeaks(const float* frames, std::size_t count);
    void finishSubBlock();

    const Kernels* kernels_;
    int channels_ = 1;
    bool measureLoudness_ = true;
    bool measureTruePeak_ = false;
    std::vector<double> weights_;

    // Loudness: per-channel filter state, the current 100 ms sub-block, and the
    // weighted channel sum of every completed sub-block's mean square.
    std::size_t subBlockSize_ = 1;
    std::vector<Biquad> stage1_;
    std::vector<Biquad> stage2_;
    std::vector<double> subSum_;
    std::size_t subCount_ = 0;
    std::vector<double> subBlockPowers_;

    // True peak: polyphase interpolator, phases 1 … factor-1 (phase 0 passes
    // the input through, so it is covered by the sample peak).
    std::size_t historySize() const { return static_cast<std::size_t>(tapsPerPhase_ - 1); }
    int oversampling_ = 1;
    int tapsPerPhase_ = 1;
    std::vector<float> phaseTaps_;  // (oversampling_ - 1) rows of tapsPerPhase_
    std::vector<float> history_;    // per channel, the last historySize() inputs
    std::vector<float> work_;
    float peak_ = 0;
};

}  // namespace fw
