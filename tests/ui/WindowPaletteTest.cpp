// The main window in a dark desktop palette as in a light one: its symbols
// stand out from the cards and buttons they are drawn on, every kind of
// control from its card, the chosen rotation from the others, the label of a
// disabled Encode from its faded accent, the quality badge's word from its
// tint, and what a run holds greyed from what it lies on.
// Measured on the window as drawn (grabbed), against the colour it shows
// beside each symbol; also once the desktop has switched between light and
// dark under the open window.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/CollapsibleCard.h"
#include "ui/Contrast.h"
#include "ui/Glass.h"
#include "ui/JobRowDelegate.h"
#include "ui/MainWindow.h"
#include "ui/SavePresetPrompt.h"
#include "ui/SettingsColumn.h"
#include "ui/UiFlags.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

// The contrast of symbols and of a disabled label asked for here: the web's
// accessibility guidelines' least for parts of a control and large text.
constexpr double kLeastContrast = 3.0;

class WindowPaletteTest : public ::testing::Test {
protected:
    CoordinatorFixture fixture;
    std::unique_ptr<TestCoordinator> coordinator = fixture.make(EncodingCoordinator::Restore::no);
    PresetStore presets{fixture.defaults};
    ScriptedFilePicker picker;
    ui::UiFlags flags{fixture.defaults};
    const QPalette light = QApplication::palette();

    // The desktop's switch, if any, while the window is open.
    void switchTo(PaletteSwitch row) {
        QApplication::setPalette(row.darkened ? darkDesktopPalette() : light);
        processEvents();
    }

    // Every card present and open, shown and laid out.
    std::unique_ptr<ui::MainWindow> shownWindow() {
        flags.setFlag(ui::SettingsColumn::kShowAdvancedKey, true);
        for (const char* card : {"preset", "output", "resize", "destinations", "transform"})
            flags.setFlag(QStringLiteral("card.%1.expanded").arg(QLatin1String(card)), true);
        auto window = std::make_unique<ui::MainWindow>(
            ui::WindowEnvironment{.coordinator = *coordinator, .presets = presets, .flags = flags, .picker = picker});
        window->resize(1200, 900);
        window->show();
        processEvents();
        return window;
    }
    // Wholly on screen: not scrolled out of the settings column, nor hidden.
    static bool onScreen(const QWidget* widget) {
        return widget->isVisible() && widget->visibleRegion().boundingRect() == widget->rect();
    }
    static void scrollTo(ui::MainWindow& window, QWidget* widget) {
        window.findChild<QScrollArea*>(QStringLiteral("settingsScroll"))->ensureWidgetVisible(widget);
        processEvents();
    }
    static QColor pixelAt(const QImage& image, const QWidget* widget, QPoint point) {
        return QColor::fromRgb(image.pixel(widget->mapTo(widget->window(), point)));
    }
    // The glass card `widget` lies on, in its padding at the height of `part`
    // of the widget (the wash shows through the card, its colour changes downwards).
    static QColor cardBeside(const QImage& image, const QWidget* widget, const QRect& part) {
        const QWidget* card = widget->parentWidget();
        while (card && !qobject_cast<const ui::GlassCard*>(card)) card = card->parentWidget();
        EXPECT_TRUE(card) << widget->objectName().toStdString() << " lies on no card";
        if (!card) return {};
        return pixelAt(image, card, QPoint(6, widget->mapTo(card, part.center()).y()));
    }
};

