#include "pipeline/AudioEncoder.h"

#include "model/ProgressEstimate.h"
#include "platform/core/StagedFile.h"

#include "model/EncodingError.h"
#include "pipeline/AudioReaderOutput.h"
#include "pipeline/TrackPumps.h"
#include "platform/core/MediaUnits.h"
#include "platform/media/Asset.h"
#include "platform/media/AssetReader.h"
#include "platform/media/AssetWriter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>

namespace fw {

namespace fs = std::filesystem;

namespace {

// The sampling frequencies of MPEG-4 audio that the AAC encoder takes.
constexpr std::array<int, 13> kAacRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                           22050, 16000, 12000, 11025, 8000,  7350};

}  // namespace

int AudioEncoder::aacSampleRate(double requested) {
    if (!(requested > 0)) return static_cast<int>(kDefaultSampleRate);
    int best = kAacRates.front();
    for (int rate : kAacRates) {
        // The list runs downwards, so on a tie the higher rate stays.
        if (std::fabs(rate - requested) < std::fabs(best - requested)) best = rate;
    }
    return best;
}

EncodeResult AudioEncoder::encode(const fs::path& source, const fs::path& destination, const Progress& progress,
                                  std::stop_token stop) const {
    auto asset = media::Asset::open(source);
    const double assetSeconds = asset->duration().isNumeric() ? asset->duration().seconds() : 0.0;
    const double startSeconds = trim ? trim->effectiveStart() : 0.0;
    const double expectedSeconds = trim ? trim->resolvedDuration(assetSeconds) : assetSeconds;

    const auto tracks = asset->tracks(media::MediaType::audio);
    if (tracks.empty()) throw EncodingError::noAudioTrack();

    media::AssetReader reader(asset);
    if (trim) reader.setTimeRange(readerTimeRange(*trim));

    const int rate = aacSampleRate(sampleRate);
    const int channels = downmixMono ? 1 : 2;
    media::AudioOutputSettings readSettings;
    readSettings.sampleRate = rate;
    readSettings.channelCount = channels;
    readSettings.sampleFormat = media::AudioSampleFormat::float32;
    auto output = AudioReaderOutput::make(reader, tracks.front(), audioGain, readSettings);
    if (!output) throw EncodingError::cannotStartReading();

    StagedFile staged(destination);
    if (staged.replaces(source)) throw EncodingError::destinationIsSource();
    media::AssetWriter writer(staged.path(), media::FileType::appleM4A, destination);
    media::AudioEncoderSettings writeSettings;
    writeSettings.codec = media::AudioCodec::aac;
    writeSettings.sampleRate = rate;
    writeSettings.channelCount = channels;
    writeSettings.bitRate = downmixMono ? kMonoBitRate : kStereoBitRate;
    auto input = writer.addAudioInput(writeSettings);
    if (!input) throw EncodingError::writerFailed("could not add the audio input");

    if (!reader.startReading()) throw EncodingError::readerFailed(detailOr(reader.errorDescription()));
    if (!writer.startWriting()) throw EncodingError::writerFailed(detailOr(writer.errorDescription()));
    writer.startSession(trim ? media::MediaTime::fromSeconds(startSeconds, kSecondsTimescale)
                             : media::MediaTime::zero());

    // Cancelling abandons the writer (its encoder is not drained) and ends the
    // sample stream; the pump then ends. A failing pump stops the reader too.
    std::exception_ptr pumpFailure;
    std::size_t samplesRead = 0;
    {
        std::stop_callback onStop(stop, [&reader, &writer] {
            writer.cancelWriting();
            reader.cancelReading();
        });
        PumpThread pump("audio.pump", [&] {
            try {
                pumpSamples(*output, *input, "audio", [&](const media::SampleBuffer& sample) {
                    const double t = sample.presentationTime().seconds();
                    if (const auto fraction = ProgressEstimate::reached(t, startSeconds, expectedSeconds);
                        progress && fraction)
                        progress(*fraction);
                    ++samplesRead;
                });
            } catch (...) {
                reader.cancelReading();
                throw;
            }
        });
        try {
            pump.join();
        } catch (...) {
            pumpFailure = std::current_exception();
        }
    }

    if (stop.stop_requested()) {
        writer.cancelWriting();
        throw EncodingError::cancelled();
    }
    if (pumpFailure) {
        pumpFailure = withWriterReason(pumpFailure, writer);
        writer.cancelWriting();
        std::rethrow_exception(pumpFailure);
    }
    if (reader.status() == media::AssetReader::Status::failed) {
        writer.cancelWriting();
        throw readerFailure(reader);
    }
    // A file without sound is no output, e.g. a trim that starts past the end.
    if (samplesRead == 0) {
        writer.cancelWriting();
        throw EncodingError::readerFailed("the source has no audio in the range to encode");
    }
    if (!writer.finishWriting()) throw EncodingError::writerFailed(detailOr(writer.errorDescription()));
    // A stop that came while the file was being finished still cancels.
    if (stop.stop_requested()) throw EncodingError::cancelled();
    if (auto error = staged.commit())
        throw EncodingError::outputNotMoved(destination.filename().string(), error.message());
    if (progress) progress(1.0);
    return {reader.concealedSoundSeconds(), 0, reader.leftOutSoundSeconds()};
}

}  // namespace fw
