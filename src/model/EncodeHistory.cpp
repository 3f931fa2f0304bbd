#include "model/EncodeHistory.h"

#include "model/EncodeResult.h"
#include "model/StoredJson.h"
#include "platform/core/Base64.h"
#include "platform/core/NumberText.h"
#include "platform/core/XdgPaths.h"

#include <sys/stat.h>
#include <algorithm>
#include <array>

namespace fw {

namespace {
std::string lastPathComponent(const std::filesystem::path& path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    auto slash = text.rfind('/');
    if (slash == std::string::npos || text.size() == 1) return text;
    return text.substr(slash + 1);
}

std::optional<std::int64_t> fileSize(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::int64_t>(info.st_size);
}

// A history file of ours, by any build: every record holds its UUID.
bool isHistoryFile(std::string_view bytes) {
    return stored::holdsListOf(bytes, [](const Json& record) {
        const auto id = record.is_object() ? record.find("id") : record.end();
        return id != record.end() && id->is_string() && Uuid::parse(id->get<std::string>()).has_value();
    });
}

// Paths are bytes, and the file is UTF-8 text: a path that is no UTF-8 (a
// Latin-1 name) would read back with U+FFFD. The file then keeps its bytes
// too, in Base64 under the key and "Bytes"; older builds read the text.
bool survivesText(const std::string& path) { return Json::parse(json::dump(Json(path))) == Json(path); }

std::string pathBytes(const Json& text) {
    const auto bytes = base64::decode(json::decode<std::string>(text, "path bytes"));
    if (!bytes) throw JsonDecodeError("path bytes: not Base64");
    return std::string(bytes->begin(), bytes->end());
}
}  // namespace

std::string formatFileSize(std::int64_t bytes) {
    if (bytes == 1) return "1 byte";
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    static constexpr std::array<const char*, 6> kUnits{"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    // Move up while the rounded text would read 1000.0 or more.
    while (unit + 1 < kUnits.size() && value >= 999.95) {
        value /= 1000.0;
        ++unit;
    }
    return formatFixed(value, 1) + " " + kUnits[unit];
}

std::optional<std::string> EncodeRecord::sizeDescription() const {
    if (!fileSizeBytes) return std::nullopt;
    return formatFileSize(*fileSizeBytes);
}

std::string EncodeRecord::damageNote() const {
    return fw::damageNote(
        {concealedSoundSeconds.value_or(0), damagedPictures.value_or(0), leftOutSoundSeconds.value_or(0)});
}

std::vector<std::string> EncodeRecord::outputPaths() const {
    std::vector<std::string> paths = earlierOutputPaths;
    if (outputPath) paths.push_back(*outputPath);
    return paths;
}

Json EncodeRecord::toJson() const {
    Json object = Json::object();
    object["id"] = id.string();
    object["date"] = stored::encodeDate(date);
    object["sourceName"] = sourceName;
    object["outputName"] = outputName;
    object["codec"] = codec;
    object["succeeded"] = succeeded;
    if (message) object["message"] = *message;
    if (fileSizeBytes) object["fileSizeBytes"] = *fileSizeBytes;
    if (outputPath) object["outputPath"] = *outputPath;
    if (outputPath && !survivesText(*outputPath)) object["outputPathBytes"] = base64::encode(*outputPath);
    if (!earlierOutputPaths.empty()) object["earlierOutputPaths"] = earlierOutputPaths;
    if (!std::ranges::all_of(earlierOutputPaths, survivesText)) {
        Json& bytes = object["earlierOutputPathsBytes"] = Json::array();
        for (const auto& path : earlierOutputPaths) bytes.push_back(base64::encode(path));
    }
    if (concealedSoundSeconds) object["concealedSoundSeconds"] = *concealedSoundSeconds;
    if (damagedPictures) object["damagedPictures"] = *damagedPictures;
    if (leftOutSoundSeconds) object["leftOutSoundSeconds"] = *leftOutSoundSeconds;
    return object;
}

EncodeRecord EncodeRecord::fromJson(const Json& value) {
    EncodeRecord record;
    record.id = stored::requiredUuid(value, "id");
    record.date = stored::requiredDate(value, "date");
    record.sourceName = json::required<std::string>(value, "sourceName");
    record.outputName = json::required<std::string>(value, "outputName");
    record.codec = json::required<std::string>(value, "codec");
    record.succeeded = json::required<bool>(value, "succeeded");
    record.message = json::optional<std::string>(value, "message");
    record.fileSizeBytes = json::optional<std::int64_t>(value, "fileSizeBytes");
    record.outputPath = json::optional<std::string>(value, "outputPath");
    if (const auto earlier = json::optional<Json>(value, "earlierOutputPaths")) {
        if (!earlier->is_array()) throw JsonDecodeError("key \"earlierOutputPaths\": expected array");
        for (const auto& path : *earlier)
            record.earlierOutputPaths.push_back(json::decode<std::string>(path, "earlierOutputPaths"));
    }
    if (const auto bytes = json::optional<Json>(value, "outputPathBytes")) record.outputPath = pathBytes(*bytes);
    if (const auto bytes = json::optional<Json>(value, "earlierOutputPathsBytes")) {
        if (!bytes->is_array() || bytes->size() != record.earlierOutputPaths.size())
            throw JsonDecodeError("key \"earlierOutputPathsBytes\": not one for each earlier path");
        std::ranges::transform(*bytes, record.earlierOutputPaths.begin(), pathBytes);
    }
    record.concealedSoundSeconds = json::optional<double>(value, "concealedSoundSeconds");
    record.damagedPictures = json::optional<std::int64_t>(value, "damagedPictures");
    record.leftOutSoundSeconds = json::optional<double>(value, "leftOutSoundSeconds");
    return record;
}

EncodeHistoryStore& EncodeHistoryStore::shared() {
    static EncodeHistoryStore store(xdg::applicationSupportDirectory());
    return store;
}

EncodeHistoryStore::EncodeHistoryStore() = default;

EncodeHistoryStore::EncodeHistoryStore(std::filesystem::path folder) : file_(folder / kFileName) {
    const stored::ListFile file = stored::readListFile(*file_);
    auto list = stored::decodeEach<EncodeRecord>(file.list, &EncodeRecord::fromJson);
    records_ = std::move(list.readable);
    unreadable_ = std::move(list.unreadable);
    unreadableFile_ = file.unreadable;
}

std::vector<EncodeRecord> EncodeHistoryStore::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void EncodeHistoryStore::record(std::string sourceName, const std::optional<std::filesystem::path>& output,
                                std::string codec, bool succeeded, std::optional<std::string> message,
                                const std::vector<std::filesystem::path>& earlierOutputs, const EncodeResult& damage) {
    EncodeRecord entry;
    entry.id = Uuid::random();
    entry.date = stored::storableNow();
    entry.sourceName = std::move(sourceName);
    entry.outputName = output ? lastPathComponent(*output) : "\u2014";
    entry.codec = std::move(codec);
    entry.succeeded = succeeded;
    entry.message = std::move(message);
    if (output) {
        entry.fileSizeBytes = fileSize(*output);
        entry.outputPath = output->string();
    }
    for (const auto& earlier : earlierOutputs) entry.earlierOutputPaths.push_back(earlier.string());
    if (damage.concealedSoundSeconds > 0) entry.concealedSoundSeconds = damage.concealedSoundSeconds;
    if (damage.damagedPictures > 0) entry.damagedPictures = damage.damagedPictures;
    if (damage.leftOutSoundSeconds > 0) entry.leftOutSoundSeconds = damage.leftOutSoundSeconds;

    bool trimmed = false;
    std::vector<StoredFileReport> reports;
    {
        std::lock_guard lock(mutex_);
        records_.insert(records_.begin(), std::move(entry));
        if (records_.size() > kMaximumRecords) {
            records_.resize(kMaximumRecords);
            trimmed = true;
        }
        reports = saveLocked();
    }
    report(reports);
    recordsChanged_.emit();
    if (trimmed) recordsChanged_.emit();
}

void EncodeHistoryStore::clear() {
    std::vector<StoredFileReport> reports;
    {
        std::lock_guard lock(mutex_);
        records_.clear();
        unreadable_.clear();
        reports = saveLocked();
    }
    report(reports);
    recordsChanged_.emit();
}

std::vector<StoredFileReport> EncodeHistoryStore::saveLocked() {
    std::vector<StoredFileReport> reports;
    if (!file_) return reports;
    unsaved_ = true;
    if (setAsideLocked(reports)) {  // else never written over
        Json array = Json::array();
        for (const auto& entry : records_) array.push_back(entry.toJson());
        stored::appendUnreadable(array, unreadable_);
        if (auto failure = stored::writeJsonFile(*file_, array, isHistoryFile))
            reports.push_back(std::move(*failure));
        else
            unsaved_ = false;
    }
    unsavedReports_.follow(reports, !unsaved_, *file_);
    return reports;
}

std::vector<StoredFileReport> EncodeHistoryStore::saveUnsaved() {
    std::vector<StoredFileReport> reports;
    {
        std::lock_guard lock(mutex_);
        if (!unsaved_) return reports;
        reports = saveLocked();
    }
    report(reports);
    std::erase_if(reports, [](const StoredFileReport& each) { return !each.leavesUnsaved(); });
    return reports;
}

bool EncodeHistoryStore::setAsideLocked(std::vector<StoredFileReport>& reports) {
    if (unreadableFile_ && stored::setAsideBeforeWriting(*file_, reports)) unreadableFile_ = false;
    return !unreadableFile_;
}

void EncodeHistoryStore::setAsideUnreadableFile() {
    std::vector<StoredFileReport> reports;
    {
        std::lock_guard lock(mutex_);
        if (file_) {
            setAsideLocked(reports);
            unsavedReports_.follow(reports, false, *file_);
        }
    }
    report(reports);
}

void EncodeHistoryStore::report(const std::vector<StoredFileReport>& reports) {
    for (const StoredFileReport& told : reports) reports_.emit(told);
}

}  // namespace fw
