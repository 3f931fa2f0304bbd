// "Upload finished now" and the secret field, through the coordinator: which
// files of which jobs are sent, in what order, and how each job ends.

#include "CoordinatorTestSupport.h"
#include "LoopbackHttpServer.h"
#include "PrivateSessionBus.h"
#include "coordinator/HttpUploader.h"
#include "coordinator/PublishRequest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <set>

namespace fw::test {
namespace {

using Upload = EncodeJob::UploadState;

// Records each upload as "<name> <secret>"; files named in `failing` fail with "failed: <name>".
class RecordingUploader final : public Uploader {
public:
    std::set<std::string> failing;

    std::optional<std::string> upload(const std::filesystem::path& file, const PublishSettings&,
                                      const std::optional<std::string>& secret, std::stop_token) override {
        std::lock_guard lock(mutex_);
        const std::string name = file.filename().string();
        sent_.push_back(name + " " + secret.value_or("<none>"));
        return failing.count(name) ? std::optional("failed: " + name) : std::nullopt;
    }
    std::vector<std::string> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> sent_;
};

class CountingSecretStore final : public SecretStore {
public:
    std::optional<std::string> stored;
    int writes = 0;
    std::optional<std::string> secret() const override { return stored; }
    void setSecret(std::string_view value) override {
        ++writes;
        stored = value.empty() ? std::nullopt : std::optional<std::string>(value);
    }
};

class PublishingTest : public ::testing::Test {
protected:
    std::unique_ptr<TestCoordinator> make(std::shared_ptr<Uploader> uploader, std::shared_ptr<Notifier> notifier = {}) {
        auto services = fixture_.services();
        services.uploader = std::move(uploader);
        if (notifier) services.notifier = std::move(notifier);
        services.secrets = secrets_;
        return std::make_unique<TestCoordinator>(services, EncodingCoordinator::Restore::no);
    }
    // Finished jobs, one per output, the way a finished run leaves them.
    void addFinishedJobs(TestCoordinator& coordinator, const std::vector<std::filesystem::path>& outputs) {
        for (const auto& output : outputs)
            coordinator.addFiles({output.parent_path() / ("source-" + output.stem().string() + ".mov")},
                                 EncodingCoordinator::Duplicates::allowed);
        for (std::size_t index = 0; index < outputs.size(); ++index) {
            coordinator.jobs()[index]->setStatus(EncodeJob::Status::finished);
            coordinator.jobs()[index]->setOutputURL(outputs[index]);
        }
    }
    void runPass(TestCoordinator& coordinator, const std::string& endpoint,
                 PublishSettings::Method method = PublishSettings::Method::put) {
        PublishSettings publish;
        publish.endpoint = endpoint;
        publish.method = method;
        coordinator.setPublish(publish);
        ASSERT_TRUE(coordinator.canPublish());
        coordinator.uploadFinished();
        EXPECT_TRUE(coordinator.isUploading());
        EXPECT_FALSE(coordinator.canPublish());
        ASSERT_TRUE(waitUntil([&] { return !coordinator.isUploading(); }));
    }