TEST_F(WindowPaletteTest, SymbolsStandOutFromWhatTheyAreDrawnOnInLightAndDarkPalettes) {
    // Two waiting jobs: every button of the action bar is live. A failed one
    // shows its symbol; a LUT switched on with no file, a warning.
    coordinator->addFiles(
        {touch(fixture.folder / "a.mov"), touch(fixture.folder / "b.mov"), touch(fixture.folder / "c.mov")},
        EncodingCoordinator::Duplicates::allowed);
    coordinator->jobs().back()->setStatus(EncodeJob::Status::failed);
    coordinator->jobs().back()->setErrorMessage("Could not read the video track.");
    flags.setFlag(QStringLiteral("card.filters.expanded"), true);
    FilterSettings filters;
    filters.lutEnabled = true;
    coordinator->setFilters(filters);
    for (const PaletteSwitch row : kPaletteSwitches) {
        SCOPED_TRACE(row.name());
        const ApplicationPalette palette(row.builtDark ? darkDesktopPalette() : light);
        auto window = shownWindow();
        switchTo(row);
        const QImage drawn = window->grab().toImage();

        int checked = 0;
        // Symbols in labels (card headers, the preview's and queue's titles and
        // placeholders, the still clip's, the watch folder's): against the card
        // just before them.
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (label->pixmap().isNull() || !onScreen(label)) continue;
            const QColor card = pixelAt(drawn, label, QPoint(-3, label->height() / 2));
            const double contrast = inkContrast(label->pixmap(), card);
            EXPECT_GE(contrast, kLeastContrast)
                << "label beside \"" << label->parentWidget()->objectName().toStdString() << "\" "
                << label->mapTo(window.get(), QPoint()).x() << "," << label->mapTo(window.get(), QPoint()).y();
            ++checked;
        }
        // Symbols on buttons (Apply a preset, the action bar, the watch preset):
        // against the button's own face.
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
            if (button->icon().isNull() || !onScreen(button)) continue;
            const QColor face = pixelAt(drawn, button, QPoint(4, button->height() / 2));
            const QPixmap symbol =
                button->icon().pixmap(button->iconSize(), button->isEnabled() ? QIcon::Normal : QIcon::Disabled);
            EXPECT_GE(inkContrast(symbol, face), kLeastContrast) << button->objectName().toStdString();
            ++checked;
        }
        EXPECT_GE(checked, 15) << "the cards' headers, the titles and the action bar";

        // The failed row's symbol, between its check box and its name.
        const auto* list = window->findChild<QListView*>(QStringLiteral("queueList"));
        const auto* rows = qobject_cast<const ui::JobRowDelegate*>(list->itemDelegate());
        const QRect box = rows->controlRect(list->model()->index(2, 0), ui::RowControl::enabledToggle);
        ASSERT_FALSE(box.isEmpty());
        const QRect status(box.right() + 1, box.center().y() - 9, 40, 18);
        EXPECT_GE(inkContrast(drawn, status.translated(list->viewport()->mapTo(window.get(), QPoint())),
                              cardBeside(drawn, list->viewport(), box)),
                  kLeastContrast)
            << "failed row";

        // The warning's triangle.
        auto* warning = window->findChild<QWidget*>(QStringLiteral("lutMissing"));
        ASSERT_TRUE(warning);
        scrollTo(*window, warning);
        const QLabel* triangle = nullptr;
        for (const QLabel* label : warning->findChildren<QLabel*>())
            if (!label->pixmap().isNull()) triangle = label;
        ASSERT_TRUE(triangle && onScreen(triangle));
        const QImage scrolled = window->grab().toImage();
        EXPECT_GE(inkContrast(triangle->pixmap(), cardBeside(scrolled, triangle, triangle->rect())), kLeastContrast)
            << "warning";
    }
}

// The cards' titles, the advanced settings' strip and the window's notices
// read on what they lie on, also once the desktop has switched between light
// and dark under the open window (the cards' captions and notes:
// CaptionContrastTest).
TEST_F(WindowPaletteTest, TitlesAndNoticesReadInLightAndDarkPalettes) {
    for (const PaletteSwitch row : kPaletteSwitches) {
        SCOPED_TRACE(row.name());
        const ApplicationPalette palette(row.builtDark ? darkDesktopPalette() : light);
        auto window = shownWindow();
        window->showNotice(QStringLiteral("A notice on the window."));
        switchTo(row);
        for (const char* text : {"Output", "Hide advanced settings", "A notice on the window."}) {
            SCOPED_TRACE(text);
            QLabel* label = nullptr;
            for (QLabel* candidate : window->findChildren<QLabel*>())
                if (candidate->text() == QLatin1String(text) && candidate->isVisible()) label = candidate;
            ASSERT_TRUE(label);
            scrollTo(*window, label);
            EXPECT_GE(textContrast(*label), ui::kReadableContrast);
        }
    }
}

