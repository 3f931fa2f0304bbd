#include "cli/CommandLineTool_internal.h"

namespace fw::CommandLineTool::detail {

namespace fs = std::filesystem;

std::string lastPathComponent(const fs::path& path) {
    fs::path trimmed = path;
    while (!trimmed.has_filename() && trimmed.has_relative_path()) trimmed = trimmed.parent_path();
    return trimmed.filename().string();
}

ExportConfiguration exportConfiguration(const CLIOptions& options) {
    ExportConfiguration configuration;
    configuration.codec = options.codec;
    // Whatever name chose ProRes ("prores4444", "4444"), and also with "--alpha".
    configuration.proResVariant = ProResVariant::hq;
    configuration.h264.crush = options.crush.value_or(0.6);
    configuration.resize.isEnabled = options.width && options.height;
    if (configuration.resize.isEnabled) {
        configuration.resize.width = *options.width;
        configuration.resize.height = *options.height;
    }
    configuration.resize.mode = ResizeMode::aspect;
    configuration.tenBit = options.tenBit;
    // "--alpha" is read by the DXV encoders only. Elsewhere it would change
    // what the command line has always made: ProRes would become 4444, HEVC
    // would become the HEVC + Alpha codec that cannot be produced, Hap would
    // become Hap Alpha.
    configuration.alpha = options.alpha && usesDXVEncoder(options.codec);
    configuration.dxvHighQuality = options.dxvHighQuality;
    return configuration;
}

}  // namespace fw::CommandLineTool::detail
