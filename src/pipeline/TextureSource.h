#pragma once
// Hap and DXV source tracks as pictures. The media layer does not decode these
// texture codecs for us: a movie path reads such a track's stored samples
// (the reader's passthrough output) and turns each one into a bgra8 picture
// here, with the texture codecs' own frame decoders, after which the picture
// goes on as a decoded frame would. The movie encoder reaches this through
// frameUnpacker() (TrackPumps.h); other movie paths may use the class itself.
//
// Thread-safety: a FrameUnpacker is immutable once made and cheap to copy
// (copies share one buffer pool); pixelBuffer() may run on several threads at
// once.

#include "platform/media/FormatDescription.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/SampleBuffer.h"

#include <memory>
#include <optional>

namespace fw::TextureSource {

// True for the track subtypes whose samples are unpacked here: 'Hap1', 'Hap5',
// 'HapY' (Hap frames) and 'DXD3', 'DXDI' (DXV frames).
bool isTextureFourCC(media::FourCharCode subtype);

// Decodes the stored samples of one source track into pictures of the track's
// size, taken from a pool of bgra8 buffers (straight alpha). One per track and
// encode. The subtype picks the reader (DXV for 'DXD3' and 'DXDI', else Hap);
// the texture format comes from each frame's own bytes.
class FrameUnpacker {
public:
    // The unpacker for a track described by `track`; nothing unless its
    // subtype is a texture subtype. A size that no buffer can have (a side
    // below 1 or above 32768) gives an unpacker whose every sample yields
    // nothing.
    static std::optional<FrameUnpacker> make(const media::FormatDescription& track);

    // One stored sample into a width() x height() picture, every pixel of it
    // decoded from this sample. nullptr when the sample has no data, does not
    // decode (malformed, truncated, a texture shorter than its grid, memory
    // running out) or no buffer can be had; a pooled buffer is then put back,
    // never handed out half written. The picture is the caller's alone.
    // Throws EncodingError::readerFailed when the sample's own description
    // gives another picture size than the track's: its frames would be read
    // at a size they were not written at.
    media::PixelBufferRef pixelBuffer(const media::SampleBuffer& sample) const;

    media::FourCharCode fourCC() const { return fourCC_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    FrameUnpacker(media::FourCharCode fourCC, int width, int height);

    media::FourCharCode fourCC_;
    int width_;
    int height_;
    std::shared_ptr<media::PixelBufferPool> pool_;  // null when the size is unusable
};

}  // namespace fw::TextureSource
