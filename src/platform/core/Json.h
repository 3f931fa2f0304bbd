#pragma once
// Strict JSON reading on nlohmann-json: a missing required key or a value of
// the wrong type fails the whole decode with JsonDecodeError, so stored files
// are either read as written or rejected, never half-guessed.
// Thread-safety: stateless functions, safe from any thread.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fw {

using Json = nlohmann::json;

class JsonDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace json {

// Throws JsonDecodeError unless `value` is an object.
const Json& expectObject(const Json& value, std::string_view what = "value");

// Decodes one value of type T, checking its JSON type first.
// Integers accept only JSON integers; doubles accept any JSON number.
template <class T>
T decode(const Json& value, std::string_view key);

// The value at `key`; throws when absent or of the wrong type.
template <class T>
T required(const Json& object, std::string_view key) {
    const auto& obj = expectObject(object);
    auto it = obj.find(key);
    if (it == obj.end()) throw JsonDecodeError("missing key \"" + std::string(key) + "\"");
    return decode<T>(*it, key);
}

// The value at `key`, or nullopt when absent or null; throws on a wrong type.
template <class T>
std::optional<T> optional(const Json& object, std::string_view key) {
    const auto& obj = expectObject(object);
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return std::nullopt;
    return decode<T>(*it, key);
}

// The value at `key`, or `fallback` when absent; throws on a wrong type.
template <class T>
T valueOr(const Json& object, std::string_view key, T fallback) {
    auto v = optional<T>(object, key);
    return v ? std::move(*v) : std::move(fallback);
}

// Compact text. Invalid UTF-8 (file names from foreign disks) is replaced with
// U+FFFD instead of throwing, so one odd name never blocks a save.
std::string dump(const Json& value);

// The deepest nesting of arrays and objects that parse accepts. What this
// program stores nests a dozen levels at most; the limit keeps every walk
// over a parsed value (copying, comparing, writing each recurse once per
// level) far from the end of any thread's stack.
inline constexpr std::size_t kMaximumDepth = 512;

// Parses text; throws JsonDecodeError on anything the parser rejects,
// including a number outside a double's range, and on text nested deeper
// than kMaximumDepth (refused before any value is built).
Json parse(std::string_view text);

// A stored JSON file as read from disk.
struct FileContents {
    enum class State {
        absent,      // no file, or an empty one: nothing to keep
        parsed,      // `value` holds the document
        unreadable,  // bytes that could not be read (readStoredFile: no
                     // regular file, or one over the bound), text parse
                     // refuses, or an object holding one key twice
    };
    State state = State::absent;
    Json value;
};

// Reads (readStoredFile, at most `mostBytes`) and parses `file`. Never
// throws. Unlike parse, a stored document with a key written twice in one
// object (a second one added by hand) is unreadable: neither of the two
// values may be taken silently.
FileContents readFile(const std::filesystem::path& file, std::size_t mostBytes);

// `bytes` read as readFile reads a file: the document, or nullopt where
// readFile finds it unreadable. Each store judges from it whether a file
// holds its own document (StoredContent, AtomicFile.h).
std::optional<Json> parseStoredBytes(std::string_view bytes);

}  // namespace json
}  // namespace fw