    CoordinatorFixture fixture_;
    std::shared_ptr<CountingSecretStore> secrets_ = std::make_shared<CountingSecretStore>();
};

TEST_F(PublishingTest, EverySuccessfulFileOfEachJobInQueueOrder) {
    const auto& folder = fixture_.folder;
    std::filesystem::create_directories(folder / "frames");
    for (const char* name : {"a.mov", "a.m4a", "b.mov", "c.mov", "d.mov"}) touch(folder / name);
    auto uploader = std::make_shared<RecordingUploader>();
    uploader->failing = {"a.m4a"};
    secrets_->stored = "pw";
    auto coordinator = make(uploader);
    addFinishedJobs(*coordinator,
                    {folder / "a.mov", folder / "b.mov", folder / "frames", folder / "c.mov", folder / "d.mov"});
    auto jobs = coordinator->jobs();
    jobs[2]->setStatus(EncodeJob::Status::failed);  // not finished: not sent
    // Job a made a movie, a folder of frames and the audio file; job c's
    // record lost its folder, and job d is mid-upload from a batch.
    coordinator->recordSuccessfulOutput(*jobs[0], folder / "a.mov");
    coordinator->recordSuccessfulOutput(*jobs[0], folder / "frames");
    coordinator->recordSuccessfulOutput(*jobs[0], folder / "a.m4a");
    jobs[4]->setUploadState(Upload::uploading);
    auto changes = countEmissions(coordinator.get(), &EncodingCoordinator::isUploadingChanged);

    runPass(*coordinator, "https://example.invalid/dav/");
    EXPECT_EQ(uploader->sent(), (std::vector<std::string>{"a.mov pw", "a.m4a pw", "b.mov pw", "c.mov pw"}));
    std::vector<std::pair<Upload, std::optional<std::string>>> states;
    for (const auto& job : jobs) states.emplace_back(job->uploadState(), job->uploadMessage());
    EXPECT_EQ(states, (decltype(states){{Upload::failed, "failed: a.m4a"},
                                        {Upload::uploaded, std::nullopt},
                                        {Upload::none, std::nullopt},
                                        {Upload::uploaded, std::nullopt},
                                        {Upload::uploading, std::nullopt}}));
    EXPECT_EQ(*changes, 2);

    // A retried job forgets its files: afterwards only its outputURL counts.
    coordinator->retry(*jobs[0]);
    jobs[0]->setOutputURL(folder / "a.mov");
    EXPECT_EQ(coordinator->uploadableFiles(*jobs[0]), std::vector<std::filesystem::path>{folder / "a.mov"});
}

// Each POST is a request of its own, so every file reaches one URL; a PUT to
// one URL would replace the file before, so only the first is sent there.
TEST_F(PublishingTest, EveryFileIsPostedButOneURLIsPutOncePerPass) {
    using M = PublishSettings::Method;
    const auto& folder = fixture_.folder;
    for (const char* name : {"a.mov", "a.mp4", "b.mov"}) std::ofstream(folder / name) << name;
    const std::string shared(kSharedTargetMessage);
    struct Case {
        M method;
        std::string endpointPath;
        std::vector<std::string> received;  // "<target> <body>"
        std::vector<std::pair<Upload, std::optional<std::string>>> states;
    };
    const Case cases[] = {
        {M::put,
         "/dav/",
         {"/dav/a.mov a.mov", "/dav/a.mp4 a.mp4", "/dav/b.mov b.mov"},
         {{Upload::uploaded, std::nullopt}, {Upload::uploaded, std::nullopt}}},
        {M::put, "/object?sig=1", {"/object?sig=1 a.mov"}, {{Upload::failed, shared}, {Upload::failed, shared}}},
        {M::post,
         "/object?sig=1",
         {"/object?sig=1 a.mov", "/object?sig=1 a.mp4", "/object?sig=1 b.mov"},
         {{Upload::uploaded, std::nullopt}, {Upload::uploaded, std::nullopt}}},
        {M::post,
         "/in/",
         {"/in/a.mov a.mov", "/in/a.mp4 a.mp4", "/in/b.mov b.mov"},
         {{Upload::uploaded, std::nullopt}, {Upload::uploaded, std::nullopt}}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.method)) + " " + c.endpointPath);
        LoopbackHttpServer server;
        auto coordinator = make(std::make_shared<HttpUploader>());
        addFinishedJobs(*coordinator, {folder / "a.mp4", folder / "b.mov"});
        // Job a wrote two outputs.
        coordinator->recordSuccessfulOutput(*coordinator->jobs()[0], folder / "a.mov");
        coordinator->recordSuccessfulOutput(*coordinator->jobs()[0], folder / "a.mp4");
        runPass(*coordinator, server.url(c.endpointPath), c.method);
        std::vector<std::string> received;
        for (const auto& request : server.requests()) {
            EXPECT_EQ(request.method, rawValue(c.method));
            received.push_back(request.target + " " + request.body);
        }
        EXPECT_EQ(received, c.received);
        std::vector<std::pair<Upload, std::optional<std::string>>> states;
        for (const auto& job : coordinator->jobs()) states.emplace_back(job->uploadState(), job->uploadMessage());
        EXPECT_EQ(states, c.states);
    }
}

