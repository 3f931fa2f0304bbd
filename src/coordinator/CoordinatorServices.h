#pragma once
// Everything the coordinator needs from outside, handed to it in one bundle:
// the application wires in the real services (app/StandardServices.h), tests
// wire fakes.
//
// Threads: the coordinator calls every service from the main thread only, one
// call at a time, except where a member says otherwise. Services outlive the
// coordinator that holds them (shared ownership, or process-wide stores).

#include "coordinator/PublishSettings.h"
#include "coordinator/WatchFolderMonitor.h"
#include "model/EncodeHistory.h"
#include "model/QueuePersistence.h"
#include "model/Size.h"
#include "platform/core/Date.h"
#include "platform/core/Signal.h"
#include "platform/core/StoredFileReport.h"
#include "platform/core/UserDefaults.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// Keeps the queue across launches. Never fails: a missing or unreadable store
// loads as an empty queue, a failed save keeps the previous state. What the
// user should be told of is emitted through reports(), on the saving thread:
// a failed save, a file set aside or not, and the save that ended what was
// reported unsaved (Kind::saved).
class QueueStore {
public:
    virtual ~QueueStore() = default;
    virtual QueuePersistence::JobList load() = 0;
    virtual void save(const QueuePersistence::JobList& jobs) = 0;
    // Sets a stored queue that could not be read aside now rather than at the
    // next save, and reports it; reports too how many queued files the load
    // could not find. Nothing when there is neither.
    virtual void setAsideUnreadable() {}
    // Forgets the entries the load left out because their files were not
    // there: the next save leaves them out of the file.
    virtual void forgetAbsent() {}
    Signal<const StoredFileReport&>& reports() { return reports_; }
    // What the last save reported that left the queue unwritten (a failed
    // write, an unreadable file still in the way); empty once a save worked.
    const std::vector<StoredFileReport>& unsaved() const { return unsaved_; }

protected:
    // Emits what a save of `file` reported, with the saved report when it is
    // due, and keeps those that leave the queue unsaved.
    void tell(std::vector<StoredFileReport> reports, const std::filesystem::path& file);
    // Emits what setting `file` aside reported.
    void tellSetAside(std::vector<StoredFileReport> reports, const std::filesystem::path& file);

    Signal<const StoredFileReport&> reports_;
    std::vector<StoredFileReport> unsaved_;
    UnsavedReports unsavedReports_;
};

// The queue file (QueuePersistence) in one folder; saves are atomic.
class FolderQueueStore final : public QueueStore {
public:
    explicit FolderQueueStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
    QueuePersistence::JobList load() override;
    void save(const QueuePersistence::JobList& jobs) override;
    void setAsideUnreadable() override;
    void forgetAbsent() override { absent_.clear(); }
    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    // The loaded file's entries whose source was not there, as written: each
    // save writes them back, so that a later launch that finds them restores them.
    std::vector<Json> absent_;
    bool absentTold_ = false;
};

// The publishing secret (a password or token). A failure reads as no secret
// and a failed store is silent.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual std::optional<std::string> secret() const = 0;
    // Replaces the secret; an empty text removes it.
    virtual void setSecret(std::string_view secret) = 0;
};

// The desktop's notifications. Failures are silent.
class Notifier {
public:
    virtual ~Notifier() = default;
    // Asks once per process whether notifications can be shown, so that the
    // first post does not wait for the answer (the window calls it early).
    virtual void requestAuthorizationIfNeeded() {}
    // A post made while that question is open is shown once it is answered yes.
    virtual void post(const std::string& title, const std::string& body) = 0;

    // The end-of-batch text: "Encoded 1 file." / "Encoded 2 files, 1 failed."
    static std::string summary(int finished, int failed);
};

// Sends one finished output to the publishing endpoint. Called on a worker
// thread, never the GUI thread; blocks until the upload ends. Returns nullopt on success,
// else the message shown beside the job. A stop request ends it early with a
// message.
class Uploader {
public:
    virtual ~Uploader() = default;
    virtual std::optional<std::string> upload(const std::filesystem::path& file, const PublishSettings& settings,
                                              const std::optional<std::string>& secret, std::stop_token stop) = 0;
};

// The encodes (coordinator/EncoderBackend.h).
class EncoderBackend;

struct CoordinatorServices {
    std::shared_ptr<QueueStore> queue;
    // Not owned; must outlive the coordinator.
    EncodeHistoryStore* history = nullptr;
    UserDefaults* userDefaults = nullptr;
    // Absent: the feature is off (tests leave them unset or wire fakes).
    std::shared_ptr<SecretStore> secrets;
    std::shared_ptr<Notifier> notifier;
    std::shared_ptr<Uploader> uploader;
    std::shared_ptr<EncoderBackend> encoders;
    // The wall clock; names ({date}) and run times read it.
    std::function<Date()> clock = [] { return std::chrono::system_clock::now(); };
    // Logical processors at construction, at least 1.
    int coreCount = 1;
    // How long a watched file must be quiet before it is taken: after its
    // writers closed it (or when it was not seen being written), and while a
    // writer still holds it (tests shorten them); how often the watched path
    // is looked at for a folder that events cannot tell of.
    std::chrono::milliseconds watchSettleInterval = WatchFolderMonitor::kSettleInterval;
    std::chrono::milliseconds watchQuietInterval = WatchFolderMonitor::kQuietInterval;
    std::chrono::milliseconds watchPathLookInterval = WatchFolderMonitor::kPathLookInterval;
};

}  // namespace fw