// What shows where each kind of control is (a box, a frame, a slider's track
// and handle, a picker's outline, a button's edge) stands out from the card
// it lies on, or from the window's wash beside the action bar's buttons.
TEST_F(WindowPaletteTest, EveryKindOfControlStandsOutFromItsCardInLightAndDarkPalettes) {
    // A job switched off: its row's check box is unchecked. A finished one: Clear Finished shows.
    coordinator->addFiles({touch(fixture.folder / "off.mov"), touch(fixture.folder / "done.mov")},
                          EncodingCoordinator::Duplicates::allowed);
    coordinator->setEnabled(*coordinator->jobs().front(), false);
    coordinator->jobs().back()->setStatus(EncodeJob::Status::finished);
    flags.setFlag(QStringLiteral("card.audio.expanded"), true);
    const struct {
        const char* kind;
        const char* name;
        bool onWash = false;
    } controls[] = {
        {"check box", "stripAudio"},
        {"line edit", "resizeWidth"},
        {"spin box", "stillDuration"},
        {"combo box", "outputCodec"},
        {"slider", "targetLUFS"},
        {"tool button", "chip1080p"},
        {"segment", "rotation180"},
        {"menu button", "applyPreset"},
        {"small push button", "savePreset"},
        {"choose button", "chooseOutputFolder"},
        {"action bar button", "addFiles", true},
        {"action bar button", "clearFinished", true},
        {"action bar button", "makeProxies", true},
        {"action bar button", "stitch", true},
    };
    for (const bool darkened : {false, true}) {
        SCOPED_TRACE(darkened ? "dark" : "light");
        const ApplicationPalette palette(darkened ? darkDesktopPalette() : QApplication::palette());
        auto window = shownWindow();
        for (const char* shows : {"resizeEnabled", "normalizeLoudness"}) {
            auto* box = window->findChild<QCheckBox*>(QLatin1String(shows));
            if (!box->isChecked()) box->click();
        }
        processEvents();
        for (const auto& control : controls) {
            SCOPED_TRACE(control.kind);
            auto* widget = window->findChild<QWidget*>(QLatin1String(control.name));
            ASSERT_TRUE(widget);
            scrollTo(*window, widget);
            ASSERT_TRUE(onScreen(widget));
            const QImage drawn = window->grab().toImage();
            const QColor surface = control.onWash ? pixelAt(drawn, widget, QPoint(-4, widget->height() / 2))
                                                  : cardBeside(drawn, widget, widget->rect());
            EXPECT_GE(controlEdgeContrast(drawn, *widget, surface), kLeastContrast);
        }
        SCOPED_TRACE("queue row's check box");
        const auto* list = window->findChild<QListView*>(QStringLiteral("queueList"));
        ASSERT_TRUE(list);
        const auto* rows = qobject_cast<const ui::JobRowDelegate*>(list->itemDelegate());
        ASSERT_TRUE(rows);
        const QRect box = rows->controlRect(list->model()->index(0, 0), ui::RowControl::enabledToggle);
        ASSERT_FALSE(box.isEmpty());
        const QImage drawn = window->grab().toImage();
        const QRect inWindow = box.translated(list->viewport()->mapTo(window.get(), QPoint()));
        EXPECT_GE(inkContrast(drawn, inWindow, cardBeside(drawn, list->viewport(), box)), kLeastContrast);
    }
}