// A job whose files fail in several ways says why its first one failed: the
// later failures are often the first one's consequence.
TEST_F(PublishingTest, AJobsUploadMessageIsItsFirstFailure) {
    const auto& folder = fixture_.folder;
    const std::vector<std::string> files = {"a.mov", "a.mp4", "a.m4a"};
    for (const auto& name : files) touch(folder / name);
    const std::string shared(kSharedTargetMessage);
    const struct {
        const char* endpoint;
        std::set<std::string> failing;
        Upload state;
        std::optional<std::string> message;
    } cases[] = {
        {"https://example.invalid/dav/", {}, Upload::uploaded, std::nullopt},
        {"https://example.invalid/dav/", {"a.mov", "a.m4a"}, Upload::failed, "failed: a.mov"},
        {"https://example.invalid/dav/", {"a.mp4", "a.m4a"}, Upload::failed, "failed: a.mp4"},
        {"https://example.invalid/dav/", {"a.m4a"}, Upload::failed, "failed: a.m4a"},
        // One URL for every file: the first upload fails, the other two are not sent.
        {"https://example.invalid/object", {"a.mov"}, Upload::failed, "failed: a.mov"},
        {"https://example.invalid/object", {}, Upload::failed, shared},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endpoint + (" " + c.message.value_or("uploaded")));
        auto uploader = std::make_shared<RecordingUploader>();
        uploader->failing = c.failing;
        auto coordinator = make(uploader);
        addFinishedJobs(*coordinator, {folder / files.back()});
        EncodeJob& job = *coordinator->jobs()[0];
        for (const auto& name : files) coordinator->recordSuccessfulOutput(job, folder / name);
        runPass(*coordinator, c.endpoint);
        EXPECT_EQ(job.uploadState(), c.state);
        EXPECT_EQ(job.uploadMessage(), c.message);
    }
}

TEST_F(PublishingTest, SecretIsWrittenOnlyWhenTheEditedTextDiffers) {
    auto coordinator = make(nullptr);
    const std::pair<std::string, int> edits[] = {{"", 0}, {"one", 1}, {"one", 1}, {"two", 2}, {"", 3}, {"", 3}};
    for (const auto& [text, writes] : edits) {
        coordinator->setPublishSecret(text);
        EXPECT_EQ(secrets_->writes, writes) << text;
        EXPECT_EQ(coordinator->publishSecret(), text);
    }
}

class RecordingNotifier final : public Notifier {
public:
    std::vector<std::pair<std::string, std::string>> posted;
    void post(const std::string& title, const std::string& body) override { posted.emplace_back(title, body); }
};

TEST_F(PublishingTest, CompletionNotificationSummarisesTheBatchsCounts) {
    using S = EncodeJob::Status;
    struct Case {
        std::vector<S> statuses;
        bool notifyOnCompletion;
        std::optional<std::string> body;
    };
    const Case cases[] = {{{S::finished, S::waiting, S::cancelled}, true, "Encoded 1 file."},
                          {{S::finished, S::failed, S::finished, S::encoding}, true, "Encoded 2 files, 1 failed."},
                          {{S::failed, S::failed}, true, "Encoded 0 files, 2 failed."},
                          {{S::finished}, false, std::nullopt}};
    for (const Case& c : cases) {
        auto notifier = std::make_shared<RecordingNotifier>();
        auto coordinator = make(nullptr, notifier);
        coordinator->setNotifyOnCompletion(c.notifyOnCompletion);
        const auto count = [&](S status) {
            return static_cast<int>(std::count(c.statuses.begin(), c.statuses.end(), status));
        };
        coordinator->postCompletionNotification(count(S::finished), count(S::failed));
        using Posted = decltype(notifier->posted);
        EXPECT_EQ(notifier->posted, (c.body ? Posted{{"Framewright", *c.body}} : Posted{}));
    }
}

}  // namespace
}  // namespace fw::test
