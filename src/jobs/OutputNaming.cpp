#include "jobs/OutputNaming.h"

#include "model/OutputFormat.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ctime>

namespace fw::OutputNaming {

namespace fs = std::filesystem;

std::string dateString(Date when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::array<char, 16> text{};
    // The "C"-style numeric fields of strftime do not depend on the locale.
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%d", &local);
    return std::string(text.data(), length);
}

std::string sourceName(const fs::path& source) { return source.filename().replace_extension().string(); }

fs::path folder(const fs::path& source, const std::optional<fs::path>& outputDirectory) {
    if (outputDirectory) return *outputDirectory;
    return source.parent_path();
}

namespace {

fs::path compose(const fs::path& folder, const std::string& stem, std::string_view extension) {
    std::string name = stem;
    name += '.';
    name += extension;
    return folder / name;
}

}  // namespace

fs::path destination(const fs::path& source, const ExportConfiguration& configuration, IntSize nameSize,
                     const std::optional<fs::path>& outputDirectory, Date now) {
    const std::string stem = configuration.naming.stem(sourceName(source), fileNameSuffix(configuration.codec),
                                                       nameSize.width, nameSize.height, dateString(now));
    return compose(folder(source, outputDirectory), stem, fileExtension(configuration.codec));
}

fs::path audioDestination(const fs::path& source, const ExportConfiguration& configuration,
                          const std::optional<fs::path>& outputDirectory, Date now) {
    const std::string stem = configuration.naming.stem(sourceName(source), kAudioOnlyCodecText, 0, 0, dateString(now));
    return compose(folder(source, outputDirectory), stem, "m4a");
}

fs::path stitchDestination(const fs::path& firstClip, const ExportConfiguration& configuration, IntSize size,
                           const std::optional<fs::path>& outputDirectory, Date now) {
    const std::string stem = configuration.naming.stem("stitched", fileNameSuffix(configuration.codec), size.width,
                                                       size.height, dateString(now));
    return compose(folder(firstClip, outputDirectory), stem, fileExtension(configuration.codec));
}

fs::path imageSequenceFolder(const fs::path& source, OutputCodec codec,
                             const std::optional<fs::path>& outputDirectory) {
    std::string name = sourceName(source);
    name += '_';
    name += fileNameSuffix(codec);
    return folder(source, outputDirectory) / name;
}

namespace {

// The name without the number a second output of the same name gets ("-2").
std::string withoutNumber(const fs::path& file) {
    std::string stem = file.stem().string();
    const auto dash = stem.rfind('-');
    if (dash != std::string::npos && dash + 1 < stem.size() &&
        std::all_of(stem.begin() + static_cast<std::ptrdiff_t>(dash) + 1, stem.end(),
                    [](unsigned char c) { return std::isdigit(c) != 0; }))
        stem.erase(dash);
    return stem + file.extension().string();
}

}  // namespace

bool isDefaultOutputName(const fs::path& file, const fs::path& source) {
    const std::string name = withoutNumber(file.filename());
    const auto named = [&](const fs::path& destination) { return destination.filename() == name; };
    // Neither template reads the size or the date.
    const Date anyDate{};
    for (const OutputCodec codec : allCases<OutputCodec>()) {
        ExportConfiguration configuration;
        configuration.codec = codec;
        if (named(destination(source, configuration, {}, std::nullopt, anyDate))) return true;
    }
    for (const auto codec : allCases<ProxySettings::Codec>())
        if (named(destination(source, ProxySettings{codec}.configuration(), {}, std::nullopt, anyDate))) return true;
    return named(audioDestination(source, ExportConfiguration{}, std::nullopt, anyDate));
}

}  // namespace fw::OutputNaming
