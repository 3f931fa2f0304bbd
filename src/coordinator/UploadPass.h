#pragma once
// Publishing finished outputs job by job: the upload state of each job, the
// files sent for it, and the rule that one endpoint URL is PUT at most one
// file per pass (a later PUT would replace it; POSTs are all sent).
//
// publishJobFiles() is the per-job step shared by "Upload finished now" and
// the batch's automatic uploads. UploadPass runs "Upload finished now": the
// jobs in order, strictly one upload at a time, on a worker thread of its
// own ("upload.pass").
//
// Threads: job fields are written from the uploading thread, as encoders do
// (EncodeJob is thread-safe and signals on the writing thread). The pass's
// end is reported on `context`'s thread. Destroying a pass stops its upload
// and joins its thread.

#include "coordinator/CoordinatorServices.h"
#include "model/EncodeJob.h"

#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace fw {

// The URLs already PUT to during one pass (or one batch), shared by every
// job of it. Thread-safe.
class PublishTargets {
public:
    // False when `target` was claimed before; the caller then must not send.
    bool claim(const std::string& target);

private:
    std::mutex mutex_;
    std::set<std::string> claimed_;
};

// Uploads `files` for `job` in order. A job already uploading is left alone
// (false). Otherwise the job goes to uploading (message cleared), each file
// is sent, and the job ends uploaded, or failed with the first failure's
// message. With PUT, a file whose URL an earlier file of the pass already
// received (an endpoint without a trailing "/") is not sent and counts as
// failed; with POST every file is sent.
// REQUIRES: settings.isConfigured(), files not empty.
bool publishJobFiles(EncodeJob& job, const std::vector<std::filesystem::path>& files, const PublishSettings& settings,
                     const std::optional<std::string>& secret, Uploader& uploader, PublishTargets& targets,
                     std::stop_token stop);

class UploadPass {
public:
    struct Item {
        std::shared_ptr<EncodeJob> job;
        std::vector<std::filesystem::path> files;
    };

    // Starts at once. `finished` runs on `context`'s thread after the last
    // upload, unless the pass was destroyed first.
    // REQUIRES: the pass is destroyed before `context` (its owner).
    UploadPass(QObject* context, std::shared_ptr<Uploader> uploader, std::vector<Item> items, PublishSettings settings,
               std::optional<std::string> secret, std::function<void()> finished);
    ~UploadPass();
    UploadPass(const UploadPass&) = delete;
    UploadPass& operator=(const UploadPass&) = delete;

private:
    std::jthread thread_;
};

}  // namespace fw