// Each part of a queue row reads on what it lies on, the card or the
// current row's accent wash: its name and second line as text, its state's
// mark and its buttons as symbols. Each row is measured plain and current.
TEST_F(WindowPaletteTest, QueueRowsReadOnTheCardAndOnTheCurrentRowsWashInLightAndDarkPalettes) {
    const struct {
        const char* name;
        EncodeJob::Status status;
        bool hasOutput;
        std::vector<ui::RowControl> buttons;
    } rows[] = {
        {"waiting", EncodeJob::Status::waiting, false, {ui::RowControl::outputsMenu, ui::RowControl::remove}},
        {"failed", EncodeJob::Status::failed, false, {ui::RowControl::retry}},
        {"finished", EncodeJob::Status::finished, true, {ui::RowControl::reveal, ui::RowControl::retry}},
    };
    std::vector<std::filesystem::path> files;
    for (const auto& row : rows) files.push_back(touch(fixture.folder / (std::string(row.name) + ".mov")));
    coordinator->addFiles(files, EncodingCoordinator::Duplicates::allowed);
    for (std::size_t index = 0; index < std::size(rows); ++index) {
        const auto& job = coordinator->jobs()[index];
        job->setStatus(rows[index].status);
        if (rows[index].status == EncodeJob::Status::failed) job->setErrorMessage("Could not read the video track.");
        if (rows[index].hasOutput) job->setOutputURL(fixture.folder / "finished.mp4");
    }
    for (const bool darkened : {false, true}) {
        SCOPED_TRACE(darkened ? "dark" : "light");
        const ApplicationPalette palette(darkened ? darkDesktopPalette() : QApplication::palette());
        auto window = shownWindow();
        auto* list = window->findChild<QListView*>(QStringLiteral("queueList"));
        const auto* delegate = qobject_cast<const ui::JobRowDelegate*>(list->itemDelegate());
        ASSERT_TRUE(list && delegate);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        list->setFocus(Qt::TabFocusReason);
        // Strokes wide enough to show their ink whole, not only blended at their edges.
        QFont large = list->font();
        large.setPointSize(18);
        list->setFont(large);
        for (int current = 0; current < int(std::size(rows)); ++current) {
            list->setCurrentIndex(list->model()->index(current, 0));
            processEvents();
            // The window's picture: the list's own is see-through where the glass shows.
            const QImage drawn = window->grab().toImage();
            const QPoint origin = list->viewport()->mapTo(window.get(), QPoint());
            for (int at = 0; at < int(std::size(rows)); ++at) {
                SCOPED_TRACE(std::string(rows[at].name) + (at == current ? ", current" : ""));
                const QModelIndex index = list->model()->index(at, 0);
                ASSERT_TRUE(list->viewport()->rect().contains(list->visualRect(index)));
                const auto parts = delegate->partsAt(index);
                // Beside the mark, inside the row's frame.
                const QColor under = QColor::fromRgb(drawn.pixel(origin + parts.status.topLeft() + QPoint(1, 1)));
                const auto ink = [&](const QRect& part) { return inkContrast(drawn, part.translated(origin), under); };
                EXPECT_GE(ink(parts.status), kLeastContrast) << "mark";
                EXPECT_GE(ink(parts.name), ui::kReadableContrast) << "name";
                EXPECT_GE(ink(parts.line), ui::kReadableContrast) << "second line";
                for (const ui::RowControl button : rows[at].buttons)
                    EXPECT_GE(ink(delegate->controlRect(index, button)), kLeastContrast) << "button " << int(button);
            }
        }
    }
}

// A field's placeholder, its only title until the user types, reads as text
// on the field: on the cards and in the Save Preset prompt, and again when
// the desktop's palette changes under the open window.
TEST_F(WindowPaletteTest, PlaceholdersReadOnTheirFieldsInLightAndDarkPalettes) {
    flags.setFlag(QStringLiteral("card.metadata.expanded"), true);
    flags.setFlag(QStringLiteral("card.filename.expanded"), true);
    MetadataSettings metadata = coordinator->metadata();
    metadata.enabled = true;
    coordinator->setMetadata(metadata);
    ResizeSettings resize = coordinator->resize();
    resize.isEnabled = true;
    coordinator->setResize(resize);
    // Opened in a light palette; the desktop then turns dark, and light again.
    const ApplicationPalette restored(light);
    auto window = shownWindow();
    ui::SavePresetPrompt prompt(*coordinator, presets, window.get());
    prompt.show();
    std::vector<QLineEdit*> fields{prompt.findChild<QLineEdit*>(QStringLiteral("presetName"))};
    for (const char* name : {"metadataTitle", "metadataComment", "namingPattern", "resizeWidth"})
        fields.push_back(window->findChild<QLineEdit*>(QLatin1String(name)));
    for (const bool darkened : {false, true, false}) {
        SCOPED_TRACE(darkened ? "dark" : "light");
        QApplication::setPalette(darkened ? darkDesktopPalette() : light);
        processEvents();
        for (QLineEdit* field : fields) {
            ASSERT_TRUE(field);
            SCOPED_TRACE(field->objectName().toStdString());
            ASSERT_FALSE(field->placeholderText().isEmpty());
            EXPECT_GE(placeholderContrast(*field), ui::kReadableContrast);
        }
    }
}

