#pragma once
// Small generated media shared by the media layer's tests (made once per run).

#include "platform/media/Asset.h"
#include "platform/media/AssetReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fw::media::test {

// Folder that lives for the whole test program.
inline const std::filesystem::path& mediaFolder() {
    static fw::test::TempDir folder;
    return folder.path();
}

using fw::test::generated;

// A command line's arguments written as one text, split at single spaces.
inline std::vector<std::string> arguments(std::string_view text) {
    std::vector<std::string> words;
    for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find(' ', start), text.size());
        words.emplace_back(text.substr(start, end - start));
    }
    return words;
}

enum class Samples { decoded, stored };

// Every sample of the file's first track of `type`, decoded (sound with `settings`) or as stored;
// the read must complete.
inline std::vector<SampleBufferRef> readTrack(const std::filesystem::path& file, MediaType type,
                                              Samples samples = Samples::decoded, AudioOutputSettings settings = {}) {
    auto asset = Asset::open(file);
    AssetReader reader(asset);
    const auto track = asset->tracks(type).at(0);
    auto output = samples == Samples::stored ? reader.addPassthroughOutput(track)
                  : type == MediaType::audio ? reader.addAudioOutput(track, settings)
                                             : reader.addVideoOutput(track);
    EXPECT_TRUE(output && reader.startReading());
    std::vector<SampleBufferRef> read;
    while (auto sample = output->copyNextSampleBuffer()) read.push_back(std::move(sample));
    EXPECT_EQ(reader.status(), AssetReader::Status::completed) << file;
    return read;
}

// 2 s, 30 fps, 160×120 testsrc2 in H.264 (with B-frames) and a 1 kHz stereo sine at 48 kHz in AAC, MP4.
inline std::filesystem::path movieWithAudio() {
    return generated("movie.mp4", arguments("-f lavfi -i testsrc2=s=160x120:r=30:d=2 -f lavfi -i "
                                            "sine=frequency=1000:sample_rate=48000:duration=2 -ac 2 -c:v libx264 "
                                            "-preset ultrafast -bf 2 -pix_fmt yuv420p -c:a aac -b:a 128k -shortest"));
}

// 1 s, 25 fps, 64×48 solid colour (R 200, G 40, B 90) in ProRes 4444, QuickTime, no audio.
inline std::filesystem::path solidColourMovie() {
    return generated("solid.mov", {"-f", "lavfi", "-i", "color=c=0xC8285A:s=64x48:r=25:d=1", "-c:v", "prores_ks",
                                   "-profile:v", "4444", "-pix_fmt", "yuv444p10le"});
}

// 1 s, 15 fps, 64×48 Hap movie.
inline std::filesystem::path hapMovie() {
    return generated("hap.mov", {"-f", "lavfi", "-i", "testsrc2=s=64x48:r=15:d=1", "-c:v", "hap"});
}

}  // namespace fw::media::test
