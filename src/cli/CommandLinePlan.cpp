#include "cli/CommandLineTool_internal.h"

namespace fw::CommandLineTool::detail {

namespace fs = std::filesystem;

std::string lastPathComponent(const fs::path& path) {
    fs::path trimmed = path;
    while (!trimmed.has_filename() && trimmed.has_relative_path()) trimmed = trimmed.parent_path();
    return trimmed.filename().string();
}

std::string escapedControls(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // C1 controls (U+0080 to U+009F) are two bytes in UTF-8: 0xC2, then 0x80 to 0x9F.
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if (c1) {
            const auto code = static_cast<unsigned char>(text[++i]);
            result += "\\u00";
            result += kHex[code >> 4];
            result += kHex[code & 0xF];
        } else if (byte == '\n') {
            result += "\\n";
        } else if (byte == '\r') {
            result += "\\r";
        } else if (byte == '\t') {
            result += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            result += "\\x";
            result += kHex[byte >> 4];
            result += kHex[byte & 0xF];
        } else {
            result += static_cast<char>(byte);
        }
    }
    return result;
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
