#pragma once
// Internal to the code over FFmpeg (fw_media and the decode helper, which
// includes it on its own): how sound is brought from its source's channels
// to the output's. Every conversion that changes the channel count sets it
// here, so a source comes out at one level whichever way it is read: the
// reader's, the writer's (the decode helper's wider sound) and the helper's
// own above eight channels.
//
// - Fewer channels: the library's matrix for the two layouts (the centre and
//   the surrounds at -3 dB, the LFE left out), scaled so that no output
//   channel's coefficients add up to more than 1: sound below full scale in
//   every channel stays below it mixed down. 5.1 to stereo is divided by
//   2.414 (-7.7 dB); stereo to mono is (L + R) / 2.
// - One channel to several: copied to each at its own level (the library's
//   matrix would take 3 dB off).
// - The same layout: untouched.

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <vector>

namespace fw::media::detail {

// Sets how `context` mixes `in` into `out`; the library's status (< 0: it
// could not). REQUIRES: context allocated with these layouts, not yet initialised.
inline int setChannelMixing(SwrContext* context, const AVChannelLayout& in, const AVChannelLayout& out) {
    const int status = av_opt_set_double(context, "rematrix_maxval", 1.0, 0);
    if (status < 0 || in.nb_channels != 1 || out.nb_channels < 2) return status;
    const std::vector<double> copies(static_cast<std::size_t>(out.nb_channels), 1.0);
    return swr_set_matrix(context, copies.data(), 1);
}

}  // namespace fw::media::detail
