#include "model/MovieMetadata.h"

#include "model/UnicodeText.h"
#include "platform/core/NumberText.h"
#include "platform/core/UnicodeSpace.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace fw {

namespace {

bool hasText(const std::optional<std::string>& text) { return text && !text->empty(); }

}  // namespace

// -------------------------------------------------------------- MovieMetadata

bool MovieMetadata::hasContainerMetadata() const {
    return hasText(title) || hasText(artist) || hasText(comment) || hasText(copyright) || hasText(descriptionText);
}

std::vector<MovieMetadata::Item> MovieMetadata::metadataItems() const {
    std::vector<Item> items;
    auto add = [&](KeySpace keySpace, Key key, const std::optional<std::string>& text) {
        if (hasText(text)) items.push_back(Item{keySpace, key, *text});
    };
    add(KeySpace::common, Key::title, title);
    add(KeySpace::common, Key::artist, artist);
    add(KeySpace::common, Key::description, descriptionText);
    add(KeySpace::common, Key::copyrights, copyright);
    add(KeySpace::quickTimeUserData, Key::comment, comment);
    return items;
}

std::string_view tagName(MovieMetadata::Key key) {
    switch (key) {
    case MovieMetadata::Key::title: return "title";
    case MovieMetadata::Key::artist: return "artist";
    case MovieMetadata::Key::description: return "description";
    case MovieMetadata::Key::copyrights: return "copyright";
    case MovieMetadata::Key::comment: return "comment";
    }
    return "";
}

std::optional<MovieMetadata> MetadataSettings::movie() const {
    if (!enabled) return std::nullopt;
    MovieMetadata metadata;
    metadata.title = title;
    metadata.artist = artist;
    metadata.comment = comment;
    metadata.copyright = copyright;
    metadata.descriptionText = descriptionText;
    if (writeTimecodeTrack) metadata.startTimecode = startTimecode;
    metadata.timecodeFrameRate = timecodeFrameRate;
    return metadata;
}

// -------------------------------------------------------------- TimecodeTrack

namespace TimecodeTrack {

std::optional<FormatDescription> formatDescription(double frameRate) {
    double rate = frameRate > 0 && std::isfinite(frameRate) ? frameRate : 30.0;
    double rounded = std::round(rate);
    if (rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) return std::nullopt;
    auto quanta = std::max<std::int32_t>(static_cast<std::int32_t>(rounded), 1);
    FormatDescription description;
    description.frameDuration = MediaTime(1, quanta);
    description.frameQuanta = static_cast<std::uint32_t>(quanta);
    description.flags = 0;
    return description;
}

std::optional<Sample> sampleBuffer(std::int64_t startFrames, MediaTime duration, const FormatDescription& format) {
    if (startFrames < std::numeric_limits<std::int32_t>::min() ||
        startFrames > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(startFrames));
    Sample sample;
    sample.payload = {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
                      static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
    sample.duration = duration;
    sample.presentationTime = MediaTime::zero();
    sample.format = format;
    return sample;
}

}  // namespace TimecodeTrack

// ----------------------------------------------------------- CaptionConverter

namespace CaptionConverter {

namespace {

// An optional sign and one or more ASCII digits within the signed 64-bit range.
bool isCounterLine(std::string_view line) { return parseInteger(text::trimHorizontalSpace(line)).has_value(); }

// Lines of `text` with every kind of line end (LF, CRLF, lone CR) taken as one.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        lines.push_back(text.substr(begin, i - begin));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        begin = i + 1;
    }
    lines.push_back(text.substr(begin));
    return lines;
}

void appendCue(std::string& out, std::vector<std::string_view> lines) {
    if (!lines.empty() && isCounterLine(lines.front())) lines.erase(lines.begin());
    if (lines.empty()) return;
    if (lines.front().find("-->") == std::string_view::npos) return;
    std::string timing(lines.front());
    std::replace(timing.begin(), timing.end(), ',', '.');
    std::string joined;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (i > 1) joined += '\n';
        joined += lines[i];
    }
    std::string cueText = trimmingWhitespaceAndNewlines(joined);
    if (cueText.empty()) return;
    out += timing;
    out += '\n';
    out += cueText;
    out += "\n\n";
}

}  // namespace

std::string srtToVTT(std::string_view subRip) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (subRip.starts_with(kByteOrderMark)) subRip.remove_prefix(kByteOrderMark.size());
    std::string out = "WEBVTT\n\n";
    // A cue is a run of lines with something on them; any number of lines that
    // are empty or hold only horizontal space separates cues.
    std::vector<std::string_view> block;
    for (std::string_view line : splitLines(subRip)) {
        if (!text::trimHorizontalSpace(line).empty()) {
            block.push_back(line);
            continue;
        }
        if (!block.empty()) appendCue(out, block);
        block.clear();
    }
    if (!block.empty()) appendCue(out, block);
    return out;
}

}  // namespace CaptionConverter

}  // namespace fw
