#pragma once
// Keeps the queue across launches in "queue.json" in the application-support
// folder. A saved job keeps only its source (as a bookmark), its enabled flag
// and its named outputs; a restored queue is made of new waiting jobs.
//
// File format: one compact JSON array, one object per job in queue order:
//   {"bookmark": Base64 of the bookmark bytes, "enabled": boolean,
//    "outputs": [{"name": string, "configuration": ExportConfiguration}],
//    "handOver": the UUID of the launch that handed the file over (only then)}
// An empty queue is "[]". Key order carries no meaning; unknown keys are
// ignored, and so is a "handOver" that is no UUID.
//
// Bookmark bytes: "FWBM", a version byte (1), then the source's absolute path.
//
// Failures never stop a load or a save: a job whose source is not there when
// it is saved (a drive unplugged while queued) keeps its entry; an entry whose
// source is not there at load is left out of the loaded queue, but kept as
// written for the saves to write back (loadKeepingAbsent), so that it comes
// back at a launch that finds the file; an entry that cannot be read (a
// bad output, a bookmark of another version, a newer or damaged entry) is
// skipped on load too, and each save writes it back unchanged after the jobs,
// taken from the file it replaces; a file that cannot be read as a list at
// all loads as an empty queue and is set aside ("queue.unreadable.json") by
// setAsideUnreadable or the next save, never written over; but what a save
// finds held in its place (storedFileHeld: a link to a file of the user's, a
// FIFO) it neither reads nor sets aside, and reports as a failed write; a
// failed write leaves the previous file whole. A save returns what of this
// the user should be told.
// Thread-safety: stateless; concurrent saves to one folder are not ordered
// (the coordinator saves from one place at a time).

#include "model/EncodeJob.h"
#include "platform/core/Json.h"
#include "platform/core/StoredFileReport.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace fw::QueuePersistence {

using JobList = std::vector<std::shared_ptr<EncodeJob>>;

inline constexpr const char* kFileName = "queue.json";

// Writes the whole list to `folder`/queue.json (the folder is made when
// missing), then the entries `absent` as they were read (see Loaded).
// Returns the file set aside, or left in the way, and a failed write.
std::vector<StoredFileReport> save(const JobList& jobs, const std::filesystem::path& folder,
                                   const std::vector<Json>& absent = {});
// Same, in the application-support folder.
std::vector<StoredFileReport> save(const JobList& jobs);
// Sets `folder`/queue.json aside now when it is no readable list, rather than
// at the next save. Reports what became of it; nothing for a readable file.
std::vector<StoredFileReport> setAsideUnreadable(const std::filesystem::path& folder);

// New jobs in file order: each waiting, with a new id, the saved enabled flag
// and the saved outputs (new output ids). Missing or unreadable file: empty list.
// The sources are neither filtered by media type nor checked beyond the bookmark.
JobList load(const std::filesystem::path& folder);
JobList load();

// A queue file as load() reads it, with the entries it left out because
// their source was not there, exactly as written, in file order.
struct Loaded {
    JobList jobs;
    std::vector<Json> absent;
};
Loaded loadKeepingAbsent(const std::filesystem::path& folder);

// The bookmark of a file, whether or not it is there now; nullopt for an
// empty path.
std::optional<std::vector<std::uint8_t>> bookmark(const std::filesystem::path& source);
// The file a bookmark names; nullopt for a malformed bookmark or a file that is gone.
std::optional<std::filesystem::path> resolveBookmark(std::span<const std::uint8_t> bookmark);

}  // namespace fw::QueuePersistence