TEST_F(WindowPaletteTest, TheChosenRotationStandsOutInLightAndDarkPalettes) {
    for (const bool darkened : {false, true}) {
        SCOPED_TRACE(darkened ? "dark" : "light");
        const ApplicationPalette palette(darkened ? darkDesktopPalette() : QApplication::palette());
        GeometrySettings geometry = coordinator->geometry();
        geometry.rotation = Rotation::r90;
        coordinator->setGeometry(geometry);
        auto window = shownWindow();
        auto* chosen = window->findChild<QToolButton*>(QStringLiteral("rotation90"));
        ASSERT_TRUE(chosen && chosen->isChecked());
        scrollTo(*window, chosen);
        ASSERT_TRUE(onScreen(chosen));
        const QImage drawn = window->grab().toImage();
        const QColor chosenFace = pixelAt(drawn, chosen, QPoint(4, chosen->height() / 2));
        for (const char* other : {"rotation0", "rotation180", "rotation270"}) {
            const auto* segment = window->findChild<QToolButton*>(QLatin1String(other));
            ASSERT_TRUE(segment);
            const QColor face = pixelAt(drawn, segment, QPoint(4, segment->height() / 2));
            EXPECT_GE(ui::contrastRatio(chosenFace, face), kLeastContrast) << other;
        }
        // Its label still reads on the accent.
        const QRect inside = QRect(chosen->mapTo(window.get(), QPoint()), chosen->size()).adjusted(3, 3, -3, -3);
        EXPECT_GE(inkContrast(drawn, inside, chosenFace), kLeastContrast);
    }
}

// An accent-filled control's label (Encode, the chosen rotation), and a
// glass button's and segment's, reads on its fill as text in every state,
// greyed as a disabled label; also once the desktop has turned dark or light
// under the open window.
TEST_F(WindowPaletteTest, AccentLabelsReadOnTheirFillInEveryStateInLightAndDarkPalettes) {
    coordinator->addFiles({touch(fixture.folder / "a.mov")}, EncodingCoordinator::Duplicates::allowed);
    GeometrySettings geometry = coordinator->geometry();
    geometry.rotation = Rotation::r90;
    coordinator->setGeometry(geometry);
    const struct { bool builtDark, darkened; } rows[] = {{false, false}, {true, true}, {false, true}, {true, false}};
    for (const auto [builtDark, darkened] : rows) {
        SCOPED_TRACE(builtDark == darkened ? "" : "palette changed after the window was built");
        const ApplicationPalette palette(builtDark ? darkDesktopPalette() : light);
        auto window = shownWindow();
        QApplication::setPalette(darkened ? darkDesktopPalette() : light);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        for (const char* name : {"encode", "rotation90", "addFiles", "rotation0"}) {
            auto* control = window->findChild<QAbstractButton*>(QLatin1String(name));
            scrollTo(*window, control);
            for (const auto state : {ButtonState::plain, ButtonState::hovered, ButtonState::pressed,
                                     ButtonState::focused, ButtonState::disabled})
                EXPECT_GE(labelContrast(*control, state),
                          state == ButtonState::disabled ? ui::kDisabledContrast : ui::kReadableContrast)
                    << (darkened ? "dark " : "light ") << name << " in state " << int(state);
        }
    }
}

TEST_F(WindowPaletteTest, TheDisabledEncodeLabelReadsInLightAndDarkPalettes) {
    for (const bool darkened : {false, true}) {
        SCOPED_TRACE(darkened ? "dark" : "light");
        const ApplicationPalette palette(darkened ? darkDesktopPalette() : QApplication::palette());
        auto window = shownWindow();
        auto* encode = window->findChild<QPushButton*>(QStringLiteral("encode"));
        ASSERT_TRUE(encode);
        ASSERT_FALSE(encode->isEnabled()) << "nothing queued";
        const QImage drawn = window->grab().toImage();
        const QColor face = pixelAt(drawn, encode, QPoint(4, encode->height() / 2));
        // The right half holds only the label's text (the symbol is on the
        // left), inside the border.
        const QPoint origin = encode->mapTo(window.get(), QPoint());
        const QRect text(origin.x() + encode->width() / 2, origin.y() + 3, encode->width() / 2 - 4,
                         encode->height() - 6);
        EXPECT_GE(inkContrast(drawn, text, face), kLeastContrast);
        // The symbol is drawn as the label is.
        EXPECT_GE(inkContrast(encode->icon().pixmap(encode->iconSize(), QIcon::Disabled), face), kLeastContrast);
    }
}

