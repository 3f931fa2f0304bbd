// The watch folder's side of the coordinator: the watch itself, the intake of
// arrived files and the test that keeps the system's own outputs out.

#include "coordinator/EncodingCoordinator.h"

#include "coordinator/WatchFolderMonitor.h"
#include "model/RawValue.h"

#include <algorithm>
#include <set>

namespace fw {

namespace fs = std::filesystem;

void EncodingCoordinator::startWatching(const fs::path& folder) {
    stopWatching();
    // The monitor first: observers of watchFolderURLChanged() read isWatching().
    monitor_ = std::make_unique<WatchFolderMonitor>(
        folder, this, [this](const std::vector<fs::path>& files) { ingestWatched(files); },
        services_.watchSettleInterval);
    setWatchFolderURL(folder);
    monitor_->start();
}

void EncodingCoordinator::stopWatching() {
    monitor_.reset();  // stops and joins its thread
    setWatchFolderURL(std::nullopt);
}

bool EncodingCoordinator::isLikelyOwnOutput(const fs::path& file) const {
    if (ownOutputs_->contains(file)) return true;
    const std::string stem = file.stem().string();
    const auto endsWith = [&stem](std::string_view suffix) {
        return stem.size() > suffix.size() && stem.ends_with(suffix) && stem[stem.size() - suffix.size() - 1] == '_';
    };
    if (endsWith("proxy") || endsWith("audio")) return true;
    return std::any_of(allCases<OutputCodec>().begin(), allCases<OutputCodec>().end(),
                       [&endsWith](OutputCodec codec) { return endsWith(fileNameSuffix(codec)); });
}

void EncodingCoordinator::ingestWatched(const std::vector<fs::path>& files) {
    std::vector<fs::path> kept;
    std::copy_if(files.begin(), files.end(), std::back_inserter(kept),
                 [this](const fs::path& file) { return !isLikelyOwnOutput(file); });
    if (kept.empty()) return;
    std::set<Uuid> before;
    for (const auto& job : jobs_) before.insert(job->id());
    addFiles(kept, Duplicates::skipped);
    if (watchConfiguration_) {
        // Every job of this intake shares the one output, identifier included.
        const JobOutputSpec spec(watchPresetName_.value_or("Preset"), *watchConfiguration_);
        for (const auto& job : jobs_)
            if (!before.contains(job->id())) job->setOutputs({spec});
        saveQueue();
    }
    if (autoStartWatched_ && !isRunning_) startEncoding();
}

void EncodingCoordinator::reconsiderFailedWatchedFiles() {
    if (!monitor_) return;
    for (const auto& job : jobs_)
        if (job->status() == EncodeJob::Status::failed) monitor_->reconsider(job->sourceURL());
}

}  // namespace fw
