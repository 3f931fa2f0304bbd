#pragma once
// Shared coding helpers for the model's stored JSON lists (queue, history,
// user presets): identifiers as upper-case UUID text, dates as seconds since
// 2001, and lists whose unreadable elements are skipped rather than costing
// the whole list, yet kept as written so that the next save hands them back
// (an element from a newer version or a damaged one is never silently lost).
// A file that cannot be read as a list at all is set aside before it would be
// replaced, so its bytes are kept too.
// Thread-safety: stateless functions, safe from any thread.

#include "platform/core/AtomicFile.h"
#include "platform/core/Date.h"
#include "platform/core/Json.h"
#include "platform/core/StoredFileReport.h"
#include "platform/core/Uuid.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace fw::stored {

// Throws JsonDecodeError when the key is missing, not a string or not a UUID.
Uuid requiredUuid(const Json& object, std::string_view key);
// Throws JsonDecodeError when the key is missing or not a number.
Date requiredDate(const Json& object, std::string_view key);
Json encodeDate(Date date);
// The current time at the precision a stored date keeps (microseconds), so a
// value read back compares equal to the one written.
Date storableNow();

// A stored list as read: the elements that could be read, and every other
// element exactly as written, both in file order.
template <class T>
struct DecodedList {
    std::vector<T> readable;
    std::vector<Json> unreadable;
};

// Decodes each element of `array` with `decodeOne` (which throws
// JsonDecodeError on a bad element); bad elements go to `unreadable`.
// A value that is not an array yields no elements of either kind.
template <class T, class Decode>
DecodedList<T> decodeEach(const Json& array, Decode decodeOne) {
    DecodedList<T> result;
    if (!array.is_array()) return result;
    result.readable.reserve(array.size());
    for (const Json& element : array) {
        try {
            result.readable.push_back(decodeOne(element));
        } catch (const JsonDecodeError&) {
            result.unreadable.push_back(element);  // the rest of the list survives
        }
    }
    return result;
}

// Appends `unreadable` to the JSON array `array`, unchanged: stored lists
// write the elements they could not read after their own.
void appendUnreadable(Json& array, const std::vector<Json>& unreadable);

// The largest list file read: the history keeps 500 records and a queue
// of thousands of jobs stays within a few MB. A larger file is unreadable.
inline constexpr std::size_t kMostListFileBytes = 64 << 20;

// A stored list file as read (json::readFile).
struct ListFile {
    Json list = Json::array();  // the file's array; empty unless the file held one
    // The file is there but is not a readable JSON array (damaged, nested too
    // deep, another kind of value): it is never written over, and must be set
    // aside (setAsideBeforeWriting) before the next save takes its place.
    bool unreadable = false;
};
ListFile readListFile(const std::filesystem::path& file);

// Moves an unreadable stored file aside (setAsideUnreadable, bytes kept) and
// adds to `reports` what became of it: setAside, or notSetAside when it is
// still in place. True when the way is clear (moved, or no longer there);
// false when the file must not be written over.
bool setAsideBeforeWriting(const std::filesystem::path& file, std::vector<StoredFileReport>& reports);

// Whether `bytes` are a list as a store writes its own: an array (empty
// included) of which every element is a record of the store's (`isRecord`).
// Any other JSON, a list of the user's, is no file of ours.
bool holdsListOf(std::string_view bytes, bool (*isRecord)(const Json& element));

// Creates the folder and replaces the file atomically with the list `value`
// (writeStoredFile: through a link only to a file that reads as `own`).
// Reports writeFailed when the file could not be written; it is then unchanged.
std::optional<StoredFileReport> writeJsonFile(const std::filesystem::path& file, const Json& value, StoredContent own);

}  // namespace fw::stored