// Each quality tier's word on its own pale tint reads as small text.
TEST_F(WindowPaletteTest, TheQualityBadgeReadsOnItsTintInLightAndDarkPalettes) {
    coordinator->setSelectedCodec(OutputCodec::h264);
    for (const PaletteSwitch row : kPaletteSwitches) {
        SCOPED_TRACE(row.name());
        const ApplicationPalette palette(row.builtDark ? darkDesktopPalette() : light);
        auto window = shownWindow();
        switchTo(row);
        auto* badge = window->findChild<QLabel*>(QStringLiteral("qualityBadge"));
        ASSERT_TRUE(badge);
        scrollTo(*window, badge);
        QStringList tiers;
        // First the tier it shows as the window opened (and the palette switched).
        for (int step = -1; step <= 100; ++step) {
            if (step >= 0) {
                H264Settings h264 = coordinator->h264();
                h264.crush = step / 100.0;
                coordinator->setH264(h264);
                processEvents();
            }
            if (tiers.contains(badge->text())) continue;
            tiers << badge->text();
            SCOPED_TRACE(badge->text().toStdString());
            const QImage drawn = window->grab().toImage();
            const QColor fill = pixelAt(drawn, badge, QPoint(4, badge->height() / 2));
            // Inside the padding: the word alone.
            const QRect word = QRect(badge->mapTo(window.get(), QPoint()), badge->size()).adjusted(8, 2, -8, -2);
            EXPECT_GE(inkContrast(drawn, word, fill), ui::kReadableContrast);
        }
        EXPECT_EQ(tiers.size(), 5) << tiers.join(QStringLiteral(", ")).toStdString();
    }
}

// While a batch runs the settings are held greyed: the format and quality it
// encodes still read, and a greyed button's symbol is as faint as its label
// (not drawn in the live text colour).
TEST_F(WindowPaletteTest, WhatARunHoldsGreyedReadsInTheDisabledInkInLightAndDarkPalettes) {
    coordinator->addFiles({touch(fixture.folder / "a.mov"), touch(fixture.folder / "b.mov")},
                          EncodingCoordinator::Duplicates::allowed);
    coordinator->setRunning(true);
    for (const PaletteSwitch row : kPaletteSwitches) {
        SCOPED_TRACE(row.name());
        const ApplicationPalette palette(row.builtDark ? darkDesktopPalette() : light);
        auto window = shownWindow();
        switchTo(row);
        const QImage drawn = window->grab().toImage();
        for (const char* name : {"outputCodec", "proResVariant"}) {
            SCOPED_TRACE(name);
            auto* box = window->findChild<QWidget*>(QLatin1String(name));
            ASSERT_TRUE(box && onScreen(box));
            ASSERT_FALSE(box->isEnabled());
            const QColor face = pixelAt(drawn, box, QPoint(4, box->height() / 2));
            // The chosen item's text, left of the arrow.
            const QRect text = QRect(box->mapTo(window.get(), QPoint()), box->size()).adjusted(3, 3, -24, -3);
            EXPECT_GE(inkContrast(drawn, text, face), ui::kDisabledContrast);
        }
        for (const char* name : {"applyPreset", "addFiles", "makeProxies", "stitch"}) {
            SCOPED_TRACE(name);
            auto* button = window->findChild<QAbstractButton*>(QLatin1String(name));
            ASSERT_TRUE(button && onScreen(button));
            ASSERT_FALSE(button->isEnabled());
            const QColor face = pixelAt(drawn, button, QPoint(4, button->height() / 2));
            const QPoint origin = button->mapTo(window.get(), QPoint());
            // The middle of the button holds only its label; the rest, inside the edge, the symbol too.
            const QRect label(origin.x() + button->width() / 2 - 8, origin.y() + 3, 16, button->height() - 6);
            const QRect inside = QRect(origin, button->size()).adjusted(3, 3, -3, -3);
            const double labelContrast = inkContrast(drawn, label, face);
            EXPECT_GE(labelContrast, ui::kDisabledContrast);
            EXPECT_LE(inkContrast(drawn, inside, face), labelContrast * 1.15) << "drawn stronger than its label";
        }
    }
}

}  // namespace
}  // namespace fw::test
