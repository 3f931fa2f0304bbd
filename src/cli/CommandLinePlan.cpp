#include "cli/CommandLineTool_internal.h"

namespace fw::CommandLineTool::detail {

namespace fs = std::filesystem;

std::string lastPathComponent(const fs::path& path) {
    fs::path trimmed = path;
    while (!trimmed.has_filename() && trimmed.has_relative_path()) trimmed = trimmed.parent_path();
    return trimmed.filename().string();
}

fs::path outputLocation(const fs::path& input, const CLIOptions& options) {
    const fs::path folder = options.outputDirectory ? *options.outputDirectory : fs::path(input).remove_filename();
    const fs::path name(lastPathComponent(input));
    std::string file = name.stem().string();
    file += '_';
    file += fileNameSuffix(options.codec);
    file += '.';
    file += fileExtension(options.codec);
    return folder / file;
}

TargetSize targetSize(const CLIOptions& options) {
    if (options.width && options.height) return {*options.width, *options.height, true};
    return {};
}

MoviePlan moviePlan(const CLIOptions& options, IntSize sourceDisplaySize) {
    const TargetSize target = targetSize(options);
    ResizeSettings resize;
    resize.isEnabled = target.isExplicit;
    resize.width = target.width;
    resize.height = target.height;
    resize.mode = ResizeMode::aspect;

    MoviePlan plan;
    plan.outputSize = OutputSizing::outputSize(FloatSize(sourceDisplaySize), resize);
    plan.tenBit = options.tenBit && supportsTenBit(options.codec);

    if (target.isExplicit || plan.tenBit) {
        // Frames handed to the writer have even sides (4:2:0 chroma), so the
        // writer is asked for the same even size.
        plan.outputSize = {OutputSizing::even(plan.outputSize.width), OutputSizing::even(plan.outputSize.height)};
        FrameScaling scaling;
        scaling.width = plan.outputSize.width;
        scaling.height = plan.outputSize.height;
        scaling.mode = ResizeMode::aspect;
        scaling.tenBit = plan.tenBit;
        scaling.preservesAlpha = false;
        plan.scaling = scaling;
    }

    if (hasBitrateControls(options.codec)) {
        H264Settings h264;
        h264.crush = options.crush.value_or(0.6);
        h264.useExplicitBitrate = false;
        h264.bitrateMbps = 12;
        h264.keyFrameAuto = true;
        h264.maxKeyFrameInterval = 60;
        h264.profile = plan.tenBit ? VideoProfile::main10 : VideoProfile::automatic;
        plan.h264 = h264;
    }
    return plan;
}

std::optional<VideoWriterSettings> movieWriterSettings(const CLIOptions& options, const MoviePlan& plan) {
    // The command line always writes ProRes as 422 HQ, whatever name chose it.
    return videoSettings(options.codec, plan.outputSize.width, plan.outputSize.height, ProResVariant::hq, plan.h264,
                         std::nullopt);
}

}  // namespace fw::CommandLineTool::detail
