#include "pipeline/Filters.h"

#include "platform/core/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace fw {

namespace {

// --- text helpers for the .cube reader ---------------------------------------

// Length of the line break starting at text[i] (LF, VT, FF, CR, CR LF, NEL,
// U+2028, U+2029 in UTF-8), or 0 when there is none.
std::size_t lineBreakLength(std::string_view text, std::size_t i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') return (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    if (c == '\n' || c == '\v' || c == '\f') return 1;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) return 2;
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80) {
        unsigned char d = static_cast<unsigned char>(text[i + 2]);
        if (d == 0xA8 || d == 0xA9) return 3;
    }
    return 0;
}

// Length of the blank (space, tab or another Unicode space separator) at
// text[i], or 0.
std::size_t blankLength(std::string_view text, std::size_t i) {
    auto at = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    unsigned char c = at(i);
    if (c == ' ' || c == '\t') return 1;
    if (c == 0xC2 && at(i + 1) == 0xA0) return 2;                         // U+00A0
    if (c == 0xE1 && at(i + 1) == 0x9A && at(i + 2) == 0x80) return 3;    // U+1680
    if (c == 0xE2 && at(i + 1) == 0x80 && (at(i + 2) <= 0x8A || at(i + 2) == 0xAF) && at(i + 2) >= 0x80)
        return 3;                                                          // U+2000..U+200A, U+202F
    if (c == 0xE2 && at(i + 1) == 0x81 && at(i + 2) == 0x9F) return 3;    // U+205F
    if (c == 0xE3 && at(i + 1) == 0x80 && at(i + 2) == 0x80) return 3;    // U+3000
    return 0;
}

std::string_view trimBlanks(std::string_view line) {
    std::size_t start = 0;
    while (start < line.size()) {
        std::size_t n = blankLength(line, start);
        if (n == 0) break;
        start += n;
    }
    line.remove_prefix(start);
    // Trailing blanks: scan forward, remembering where the last non-blank ended.
    std::size_t end = 0, i = 0;
    while (i < line.size()) {
        std::size_t n = blankLength(line, i);
        if (n == 0) {
            ++i;
            end = i;
        } else {
            i += n;
        }
    }
    return line.substr(0, end);
}

// Words separated by runs of spaces or tabs. Tabs separate too: many LUT
// writers put tabs between the numbers of a data line.
std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) result.push_back(line.substr(start, i - start));
    }
    return result;
}

bool startsWithUpper(std::string_view line, std::string_view keyword) {
    if (line.size() < keyword.size()) return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        char c = line[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != keyword[i]) return false;
    }
    return true;
}

// An optional sign, then decimal digits only, within 64 bits.
std::optional<std::int64_t> strictInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t magnitude = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (magnitude > kMax + 1) return std::nullopt;
        return magnitude == kMax + 1 ? std::numeric_limits<std::int64_t>::min()
                                     : -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > kMax) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

std::vector<float> numbers(const std::vector<std::string_view>& pieces, std::size_t first) {
    std::vector<float> values;
    for (std::size_t i = first; i < pieces.size(); ++i)
        if (auto v = parseNumber(pieces[i])) values.push_back(static_cast<float>(*v));
    return values;
}

}  // namespace

std::string_view rawValue(FilterCorner corner) {
    switch (corner) {
        case FilterCorner::topLeft: return "Top Left";
        case FilterCorner::topRight: return "Top Right";
        case FilterCorner::bottomLeft: return "Bottom Left";
        case FilterCorner::bottomRight: return "Bottom Right";
        case FilterCorner::center: return "Center";
    }
    return "Bottom Right";
}

std::optional<FilterCorner> filterCornerFromRawValue(std::string_view text) {
    for (FilterCorner corner : kAllFilterCorners)
        if (rawValue(corner) == text) return corner;
    return std::nullopt;
}

