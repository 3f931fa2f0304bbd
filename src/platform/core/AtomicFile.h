#pragma once
// Whole-file replacement that never leaves a half-written file in place:
// write a temporary file beside the target, fsync it, rename it over the target.
// A target that is a symbolic link (a user's dotfiles) stays a link: the file
// it points to is the one replaced. The new file keeps the mode of the one it
// replaces (a file the user made private stays so).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

// Throws std::system_error on failure; the target is then unchanged and the
// temporary file removed.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// What a store's own file reads as (its JSON document, its desktop entry),
// told from the bytes of a file that a link in the store's place names.
using StoredContent = bool (*)(std::string_view bytes);

// Whether a stored file of this program (settings, queue, history, its
// autostart entry) may be written over or removed at `file`, judged afresh
// at each save: nullopt when nothing is there, or a regular file (a folder
// too: the write then fails with the system's words), directly or through
// links; else why not, in the user's words. A FIFO, a device or a socket,
// also when a link names it, is no file of ours: replacing a device node
// would take it from whatever else uses it (a link to /dev/null that masks an
// entry, the node itself when run as root). So is a loop of links. A link is
// written through only to a file that is empty or reads as `own` (a dotfiles
// folder holding our file); a link to any other file names a file of the
// user's, never written over. `own` may be null where nothing is written
// through (a removal takes the link itself).
std::optional<std::string> storedFileHeld(const std::filesystem::path& file, StoredContent own);

// Nothing is at `file`: no file, and no link that names one; a link loop is
// something. A stored file that was unreadable and is gone since may be
// written again.
bool nothingStoredAt(const std::filesystem::path& file);

// Makes the file's folder when missing, then writeFileAtomically, unless
// storedFileHeld(file, own) holds the write. Returns why the file could not
// be written, in the user's words (writeFailureReason: "No space left on
// device"); nullopt once it is written.
std::optional<std::string> writeStoredFile(const std::filesystem::path& file, std::string_view bytes,
                                           StoredContent own);

// Removes the stored file `file` (a link itself, not what it names), unless
// storedFileHeld(file, nullptr) holds it; nothing there is success. Returns why it could
// not be removed; nullopt once it is gone.
std::optional<std::string> removeStoredFile(const std::filesystem::path& file);

// A file read by readStoredFile.
struct StoredBytes {
    enum class State {
        absent,      // no file (a link to none included), or a folder in its place: nothing stored
        read,        // `bytes` holds the whole file
        notRegular,  // a FIFO, a device, a socket: never waited on nor read
        tooLarge,    // more than the bound: never read into memory
        failed,      // could not be opened or read (no permission, an I/O error)
    };
    State state = State::absent;
    std::string bytes;
};

// The one reader of the files this program keeps (settings, queue, history,
// its autostart entry): only a regular file is read, opened without waiting
// (a FIFO put in its place would block the start) and checked once open, and
// only when it holds at most `mostBytes` bytes (a device or a huge file would
// be read into memory whole). Links are followed.
StoredBytes readStoredFile(const std::filesystem::path& file, std::size_t mostBytes);

// readStoredFile with no bound; false unless the file was read.
bool readWholeFile(const std::filesystem::path& path, std::string& out);

// Moves the file or folder `from`, contents untouched, to the first free name
// beside `namedAfter` among "<stem>.<label><extension>",
// "<stem>.<label>-2<extension>", ... ("defaults.json" with "unreadable" ->
// "defaults.unreadable.json"); nothing set aside earlier is replaced. Returns
// the new path; nullopt when it could not be moved (it then stays where it was).
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& from,
                                               const std::filesystem::path& namedAfter, std::string_view label);

// What setAsideUnreadable did: where the file was kept, or why it is still
// in place, in the user's words.
struct SetAside {
    std::optional<std::filesystem::path> kept;
    std::string reason;  // when not kept
};

// moveAside(file, file, "unreadable"): a stored file that could not be read, kept
// out of the way of the next write. Through a symbolic link it is the file
// the link names that is moved, beside itself; the link is left in place.
// Only a regular file is moved, never a FIFO, a device or a socket, and
// through a link only one inside the folder of `file`: a file elsewhere that
// a link names is the user's, left where it is with the link.
SetAside setAsideUnreadable(const std::filesystem::path& file);

// A unique name in the folder of `target` for staging output beside it,
// carrying where the writing process runs (short hashes of its machine, the
// machine's boot, and the boot with its pid namespace), its id and its start
// time, e.g. "clip_H264.mp4" ->
// ".clip_H264.fwpart-5b1e0c77d20a9e413f9a06c2-4711-52817-1A2B3C4D.mp4" (the
// extension is kept so that writers choosing a container by extension still
// work). The name stays within the file-name limit however long the target's
// name is: the stem is shortened.
std::filesystem::path temporarySibling(const std::filesystem::path& target);

// Removes the files and folders in `folder` (not below it) that
// temporarySibling() named for processes that no longer run: a run killed
// mid-write, a crash, a power cut. A staging is only removed when its writer
// is known to be gone: it ran on this machine in an earlier boot, or it ran
// where this process runs (the same boot and pid namespace) and no process
// has its id, or the process that has the id now started at another time
// than the one in the name (the id was given again). Stagings written
// elsewhere (another machine sharing the folder, a sandboxed or
// containerised copy in this boot, a machine whose id could not be read
// before a restart) are left alone, and so is anything else in the folder.
// Names of earlier versions that tell only the boot and namespace are judged
// by those; those without a place are judged by the id alone.
// Errors are ignored: a staging left behind is only clutter.
void removeAbandonedStagings(const std::filesystem::path& folder);

}  // namespace fw
