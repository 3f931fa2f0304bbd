#include "jobs/OutputNaming.h"

#include <array>
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

}  // namespace fw::OutputNaming
