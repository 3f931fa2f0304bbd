#include "pipeline/FFmpegSource.h"

#include "platform/core/ChildProcess.h"
#include "platform/core/NumberText.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace fw::FFmpegSource {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLongestProbeAnswer = 1024;

bool isExecutableFile(const fs::path& path) {
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A decimal number with nothing around it (parseNumber also takes blanks).
std::optional<double> strictNumber(std::string_view text) {
    if (text.empty() || trimmed(text).size() != text.size()) return std::nullopt;
    return parseNumber(text);
}

}  // namespace

std::optional<fs::path> helperPath() {
    if (const char* configured = std::getenv("FW_DECODE_HELPER"); configured && isExecutableFile(configured))
        return fs::path(configured);
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path beside = program.parent_path() / "fwdecode";
        if (isExecutableFile(beside)) return beside;
    }
    return std::nullopt;
}

std::optional<ProbeInfo> parseProbeLine(std::string_view text) {
    const auto fields = split(trimmed(text), ' ');
    if (fields.size() != 5) return std::nullopt;
    const auto size = split(fields[0], 'x');
    if (size.size() != 2) return std::nullopt;
    const auto width = parseInteger(size[0]);
    const auto height = parseInteger(size[1]);
    const auto fps = strictNumber(fields[1]);
    const auto duration = strictNumber(fields[2]);
    const auto reserved1 = parseInteger(fields[3]);
    const auto reserved2 = parseInteger(fields[4]);
    if (!width || !height || !fps || !duration || !reserved1 || !reserved2) return std::nullopt;
    if (*width < 1 || *height < 1) return std::nullopt;
    return ProbeInfo{*width, *height, *fps, *duration, *reserved1, *reserved2};
}

std::optional<ProbeInfo> probe(const fs::path& source, std::chrono::milliseconds timeLimit,
                               const ChildProcess::Clock& clock) {
    const auto helper = helperPath();
    if (!helper) return std::nullopt;
    try {
        ChildProcess process(*helper, {"--probe", source.string()}, clock);
        const auto deadline = process.now() + timeLimit;
        auto left = [&] {
            return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - process.now()),
                            std::chrono::milliseconds(0));
        };
        std::string answer;
        std::uint8_t chunk[256];
        while (const std::size_t count = process.read(chunk, left())) {
            answer.append(reinterpret_cast<const char*>(chunk), count);
            if (answer.size() > kLongestProbeAnswer) return std::nullopt;
        }
        const auto status = process.wait(left());
        if (status != 0) return std::nullopt;
        return parseProbeLine(answer);
    } catch (const std::exception&) {
        return std::nullopt;  // it could not start, or did not answer in time; the destructor kills it
    }
}

}  // namespace fw::FFmpegSource
