// The queue observer's relay under load: jobs changed from several threads at
// once (as upload threads and encoders change them) while the main thread
// changes jobs too, flushes reports and makes and drops observers.

#include "CoordinatorTestSupport.h"
#include "UiTestSupport.h"
#include "ui/QueueObserver.h"

#include <QCoreApplication>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

TEST(QueueObserver, ReportsFromManyThreadsAllArriveOnItsOwnThread) {
    constexpr int kThreads = 4;
    constexpr int kChanges = 4000;
    CoordinatorFixture fixture;
    auto coordinator = fixture.make(EncodingCoordinator::Restore::no);
    std::vector<std::filesystem::path> files(kThreads + 1, touch(fixture.folder / "clip.mov"));
    coordinator->addFiles(files, EncodingCoordinator::Duplicates::allowed);
    const auto jobs = coordinator->jobs();  // the last one is shared by every thread

    ui::QueueObserver observer(*coordinator, nullptr);
    std::map<const EncodeJob*, double> lastSeen;
    int passes = 0;
    const std::thread::id mainThread = std::this_thread::get_id();
    bool offThread = false;
    QObject::connect(&observer, &ui::QueueObserver::jobTouched, [&](const EncodeJob* job) {
        offThread |= std::this_thread::get_id() != mainThread;
        lastSeen[job] = job->progress();
    });
    QObject::connect(&observer, &ui::QueueObserver::queueTouched, [&] { ++passes; });

    std::atomic<int> running = kThreads;
    std::vector<std::thread> threads;
    for (int index = 0; index < kThreads; ++index)
        threads.emplace_back([&, own = jobs[index], shared = jobs.back()] {
            for (int change = 1; change <= kChanges; ++change) {
                own->setProgress(double(change) / kChanges);
                shared->setUploadState(change % 2 ? EncodeJob::UploadState::uploading : EncodeJob::UploadState::none);
            }
            --running;
        });
    // Meanwhile the main thread changes jobs itself, flushes, and makes and
    // drops observers whose relays the threads are posting through.
    for (int turn = 0; running > 0; ++turn) {
        jobs.back()->setProgress(0.5);
        auto passing = std::make_unique<ui::QueueObserver>(*coordinator, nullptr);
        QCoreApplication::processEvents();
        if (turn % 2) passing.reset();
        QCoreApplication::processEvents();
    }
    for (auto& thread : threads) thread.join();
    jobs.back()->setProgress(1);
    processEvents();

    EXPECT_FALSE(offThread);
    EXPECT_GT(passes, 0);
    for (const auto& job : jobs) EXPECT_EQ(lastSeen[job.get()], 1.0) << "the last change of a job was not reported";
}

}  // namespace
}  // namespace fw::test
