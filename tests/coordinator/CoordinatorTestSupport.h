#pragma once
// A headless coordinator for tests: a QCoreApplication for the whole program,
// services over a scratch folder (queue file, history, user defaults), a
// fixed clock, and a way to stand in for a run.

#include "coordinator/EncodingCoordinator.h"
#include "support/TestSupport.h"

#include <QObject>
#include <QSignalSpy>

#include <memory>
#include <vector>

namespace fw::test {

// Opens the protected run-state setters, as the batch run uses them.
class TestCoordinator : public EncodingCoordinator {
public:
    using EncodingCoordinator::EncodingCoordinator;
    using EncodingCoordinator::setCancelling;
    using EncodingCoordinator::setRunning;
    using EncodingCoordinator::setRunStartedAt;
};

// 2026-01-31 12:00:00 UTC.
Date fixedNow();

// A scratch folder with the queue file ("support/queue.json"), the history,
// and the user defaults ("defaults.json") of one coordinator.
struct CoordinatorFixture {
    TempDir folder;
    UserDefaults defaults{folder / "defaults.json"};
    EncodeHistoryStore history;

    std::filesystem::path queueFolder() const { return folder / "support"; }
    CoordinatorServices services();
    std::unique_ptr<TestCoordinator> make(EncodingCoordinator::Restore restore = EncodingCoordinator::Restore::yes);
};

// Counts the emissions of one signal.
template <class Object, class Signal>
std::shared_ptr<int> countEmissions(Object* object, Signal signal) {
    auto count = std::make_shared<int>(0);
    QObject::connect(object, signal, object, [count] { ++*count; });
    return count;
}

// One spy per signal of the coordinator's own class.
std::vector<std::unique_ptr<QSignalSpy>> spyOnEverySignal(const QObject* object);

// Creates a small file and returns its path.
std::filesystem::path touch(const std::filesystem::path& file);

}  // namespace fw::test
