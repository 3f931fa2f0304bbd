// The coordinator's publishing commands: "Upload finished now", the record of
// each job's successful output files, the secret field, and the end-of-batch
// notification.

#include "coordinator/EncodingCoordinator.h"
#include "coordinator/UploadPass.h"
#include "platform/core/NumberText.h"

#include <algorithm>
#include <system_error>

namespace fw {

void EncodingCoordinator::uploadFinished() {
    if (!canPublish() || !services_.uploader) return;
    std::vector<UploadPass::Item> items;
    for (const auto& job : jobs_) {
        if (job->status() != EncodeJob::Status::finished || !job->outputURL()) continue;
        auto files = uploadableFiles(*job);
        if (!files.empty()) items.push_back({job, std::move(files)});
    }
    const auto secret = services_.secrets ? services_.secrets->secret() : std::nullopt;
    setUploading(true);
    uploadPass_ = std::make_unique<UploadPass>(this, services_.uploader, std::move(items), publish_, secret, [this] {
        uploadPass_.reset();
        setUploading(false);
    });
}

void EncodingCoordinator::recordSuccessfulOutput(const EncodeJob& job, const std::filesystem::path& file) {
    auto& files = successfulOutputs_[job.id()];
    if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(file);
}

void EncodingCoordinator::forgetSuccessfulOutputs(const EncodeJob& job) { successfulOutputs_.erase(job.id()); }

std::vector<std::filesystem::path> EncodingCoordinator::uploadableFiles(const EncodeJob& job) const {
    std::vector<std::filesystem::path> files;
    if (const auto recorded = successfulOutputs_.find(job.id()); recorded != successfulOutputs_.end())
        files = recorded->second;
    else if (const auto output = job.outputURL())
        files.push_back(*output);
    // A folder is an image sequence: never sent as one body. A missing file
    // stays, to fail with its own message.
    std::erase_if(files, [](const auto& file) {
        std::error_code error;
        return std::filesystem::is_directory(file, error);
    });
    return files;
}

std::string EncodingCoordinator::publishSecret() const {
    if (!services_.secrets) return {};
    return services_.secrets->secret().value_or("");
}

void EncodingCoordinator::setPublishSecret(std::string_view secret) {
    if (!services_.secrets || secret == publishSecret()) return;
    services_.secrets->setSecret(secret);
}

std::string Notifier::summary(int finished, int failed) {
    std::string text = "Encoded " + formatNumber(finished) + " file" + (finished == 1 ? "" : "s");
    return text + (failed != 0 ? ", " + formatNumber(failed) + " failed." : ".");
}

void EncodingCoordinator::postCompletionNotification(int finished, int failed) const {
    if (!notifyOnCompletion_ || !services_.notifier) return;
    services_.notifier->post("Framewright", Notifier::summary(finished, failed));
}

}  // namespace fw
