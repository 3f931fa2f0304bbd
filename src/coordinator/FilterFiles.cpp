#include "coordinator/FilterFiles.h"

#include "pipeline/WatermarkImage.h"
#include "platform/core/AtomicFile.h"

#include <QByteArrayView>

#include <system_error>

namespace fw::FilterFiles {

namespace fs = std::filesystem;

std::variant<CubeLUT, Problem> loadLut(const fs::path& file) {
    std::error_code error;
    std::string text;
    if (!fs::is_regular_file(file, error) || !readWholeFile(file, text)) return Problem{Problem::Kind::unreadable};
    if (!QByteArrayView(text.data(), static_cast<qsizetype>(text.size())).isValidUtf8())
        return Problem{Problem::Kind::notText};
    try {
        return CubeLUT::parse(text);
    } catch (const CubeLUT::ParseError& parseError) {
        switch (parseError.kind()) {
        case CubeLUT::ParseError::Kind::missingSize: return Problem{Problem::Kind::missingSize};
        case CubeLUT::ParseError::Kind::unsupported1D: return Problem{Problem::Kind::unsupported1D};
        case CubeLUT::ParseError::Kind::sampleCountMismatch:
            // The parser counts four floats per row.
            return Problem{Problem::Kind::sampleCountMismatch, parseError.expected() / 4, parseError.found() / 4};
        }
        return Problem{Problem::Kind::unreadable};
    }
}

std::variant<ImageRef, Problem> loadWatermark(const fs::path& file) {
    std::error_code error;
    if (!fs::is_regular_file(file, error)) return Problem{Problem::Kind::unreadable};
    if (ImageRef image = loadWatermarkImage(file)) return image;
    return Problem{Problem::Kind::notAnImage};
}

}  // namespace fw::FilterFiles
