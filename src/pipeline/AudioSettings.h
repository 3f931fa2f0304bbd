#pragma once
// The user's audio options, held by the coordinator and copied into each run.
// Not part of an output's configuration: presets and the queue file do not
// carry it. Thread-safety: a plain value.

#include "platform/core/MediaUnits.h"

namespace fw {

struct AudioSettings {
    // Measure the source's integrated loudness and gain it toward targetLUFS.
    bool normalizeLoudness = false;
    double targetLUFS = -16.0;
    // The encoders write one audio channel instead of two.
    bool downmixMono = false;
    // Output sample rate in Hz for the movie and audio-only encoders; 0 or less means 48000.
    double sampleRate = kDefaultSampleRate;
    // Cap the gain so that the measured true peak stays at or below truePeakCeilingDb (dBTP).
    bool limitTruePeak = false;
    double truePeakCeilingDb = -1.0;
    // The movie encoder keeps every audio track of the source.
    bool preserveAllTracks = false;
    // The movie encoders write no audio track.
    bool stripAudio = false;

    // The sample rate to encode at: sampleRate, or 48000 when it is 0 or less (or not a number).
    double effectiveSampleRate() const { return sampleRate > 0 ? sampleRate : kDefaultSampleRate; }

    bool operator==(const AudioSettings&) const = default;
};

}  // namespace fw
