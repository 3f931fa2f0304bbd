#pragma once
// One entry of the encoding queue: a source file, whether it takes part in
// runs, its own outputs (empty: the main settings apply) and the state of its
// latest run and publication.
//
// Observation: changed() is emitted with the property after a real change.
// A setter compares the new value with the stored one (texts by canonical
// equivalence, progress by IEEE equality, outputs element by element) and
// stores an equal value silently. appendOutput() always notifies.
//
// Thread-safety: every member may be called from any thread (the encoders'
// threads and the user interface alike); observers run on the calling thread
// after the change, with no lock held. Jobs are shared as
// std::shared_ptr<EncodeJob> and may be released on any thread.

#include "model/EncodeResult.h"
#include "model/ExportConfiguration.h"
#include "platform/core/Date.h"
#include "platform/core/Signal.h"
#include "platform/core/Uuid.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// One named output configuration of a job. Two specs made separately from
// the same preset differ, since each has its own id.
struct JobOutputSpec {
    Uuid id = Uuid::random();
    std::string name;  // the preset's name it was made from
    ExportConfiguration configuration;

    JobOutputSpec() = default;
    JobOutputSpec(std::string outputName, ExportConfiguration outputConfiguration)
        : name(std::move(outputName)), configuration(std::move(outputConfiguration)) {}

    // id, name (by canonical equivalence) and configuration.
    friend bool operator==(const JobOutputSpec& a, const JobOutputSpec& b);
};

class EncodeJob {
public:
    enum class Status { waiting, encoding, finished, failed, cancelled };
    enum class UploadState { none, uploading, uploaded, failed };
    enum class Property {
        displayName,
        status,
        progress,
        outputURL,
        errorMessage,
        enabled,
        outputs,
        uploadState,
        uploadMessage,
        startedAt,
        concealedSoundSeconds,
        damagedPictures,
        leftOutSoundSeconds,
    };

    // "Waiting", "Encoding", "Done", "Failed", "Cancelled".
    static std::string_view label(Status status);

    // A new job: new id, waiting, progress 0, enabled, no outputs, upload
    // state none, every optional property absent. `handOver`: the identity of
    // the launch that handed the file to the window, kept with the job.
    explicit EncodeJob(std::filesystem::path sourceURL, std::optional<Uuid> handOver = std::nullopt);
    EncodeJob(const EncodeJob&) = delete;
    EncodeJob& operator=(const EncodeJob&) = delete;

    const Uuid& id() const { return id_; }
    const std::filesystem::path& sourceURL() const { return sourceURL_; }
    const std::optional<Uuid>& handOver() const { return handOver_; }
    // displayName when set, else the source's last path component (extension included).
    std::string fileName() const;

    std::optional<std::string> displayName() const;
    void setDisplayName(std::optional<std::string> value);
    Status status() const;
    void setStatus(Status value);
    double progress() const;  // 0 to 1, of this job's current run
    void setProgress(double value);
    std::optional<std::filesystem::path> outputURL() const;
    void setOutputURL(std::optional<std::filesystem::path> value);
    std::optional<std::string> errorMessage() const;
    void setErrorMessage(std::optional<std::string> value);
    bool enabled() const;
    void setEnabled(bool value);
    std::vector<JobOutputSpec> outputs() const;
    void setOutputs(std::vector<JobOutputSpec> value);
    void appendOutput(JobOutputSpec spec);
    UploadState uploadState() const;
    void setUploadState(UploadState value);
    std::optional<std::string> uploadMessage() const;
    void setUploadMessage(std::optional<std::string> value);
    std::optional<Date> startedAt() const;
    void setStartedAt(std::optional<Date> value);
    // Of the latest run's outputs, the most sound written as silence for
    // damage in the source (EncodeResult); 0 for none.
    double concealedSoundSeconds() const;
    void setConcealedSoundSeconds(double value);
    // Of the latest run's outputs, the most pictures left out for damage in
    // the source (EncodeResult); 0 for none.
    std::int64_t damagedPictures() const;
    void setDamagedPictures(std::int64_t value);
    // Of the latest run's outputs, the most sound left out for damage in the
    // source (EncodeResult); 0 for none.
    double leftOutSoundSeconds() const;
    void setLeftOutSoundSeconds(double value);
    // The three figures above as one, and each of them set from one.
    EncodeResult damage() const;
    void setDamage(const EncodeResult& value);

    Signal<Property>& changed() { return changed_; }

private:
    template <class T>
    T get(const T EncodeJob::*field) const;
    template <class T, class Equal>
    void assign(T EncodeJob::*field, T value, Property property, Equal equal);

    const Uuid id_;
    const std::filesystem::path sourceURL_;
    const std::optional<Uuid> handOver_;

    mutable std::mutex mutex_;
    std::optional<std::string> displayName_;
    Status status_ = Status::waiting;
    double progress_ = 0;
    std::optional<std::filesystem::path> outputURL_;
    std::optional<std::string> errorMessage_;
    bool enabled_ = true;
    std::vector<JobOutputSpec> outputs_;
    UploadState uploadState_ = UploadState::none;
    std::optional<std::string> uploadMessage_;
    std::optional<Date> startedAt_;
    double concealedSoundSeconds_ = 0;
    std::int64_t damagedPictures_ = 0;
    double leftOutSoundSeconds_ = 0;

    Signal<Property> changed_;
};

}  // namespace fw
