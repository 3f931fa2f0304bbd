#pragma once
// A parsed 3D colour look-up table in the .cube text format: the value the
// user's filters keep and the colour cube (ColorCube.h) is made from.
// Thread-safety: a plain value; parse is a pure function.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace fw {

// A parsed 3D colour look-up table in the .cube text format.
struct CubeLUT {
    // Edge length N of the cube, at least 2.
    std::int64_t dimension = 0;
    // N³ entries of (red, green, blue, 1.0) in file order (red varies fastest).
    std::vector<float> data;
    // Input range of each channel (red, green, blue): an input value v reads the
    // table at (v − domainMin) / (domainMax − domainMin). Files without a
    // DOMAIN_MIN/DOMAIN_MAX line, or with one that cannot be used (a maximum
    // not above its minimum), use 0 and 1.
    std::array<float, 3> domainMin{0.0f, 0.0f, 0.0f};
    std::array<float, 3> domainMax{1.0f, 1.0f, 1.0f};

    class ParseError {
    public:
        enum class Kind {
            sampleCountMismatch,  // expected() and found() count float values (four per entry)
            missingSize,
            unsupported1D,
        };
        static ParseError sampleCountMismatch(std::int64_t expected, std::int64_t found) {
            return ParseError(Kind::sampleCountMismatch, expected, found);
        }
        static ParseError missingSize() { return ParseError(Kind::missingSize, 0, 0); }
        static ParseError unsupported1D() { return ParseError(Kind::unsupported1D, 0, 0); }

        Kind kind() const { return kind_; }
        std::int64_t expected() const { return expected_; }
        std::int64_t found() const { return found_; }
        bool operator==(const ParseError&) const = default;

    private:
        ParseError(Kind kind, std::int64_t expected, std::int64_t found)
            : kind_(kind), expected_(expected), found_(found) {}
        Kind kind_;
        std::int64_t expected_;
        std::int64_t found_;
    };

    // Reads the text of a .cube file. Throws ParseError; it carries no message
    // (the LUT picker treats any failure as no selection). Unknown lines are skipped.
    static CubeLUT parse(std::string_view text);

    // Same dimension, domain and byte-identical data.
    bool operator==(const CubeLUT& other) const;
};

}  // namespace fw
