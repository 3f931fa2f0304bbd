// Scrolling the queue card's list of 1,000 jobs (a quarter of them encoding,
// failed or finished, so every kind of row is drawn) one page at a time,
// each step painted at once on Qt's offscreen platform. Reports the mean
// time per step, the longest step of the run ("longest_ms") and the number
// of steps slower than a 60 Hz frame ("steps_over_16ms").
// Target: no step over 50 ms.

#include "coordinator/EncoderBackend.h"
#include "coordinator/EncodingCoordinator.h"
#include "model/Presets.h"
#include "ui/FilePicker.h"
#include "ui/JobListModel.h"
#include "ui/QueueCard.h"
#include "ui/QueueListView.h"
#include "ui/SettingsCards.h"
#include "ui/UiFlags.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace fw;

struct NoPicker final : ui::FilePicker {
    std::vector<fs::path> chooseFiles(QWidget*, const QString&, const std::optional<fs::path>&) override { return {}; }
    std::optional<fs::path> chooseFile(QWidget*, const QString&, const QString&) override { return {}; }
    std::optional<fs::path> chooseFolder(QWidget*, const QString&, const std::optional<fs::path>&) override {
        return {};
    }
};

void scrollThousandJobs(benchmark::State& state) {
    const fs::path folder = fs::temp_directory_path() / ("fw-queue-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    UserDefaults defaults(folder / "defaults.json");
    CoordinatorServices services;
    services.queue = std::make_shared<FolderQueueStore>(folder);
    services.encoders = std::make_shared<EngineEncoderBackend>();
    services.userDefaults = &defaults;
    EncodingCoordinator coordinator(services, EncodingCoordinator::Restore::no);
    PresetStore presets(defaults);
    ui::UiFlags flags(defaults);
    NoPicker picker;
    ui::CardContext context{coordinator, presets, flags, picker, {}, {}};

    std::vector<fs::path> files;
    for (int index = 0; index < 1000; ++index)
        files.push_back("/clips/a long clip name from the shoot, take " + std::to_string(index) + ".mov");
    coordinator.addFiles(files, EncodingCoordinator::Duplicates::allowed);
    for (std::size_t index = 0; index < coordinator.jobs().size(); index += 4) {
        auto& job = *coordinator.jobs()[index];
        switch (index / 4 % 3) {
        case 0:
            job.setStatus(EncodeJob::Status::encoding);
            job.setProgress(double(index % 100) / 100);
            break;
        case 1:
            job.setStatus(EncodeJob::Status::failed);
            job.setErrorMessage("The source could not be decoded: a long message that wraps onto a second line.");
            break;
        default:
            job.setStatus(EncodeJob::Status::finished);
            job.setOutputURL("/out/clip_prores.mov");
            job.setUploadState(EncodeJob::UploadState::uploaded);
        }
    }
    ui::QueueCard card(context);
    card.resize(560, 720);
    card.show();
    QApplication::processEvents();

    QScrollBar* bar = card.list()->verticalScrollBar();
    QWidget* viewport = card.list()->viewport();
    // The first pass draws every kind of row once (fonts, symbols); later passes are the steady state.
    for (int value = 0; value <= bar->maximum(); value += bar->pageStep()) {
        bar->setValue(value);
        viewport->repaint();
    }
    double longest = 0;
    int slow = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const int next = bar->value() + bar->pageStep();
        bar->setValue(next > bar->maximum() ? 0 : next);
        viewport->repaint();
        const double step = timer.nsecsElapsed() / 1e6;
        longest = std::max(longest, step);
        if (step > 16) ++slow;
    }
    state.counters["steps_over_16ms"] = slow;
    state.counters["longest_ms"] = longest;
    state.counters["rows"] = double(card.model()->rowCount());
    fs::remove_all(folder);
}
BENCHMARK(scrollThousandJobs)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
