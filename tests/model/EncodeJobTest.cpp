#include "model/EncodeJob.h"

#include <gtest/gtest.h>

#include <limits>

namespace fw {
namespace {

using Property = EncodeJob::Property;

struct Recorder {
    explicit Recorder(EncodeJob& job) {
        job.changed().connect([this](Property property) { properties.push_back(property); });
    }
    std::size_t take() {
        auto count = properties.size();
        properties.clear();
        return count;
    }
    std::vector<Property> properties;
};

TEST(EncodeJob, NotifiesOnlyOnRealChanges) {
    EncodeJob job("/a.mov");
    Recorder recorder(job);

    job.setStatus(EncodeJob::Status::waiting);
    EXPECT_EQ(recorder.take(), 0u);
    job.setStatus(EncodeJob::Status::encoding);
    ASSERT_EQ(recorder.properties, std::vector<Property>{Property::status});
    recorder.take();

    job.setDisplayName(std::string());  // absent and empty differ
    EXPECT_EQ(recorder.take(), 1u);
    job.setDisplayName(std::string());
    EXPECT_EQ(recorder.take(), 0u);
    job.setErrorMessage("Caf\u00e9");
    EXPECT_EQ(recorder.take(), 1u);
    job.setErrorMessage("Cafe\u0301");  // canonically equal: stored silently
    EXPECT_EQ(recorder.take(), 0u);
    EXPECT_EQ(job.errorMessage(), "Cafe\u0301");

    job.setProgress(-0.0);  // equal to 0
    EXPECT_EQ(recorder.take(), 0u);
    job.setProgress(std::numeric_limits<double>::quiet_NaN());
    job.setProgress(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(recorder.take(), 2u) << "not-a-number never equals anything";

    job.setEnabled(true);
    job.setUploadState(EncodeJob::UploadState::none);
    job.setStartedAt(std::nullopt);
    job.setOutputURL(std::nullopt);
    EXPECT_EQ(recorder.take(), 0u);
    Date now = std::chrono::system_clock::now();
    job.setStartedAt(now);
    job.setStartedAt(now);
    job.setOutputURL(std::filesystem::path("/out/a_ProRes.mov"));
    job.setOutputURL(std::filesystem::path("/out/a_ProRes.mov"));
    EXPECT_EQ(recorder.take(), 2u);
}

TEST(EncodeJob, OutputsCompareBySpecIdentity) {
    EncodeJob job("/a.mov");
    Recorder recorder(job);
    ExportConfiguration configuration;
    JobOutputSpec first("Web", configuration);
    JobOutputSpec second("Web", configuration);
    EXPECT_NE(first, second) << "specs made separately differ";

    job.setOutputs({});
    EXPECT_EQ(recorder.take(), 0u);
    job.setOutputs({first});
    EXPECT_EQ(recorder.take(), 1u);
    job.setOutputs({first});  // the same spec again
    EXPECT_EQ(recorder.take(), 0u);
    job.setOutputs({JobOutputSpec("Web", configuration)});  // fresh identity
    EXPECT_EQ(recorder.take(), 1u);
    job.appendOutput(second);
    EXPECT_EQ(recorder.take(), 1u);
    EXPECT_EQ(job.outputs().size(), 2u);
    EXPECT_EQ(job.outputs().back(), second);
}

}  // namespace
}  // namespace fw
