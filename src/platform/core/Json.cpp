#include "platform/core/Json.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/NumberText.h"

#include <cstdint>
#include <set>
#include <system_error>
#include <vector>

namespace fw::json {

namespace {
// Whether arrays and objects nest deeper than `limit` in `text`, in one pass
// that builds nothing. Brackets inside strings do not count. Exact for valid
// JSON; malformed text the parser refuses anyway.
bool nestsDeeperThan(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char c = text[index];
        if (inString) {
            if (c == '\\')
                ++index;  // an escaped quote does not end the string
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return true;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

[[noreturn]] void typeError(std::string_view key, const char* expected, const Json& value) {
    throw JsonDecodeError("key \"" + std::string(key) + "\": expected " + expected + ", found " + value.type_name());
}
}  // namespace

const Json& expectObject(const Json& value, std::string_view what) {
    if (!value.is_object()) throw JsonDecodeError(std::string(what) + " is not an object");
    return value;
}

template <>
bool decode<bool>(const Json& value, std::string_view key) {
    if (!value.is_boolean()) typeError(key, "boolean", value);
    return value.get<bool>();
}

template <>
std::int64_t decode<std::int64_t>(const Json& value, std::string_view key) {
    if (!value.is_number_integer()) typeError(key, "integer", value);
    // Unsigned JSON integers above INT64_MAX would wrap to negative values.
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
        throw JsonDecodeError("key \"" + std::string(key) + "\": integer out of range");
    return value.get<std::int64_t>();
}

template <>
int decode<int>(const Json& value, std::string_view key) {
    auto v = decode<std::int64_t>(value, key);
    if (v < INT32_MIN || v > INT32_MAX) throw JsonDecodeError("key \"" + std::string(key) + "\": integer out of range");
    return static_cast<int>(v);
}

template <>
double decode<double>(const Json& value, std::string_view key) {
    if (!value.is_number()) typeError(key, "number", value);
    return value.get<double>();
}

template <>
float decode<float>(const Json& value, std::string_view key) {
    return static_cast<float>(decode<double>(value, key));
}

template <>
std::string decode<std::string>(const Json& value, std::string_view key) {
    if (!value.is_string()) typeError(key, "string", value);
    return value.get<std::string>();
}

template <>
Json decode<Json>(const Json& value, std::string_view) {
    return value;
}

std::string dump(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

namespace {
Json parseWith(std::string_view text, const Json::parser_callback_t& callback) {
    // The parser itself keeps its own stack, but the value it would build could
    // not be copied, compared or written without recursing once per level.
    if (nestsDeeperThan(text, kMaximumDepth))
        throw JsonDecodeError("nested deeper than " + formatNumber(static_cast<double>(kMaximumDepth)) + " levels");
    try {
        return Json::parse(text.begin(), text.end(), callback);
    } catch (const Json::exception& e) {
        // Not only syntax: a number beyond a double's range ("1e400") is out_of_range.
        throw JsonDecodeError(e.what());
    }
}

// Parses a stored document, refusing an object that holds one key twice
// (compared once unescaped), where the parser would keep the last silently.
Json parseStored(std::string_view text) {
    std::vector<std::set<std::string>> open;  // the keys of each object being read
    bool twice = false;
    Json value = parseWith(text, [&](int, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start)
            open.emplace_back();
        else if (event == Json::parse_event_t::object_end)
            open.pop_back();
        else if (event == Json::parse_event_t::key && !open.back().insert(parsed.get<std::string>()).second)
            twice = true;
        return true;
    });
    if (twice) throw JsonDecodeError("a key written twice in one object");
    return value;
}
}  // namespace

Json parse(std::string_view text) { return parseWith(text, nullptr); }

FileContents readFile(const std::filesystem::path& file, std::size_t mostBytes) {
    const StoredBytes read = readStoredFile(file, mostBytes);
    if (read.state == StoredBytes::State::absent || (read.state == StoredBytes::State::read && read.bytes.empty()))
        return {};
    if (read.state != StoredBytes::State::read) return {FileContents::State::unreadable, {}};
    try {
        return {FileContents::State::parsed, parseStored(read.bytes)};
    } catch (const JsonDecodeError&) {
        return {FileContents::State::unreadable, {}};
    }
}

std::optional<Json> parseStoredBytes(std::string_view bytes) {
    try {
        return parseStored(bytes);
    } catch (const JsonDecodeError&) {
        return std::nullopt;
    }
}

}  // namespace fw::json
