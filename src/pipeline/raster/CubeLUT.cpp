#include "pipeline/raster/CubeLUT.h"

#include "platform/core/NumberText.h"
#include "platform/core/UnicodeSpace.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace fw {

namespace {

// --- text helpers for the .cube reader ---------------------------------------

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

std::vector<float> numbers(const std::vector<std::string_view>& pieces, std::size_t first) {
    std::vector<float> values;
    for (std::size_t i = first; i < pieces.size(); ++i)
        if (auto v = parseNumber(pieces[i])) values.push_back(static_cast<float>(*v));
    return values;
}

}  // namespace

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
        std::string_view line = fw::text::trimHorizontalSpace(raw);
        if (line.empty() || line.front() == '#') return;
        if (startsWithUpper(line, "LUT_3D_SIZE")) {
            auto pieces = words(line);
            auto parsed = parseInteger(pieces.back());
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
        if (startsWithUpper(line, "TITLE") || startsWithUpper(line, "DOMAIN_") || startsWithUpper(line, "LUT_")) return;
        auto v = numbers(words(line), 0);
        if (v.size() == 3) {
            values.insert(values.end(), v.begin(), v.end());
            values.push_back(1.0f);
        }
    };
    while (i < text.size()) {
        std::size_t breakLength = fw::text::lineBreakAt(text, i);
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

}  // namespace fw
