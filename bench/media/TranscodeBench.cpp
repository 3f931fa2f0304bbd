// A 1080p, 30 fps, 4 s H.264 source transcoded to ProRes 422 HQ and to H.264
// at 8 Mbit/s: through the media layer (decode to BGRA, encode from BGRA, one
// pump thread) and through the ffmpeg tool with the same encoder settings.
// The layer pays one extra colour conversion each way; the gap should stay small.

#include "platform/media/Media.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace fw::media;

constexpr int kFrames = 120;

const fs::path& source() {
    static const fs::path path = [] {
        fs::path p = fw::bench::scratchFolder() / "source.mp4";
        fw::bench::runOrAbort(
            fw::bench::toolCommand("-f lavfi -i testsrc2=s=1920x1080:r=30:d=4 -c:v libx264 "
                                   "-pix_fmt yuv420p -b:v 12M '" +
                                   p.string() + "'"));
        return p;
    }();
    return path;
}

void transcodeThroughLayer(benchmark::State& state, VideoCodec codec) {
    auto asset = Asset::open(source());
    for (auto _ : state) {
        AssetReader reader(asset);
        auto output = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
        AssetWriter writer(fw::bench::scratchFolder() / (codec == VideoCodec::proRes ? "layer.mov" : "layer.mp4"),
                           codec == VideoCodec::proRes ? FileType::quickTimeMovie : FileType::mpeg4);
        VideoEncoderSettings settings;
        settings.codec = codec;
        settings.width = 1920;
        settings.height = 1080;
        settings.expectedFrameRate = 30;
        if (codec == VideoCodec::h264) settings.averageBitRate = 8000000;
        auto input = writer.addVideoInput(settings);
        if (!reader.startReading() || !writer.startWriting()) state.SkipWithError("could not start");
        int frames = 0;
        while (auto sample = output->copyNextSampleBuffer()) {
            input->appendSampleBuffer(*sample);
            ++frames;
        }
        input->markAsFinished();
        if (!writer.finishWriting() || frames != kFrames) state.SkipWithError("transcode failed");
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void transcodeThroughTool(benchmark::State& state, const std::string& arguments, const char* name) {
    const std::string command = fw::bench::toolTranscodeCommand(source(), arguments, name);
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_LayerProResHQ(benchmark::State& state) { transcodeThroughLayer(state, VideoCodec::proRes); }
void BM_ToolProResHQ(benchmark::State& state) {
    transcodeThroughTool(state, "-c:v prores_ks -profile:v hq -qscale:v 7 -vendor apl0 -pix_fmt yuv422p10le",
                         "tool.mov");
}
void BM_LayerH264(benchmark::State& state) { transcodeThroughLayer(state, VideoCodec::h264); }
void BM_ToolH264(benchmark::State& state) { transcodeThroughTool(state, "-c:v libx264 -b:v 8M", "tool.mp4"); }

void BM_LayerDecodeToBGRA(benchmark::State& state) {
    auto asset = Asset::open(source());
    for (auto _ : state) {
        AssetReader reader(asset);
        auto output = reader.addVideoOutput(asset->tracks(MediaType::video)[0]);
        reader.startReading();
        while (auto sample = output->copyNextSampleBuffer()) benchmark::DoNotOptimize(sample.get());
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

BENCHMARK(BM_LayerDecodeToBGRA)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LayerProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ToolProResHQ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LayerH264)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ToolH264)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return fw::bench::benchmarkMain(argc, argv); }
