#pragma once
// Which files are accepted as sources, decided by file-name extension alone
// (no file-system access), and which of them are still images or camera-RAW
// clips. The sets are compile-time constants: lower case, without the dot,
// and disjoint.
// Thread-safety: constants and pure functions, safe from any thread.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace fw {

struct SupportedMediaType {
    static constexpr std::array<std::string_view, 31> audioVisualExtensions{
        "mov", "mp4",  "m4v", "m4a", "qt",   "mpg", "mpeg", "mpe", "m2v", "ts",  "m2t",
        "mts", "m2ts", "avi", "mkv", "webm", "3gp", "3g2",  "dv",  "mxf", "wmv", "flv",
        "ogv", "asf",  "aac", "mp3", "wav",  "bwf", "aiff", "aif", "caf"};
    static constexpr std::array<std::string_view, 10> stillImageExtensions{"png",  "jpg", "jpeg", "jpe",  "jfif",
                                                                           "tiff", "tif", "heic", "heif", "bmp"};
    static constexpr std::array<std::string_view, 4> cameraRawExtensions{"braw", "r3d", "ari", "arx"};

    // The three sets together (45 extensions).
    static constexpr std::array<std::string_view, 45> fileExtensions = [] {
        std::array<std::string_view, 45> all{};
        std::size_t i = 0;
        for (auto e : audioVisualExtensions) all[i++] = e;
        for (auto e : stillImageExtensions) all[i++] = e;
        for (auto e : cameraRawExtensions) all[i++] = e;
        return all;
    }();

    // The path's extension lower-cased (ASCII) and without the dot; empty when
    // the last component has none ("clip", ".hidden").
    static std::string lowercasedExtension(const std::filesystem::path& path);

    // Membership of an already lower-cased extension.
    static bool isSupportedExtension(std::string_view extension);
    static bool isStillImageExtension(std::string_view extension);
    static bool isCameraRawExtension(std::string_view extension);

    static bool isSupported(const std::filesystem::path& path);
    static bool isStillImage(const std::filesystem::path& path);
    static bool isCameraRaw(const std::filesystem::path& path);
};

}  // namespace fw
