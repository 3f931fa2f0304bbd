#pragma once
// A typed key/value store kept as one JSON object in
// $XDG_CONFIG_HOME/Framewright/defaults.json. Every change rewrites the file
// atomically. A missing file reads as empty. So does one that cannot be read
// as a JSON object (a slip made by hand, a cut-off or foreign file, one
// nested too deep, a key written twice, no regular file, one larger than
// kMostFileBytes), but that file is never written over:
// changes then live in memory only, until setAsideUnreadableFile() moves it
// out of the way, or it is gone (each save looks). A failed write keeps
// every value in memory; the next change writes them all. Both are told through reports(), and so is the write
// that ends either.
// Thread-safety: all members may be called from any thread; observers of
// reports() run on the calling thread with no lock held.

#include "platform/core/Json.h"
#include "platform/core/Signal.h"
#include "platform/core/StoredFileReport.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fw {

class UserDefaults {
public:
    // The largest settings file read: far above what settings and presets
    // fill (a thousand presets take about 2 MB). A larger file is unreadable.
    static constexpr std::size_t kMostFileBytes = 8 << 20;

    explicit UserDefaults(std::filesystem::path file);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The process-wide store at the standard location.
    static UserDefaults& standard();

    std::optional<bool> boolean(const std::string& key) const;
    std::optional<std::int64_t> integer(const std::string& key) const;
    std::optional<double> number(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<Json> value(const std::string& key) const;

    void set(const std::string& key, Json value);
    void remove(const std::string& key);

    const std::filesystem::path& file() const { return file_; }

    // For a value its owner could not read (a list stored as some other
    // value): the file is then kept as one that could not be read, and the
    // value leaves those held, so that the file written after it is set
    // aside holds the others. Nothing for a key that holds no value.
    void keepUnreadableValue(const std::string& key);

    // When the file could not be read: moves it aside (setAsideUnreadable,
    // bytes kept), writes the values held since, and returns where the file
    // now is, reporting setAside. nullopt when the file was readable or
    // absent, or could not be moved (reported as notSetAside; changes then
    // stay in memory).
    std::optional<std::filesystem::path> setAsideUnreadableFile();

    // When a change is unsaved (its write failed, or the unreadable file is
    // still in the way): writes every value now, setting that file aside
    // first. Returns, as reported, what still keeps them unsaved; nullopt
    // when everything is on disk.
    std::optional<StoredFileReport> saveUnsaved();

    // Emitted after a write failed, after the write that ended what was
    // reported unsaved (Kind::saved), and by setAsideUnreadableFile() and
    // saveUnsaved().
    Signal<const StoredFileReport&>& reports() { return reports_; }

private:
    void loadLocked() const;
    // Writes the file, adding to `told` what the write has to tell.
    void saveLocked(std::vector<StoredFileReport>& told);
    // setAsideUnreadableFile() under the lock; `told` gets what to report.
    std::optional<std::filesystem::path> setAsideLocked(std::vector<StoredFileReport>& told);
    void report(const std::vector<StoredFileReport>& told);
    void clearUnreadableLocked();

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    mutable bool loaded_ = false;
    mutable bool unreadable_ = false;  // the file on disk must not be written over
    mutable Json values_ = Json::object();
    std::vector<std::string> unreadableKeys_;  // see keepUnreadableValue
    bool unsaved_ = false;                     // a change is not on disk
    UnsavedReports unsavedReports_;
    Signal<const StoredFileReport&> reports_;
};

}  // namespace fw
