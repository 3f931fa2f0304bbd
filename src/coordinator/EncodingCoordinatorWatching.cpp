// The watch folder's side of the coordinator: the watch itself, the intake of
// arrived files, the jobs of files that left, and the tests that keep the
// system's own outputs out.

#include "coordinator/EncodingCoordinator.h"

#include "coordinator/WatchFolderMonitor.h"
#include "jobs/OutputNaming.h"
#include "model/SupportedMediaType.h"
#include "platform/core/PathIdentity.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <set>
#include <string>

namespace fw {

namespace fs = std::filesystem;

namespace {

// A file bearing a name this system gives outputs of a source beside it: an
// output of an earlier session, from before the history knew it or from a
// history since cleared. Only sources whose name begins the file's are looked at.
bool isEarlierOutputBesideItsSource(const fs::path& file) {
    const std::string stem = file.stem().string();
    std::error_code error;
    for (fs::directory_iterator entry(file.parent_path(), error), end; !error && entry != end; entry.increment(error)) {
        const fs::path& path = entry->path();
        const std::string sourceStem = path.stem().string();
        if (sourceStem.empty() || sourceStem.front() == '.' || !stem.starts_with(sourceStem + "_")) continue;
        if (SupportedMediaType::isSupported(path) && OutputNaming::isDefaultOutputName(file, path) &&
            entry->is_regular_file(error))
            return true;
    }
    return false;
}

// Those of `files` not there now: the others are back already.
std::vector<fs::path> stillGone(const std::vector<fs::path>& files) {
    std::vector<fs::path> gone;
    for (const auto& file : files) {
        std::error_code error;
        if (!fs::exists(file, error) && !error) gone.push_back(file);
    }
    return gone;
}

}  // namespace

void EncodingCoordinator::startWatching(const fs::path& folder) {
    stopWatching();
    rememberEarlierOutputs();
    // The monitor first: observers of watchFolderURLChanged() read isWatching().
    monitor_ = std::make_unique<WatchFolderMonitor>(
        folder, this, [this](const WatchFolderMonitor::Changes& changes) { ingestWatched(changes); },
        services_.watchSettleInterval, services_.watchQuietInterval, services_.watchPathLookInterval);
    setWatchFolderURL(folder);
    monitor_->start();
}

void EncodingCoordinator::stopWatching() {
    monitor_.reset();  // stops and joins its thread
    setWatchFolderURL(std::nullopt);
}

void EncodingCoordinator::rememberEarlierOutputs() {
    // Earlier sessions' outputs: the history's, and those of the jobs queued.
    if (services_.history != nullptr)
        for (const auto& record : services_.history->records())
            for (const auto& path : record.outputPaths()) ownOutputs_->record(path);
    for (const auto& job : jobs_)
        if (job->outputURL()) ownOutputs_->record(*job->outputURL());
}

bool EncodingCoordinator::isOwnOutput(const fs::path& file) const { return ownOutputs_->contains(file); }

void EncodingCoordinator::ingestWatched(const WatchFolderMonitor::Changes& changes) {
    withdrawGone(changes.gone);
    // Away with their folder (a drive unplugged), or being written again: a
    // job still to run would fail, or take a part of the file. It comes back
    // when the file does.
    withdrawWaiting(stillGone(changes.away), Withdrawal::untilBack);
    withdrawWaiting(changes.changing, Withdrawal::untilBack);
    std::vector<fs::path> added;
    JobList restored;
    // Back as they were: only what was withdrawn while they were away is
    // queued again, never a file whose job is done, kept or cleared.
    for (const auto& file : changes.back)
        if (auto withdrawn = withdrawnUntilBack_.extract(pathIdentity(file)))
            restored.insert(restored.end(), withdrawn.mapped().begin(), withdrawn.mapped().end());
    bool retried = false;
    std::set<fs::path> seen;
    // A queued file is the same file whichever path names it: a watch on a
    // linked folder reports the link's spelling of a file queued through
    // the real one.
    std::vector<fs::path> queued;
    if (!changes.arrived.empty())
        for (const auto& job : jobs_) queued.push_back(pathIdentity(job->sourceURL()));
    for (const auto& [file, again, grown] : changes.arrived) {
        if (isOwnOutput(file) || !seen.insert(file).second || isEarlierOutputBesideItsSource(file)) continue;
        const fs::path identity = pathIdentity(file);
        if (auto withdrawn = withdrawnUntilBack_.extract(identity)) {
            restored.insert(restored.end(), withdrawn.mapped().begin(), withdrawn.mapped().end());
            continue;
        }
        const auto jobOf = [&](std::initializer_list<EncodeJob::Status> statuses) -> EncodeJob* {
            // The latest such job; `queued` is in step with jobs_, which only a retry below changes, in place.
            for (std::size_t index = jobs_.size(); index-- > 0;) {
                const EncodeJob& job = *jobs_[index];
                if (queued[index] == identity && !stitches_.contains(job.id()) &&
                    (statuses.size() == 0 || std::ranges::find(statuses, job.status()) != statuses.end()))
                    return jobs_[index].get();
            }
            return nullptr;
        };
        if (!again) {
            if (!jobOf({})) added.push_back(file);
            continue;
        }
        // Rewritten: a job still to run takes the new content; a failed one,
        // a finished one when the file has only grown since (it had a part of
        // it), and one encoding the old content take it, once no batch runs.
        using Status = EncodeJob::Status;
        if (jobOf({Status::waiting})) continue;
        EncodeJob* redo = jobOf({Status::failed});
        if (!redo && grown) redo = jobOf({Status::finished});
        if (redo && !isRunning_) {
            retry(*redo);
            retried = true;
        } else if (redo || jobOf({Status::encoding})) {
            retakeWhenBatchEnds_[file] = retakeWhenBatchEnds_[file] || grown;
        } else {
            added.push_back(file);
        }
    }
    if (added.empty() && restored.empty() && !retried) return;
    std::set<Uuid> before;
    for (const auto& job : jobs_) before.insert(job->id());
    if (!restored.empty()) {
        JobList jobs = jobs_;
        jobs.insert(jobs.end(), restored.begin(), restored.end());
        replaceJobs(std::move(jobs));
    }
    const std::set<Uuid> withRestored = [&] {
        std::set<Uuid> ids = before;
        for (const auto& job : restored) ids.insert(job->id());
        return ids;
    }();
    if (!added.empty()) addFiles(added, Duplicates::allowed);
    std::vector<Uuid> intake;
    for (const auto& job : jobs_)
        if (!before.contains(job->id())) intake.push_back(job->id());
    if (watchConfiguration_ && intake.size() > restored.size()) {
        // Every new job of this intake shares the one output, identifier included.
        const JobOutputSpec spec(watchPresetName_.value_or("Preset"), *watchConfiguration_);
        for (const auto& job : jobs_)
            if (!withRestored.contains(job->id())) job->setOutputs({spec});
        saveQueue();
    }
    if (!autoStartWatched_) return;
    if (!isRunning_)
        startEncodingRun();
    else
        awaitingNextBatch_.insert(intake.begin(), intake.end());
}

void EncodingCoordinator::withdrawGone(const std::vector<fs::path>& files) {
    const std::vector<fs::path> gone = stillGone(files);
    std::size_t forgotten = 0;
    for (const auto& file : gone) forgotten += withdrawnUntilBack_.erase(pathIdentity(file));
    if (!withdrawWaiting(gone, Withdrawal::forGood) && forgotten > 0) saveQueue();
}

bool EncodingCoordinator::withdrawWaiting(const std::vector<fs::path>& files, Withdrawal withdrawal) {
    if (files.empty()) return false;
    // A job the running batch holds is left to it.
    const auto inRunningBatch = [this](const EncodeJob& job) {
        return run_ && std::any_of(runJobs().begin(), runJobs().end(),
                                   [&](const auto& member) { return member->id() == job.id(); });
    };
    std::set<fs::path> named;
    for (const auto& file : files) named.insert(pathIdentity(file));
    JobList kept;
    JobList withdrawn;
    for (const auto& job : jobs_) {
        const bool withdraw = job->status() == EncodeJob::Status::waiting && !stitches_.contains(job->id()) &&
                              !inRunningBatch(*job) && named.contains(pathIdentity(job->sourceURL()));
        (withdraw ? withdrawn : kept).push_back(job);
    }
    if (withdrawn.empty()) return false;
    if (withdrawal == Withdrawal::untilBack)
        for (auto& job : withdrawn) withdrawnUntilBack_[pathIdentity(job->sourceURL())].push_back(std::move(job));
    replaceJobs(std::move(kept));  // saves them too when they are to come back
    return true;
}

void EncodingCoordinator::startBatchForWatchedFiles(bool batchCancelled) {
    std::set<Uuid> awaiting;
    awaiting.swap(awaitingNextBatch_);
    std::map<fs::path, bool> retake;
    retake.swap(retakeWhenBatchEnds_);
    if (!batchCancelled && !retake.empty()) {
        // Written again while the batch ran: taken as they are now.
        WatchFolderMonitor::Changes changes;
        for (const auto& [file, grown] : retake) changes.arrived.push_back({file, /*again=*/true, grown});
        ingestWatched(changes);
    }
    // A cancelled batch stops the work: they wait for the next start.
    if (batchCancelled || !autoStartWatched_ || isRunning_) return;
    if (std::any_of(jobs_.begin(), jobs_.end(),
                    [&](const auto& job) { return awaiting.contains(job->id()) && isPendingJob(*job); }))
        startEncodingRun();
}

}  // namespace fw
