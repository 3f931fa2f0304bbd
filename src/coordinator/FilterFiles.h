#pragma once
// Reads the files the Filters card offers (a .cube colour LUT, a watermark
// picture) once, when the user chooses them, so that the window can keep the
// parsed table or decoded picture and say why a file cannot be used.
// Thread-safety: pure functions over the file named; safe from any thread.

#include "pipeline/Filters.h"

#include <cstdint>
#include <filesystem>
#include <variant>

namespace fw::FilterFiles {

// Why a chosen file cannot be used.
struct Problem {
    enum class Kind {
        unreadable,           // the file cannot be opened or read
        notText,              // a LUT that is not UTF-8 text
        missingSize,          // no usable LUT_3D_SIZE line
        unsupported1D,        // a 1D table
        sampleCountMismatch,  // expectedEntries and foundEntries count table rows
        notAnImage,           // no picture could be decoded
    };
    Kind kind = Kind::unreadable;
    std::int64_t expectedEntries = 0;
    std::int64_t foundEntries = 0;
};

std::variant<CubeLUT, Problem> loadLut(const std::filesystem::path& file);
// The picture as the filters draw it (never null on success).
std::variant<ImageRef, Problem> loadWatermark(const std::filesystem::path& file);

}  // namespace fw::FilterFiles
