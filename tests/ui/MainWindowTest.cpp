// The main window against a real coordinator: cards folding and the
// advanced group across restarts, the shared folder chooser, the preset card
// and its prompt, the life-cycle work done on show, and Return in a text
// field never starting a batch.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/CollapsibleCard.h"
#include "ui/FilePicker.h"
#include "ui/Glass.h"
#include "ui/MainWindow.h"
#include "ui/PreviewPanel.h"
#include "ui/QueueCard.h"
#include "ui/SavePresetPrompt.h"
#include "ui/SettingsColumn.h"
#include "ui/Symbols.h"
#include "ui/UiFlags.h"

#include <QtTest/qtestspontaneevent.h>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <functional>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

using ui::FolderPickerTarget;

// One wheel notch as the window system delivers it: to the window, at the
// middle of `target`; down when `down`, else up.
void wheelOver(QWidget* target, bool down) {
    QWidget* window = target->window();
    const QPoint middle = target->rect().center();
    QWheelEvent wheel(QPointF(target->mapTo(window, middle)), QPointF(target->mapToGlobal(middle)), QPoint(),
                      QPoint(0, down ? -120 : 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    // Not sendEvent(), which makes it a program's event: those reach one widget only.
    QSpontaneKeyEvent::setSpontaneous(&wheel);
    QApplication::instance()->notify(window->windowHandle(), &wheel);
}

// What a combo box, spin box or slider shows.
QString valueOf(QWidget* control) {
    if (auto* combo = qobject_cast<QComboBox*>(control)) return combo->currentText();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(control)) return spin->text();
    return QString::number(qobject_cast<QSlider*>(control)->value());
}

class CountingNotifier final : public Notifier {
public:
    int requests = 0;
    void requestAuthorizationIfNeeded() override { ++requests; }
    void post(const std::string&, const std::string&) override {}
};

class MainWindowTest : public ::testing::Test {
protected:
    CoordinatorFixture fixture;
    std::shared_ptr<CountingNotifier> notifier = std::make_shared<CountingNotifier>();
    std::unique_ptr<TestCoordinator> coordinator = [this] {
        CoordinatorServices services = fixture.services();
        services.notifier = notifier;
        return std::make_unique<TestCoordinator>(services, EncodingCoordinator::Restore::no);
    }();
    PresetStore presets{fixture.defaults};
    ScriptedFilePicker picker;
    std::vector<QString> opened;
    int updaterStarts = 0;

    ui::UiFlags flags{fixture.defaults};

    std::unique_ptr<ui::MainWindow> makeWindow(ui::UiFlags& windowFlags) {
        return std::make_unique<ui::MainWindow>(ui::WindowEnvironment{
            .coordinator = *coordinator,
            .presets = presets,
            .flags = windowFlags,
            .picker = picker,
            .openWindow = [this](const QString& id) { opened.push_back(id); },
            .startUpdater = [this] { ++updaterStarts; },
        });
    }
    std::unique_ptr<ui::MainWindow> makeWindow() { return makeWindow(flags); }
    // H.264 (a quality slider) with the advanced cards, shown and activated.
    std::unique_ptr<ui::MainWindow> activeH264WindowWithEveryCard() {
        flags.setFlag(ui::SettingsColumn::kShowAdvancedKey, true);
        coordinator->setSelectedCodec(OutputCodec::h264);
        auto window = makeWindow();
        window->show();
        window->activateWindow();
        return window;
    }

    static std::vector<std::pair<QString, bool>> cardStates(ui::MainWindow& window) {
        std::vector<std::pair<QString, bool>> states;
        for (ui::CollapsibleCard* card : window.settingsColumn()->cards())
            states.emplace_back(card->title(), card->isExpanded());
        return states;
    }
    static ui::CollapsibleCard* card(ui::MainWindow& window, const QString& title) {
        for (ui::CollapsibleCard* card : window.settingsColumn()->cards())
            if (card->title() == title) return card;
        return nullptr;
    }
};

TEST_F(MainWindowTest, CardsFoldAndTheAdvancedGroupSurviveARestart) {
    using States = std::vector<std::pair<QString, bool>>;
    {
        auto window = makeWindow();
        EXPECT_EQ(cardStates(*window),
                  (States{{"Preset", true}, {"Output", true}, {"Resize", true}, {"Destinations", false}}));
        QTest::mouseClick(card(*window, "Destinations")->header(), Qt::LeftButton);
        QTest::mouseClick(card(*window, "Output")->header(), Qt::LeftButton);
        window->settingsColumn()->moreSettingsToggle()->click();
        EXPECT_EQ(window->settingsColumn()->cards().size(), 13u);
        QTest::mouseClick(card(*window, "Trim")->header(), Qt::LeftButton);
        EXPECT_FALSE(card(*window, "Output")->content()->isVisibleTo(card(*window, "Output")));
    }
    // A new process: defaults read back from their file.
    UserDefaults reloaded(fixture.defaults.file());
    ui::UiFlags reloadedFlags(reloaded);
    auto window = makeWindow(reloadedFlags);
    EXPECT_EQ(cardStates(*window), (States{{"Preset", true},
                                           {"Output", false},
                                           {"Resize", true},
                                           {"Destinations", true},
                                           {"Transform", false},
                                           {"Trim", true},
                                           {"Filters", false},
                                           {"Audio", false},
                                           {"Colour / HDR", false},
                                           {"Metadata", false},
                                           {"File Name", true},
                                           {"Proxy", false},
                                           {"Publish", false}}));
    window->settingsColumn()->moreSettingsToggle()->click();
    EXPECT_EQ(window->settingsColumn()->cards().size(), 4u);
    EXPECT_EQ(window->findChildren<ui::CollapsibleCard*>().size(), 4u) << "hidden cards leave the tree";
}

TEST_F(MainWindowTest, TwoWindowsShowingOneCardFoldTogether) {
    auto first = makeWindow();
    auto second = makeWindow();
    QTest::mouseClick(card(*first, "Preset")->header(), Qt::LeftButton);
    EXPECT_FALSE(card(*second, "Preset")->isExpanded());
    second->settingsColumn()->moreSettingsToggle()->click();
    EXPECT_EQ(first->settingsColumn()->cards().size(), 13u);
}

TEST_F(MainWindowTest, TheFolderChooserSetsOnlyItsTarget) {
    const std::filesystem::path earlierOutput = fixture.folder / "earlier";
    const std::filesystem::path chosen = fixture.folder / "chosen";
    std::filesystem::create_directories(chosen);
    struct Case {
        FolderPickerTarget target;
        bool chooses;
        std::optional<std::filesystem::path> output, watch;
    };
    for (const Case& c : {Case{FolderPickerTarget::output, true, chosen, std::nullopt},
                          Case{FolderPickerTarget::watch, true, earlierOutput, chosen},
                          Case{FolderPickerTarget::output, false, earlierOutput, std::nullopt}}) {
        coordinator->stopWatching();
        coordinator->setOutputDirectory(earlierOutput);
        picker.folder = c.chooses ? std::optional(chosen) : std::nullopt;
        auto window = makeWindow();
        window->cardContext().chooseFolder(c.target);
        EXPECT_EQ(picker.lastFolderStart,
                  c.target == FolderPickerTarget::output ? std::optional(earlierOutput) : std::nullopt);
        EXPECT_EQ(coordinator->outputDirectory(), c.output);
        EXPECT_EQ(coordinator->watchFolderURL(), c.watch);
    }
    coordinator->stopWatching();
}

TEST_F(MainWindowTest, PresetsApplySaveAndDelete) {
    auto window = makeWindow();
    window->show();
    auto* menu = window->findChild<QMenu*>("presetMenu");
    auto* apply = window->findChild<QToolButton*>("applyPreset");
    auto* list = window->findChild<QWidget*>("userPresets");
    ASSERT_EQ(menu->actions().size(), 5);
    EXPECT_TRUE(list->isHidden());

    // Applying: the coordinator takes the preset's codec.
    const Preset h264 = presets.builtIns().at(1);
    menu->actions().at(1)->trigger();
    EXPECT_EQ(coordinator->selectedCodec(), h264.configuration.codec);

    // Saving: a typed name stores the current configuration; a blank one nothing; both clear the field.
    ui::SavePresetPrompt* prompt = window->savePresetPrompt();
    auto save = [&](const QString& name, const char* button) {
        window->findChild<QPushButton*>("savePreset")->click();
        EXPECT_TRUE(prompt->isVisible());
        prompt->nameField()->setText(name);
        prompt->findChild<QPushButton*>(button)->click();
        EXPECT_FALSE(prompt->isVisible());
        EXPECT_EQ(prompt->nameField()->text(), QString());
        processEvents();
    };
    save("  Client H.264 ", "savePresetConfirm");
    save("   ", "savePresetConfirm");
    save("Discarded", "savePresetCancel");
    ASSERT_EQ(presets.userPresets().size(), 1u);
    EXPECT_EQ(presets.userPresets()[0].name, "Client H.264");
    EXPECT_EQ(presets.userPresets()[0].configuration, coordinator->primaryConfiguration());
    EXPECT_EQ(menu->actions().size(), 6);
    EXPECT_FALSE(list->isHidden());

    // During a run only the menu is disabled; deleting still works.
    coordinator->setRunning(true);
    EXPECT_FALSE(apply->isEnabled());
    EXPECT_TRUE(window->findChild<QPushButton*>("savePreset")->isEnabled());
    auto* remove = list->findChild<QToolButton*>("deletePreset");
    ASSERT_TRUE(remove->isEnabled());
    remove->click();
    processEvents();
    EXPECT_TRUE(presets.userPresets().empty());
    EXPECT_TRUE(list->isHidden());
    EXPECT_EQ(menu->actions().size(), 5);
    coordinator->setRunning(false);
}

// The card's list after each save and delete: one divider, then a row per
// stored user preset in order, each deleting its own preset.
TEST_F(MainWindowTest, PresetRowsFollowEverySaveAndDelete) {
    auto window = makeWindow();
    window->show();
    auto* list = window->findChild<QWidget*>("userPresets");
    auto* menu = window->findChild<QMenu*>("presetMenu");
    // What the list shows, top to bottom: "—" for a divider, else the row's name.
    const auto shown = [list] {
        std::vector<std::string> rows;
        for (QWidget* row : list->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (auto* divider = qobject_cast<QFrame*>(row); divider && divider->frameShape() == QFrame::HLine)
                rows.emplace_back("—");
            else if (auto* name = row->findChild<QLabel*>())
                rows.push_back(name->text().toStdString());
        }
        return rows;
    };
    const auto stored = [this] {
        std::vector<std::string> rows{"—"};
        for (const Preset& preset : presets.userPresets()) rows.push_back(preset.name);
        return rows;
    };
    const auto deleteRow = [list](const std::string& name) {
        for (QWidget* row : list->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (auto* label = row->findChild<QLabel*>(); label && label->text().toStdString() == name)
                return row->findChild<QToolButton*>("deletePreset")->click();
        ADD_FAILURE() << "no row for " << name;
    };
    struct Step {
        const char* save;    // else
        const char* remove;  // through its row's button
    };
    for (const Step& step :
         {Step{"One", nullptr}, Step{"Two", nullptr}, Step{"Three", nullptr}, Step{nullptr, "Two"},
          Step{"Four", nullptr}, Step{nullptr, "One"}, Step{"Five", nullptr}, Step{nullptr, "Five"}}) {
        const std::string name = step.save ? step.save : step.remove;
        SCOPED_TRACE((step.save ? "save " : "delete ") + name);
        if (step.save)
            presets.savePreset(name, presets.builtIns().at(1).configuration);
        else
            deleteRow(name);
        processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(shown(), stored());
        EXPECT_EQ(menu->actions().size(), 5 + int(presets.userPresets().size()));
    }
    EXPECT_EQ(shown(), (std::vector<std::string>{"—", "Three", "Four"}));
}

// A menu takes "&" for a shortcut mark; the Apply menu shows names as written.
TEST_F(MainWindowTest, PresetNamesWithAmpersandsShowAsWrittenInTheApplyMenu) {
    const std::vector<std::string> names{"Rock & Roll", "R&&D", "&Final", "Trailing &"};
    for (std::size_t index = 0; index < names.size(); ++index)
        presets.savePreset(names[index], presets.builtIns().at(index % 2 == 0 ? 1 : 3).configuration);
    auto window = makeWindow();
    auto* menu = window->findChild<QMenu*>("presetMenu");
    ASSERT_EQ(menu->actions().size(), 5 + int(names.size()));
    for (std::size_t index = 0; index < names.size(); ++index) {
        QAction* action = menu->actions().at(5 + int(index));
        // What a menu draws: the text without its shortcut marks.
        EXPECT_EQ(action->iconText().toStdString(), names[index]);
        action->trigger();
        EXPECT_EQ(coordinator->selectedCodec(), presets.userPresets()[index].configuration.codec) << names[index];
    }
}

TEST_F(MainWindowTest, ShowingTheWindowOpensWelcomeAndAsksForNotificationsOnce) {
    struct Case {
        bool notify, seenWelcome;
        int requests;
        std::size_t welcomes;  // over two shows
    };
    for (const Case& c : {Case{true, false, 1, 2}, Case{false, true, 0, 0}}) {
        coordinator->setNotifyOnCompletion(c.notify);
        fixture.defaults.set("hasSeenWelcome", c.seenWelcome);
        notifier->requests = 0;
        opened.clear();
        updaterStarts = 0;
        auto window = makeWindow();
        window->show();
        processEvents();
        window->hide();
        window->show();
        processEvents();
        EXPECT_EQ(notifier->requests, c.requests);
        EXPECT_EQ(opened, std::vector<QString>(c.welcomes, "welcome"));
        EXPECT_EQ(updaterStarts, 1);
    }
}

TEST_F(MainWindowTest, ReturnInATextFieldNeverStartsABatch) {
    coordinator->addFiles({touch(fixture.folder / "clip.mov")}, EncodingCoordinator::Duplicates::allowed);
    ASSERT_TRUE(coordinator->canStart());

    // In a dialog an unstyled push button would take the Return.
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* field = new QLineEdit(&dialog);
    auto* encode = new QPushButton("Encode", &dialog);
    ui::applyGlassProminentButton(encode);
    auto* other = new QPushButton("Add Files…", &dialog);
    ui::applyGlassButton(other);
    layout->addWidget(field);
    layout->addWidget(encode);
    layout->addWidget(other);
    QObject::connect(encode, &QPushButton::clicked, coordinator.get(), &EncodingCoordinator::startEncoding);
    QObject::connect(other, &QPushButton::clicked, coordinator.get(), &EncodingCoordinator::startEncoding);
    dialog.show();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(coordinator->isRunning());

    // And in the window, every field of every card.
    auto window = makeWindow();
    window->settingsColumn()->moreSettingsToggle()->click();
    window->show();
    for (QLineEdit* edit : window->findChildren<QLineEdit*>()) {
        if (!edit->isVisible() || !edit->isEnabled()) continue;
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_FALSE(coordinator->isRunning()) << edit->objectName().toStdString();
    }
}

// A control keeps the focus after the user picked a value with the mouse;
// scrolling the column past it must not change it.
TEST_F(MainWindowTest, TheWheelScrollsTheColumnAndChangesNoControlFocusedOrNot) {
    auto window = activeH264WindowWithEveryCard();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* scroll = window->findChild<QScrollArea*>("settingsScroll");
    QScrollBar* bar = scroll->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    QWidget* elsewhere = window->findChild<QPushButton*>("addFiles");

    // The Format combo, the still-image stepper and the quality slider.
    for (const char* name : {"outputCodec", "stillDuration", "quality"}) {
        auto* control = window->findChild<QWidget*>(name);
        ASSERT_TRUE(control && control->isVisible()) << name;
        for (const bool focused : {false, true}) {
            (focused ? control : elsewhere)->setFocus(Qt::OtherFocusReason);
            scroll->ensureWidgetVisible(control);
            processEvents();
            const bool down = bar->value() < bar->maximum();
            const int position = bar->value();
            const QString before = valueOf(control);
            wheelOver(control, down);
            processEvents();
            EXPECT_EQ(valueOf(control), before) << name << (focused ? " with" : " without") << " focus";
            EXPECT_NE(bar->value(), position) << name << (focused ? " with" : " without") << " focus";
            EXPECT_EQ(control->hasFocus(), focused) << name << ": the wheel gives no focus";
        }
    }
}

TEST_F(MainWindowTest, ReturnPressesEncodeUnlessTheFocusIsInATextField) {
    auto window = activeH264WindowWithEveryCard();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* encode = window->findChild<QPushButton*>("encode");
    const auto presses = countEmissions(encode, &QPushButton::clicked);
    struct Case {
        const char* focus;
        bool withWork;  // a waiting job: Encode is enabled
        bool presses;
    };
    for (const Case& c : {Case{"addFiles", true, true}, Case{"outputCodec", true, true}, Case{"quality", true, true},
                          Case{"queueList", true, true}, Case{"namingPattern", true, false},
                          Case{"stillDuration", true, false}, Case{"addFiles", false, false}}) {
        coordinator->setRunning(false);
        coordinator->clearFinished();
        for (const auto& job : coordinator->jobs()) coordinator->remove(*job);
        if (c.withWork)
            coordinator->addFiles({touch(fixture.folder / "clip.mov")}, EncodingCoordinator::Duplicates::allowed);
        processEvents();
        auto* target = window->findChild<QWidget*>(c.focus);
        ASSERT_TRUE(target && target->isVisible()) << c.focus;
        target->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(target->hasFocus()) << c.focus;
        for (const auto& [key, modifiers] :
             {std::pair(Qt::Key_Return, Qt::NoModifier), std::pair(Qt::Key_Enter, Qt::KeypadModifier)}) {
            *presses = 0;
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            EXPECT_EQ(*presses, c.presses ? 1 : 0) << c.focus << (c.withWork ? "" : " with nothing to encode");
            // A started batch fails at once on the empty file; let it end.
            EXPECT_TRUE(QTest::qWaitFor([&] { return !coordinator->isRunning(); }, 10000));
        }
    }
}

// Where `widget` is cut by its ancestors, in window coordinates: the part
// of it that is drawn.
QRect drawnPart(QWidget* widget) {
    QWidget* window = widget->window();
    QRect drawn(widget->mapTo(window, QPoint()), widget->size());
    for (QWidget* ancestor = widget->parentWidget(); ancestor; ancestor = ancestor->parentWidget())
        drawn &= QRect(ancestor == window ? QPoint() : ancestor->mapTo(window, QPoint()), ancestor->size());
    return drawn;
}

TEST_F(MainWindowTest, AtItsMinimumSizeTheWindowShowsEveryControlWhole) {
    std::vector<std::filesystem::path> files;
    for (const char* name : {"a.mov", "b.mov", "c.mov", "d.mov", "e.mov"})
        files.push_back(touch(fixture.folder / name));
    coordinator->addFiles(files, EncodingCoordinator::Duplicates::allowed);
    coordinator->jobs()[0]->setStatus(EncodeJob::Status::finished);  // Clear Finished shown
    struct Case {
        bool running;  // Cancel shown too
        bool advanced;
    };
    for (const Case& c : {Case{false, false}, Case{true, false}, Case{false, true}}) {
        coordinator->setRunning(c.running);
        flags.setFlag(ui::SettingsColumn::kShowAdvancedKey, c.advanced);
        auto window = makeWindow();
        window->show();
        processEvents();
        window->resize(1, 1);  // the smallest the window allows
        processEvents();
        ASSERT_EQ(window->size(), window->minimumSize());
        auto* column = window->findChild<QScrollArea*>("settingsScroll");
        int checked = 0;
        for (QWidget* control : window->findChildren<QWidget*>()) {
            const bool isControl = qobject_cast<QAbstractButton*>(control) || qobject_cast<QComboBox*>(control) ||
                                   qobject_cast<QAbstractSpinBox*>(control) || qobject_cast<QLineEdit*>(control) ||
                                   qobject_cast<QSlider*>(control) || qobject_cast<QLabel*>(control);
            if (!isControl || !control->isVisibleTo(window.get()) || control->size().isEmpty()) continue;
            if (control->parentWidget() && qobject_cast<QAbstractSpinBox*>(control->parentWidget())) continue;
            const std::string name =
                (control->metaObject()->className() + std::string(" ") + control->objectName().toStdString() + " " +
                 control->property("text").toString().toStdString());
            ++checked;
            EXPECT_GE(control->width(), control->minimumSizeHint().width()) << name << " is squeezed";
            const QRect whole(control->mapTo(window.get(), QPoint()), control->size());
            const QRect drawn = drawnPart(control);
            // The settings column scrolls up and down; nothing may be cut at its sides.
            if (column->isAncestorOf(control))
                EXPECT_TRUE(drawn.isEmpty() || (drawn.left() == whole.left() && drawn.right() == whole.right()))
                    << name << " is cut at the side";
            else
                EXPECT_EQ(drawn, whole) << name << " is cut";
        }
        EXPECT_GT(checked, 20);
        const auto* encode = window->findChild<QPushButton*>("encode");
        EXPECT_EQ(encode->text(), "Encode 5 Files");
        EXPECT_GE(encode->width(), encode->sizeHint().width()) << "Encode's label is cut";
    }
    coordinator->setRunning(false);
}

// Notices under the title take their room from the preview: at the window's
// own size the queue card keeps its place while the preview can give way (and
// the gap below the preview always), and the window does not grow past the
// screen it was sized for.
TEST_F(MainWindowTest, NoticesTakeTheirRoomFromThePreview) {
    const QString queueUnsaved = QStringLiteral(
        "The queue could not be saved to /home/alex/.local/share/Framewright/queue.json: No space left on device. "
        "Nothing is lost while Framewright runs; it tries again at the next save.");
    const QString historyUnsaved = QStringLiteral(
        "The encode history could not be saved to /home/alex/.local/share/Framewright/history.json: No space left "
        "on device. Nothing is lost while Framewright runs; it tries again at the next save.");
    const QString presetsSetAside = QStringLiteral(
        "The saved presets could not be read, so Framewright started with no saved presets. The settings file that "
        "holds them was kept as /home/alex/.config/Framewright/defaults.unreadable.json.");
    const struct {
        const char* name;
        QStringList notices;
    } rows[] = {
        {"queue and history unsaved", {queueUnsaved, historyUnsaved}},
        {"presets set aside too", {presetsSetAside, queueUnsaved, historyUnsaved}},
        {"one line", {QStringLiteral("The queue could not be read.")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto window = makeWindow();
        window->show();
        processEvents();
        const QWidget* preview = window->previewPanel()->parentWidget();
        const int fullPreview = preview->height();
        const QRect queueBefore = window->queueCard()->geometry();
        for (const QString& text : row.notices) window->showNotice(text, QStringLiteral("shown"));
        processEvents();
        EXPECT_EQ(window->size(), QSize(960, 720));
        const QRect previewCard = preview->geometry();
        const QRect queueCard = window->queueCard()->geometry();
        EXPECT_EQ(queueCard.top() - previewCard.bottom() - 1, 16) << "the cards' gap";
        if (preview->height() > preview->minimumSizeHint().height()) {
            EXPECT_EQ(queueCard, queueBefore) << "the queue card moved";
        }
        EXPECT_LT(preview->height(), fullPreview);
        EXPECT_GE(queueCard.height(), window->queueCard()->minimumSizeHint().height());

        window->withdrawNotices(QStringLiteral("shown"));
        processEvents();
        EXPECT_EQ(preview->height(), fullPreview) << "the room comes back";
    }
}

// A screen reader names each control by the label the window shows beside
// it (a combo box by its title, not its value; a field by its title, not
// only by the placeholder that typing hides), in every state that shows
// other controls, with every card open.
TEST_F(MainWindowTest, EveryControlIsNamedByItsVisibleLabel) {
    const struct {
        const char* name;
        std::function<void(ui::MainWindow&)> setUp;
    } rows[] = {
        {"H.264, every card open", [](ui::MainWindow&) {}},
        {"every switch on",
         [](ui::MainWindow& window) {
             for (QAbstractButton* box : window.findChildren<QCheckBox*>())
                 if (!box->isChecked()) box->click();
         }},
        {"ProRes", [this](ui::MainWindow&) { coordinator->setSelectedCodec(OutputCodec::proRes); }},
        {"stills", [this](ui::MainWindow&) { coordinator->setSelectedCodec(OutputCodec::png); }},
    };
    coordinator->addFiles({touch(fixture.folder / "a.mov")}, EncodingCoordinator::Duplicates::allowed);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        coordinator->setSelectedCodec(OutputCodec::h264);
        flags.setFlag(ui::SettingsColumn::kShowAdvancedKey, true);
        auto window = makeWindow();
        for (ui::CollapsibleCard* shown : window->settingsColumn()->cards()) shown->setExpanded(true);
        window->show();
        row.setUp(*window);
        processEvents();
        EXPECT_EQ(controlsNamedBadly(*window), std::vector<std::string>{});
    }
    SCOPED_TRACE("Save Preset prompt");
    auto window = makeWindow();
    window->show();
    window->savePresetPrompt()->show();
    processEvents();
    EXPECT_EQ(controlsNamedBadly(*window->savePresetPrompt()), std::vector<std::string>{});
}

TEST(SymbolsTest, NoSymbolIsBlankWithoutAnIconTheme) {
    (void)ui::symbolIcon("folder");  // after its one-time theme set-up
    const QString theme = QIcon::themeName();
    const QString fallbackTheme = QIcon::fallbackThemeName();
    QIcon::setThemeName("no-such-theme");
    QIcon::setFallbackThemeName("no-such-theme");
    std::vector<std::string_view> names = ui::knownSymbolNames();
    names.push_back("not.a.symbol");
    for (std::string_view name : names) {
        const QImage image = ui::symbolIcon(name).pixmap(16, 16).toImage();
        bool inked = false;
        for (int y = 0; y < image.height() && !inked; ++y)
            for (int x = 0; x < image.width() && !inked; ++x) inked = qAlpha(image.pixel(x, y)) > 0;
        EXPECT_TRUE(inked) << name;
    }
    QIcon::setThemeName(theme);
    QIcon::setFallbackThemeName(fallbackTheme);
    QIcon::setThemeSearchPaths(QIcon::themeSearchPaths());  // drops the themes read meanwhile
}

}  // namespace
}  // namespace fw::test
