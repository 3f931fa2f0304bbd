#include "coordinator/CaptionSidecar.h"

#include "platform/core/AtomicFile.h"

#include <QByteArrayView>

#include <system_error>

namespace fw::CaptionSidecar {

namespace fs = std::filesystem;

fs::path location(const fs::path& output) { return fs::path(output).replace_extension("vtt"); }

std::optional<fs::path> write(const MetadataSettings& metadata, const fs::path& output) {
    if (!metadata.enabled || !metadata.captionsEnabled || !metadata.captionSourceURL) return std::nullopt;
    std::error_code error;
    if (!fs::is_regular_file(*metadata.captionSourceURL, error)) return std::nullopt;
    std::string subRip;
    if (!readWholeFile(*metadata.captionSourceURL, subRip)) return std::nullopt;
    if (!QByteArrayView(subRip.data(), static_cast<qsizetype>(subRip.size())).isValidUtf8()) return std::nullopt;
    const fs::path sidecar = location(output);
    try {
        writeFileAtomically(sidecar, CaptionConverter::srtToVTT(subRip));
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    return sidecar;
}

}  // namespace fw::CaptionSidecar
