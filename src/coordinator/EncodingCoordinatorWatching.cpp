// The watch folder's side of the coordinator: the watch itself, the intake of
// arrived files, the jobs of files that left, and the tests that keep the
// system's own outputs out.

#include "coordinator/EncodingCoordinator.h"

#include "coordinator/WatchFolderMonitor.h"
#include "jobs/OutputNaming.h"
#include "model/OutputFormat.h"
#include "model/SupportedMediaType.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace fw {

namespace fs = std::filesystem;

namespace {

// The stem without the number a second output of the same name gets ("-2").
std::string withoutNumber(std::string stem) {
    const auto dash = stem.rfind('-');
    if (dash == std::string::npos || dash + 1 == stem.size()) return stem;
    const bool digits = std::all_of(stem.begin() + static_cast<std::ptrdiff_t>(dash) + 1, stem.end(),
                                    [](unsigned char c) { return std::isdigit(c) != 0; });
    if (digits) stem.erase(dash);
    return stem;
}

// The stem of the source a file's name says it was made from: its stem
// without the codec, sound-only or proxy suffix the default names end in
// ("_ProRes", "_audio", "_proxy"), perhaps numbered; none for any other name.
// Case-sensitive, as the names are written.
std::optional<std::string> namedSourceStem(const fs::path& file) {
    const std::string stem = withoutNumber(file.stem().string());
    const auto without = [&](std::string_view suffix) -> std::optional<std::string> {
        const std::string ending = "_" + std::string(suffix);
        if (stem.size() <= ending.size() || !stem.ends_with(ending)) return std::nullopt;
        return stem.substr(0, stem.size() - ending.size());
    };
    for (const std::string_view suffix : {std::string_view("proxy"), OutputNaming::kAudioOnlyCodecText})
        if (auto source = without(suffix)) return source;
    for (const OutputCodec codec : allCases<OutputCodec>())
        if (auto source = without(fileNameSuffix(codec))) return source;
    return std::nullopt;
}

// A file named after a source beside it with such a suffix: an output of an
// earlier session, from before the history knew it or from a history since
// cleared. Looked for only when the name has the suffix.
bool isEarlierOutputBesideItsSource(const fs::path& file) {
    const auto sourceStem = namedSourceStem(file);
    if (!sourceStem) return false;
    std::error_code error;
    for (fs::directory_iterator entry(file.parent_path(), error), end; !error && entry != end; entry.increment(error)) {
        const fs::path& path = entry->path();
        if (path.stem() == *sourceStem && !path.filename().string().starts_with('.') &&
            SupportedMediaType::isSupported(path) && entry->is_regular_file(error))
            return true;
    }
    return false;
}

}  // namespace

void EncodingCoordinator::startWatching(const fs::path& folder) {
    stopWatching();
    rememberEarlierOutputs();
    // The monitor first: observers of watchFolderURLChanged() read isWatching().
    monitor_ = std::make_unique<WatchFolderMonitor>(
        folder, this, [this](const WatchFolderMonitor::Changes& changes) { ingestWatched(changes); },
        services_.watchSettleInterval, services_.watchQuietInterval);
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
    std::vector<fs::path> added;
    bool retried = false;
    std::set<fs::path> seen;
    for (const auto& [file, again] : changes.arrived) {
        if (isOwnOutput(file) || !seen.insert(file).second || isEarlierOutputBesideItsSource(file)) continue;
        const auto queued = std::find_if(jobs_.begin(), jobs_.end(), [&](const auto& job) {
            if (job->sourceURL() != file || stitches_.contains(job->id())) return false;
            // Rewritten: only a job still to run stands for the new content.
            const auto status = job->status();
            return !again || status == EncodeJob::Status::waiting || status == EncodeJob::Status::failed;
        });
        if (queued == jobs_.end()) {
            added.push_back(file);
        } else if (again && (*queued)->status() == EncodeJob::Status::failed && !isRunning_) {
            // It failed on the content it had then; the next batch takes it as it is now.
            retry(**queued);
            retried = true;
        }
    }
    if (added.empty() && !retried) return;
    std::set<Uuid> before;
    for (const auto& job : jobs_) before.insert(job->id());
    if (!added.empty()) addFiles(added, Duplicates::allowed);
    std::vector<Uuid> intake;
    for (const auto& job : jobs_)
        if (!before.contains(job->id())) intake.push_back(job->id());
    if (watchConfiguration_ && !intake.empty()) {
        // Every job of this intake shares the one output, identifier included.
        const JobOutputSpec spec(watchPresetName_.value_or("Preset"), *watchConfiguration_);
        for (const auto& job : jobs_)
            if (!before.contains(job->id())) job->setOutputs({spec});
        saveQueue();
    }
    if (!autoStartWatched_) return;
    if (!isRunning_)
        startEncodingRun();
    else
        awaitingNextBatch_.insert(intake.begin(), intake.end());
}

void EncodingCoordinator::withdrawGone(const std::vector<fs::path>& gone) {
    if (gone.empty()) return;
    // A job the running batch holds is left to it.
    const auto inRunningBatch = [this](const EncodeJob& job) {
        return run_ && std::any_of(runJobs().begin(), runJobs().end(),
                                   [&](const auto& member) { return member->id() == job.id(); });
    };
    JobList jobs = jobs_;
    for (const auto& file : gone) {
        std::error_code error;
        if (fs::exists(file, error) || error) continue;  // back already
        std::erase_if(jobs, [&](const auto& job) {
            return job->sourceURL() == file && job->status() == EncodeJob::Status::waiting &&
                   !stitches_.contains(job->id()) && !inRunningBatch(*job);
        });
    }
    if (jobs.size() != jobs_.size()) replaceJobs(std::move(jobs));
}

void EncodingCoordinator::startBatchForWatchedFiles(bool batchCancelled) {
    std::set<Uuid> awaiting;
    awaiting.swap(awaitingNextBatch_);
    // A cancelled batch stops the work: they wait for the next start.
    if (batchCancelled || !autoStartWatched_ || isRunning_) return;
    if (std::any_of(jobs_.begin(), jobs_.end(),
                    [&](const auto& job) { return awaiting.contains(job->id()) && isPendingJob(*job); }))
        startEncodingRun();
}

}  // namespace fw
