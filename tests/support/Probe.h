#pragma once
// ffprobe's view of a file as JSON, and the fields the tests read from it.

#include "support/TestSupport.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace fw::test {

using Json = nlohmann::json;

// ffprobe's streams and format of the file, plus `extra` options; an empty object on failure.
inline Json probe(const std::filesystem::path& file, const std::vector<std::string>& extra = {}) {
    const std::string text = ffprobeJson(file, extra);
    if (text.empty()) return Json::object();
    return Json::parse(text);
}

// The index-th stream of a type ("video", "audio", "data"), or null.
inline Json streamOf(const Json& probed, const std::string& type, int index = 0) {
    for (const auto& stream : probed.value("streams", Json::array()))
        if (stream.value("codec_type", "") == type && index-- == 0) return stream;
    return nullptr;
}

inline int streamCount(const Json& probed, const std::string& type) {
    int count = 0;
    for (const auto& stream : probed.value("streams", Json::array())) count += stream.value("codec_type", "") == type;
    return count;
}

inline double number(const Json& value) {
    if (value.is_number()) return value.get<double>();
    double parsed = std::nan("");
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        std::from_chars(text.data(), text.data() + text.size(), parsed);
    }
    return parsed;
}

// The values of `keys`, space-separated (missing as "-"): one comparison shows every field that differs.
inline std::string fieldsOf(const Json& object, std::initializer_list<const char*> keys) {
    std::string text;
    for (const char* key : keys) {
        if (!text.empty()) text += ' ';
        const Json& value = object.is_object() && object.contains(key) ? object[key] : Json();
        text += value.is_string() ? value.get<std::string>() : value.is_null() ? "-" : value.dump();
    }
    return text;
}

// The size a player shows, with a quarter-turn display matrix taken into account.
inline std::pair<int, int> displayedSize(const Json& video) {
    int width = video.value("width", 0), height = video.value("height", 0);
    for (const auto& side : video.value("side_data_list", Json::array()))
        if (side.contains("rotation") && std::abs(side["rotation"].get<int>()) % 180 == 90) std::swap(width, height);
    return {width, height};
}

}  // namespace fw::test
