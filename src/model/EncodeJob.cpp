#include "model/EncodeJob.h"

#include "model/UnicodeText.h"

namespace fw {

namespace {
constexpr auto kPlainEqual = [](const auto& a, const auto& b) { return a == b; };
constexpr auto kTextEqual = [](const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return canonicallyEquivalent(a, b);
};
}  // namespace

bool operator==(const JobOutputSpec& a, const JobOutputSpec& b) {
    return a.id == b.id && canonicallyEquivalent(std::string_view(a.name), std::string_view(b.name)) &&
           a.configuration == b.configuration;
}

std::string_view EncodeJob::label(Status status) {
    switch (status) {
    case Status::waiting: return "Waiting";
    case Status::encoding: return "Encoding";
    case Status::finished: return "Done";
    case Status::failed: return "Failed";
    case Status::cancelled: return "Cancelled";
    }
    return "";
}

EncodeJob::EncodeJob(std::filesystem::path sourceURL, std::optional<Uuid> handOver)
    : id_(Uuid::random()), sourceURL_(std::move(sourceURL)), handOver_(handOver) {}

std::string EncodeJob::fileName() const {
    if (auto name = displayName()) return *name;
    return sourceURL_.filename().string();
}

template <class T>
T EncodeJob::get(const T EncodeJob::*field) const {
    std::lock_guard lock(mutex_);
    return this->*field;
}

template <class T, class Equal>
void EncodeJob::assign(T EncodeJob::*field, T value, Property property, Equal equal) {
    bool differs;
    {
        std::lock_guard lock(mutex_);
        differs = !equal(this->*field, value);
        this->*field = std::move(value);
    }
    if (differs) changed_.emit(property);
}

std::optional<std::string> EncodeJob::displayName() const { return get(&EncodeJob::displayName_); }
void EncodeJob::setDisplayName(std::optional<std::string> value) {
    assign(&EncodeJob::displayName_, std::move(value), Property::displayName, kTextEqual);
}

EncodeJob::Status EncodeJob::status() const { return get(&EncodeJob::status_); }
void EncodeJob::setStatus(Status value) { assign(&EncodeJob::status_, value, Property::status, kPlainEqual); }

double EncodeJob::progress() const { return get(&EncodeJob::progress_); }
void EncodeJob::setProgress(double value) {
    // IEEE equality: NaN always notifies, 0 over -0 does not.
    assign(&EncodeJob::progress_, value, Property::progress, kPlainEqual);
}

std::optional<std::filesystem::path> EncodeJob::outputURL() const { return get(&EncodeJob::outputURL_); }
void EncodeJob::setOutputURL(std::optional<std::filesystem::path> value) {
    assign(&EncodeJob::outputURL_, std::move(value), Property::outputURL, kPlainEqual);
}

std::optional<std::string> EncodeJob::errorMessage() const { return get(&EncodeJob::errorMessage_); }
void EncodeJob::setErrorMessage(std::optional<std::string> value) {
    assign(&EncodeJob::errorMessage_, std::move(value), Property::errorMessage, kTextEqual);
}

bool EncodeJob::enabled() const { return get(&EncodeJob::enabled_); }
void EncodeJob::setEnabled(bool value) { assign(&EncodeJob::enabled_, value, Property::enabled, kPlainEqual); }

std::vector<JobOutputSpec> EncodeJob::outputs() const { return get(&EncodeJob::outputs_); }
void EncodeJob::setOutputs(std::vector<JobOutputSpec> value) {
    assign(&EncodeJob::outputs_, std::move(value), Property::outputs, kPlainEqual);
}

void EncodeJob::appendOutput(JobOutputSpec spec) {
    {
        std::lock_guard lock(mutex_);
        outputs_.push_back(std::move(spec));
    }
    changed_.emit(Property::outputs);
}

EncodeJob::UploadState EncodeJob::uploadState() const { return get(&EncodeJob::uploadState_); }
void EncodeJob::setUploadState(UploadState value) {
    assign(&EncodeJob::uploadState_, value, Property::uploadState, kPlainEqual);
}

std::optional<std::string> EncodeJob::uploadMessage() const { return get(&EncodeJob::uploadMessage_); }
void EncodeJob::setUploadMessage(std::optional<std::string> value) {
    assign(&EncodeJob::uploadMessage_, std::move(value), Property::uploadMessage, kTextEqual);
}

std::optional<Date> EncodeJob::startedAt() const { return get(&EncodeJob::startedAt_); }
void EncodeJob::setStartedAt(std::optional<Date> value) {
    assign(&EncodeJob::startedAt_, std::move(value), Property::startedAt, kPlainEqual);
}

double EncodeJob::concealedSoundSeconds() const { return get(&EncodeJob::concealedSoundSeconds_); }
void EncodeJob::setConcealedSoundSeconds(double value) {
    assign(&EncodeJob::concealedSoundSeconds_, value, Property::concealedSoundSeconds, kPlainEqual);
}

std::int64_t EncodeJob::damagedPictures() const { return get(&EncodeJob::damagedPictures_); }
void EncodeJob::setDamagedPictures(std::int64_t value) {
    assign(&EncodeJob::damagedPictures_, value, Property::damagedPictures, kPlainEqual);
}

double EncodeJob::leftOutSoundSeconds() const { return get(&EncodeJob::leftOutSoundSeconds_); }
void EncodeJob::setLeftOutSoundSeconds(double value) {
    assign(&EncodeJob::leftOutSoundSeconds_, value, Property::leftOutSoundSeconds, kPlainEqual);
}

EncodeResult EncodeJob::damage() const {
    std::lock_guard lock(mutex_);
    return {concealedSoundSeconds_, damagedPictures_, leftOutSoundSeconds_};
}

void EncodeJob::setDamage(const EncodeResult& value) {
    setConcealedSoundSeconds(value.concealedSoundSeconds);
    setDamagedPictures(value.damagedPictures);
    setLeftOutSoundSeconds(value.leftOutSoundSeconds);
}

}  // namespace fw
