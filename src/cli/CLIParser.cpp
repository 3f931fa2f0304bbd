#include "cli/CLIParser.h"

#include "platform/core/NumberText.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace fw {

namespace {

namespace fs = std::filesystem;

// The quotation marks are U+2018 and U+2019, the dash U+2013.
constexpr std::string_view kSizeMessage = "--size expects WxH, e.g. 1920x1080";
constexpr std::string_view kCrushMessage = "--crush expects a number 0.0\u20131.0";

std::string curlyQuoted(std::string_view text) { return "\u2018" + std::string(text) + "\u2019"; }

std::string lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

// Relative paths resolve against the current working directory. current_path
// is only asked when the path is relative, and an unreadable working directory
// leaves the path as typed (the encoder then reports it missing).
fs::path fileLocation(std::string_view word) {
    fs::path path(word);
    if (path.is_absolute()) return path;
    std::error_code ec;
    fs::path base = fs::current_path(ec);
    return ec ? path : base / path;
}

std::optional<OutputCodec> codecFromName(std::string_view name) {
    static constexpr std::pair<std::string_view, OutputCodec> kNames[] = {{"h264", OutputCodec::h264},
                                                                          {"h.264", OutputCodec::h264},
                                                                          {"avc", OutputCodec::h264},
                                                                          {"hevc", OutputCodec::hevc},
                                                                          {"h265", OutputCodec::hevc},
                                                                          {"h.265", OutputCodec::hevc},
                                                                          {"hevcalpha", OutputCodec::hevcAlpha},
                                                                          {"hevc-alpha", OutputCodec::hevcAlpha},
                                                                          {"prores", OutputCodec::proRes},
                                                                          {"prores4444", OutputCodec::proRes},
                                                                          {"4444", OutputCodec::proRes},
                                                                          {"hap", OutputCodec::hap},
                                                                          {"hapq", OutputCodec::hapQ},
                                                                          {"hap-q", OutputCodec::hapQ},
                                                                          {"dxv", OutputCodec::dxv2},
                                                                          {"dxv2", OutputCodec::dxv2},
                                                                          {"dxv3", OutputCodec::dxv3},
                                                                          {"dxv3-alpha", OutputCodec::dxv3},
                                                                          {"dxv3alpha", OutputCodec::dxv3},
                                                                          {"gif", OutputCodec::gif},
                                                                          {"png", OutputCodec::png},
                                                                          {"jpeg", OutputCodec::jpeg},
                                                                          {"jpg", OutputCodec::jpeg},
                                                                          {"heic", OutputCodec::heic}};
    const std::string lower = lowercased(name);
    for (const auto& [known, codec] : kNames)
        if (known == lower) return codec;
    return std::nullopt;
}

std::optional<std::pair<std::int64_t, std::int64_t>> parseSize(std::string_view text) {
    const std::string lower = lowercased(text);
    std::vector<std::string_view> pieces;
    std::string_view rest = lower;
    while (!rest.empty()) {
        auto cut = rest.find('x');
        auto piece = rest.substr(0, cut);
        if (!piece.empty()) pieces.push_back(piece);
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    if (pieces.size() != 2) return std::nullopt;
    auto width = parseInteger(pieces[0]);
    auto height = parseInteger(pieces[1]);
    if (!width || !height || *width < 1 || *height < 1) return std::nullopt;
    return std::pair{*width, *height};
}

// A floating-point number, locale-independent; "nan" parses and is then out of range.
std::optional<double> parseCrush(std::string_view text) {
    std::string_view number = text;
    if (!number.empty() && number.front() == '+') {
        number.remove_prefix(1);
        if (!number.empty() && number.front() == '-') return std::nullopt;
    }
    double value = 0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || end != number.data() + number.size() || number.empty()) return std::nullopt;
    if (!(value >= 0.0 && value <= 1.0)) return std::nullopt;
    return value;
}

}  // namespace

CLIParseResult CLIParser::parse(const std::vector<std::string>& arguments) {
    CLIOptions options;
    const std::size_t count = arguments.size();
    std::size_t index = 1;
    // The value of an option is the next word, whatever it is.
    auto value = [&]() -> const std::string* { return index + 1 < count ? &arguments[index + 1] : nullptr; };

    while (index < count) {
        const std::string& word = arguments[index];
        if (word == "--encode") {
            index += 1;
        } else if (word == "--input") {
            auto path = value();
            if (!path) return CLIError{"--input needs a path"};
            options.inputs.push_back(fileLocation(*path));
            index += 2;
        } else if (word == "--codec") {
            auto name = value();
            if (!name) return CLIError{"--codec needs a value"};
            auto codec = codecFromName(*name);
            if (!codec) return CLIError{"unknown codec " + curlyQuoted(*name)};
            options.codec = *codec;
            const std::string lower = lowercased(*name);
            if (lower == "dxv3-alpha" || lower == "dxv3alpha") options.alpha = true;
            index += 2;
        } else if (word == "--output") {
            auto path = value();
            if (!path) return CLIError{"--output needs a directory"};
            options.outputDirectory = fileLocation(*path);
            index += 2;
        } else if (word == "--size") {
            auto text = value();
            auto size = text ? parseSize(*text) : std::nullopt;
            if (!size) return CLIError{std::string(kSizeMessage)};
            options.width = size->first;
            options.height = size->second;
            index += 2;
        } else if (word == "--crush") {
            auto text = value();
            auto crush = text ? parseCrush(*text) : std::nullopt;
            if (!crush) return CLIError{std::string(kCrushMessage)};
            options.crush = *crush;
            index += 2;
        } else if (word == "--ten-bit" || word == "--10bit") {
            options.tenBit = true;
            index += 1;
        } else if (word == "--alpha") {
            options.alpha = true;
            index += 1;
        } else if (word == "--dxv-hq" || word == "--hq") {
            options.dxvHighQuality = true;
            index += 1;
        } else if (word.starts_with("--")) {
            return CLIError{"unknown option " + curlyQuoted(word)};
        } else {
            options.inputs.push_back(fileLocation(word));
            index += 1;
        }
    }

    if (options.inputs.empty()) return CLIError{"no input files given"};
    if (!isProducible(options.codec))
        return CLIError{"codec " + curlyQuoted(rawValue(options.codec)) + " can\u2019t be produced"};
    return options;
}

}  // namespace fw
