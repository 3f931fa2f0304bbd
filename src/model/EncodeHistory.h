#pragma once
// The encode history: a lasting list of what was encoded, newest first, kept
// in "history.json" in the application-support folder beside the queue file.
//
// File format: one compact JSON array of record objects, newest first:
//   "id" (upper-case UUID text), "date" (seconds since 2001-01-01 UTC),
//   "sourceName", "outputName", "codec" (strings), "succeeded" (boolean),
//   and, only when present, "message" (string), "fileSizeBytes" (integer),
//   "outputPath" (string), "earlierOutputPaths" (array of strings), "concealedSoundSeconds" (number, above 0),
//   "damagedPictures" (integer, above 0), "leftOutSoundSeconds" (number, above 0); beside a path that is no UTF-8 (a
//   Latin-1 name), which the text keeps with U+FFFD, its bytes in Base64:
//   "outputPathBytes" (string), "earlierOutputPathsBytes" (array of strings,
//   one for each earlier path).
//   Key order carries no meaning; unknown keys are
//   ignored. An element that cannot be read is skipped; the rest load. It is
//   kept as written and saved after the readable records (kMaximumRecords
//   counts only those) until the history is cleared.

#include "model/EncodeResult.h"
#include "platform/core/Date.h"
#include "platform/core/Json.h"
#include "platform/core/Signal.h"
#include "platform/core/StoredFileReport.h"
#include "platform/core/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fw {

struct EncodeRecord {
    Uuid id;
    Date date;
    std::string sourceName;
    std::string outputName;  // last path component of the output, "—" without one
    std::string codec;       // codec display names as the caller joined them
    bool succeeded = false;
    std::optional<std::string> message;
    std::optional<std::int64_t> fileSizeBytes;
    std::optional<std::string> outputPath;
    // The files the job wrote before outputPath, in order (several outputs).
    std::vector<std::string> earlierOutputPaths;
    // Sound written as silence, pictures left out and sound left out, for damage in the source (EncodeResult).
    std::optional<double> concealedSoundSeconds;
    std::optional<std::int64_t> damagedPictures;
    std::optional<double> leftOutSoundSeconds;

    // Every file the job wrote: earlierOutputPaths, then outputPath.
    std::vector<std::string> outputPaths() const;
    // The file size in readable decimal units ("1 byte", "532 bytes", "1.5 MB"),
    // or nullopt exactly when fileSizeBytes is absent.
    std::optional<std::string> sizeDescription() const;
    // damageNote of the damage above; empty without any.
    std::string damageNote() const;

    Json toJson() const;
    // Throws JsonDecodeError when a required key is missing or a value has the wrong type.
    static EncodeRecord fromJson(const Json& value);

    friend bool operator==(const EncodeRecord&, const EncodeRecord&) = default;
};

// Readable size of a byte count in decimal (SI) units, locale-independent.
std::string formatFileSize(std::int64_t bytes);

// Holds the history and, when persisting, rewrites its file after every change.
// Thread-safety: every member may be called from any thread; observers of
// recordsChanged() run on the calling thread after the change, with no lock
// held. Safe to destroy on any thread once no call is in progress.
class EncodeHistoryStore {
public:
    static constexpr std::size_t kMaximumRecords = 500;

    // The process-wide persisting store over the application-support folder,
    // made (and its file read) on first use.
    static EncodeHistoryStore& shared();

    // A store that never touches the disk; starts empty.
    EncodeHistoryStore();
    // A persisting store over `folder`/history.json; reads the file at once
    // (missing or unreadable: empty history). The folder is created on save;
    // a file that could not be read as a list is set aside
    // ("history.unreadable.json") by the first save, never written over.
    explicit EncodeHistoryStore(std::filesystem::path folder);

    EncodeHistoryStore(const EncodeHistoryStore&) = delete;
    EncodeHistoryStore& operator=(const EncodeHistoryStore&) = delete;

    // Newest first. A longer list read from the file stays whole until the next record.
    std::vector<EncodeRecord> records() const;
    bool persists() const { return file_.has_value(); }
    const std::optional<std::filesystem::path>& file() const { return file_; }

    // Adds one record at the front (new id, date now, output name, path and
    // size taken from `output`, the last file written; a missing file gives no
    // size; `earlierOutputs` the files written before it; each figure of
    // `damage` kept when above 0), keeps at most kMaximumRecords, and saves. Never
    // fails; a failed save leaves the file as it was, keeps the records in
    // memory and is reported; the next save writes them all.
    void record(std::string sourceName, const std::optional<std::filesystem::path>& output, std::string codec,
                bool succeeded, std::optional<std::string> message,
                const std::vector<std::filesystem::path>& earlierOutputs = {}, const EncodeResult& damage = {});
    // Removes every record, the unreadable ones too (observers are told even
    // when it was empty), and saves.
    void clear();
    // Sets a file that could not be read as a list aside now, rather than at
    // the next save, and reports it (nothing when the file was readable).
    void setAsideUnreadableFile();

    // When the last save failed, or found the unreadable file still in the
    // way: saves the whole list again. Returns, as reported, what still keeps
    // it unsaved; empty when everything is on disk.
    std::vector<StoredFileReport> saveUnsaved();

    // Emitted after each change of the list.
    Signal<>& recordsChanged() { return recordsChanged_; }
    // Emitted after a save failed, when a save set the unreadable file aside
    // or found it could not (then the file is not written), and after the
    // save that ended what was reported unsaved (Kind::saved).
    Signal<const StoredFileReport&>& reports() { return reports_; }

    static constexpr const char* kFileName = "history.json";

private:
    // What the save has to tell.
    std::vector<StoredFileReport> saveLocked();
    // False when the unreadable file is still in the way.
    bool setAsideLocked(std::vector<StoredFileReport>& reports);
    void report(const std::vector<StoredFileReport>& reports);

    std::optional<std::filesystem::path> file_;
    mutable std::mutex mutex_;
    std::vector<EncodeRecord> records_;
    std::vector<Json> unreadable_;  // elements of the file that could not be read, as written
    bool unreadableFile_ = false;   // the file is no readable list: set it aside before the next save
    bool unsaved_ = false;          // the last save did not write the list
    UnsavedReports unsavedReports_;
    Signal<> recordsChanged_;
    Signal<const StoredFileReport&> reports_;
};

}  // namespace fw
