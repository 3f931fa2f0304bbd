#include "CoordinatorTestSupport.h"

#include <QCoreApplication>
#include <QMetaMethod>

#include <fstream>

#include <gtest/gtest.h>

namespace fw::test {

namespace {

// One application object for the program, as the real shell has; no window
// system is touched, so the tests run headless.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "fw_coordinator_tests";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { application_.reset(); }

private:
    std::unique_ptr<QCoreApplication> application_;
};

const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

Date fixedNow() { return dateFromReferenceSeconds(1769860800.0 - kReferenceDateUnixSeconds); }

CoordinatorServices CoordinatorFixture::services() {
    CoordinatorServices services;
    services.queue = std::make_shared<FolderQueueStore>(queueFolder());
    services.history = &history;
    services.userDefaults = &defaults;
    services.encoders = std::make_shared<EngineEncoderBackend>();
    services.clock = [] { return fixedNow(); };
    services.coreCount = 6;
    return services;
}

std::unique_ptr<TestCoordinator> CoordinatorFixture::make(EncodingCoordinator::Restore restore) {
    return std::make_unique<TestCoordinator>(services(), restore);
}

std::vector<std::unique_ptr<QSignalSpy>> spyOnEverySignal(const QObject* object) {
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    const QMetaObject* meta = object->metaObject();
    for (int index = meta->methodOffset(); index < meta->methodCount(); ++index) {
        const QMetaMethod method = meta->method(index);
        if (method.methodType() == QMetaMethod::Signal) spies.push_back(std::make_unique<QSignalSpy>(object, method));
    }
    return spies;
}

std::filesystem::path touch(const std::filesystem::path& file) {
    std::ofstream(file) << "x";
    return file;
}

}  // namespace fw::test
