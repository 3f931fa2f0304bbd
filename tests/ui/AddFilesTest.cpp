// Putting files on the queue: the real chooser's filters, button and start
// folder; the folder remembered across restarts; files the queue refuses
// (from the chooser or a drop) named in a message, the rest queued.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/AddFiles.h"
#include "ui/FilePicker.h"
#include "ui/MainWindow.h"
#include "ui/QueueCard.h"
#include "ui/UiFlags.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

namespace fs = std::filesystem;

QString qPath(const fs::path& path) { return QString::fromStdString(path.string()); }

TEST(AddFilesChooser, ListsSupportedMediaFirstAllFilesSecondAndReadsAdd) {
    TempDir folder;
    for (const char* name : {"clip.mov", "CLIP2.MOV", "photo.JPG", "notes.txt", "anim.gif"}) touch(folder / name);
    struct Seen {
        QString title, accept, directory;
        QStringList filters;
        std::vector<std::string> listed;  // under each filter
    } seen;
    // Media files in any case of their extension; then everything.
    const std::vector<QStringList> expected = {{"CLIP2.MOV", "clip.mov", "photo.JPG"},
                                               {"CLIP2.MOV", "anim.gif", "clip.mov", "notes.txt", "photo.JPG"}};
    // The dialog is modal: looked at and answered from the event loop it runs.
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        seen.title = dialog->windowTitle();
        seen.accept = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->text();
        seen.directory = dialog->directory().absolutePath();
        seen.filters = dialog->nameFilters();
        auto* model = dialog->findChild<QFileSystemModel*>();
        ASSERT_NE(model, nullptr);
        for (const QString& filter : seen.filters) {
            dialog->selectNameFilter(filter);
            const QModelIndex root = model->index(qPath(folder.path()));
            // The folder is read, and the filter applied, in the background.
            const QStringList& wanted = expected.at(seen.listed.size());
            QStringList names;
            (void)QTest::qWaitFor([&] {
                names.clear();
                for (int row = 0; row < model->rowCount(root); ++row)
                    names.append(model->fileName(model->index(row, 0, root)));
                names.sort();
                return names == wanted;
            });
            seen.listed.push_back(names.join(QLatin1Char(' ')).toStdString());
        }
        dialog->selectNameFilter(seen.filters.value(0));
        QTest::keyClicks(dialog->findChild<QLineEdit*>("fileNameEdit"), "clip.mov");
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
    });
    ui::DialogFilePicker picker;
    const auto files = picker.chooseFiles(nullptr, ui::addFilesTitle(), folder.path());

    EXPECT_EQ(files, std::vector<fs::path>{folder / "clip.mov"});
    EXPECT_EQ(seen.title, ui::addFilesTitle());
    EXPECT_EQ(seen.accept, "Add");
    EXPECT_EQ(seen.directory, qPath(folder.path()));
    ASSERT_EQ(seen.filters.size(), 2);
    EXPECT_TRUE(seen.filters[0].startsWith("Media Files (")) << seen.filters[0].toStdString();
    EXPECT_EQ(seen.filters[1], "All Files (*)");
    ASSERT_EQ(seen.listed.size(), 2u);
    EXPECT_EQ(seen.listed[0], expected[0].join(QLatin1Char(' ')).toStdString());
    EXPECT_EQ(seen.listed[1], expected[1].join(QLatin1Char(' ')).toStdString());
}

struct AddFilesTest : ::testing::Test {
    CoordinatorFixture fixture;
    std::unique_ptr<TestCoordinator> coordinator = fixture.make(EncodingCoordinator::Restore::no);
    PresetStore presets{fixture.defaults};
    ScriptedFilePicker picker;

    std::unique_ptr<ui::MainWindow> makeWindow(ui::UiFlags& flags) {
        auto window = std::make_unique<ui::MainWindow>(ui::WindowEnvironment{*coordinator, presets, flags, picker});
        window->show();
        return window;
    }
    std::vector<std::string> queued() const {
        std::vector<std::string> names;
        for (const auto& job : coordinator->jobs()) names.push_back(job->sourceURL().filename().string());
        return names;
    }
    // The text of the refusal message over `window`, "" when none is open.
    static std::string refusal(QWidget& window) {
        processEvents();
        auto* box = window.findChild<QMessageBox*>("refusedFiles");
        if (!box || !box->isVisible()) return {};
        const std::string text = (box->text() + "\n" + box->informativeText()).toStdString();
        box->close();
        processEvents();
        return text;
    }
};