bool CubeLUT::operator==(const CubeLUT& other) const {
    return dimension == other.dimension && domainMin == other.domainMin && domainMax == other.domainMax &&
           data.size() == other.data.size() &&
           (data.empty() || std::memcmp(data.data(), other.data.data(), data.size() * sizeof(float)) == 0);
}

CubeLUT CubeLUT::parse(std::string_view text) {
    std::int64_t size = 0;
    std::vector<float> values;
    std::array<float, 3> domainMin{0.0f, 0.0f, 0.0f};
    std::array<float, 3> domainMax{1.0f, 1.0f, 1.0f};

    std::size_t lineStart = 0;
    std::size_t i = 0;
    auto handleLine = [&](std::string_view raw) {
        std::string_view line = trimBlanks(raw);
        if (line.empty() || line.front() == '#') return;
        if (startsWithUpper(line, "LUT_3D_SIZE")) {
            auto pieces = words(line);
            auto parsed = strictInteger(pieces.back());
            size = parsed ? *parsed : 0;
            return;
        }
        if (startsWithUpper(line, "LUT_1D_SIZE")) throw ParseError::unsupported1D();
        if (startsWithUpper(line, "DOMAIN_MIN") || startsWithUpper(line, "DOMAIN_MAX")) {
            auto v = numbers(words(line), 1);
            if (v.size() == 3) {
                auto& target = startsWithUpper(line, "DOMAIN_MIN") ? domainMin : domainMax;
                target = {v[0], v[1], v[2]};
            }
            return;
        }
        if (startsWithUpper(line, "LUT_3D_INPUT_RANGE")) {
            auto v = numbers(words(line), 1);
            if (v.size() == 2) {
                domainMin = {v[0], v[0], v[0]};
                domainMax = {v[1], v[1], v[1]};
            }
            return;
        }
        if (startsWithUpper(line, "TITLE") || startsWithUpper(line, "DOMAIN_") || startsWithUpper(line, "LUT_"))
            return;
        auto v = numbers(words(line), 0);
        if (v.size() == 3) {
            values.insert(values.end(), v.begin(), v.end());
            values.push_back(1.0f);
        }
    };
    while (i < text.size()) {
        std::size_t breakLength = lineBreakLength(text, i);
        if (breakLength == 0) {
            ++i;
            continue;
        }
        handleLine(text.substr(lineStart, i - lineStart));
        i += breakLength;
        lineStart = i;
    }
    if (lineStart < text.size()) handleLine(text.substr(lineStart));

    if (size < 2) throw ParseError::missingSize();
    // size³ × 4 can leave 64 bits; such a count can never match.
    __int128 expectedWide = static_cast<__int128>(size) * size * size * 4;
    std::int64_t expected = expectedWide > std::numeric_limits<std::int64_t>::max()
                                ? std::numeric_limits<std::int64_t>::max()
                                : static_cast<std::int64_t>(expectedWide);
    auto found = static_cast<std::int64_t>(values.size());
    if (found != expected) throw ParseError::sampleCountMismatch(expected, found);
    // A domain that cannot be used (not finite, or a maximum not above its
    // minimum) is skipped like any other line that cannot be understood.
    for (int c = 0; c < 3; ++c)
        if (!std::isfinite(domainMin[c]) || !std::isfinite(domainMax[c]) || !(domainMax[c] > domainMin[c])) {
            domainMin = {0.0f, 0.0f, 0.0f};
            domainMax = {1.0f, 1.0f, 1.0f};
            break;
        }

    CubeLUT lut;
    lut.dimension = size;
    lut.data = std::move(values);
    lut.domainMin = domainMin;
    lut.domainMax = domainMax;
    return lut;
}

PreparedFilters FilterSettings::prepared() const {
    PreparedFilters result;
    if (lutEnabled) result.cube = lut;
    if (watermarkEnabled && watermark) result.watermark = ImageBox{watermark};
    result.watermarkOpacity = watermarkOpacity;
    result.watermarkPosition = watermarkPosition;
    result.timecode = burnTimecode;
    result.timecodePosition = timecodePosition;
    return result;
}

}  // namespace fw
