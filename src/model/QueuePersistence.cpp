#include "model/QueuePersistence.h"

#include "model/StoredJson.h"
#include "platform/core/AtomicFile.h"
#include "platform/core/Base64.h"
#include "platform/core/XdgPaths.h"

#include <algorithm>
#include <string_view>
#include <system_error>

namespace fw::QueuePersistence {

namespace fs = std::filesystem;

namespace {
constexpr std::string_view kBookmarkMagic = "FWBM";
constexpr std::uint8_t kBookmarkVersion = 1;

struct Entry {
    fs::path source;  // as bookmarked; it may be gone since
    bool enabled = true;
    std::vector<JobOutputSpec> outputs;
    std::optional<Uuid> handOver;
};

bool fileExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error) && !error;
}

// The absolute path a well-formed bookmark holds, whether or not the file is there.
std::optional<fs::path> bookmarkedPath(std::span<const std::uint8_t> bytes) {
    const std::size_t header = kBookmarkMagic.size() + 1;
    if (bytes.size() <= header) return std::nullopt;
    if (!std::equal(kBookmarkMagic.begin(), kBookmarkMagic.end(), bytes.begin())) return std::nullopt;
    if (bytes[kBookmarkMagic.size()] != kBookmarkVersion) return std::nullopt;
    std::string path(bytes.begin() + static_cast<std::ptrdiff_t>(header), bytes.end());
    if (path.front() != '/' || path.find('\0') != std::string::npos) return std::nullopt;
    return fs::path(std::move(path));
}

Json encodeEntry(const std::vector<std::uint8_t>& bookmarkBytes, const EncodeJob& job) {
    Json outputs = Json::array();
    for (const auto& spec : job.outputs())
        outputs.push_back({{"name", spec.name}, {"configuration", toJson(spec.configuration)}});
    Json entry = {{"bookmark", base64::encode(bookmarkBytes.data(), bookmarkBytes.size())},
                  {"enabled", job.enabled()},
                  {"outputs", std::move(outputs)}};
    if (job.handOver()) entry["handOver"] = job.handOver()->string();
    return entry;
}

// A queue file of ours, by any build: every entry names its source by a bookmark.
bool isQueueFile(std::string_view bytes) {
    return stored::holdsListOf(bytes,
                               [](const Json& entry) { return entry.is_object() && entry.contains("bookmark"); });
}

Entry decodeEntry(const Json& value) {
    Entry entry;
    auto bytes = base64::decode(json::required<std::string>(value, "bookmark"));
    if (!bytes) throw JsonDecodeError("key \"bookmark\": not Base64");
    // A bookmark of another version is unreadable, not a source that is gone.
    auto source = bookmarkedPath(*bytes);
    if (!source) throw JsonDecodeError("key \"bookmark\": not a bookmark");
    entry.source = std::move(*source);
    entry.enabled = json::required<bool>(value, "enabled");
    // Which launch handed the file over, so that it is not queued twice for it; one unreadable only loses that.
    if (const auto handOver = value.find("handOver"); handOver != value.end() && handOver->is_string())
        entry.handOver = Uuid::parse(handOver->get<std::string>());
    const Json outputs = json::required<Json>(value, "outputs");
    if (!outputs.is_array()) throw JsonDecodeError("key \"outputs\": expected array");
    // One bad output fails its entry: a job restored with fewer outputs would
    // silently produce something else.
    for (const Json& output : outputs)
        entry.outputs.emplace_back(json::required<std::string>(output, "name"),
                                   json::required<ExportConfiguration>(output, "configuration"));
    return entry;
}
}  // namespace

std::optional<std::vector<std::uint8_t>> bookmark(const fs::path& source) {
    std::error_code error;
    const fs::path absolute = fs::absolute(source, error);
    if (error || source.empty()) return std::nullopt;
    const std::string path = absolute.string();
    std::vector<std::uint8_t> bytes(kBookmarkMagic.begin(), kBookmarkMagic.end());
    bytes.push_back(kBookmarkVersion);
    bytes.insert(bytes.end(), path.begin(), path.end());
    return bytes;
}

std::optional<fs::path> resolveBookmark(std::span<const std::uint8_t> bytes) {
    auto path = bookmarkedPath(bytes);
    if (!path || !fileExists(*path)) return std::nullopt;
    return path;
}

std::vector<StoredFileReport> save(const JobList& jobs, const fs::path& folder, const std::vector<Json>& absent) {
    Json entries = Json::array();
    for (const auto& job : jobs) {
        if (!job) continue;
        // A source that is not there now (a drive unplugged) keeps its entry
        // in its place, as one not there at launch does.
        auto bytes = bookmark(job->sourceURL());
        if (!bytes) continue;
        entries.push_back(encodeEntry(*bytes, *job));
    }
    stored::appendUnreadable(entries, absent);
    // What was put in the file's place since the launch (a link to a file of
    // the user's, a FIFO) is held as the other stores hold it: never read as
    // a damaged queue, so never set aside nor said to be unreadable.
    const fs::path file = folder / kFileName;
    if (auto held = storedFileHeld(file, isQueueFile))
        return {{StoredFileReport::Kind::writeFailed, file, {}, std::move(*held), {}}};
    // The queue in memory never held the entries the file could not give;
    // take them from the file being replaced. A file that is no list at all is
    // set aside whole instead.
    const stored::ListFile previous = stored::readListFile(file);
    stored::appendUnreadable(entries, stored::decodeEach<Entry>(previous.list, decodeEntry).unreadable);
    std::vector<StoredFileReport> reports;
    if (previous.unreadable && !stored::setAsideBeforeWriting(file, reports)) return reports;
    if (auto failure = stored::writeJsonFile(file, entries, isQueueFile)) reports.push_back(std::move(*failure));
    return reports;
}

std::vector<StoredFileReport> setAsideUnreadable(const fs::path& folder) {
    const fs::path file = folder / kFileName;
    std::vector<StoredFileReport> reports;
    if (stored::readListFile(file).unreadable) stored::setAsideBeforeWriting(file, reports);
    return reports;
}

std::vector<StoredFileReport> save(const JobList& jobs) { return save(jobs, xdg::applicationSupportDirectory()); }

Loaded loadKeepingAbsent(const fs::path& folder) {
    Loaded loaded;
    const stored::ListFile file = stored::readListFile(folder / kFileName);
    for (const Json& element : file.list) {
        Entry entry;
        try {
            entry = decodeEntry(element);
        } catch (const JsonDecodeError&) {
            continue;  // unreadable: each save takes it from the file again
        }
        if (!fileExists(entry.source)) {
            loaded.absent.push_back(element);
            continue;
        }
        auto job = std::make_shared<EncodeJob>(std::move(entry.source), entry.handOver);
        job->setEnabled(entry.enabled);
        job->setOutputs(std::move(entry.outputs));  // the specs got new ids when decoded
        loaded.jobs.push_back(std::move(job));
    }
    return loaded;
}

JobList load(const fs::path& folder) { return loadKeepingAbsent(folder).jobs; }

JobList load() { return load(xdg::applicationSupportDirectory()); }

}  // namespace fw::QueuePersistence