TEST_F(AddFilesTest, TheChooserStartsInTheFolderUsedLastAcrossRestarts) {
    const fs::path first = fixture.folder / "shoot";
    const fs::path second = fixture.folder / "more";
    fs::create_directories(first);
    fs::create_directories(second);
    {
        ui::UiFlags flags(fixture.defaults);
        auto window = makeWindow(flags);
        QPushButton* add = window->findChild<QPushButton*>("addFiles");
        struct Case {
            std::vector<fs::path> chosen;
            std::optional<fs::path> expectedStart;
        };
        for (const Case& c : {Case{{touch(first / "a.mov")}, std::nullopt}, Case{{}, first},
                              Case{{touch(second / "b.mov")}, first}, Case{{}, second}}) {
            picker.files = c.chosen;
            add->click();
            EXPECT_EQ(picker.lastFilesStart, c.expectedStart);
            EXPECT_EQ(picker.lastFilesTitle, ui::addFilesTitle());
        }
    }
    // A new process: the defaults read back from their file.
    UserDefaults reloaded(fixture.defaults.file());
    ui::UiFlags flags(reloaded);
    auto window = makeWindow(flags);
    window->findChild<QPushButton*>("addFiles")->click();
    EXPECT_EQ(picker.lastFilesStart, second);
    // A folder that has gone: the chooser picks its own.
    fs::remove_all(second);
    window->findChild<QPushButton*>("addFiles")->click();
    EXPECT_EQ(picker.lastFilesStart, std::nullopt);
}

TEST_F(AddFilesTest, FilesTheQueueRefusesAreNamedFromTheChooserAndFromADrop) {
    ui::UiFlags flags(fixture.defaults);
    auto window = makeWindow(flags);
    const fs::path folder = fixture.folder / "Footage";
    fs::create_directories(folder);
    const auto chooser = [&](const std::vector<fs::path>& files) {
        picker.files = files;
        window->findChild<QPushButton*>("addFiles")->click();
    };
    const auto drop = [&](const std::vector<fs::path>& files) {
        QMimeData mime;
        QList<QUrl> urls;
        // As file managers send them: the name's bytes percent-encoded.
        for (const auto& file : files)
            urls.append(QUrl::fromEncoded("file://" + QByteArray(file.c_str()).toPercentEncoding("/")));
        mime.setUrls(urls);
        window->queueCard()->drop(mime);
    };
    struct Case {
        const char* how;
        std::function<void(const std::vector<fs::path>&)> add;
        std::vector<fs::path> files;
        std::vector<std::string> queued;  // in the queue afterwards
        std::vector<std::string> named;   // in the message
        std::vector<std::string> notNamed;
    };
    const std::vector<Case> cases = {
        {"chooser",
         chooser,
         {touch(fixture.folder / "a.mov"), touch(fixture.folder / "notes.txt")},
         {"a.mov"},
         {"“notes.txt”"},
         {"a.mov"}},
        {"chooser", chooser, {touch(fixture.folder / "b.mp4")}, {"b.mp4"}, {}, {}},
        {"drop",
         drop,
         {touch(fixture.folder / "c.MOV"), touch(fixture.folder / "anim.gif"), folder,
          touch(fixture.folder / "readme.md")},
         {"c.MOV"},
         {"“anim.gif”", "“Footage”", "“readme.md”"},
         {"c.MOV"}},
        {"drop", drop, {touch(fixture.folder / "d.wav")}, {"d.wav"}, {}, {}},
        // A Latin-1 name: carried as its bytes, or, when a text lost them on
        // the way (Qt's own chooser), never queued under a name that is not there.
        {"drop", drop, {touch(fixture.folder / "caf\xe9.mp4")}, {"caf\xe9.mp4"}, {}, {}},
        {"chooser", chooser, {fixture.folder / "caf\uFFFD.mp4"}, {}, {"“caf\uFFFD.mp4”"}, {}},
    };
    for (const Case& c : cases) {
        for (const auto& job : coordinator->jobs()) coordinator->remove(*job);
        c.add(c.files);
        EXPECT_EQ(queued(), c.queued) << c.how;
        const std::string message = refusal(*window);
        EXPECT_EQ(message.empty(), c.named.empty()) << c.how << ": " << message;
        for (const auto& name : c.named) EXPECT_NE(message.find(name), std::string::npos) << c.how << ": " << message;
        for (const auto& name : c.notNamed)
            EXPECT_EQ(message.find(name), std::string::npos) << c.how << ": " << message;
    }
}

}  // namespace
}  // namespace fw::test
