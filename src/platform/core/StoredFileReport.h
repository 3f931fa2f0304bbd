#pragma once
// What a store of the user's data (settings, presets, queue, history) has to
// tell the user about its file: a save that failed, or a file that could not
// be read and was set aside, or could not be. The stores never fail their
// callers; they emit these for the window to word.
// Thread-safety: a plain value.

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
    };
    Kind kind = Kind::writeFailed;
    std::filesystem::path file;
    std::filesystem::path kept;  // setAside only
    std::string reason;          // why, in the system's words; not for setAside
    // setAside and notSetAside of a file that was read, but whose values at
    // these keys their owners could not read; empty when the whole file was
    // unreadable.
    std::vector<std::string> unreadableKeys;

    // Whether the store's contents are left unwritten (the next save, or a
    // Quit, writes them).
    bool leavesUnsaved() const { return kind != Kind::setAside; }
};

}  // namespace fw
