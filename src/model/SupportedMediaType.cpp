#include "model/SupportedMediaType.h"

#include <algorithm>

namespace fw {

namespace {
template <std::size_t N>
bool contains(const std::array<std::string_view, N>& set, std::string_view extension) {
    return !extension.empty() && std::find(set.begin(), set.end(), extension) != set.end();
}
}  // namespace

std::string SupportedMediaType::lowercasedExtension(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    if (!extension.empty() && extension.front() == '.') extension.erase(0, 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

bool SupportedMediaType::isSupportedExtension(std::string_view extension) {
    return contains(fileExtensions, extension);
}

bool SupportedMediaType::isStillImageExtension(std::string_view extension) {
    return contains(stillImageExtensions, extension);
}

bool SupportedMediaType::isCameraRawExtension(std::string_view extension) {
    return contains(cameraRawExtensions, extension);
}

bool SupportedMediaType::isSupported(const std::filesystem::path& path) {
    return isSupportedExtension(lowercasedExtension(path));
}

bool SupportedMediaType::isStillImage(const std::filesystem::path& path) {
    return isStillImageExtension(lowercasedExtension(path));
}

bool SupportedMediaType::isCameraRaw(const std::filesystem::path& path) {
    return isCameraRawExtension(lowercasedExtension(path));
}

}  // namespace fw
