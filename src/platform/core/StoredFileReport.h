#pragma once
// What a store of the user's data (settings, presets, queue, history) has to
// tell the user about its file: a save that failed, or a file that could not
// be read and was set aside, or could not be; after either of the failures,
// the save that wrote the file again; and queued files that were not there.
// The stores never fail their callers; they emit these for the window to word.
// Thread-safety: StoredFileReport is a plain value; UnsavedReports is kept
// under its store's lock.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fw {

struct StoredFileReport {
    enum class Kind {
        // The file could not be read; it was moved to `kept`, bytes untouched.
        setAside,
        // The file could not be read, nor moved aside (`reason`): it stays
        // where it is and is never written over, so changes are not saved.
        notSetAside,
        // A save failed (`reason`). The store keeps its contents in memory
        // and writes them whole at its next save.
        writeFailed,
        // A save wrote the file after the store had reported its contents
        // unsaved (writeFailed, notSetAside): that holds no longer.
        saved,
        // The file names `absentSources` files that are not there (a drive
        // not plugged in): they were left out of what was loaded, and are
        // kept in the file for a later launch that finds them.
        sourcesAbsent,
    };
    Kind kind = Kind::writeFailed;
    std::filesystem::path file;
    std::filesystem::path kept;  // setAside only
    std::string reason;          // why, in the system's words; not for setAside nor saved
    // setAside and notSetAside of a file that was read, but whose values at
    // these keys their owners could not read; empty when the whole file was
    // unreadable.
    std::vector<std::string> unreadableKeys;
    std::size_t absentSources = 0;  // sourcesAbsent only

    // Whether the store's contents are left unwritten (the next save, or a
    // Quit, writes them).
    bool leavesUnsaved() const { return kind == Kind::notSetAside || kind == Kind::writeFailed; }
};

// Follows one store's saves, so that the write that ends what it reported as
// unsaved is reported as well (Kind::saved), once.
class UnsavedReports {
public:
    // `reports`: what one save, or setting aside, of `file` told; `wrote`:
    // whether it wrote the file. Appends the saved report when it is due.
    void follow(std::vector<StoredFileReport>& reports, bool wrote, const std::filesystem::path& file) {
        if (std::any_of(reports.begin(), reports.end(), [](const auto& report) { return report.leavesUnsaved(); }))
            told_ = true;
        else if (wrote && told_) {
            told_ = false;
            reports.push_back({StoredFileReport::Kind::saved, file, {}, {}, {}});
        }
    }

private:
    bool told_ = false;  // an unsaved report was told, and no write since
};

}  // namespace fw
