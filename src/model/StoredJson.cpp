#include "model/StoredJson.h"

#include "platform/core/AtomicFile.h"

#include <system_error>

namespace fw::stored {

Uuid requiredUuid(const Json& object, std::string_view key) {
    auto text = json::required<std::string>(object, key);
    auto id = Uuid::parse(text);
    if (!id) throw JsonDecodeError("key \"" + std::string(key) + "\": not a UUID");
    return *id;
}

Date requiredDate(const Json& object, std::string_view key) {
    return dateFromReferenceSeconds(json::required<double>(object, key));
}

Json encodeDate(Date date) { return secondsSinceReferenceDate(date); }

Date storableNow() { return dateFromReferenceSeconds(secondsSinceReferenceDate(std::chrono::system_clock::now())); }

void appendUnreadable(Json& array, const std::vector<Json>& unreadable) {
    for (const Json& element : unreadable) array.push_back(element);
}

ListFile readListFile(const std::filesystem::path& file) {
    json::FileContents contents = json::readFile(file);
    if (contents.value.is_array()) return {std::move(contents.value), false};
    return {Json::array(), contents.state != json::FileContents::State::absent};
}

bool setAsideBeforeWriting(const std::filesystem::path& file) {
    if (setAsideUnreadable(file)) return true;
    std::error_code error;
    return !std::filesystem::exists(file, error) && !error;
}

bool writeJsonFile(const std::filesystem::path& file, const Json& value) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    try {
        writeFileAtomically(file, json::dump(value));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace fw::stored
