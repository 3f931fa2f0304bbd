#include "CoordinatorTestSupport.h"

#include "coordinator/EncoderBackend.h"

#include <QMetaMethod>

#include <fstream>

#include <gtest/gtest.h>

namespace fw::test {

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
