#include "encoders/TextureMovie.h"

#include "pipeline/DisplayedSize.h"
#include "platform/core/MediaUnits.h"

namespace fw {

MovieEncoder textureMovieEncoder(const media::Asset& source, const std::optional<FrameScaling>& scaling,
                                 const MovieSound& sound, FramePacking packing) {
    const IntSize size = scaling ? IntSize{scaling->width, scaling->height} : displayedPixelSize(source);
    MovieEncoder encoder;
    encoder.videoSettings.width = size.width;
    encoder.videoSettings.height = size.height;
    encoder.fileType = ContainerFileType::quickTimeMovie;
    encoder.scaling = scaling;
    // Texture frames hold 8 bits a channel.
    if (encoder.scaling) encoder.scaling->tenBit = false;
    encoder.audioGain = sound.gain;
    encoder.stripAudio = sound.strip;
    encoder.downmixMono = sound.downmixMono;
    encoder.sampleRate = kDefaultSampleRate;
    encoder.preserveAllAudioTracks = false;
    encoder.trim = sound.trim;
    encoder.packing = std::move(packing);
    return encoder;
}

}  // namespace fw
