#include "model/StoredJson.h"

#include "platform/core/AtomicFile.h"

#include <algorithm>
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
    json::FileContents contents = json::readFile(file, kMostListFileBytes);
    if (contents.value.is_array()) return {std::move(contents.value), false};
    return {Json::array(), contents.state != json::FileContents::State::absent};
}

bool setAsideBeforeWriting(const std::filesystem::path& file, std::vector<StoredFileReport>& reports) {
    SetAside setAside = setAsideUnreadable(file);
    if (setAside.kept) {
        reports.push_back({StoredFileReport::Kind::setAside, file, std::move(*setAside.kept), {}, {}});
        return true;
    }
    if (nothingStoredAt(file)) return true;
    reports.push_back({StoredFileReport::Kind::notSetAside, file, {}, std::move(setAside.reason), {}});
    return false;
}

bool holdsListOf(std::string_view bytes, bool (*isRecord)(const Json& element)) {
    const std::optional<Json> list = json::parseStoredBytes(bytes);
    return list && list->is_array() && std::ranges::all_of(*list, isRecord);
}

std::optional<StoredFileReport> writeJsonFile(const std::filesystem::path& file, const Json& value, StoredContent own) {
    auto failure = writeStoredFile(file, json::dump(value), own);
    if (!failure) return std::nullopt;
    return StoredFileReport{StoredFileReport::Kind::writeFailed, file, {}, std::move(*failure), {}};
}

}  // namespace fw::stored
