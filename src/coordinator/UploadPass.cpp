#include "coordinator/UploadPass.h"

#include "coordinator/PublishRequest.h"

#include <QMetaObject>

#include <pthread.h>

namespace fw {

bool PublishTargets::claim(const std::string& target) {
    std::lock_guard lock(mutex_);
    return claimed_.insert(target).second;
}

bool publishJobFiles(EncodeJob& job, const std::vector<std::filesystem::path>& files, const PublishSettings& settings,
                     const std::optional<std::string>& secret, Uploader& uploader, PublishTargets& targets,
                     std::stop_token stop) {
    if (job.uploadState() == EncodeJob::UploadState::uploading) return false;
    job.setUploadState(EncodeJob::UploadState::uploading);
    job.setUploadMessage(std::nullopt);
    // A second PUT to one URL replaces the file the first left there; every
    // POST is a request of its own.
    const bool oneFilePerTarget = settings.method == PublishSettings::Method::put;
    std::optional<std::string> firstFailure;
    for (const auto& file : files) {
        std::optional<std::string> failure;
        const auto target = publishTargetURL(settings.endpoint, file.filename().string());
        if (target && oneFilePerTarget && !targets.claim(*target))
            failure = std::string(kSharedTargetMessage);
        else
            failure = uploader.upload(file, settings, secret, stop);
        if (failure && !firstFailure) firstFailure = std::move(failure);
    }
    if (firstFailure) {
        job.setUploadState(EncodeJob::UploadState::failed);
        job.setUploadMessage(std::move(firstFailure));
    } else {
        job.setUploadState(EncodeJob::UploadState::uploaded);
    }
    return true;
}

UploadPass::UploadPass(QObject* context, std::shared_ptr<Uploader> uploader, std::vector<Item> items,
                       PublishSettings settings, std::optional<std::string> secret, std::function<void()> finished) {
    thread_ =
        std::jthread([context, uploader = std::move(uploader), items = std::move(items), settings = std::move(settings),
                      secret = std::move(secret), finished = std::move(finished)](std::stop_token stop) {
            pthread_setname_np(pthread_self(), "upload.pass");
            PublishTargets targets;
            for (const Item& item : items) {
                if (stop.stop_requested()) break;
                publishJobFiles(*item.job, item.files, settings, secret, *uploader, targets, stop);
            }
            if (stop.stop_requested()) return;
            QMetaObject::invokeMethod(context, finished, Qt::QueuedConnection);
        });
}

UploadPass::~UploadPass() = default;  // jthread: stop, then join

}  // namespace fw
