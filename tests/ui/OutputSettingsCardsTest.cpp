// The cards that shape the outputs (Output, Resize, File Name, Proxy,
// Destinations) driven as a user would, against a real coordinator.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/ActionBar.h"
#include "ui/ElidedLabel.h"
#include "ui/FilePicker.h"
#include "ui/SettingsCards.h"
#include "ui/UiFlags.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTest>
#include <QToolButton>

#include <memory>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

using ui::FolderPickerTarget;

struct CardFixture {
    CoordinatorFixture base;
    std::unique_ptr<TestCoordinator> coordinator = base.make(EncodingCoordinator::Restore::no);
    PresetStore presets{base.defaults};
    ui::UiFlags flags{base.defaults};
    ScriptedFilePicker picker;
    std::vector<FolderPickerTarget> chosen;
    ui::CardContext context{
        *coordinator, presets, flags, picker, [this](FolderPickerTarget target) { chosen.push_back(target); }, [] {}};
    std::unique_ptr<QWidget> card;

    explicit CardFixture(QWidget* (*build)(ui::CardContext&)) : card(build(context)) {}

    template <class T = QWidget>
    T* find(const char* name) const {
        T* widget = card->findChild<T*>(QString::fromLatin1(name));
        if (!widget) ADD_FAILURE() << "no control " << name;
        return widget;
    }
    bool shows(const char* name) const {
        const QWidget* widget = find(name);
        return widget && widget->isVisibleTo(card.get());
    }
    void type(const char* name, const QString& text) const {
        auto* edit = find<QLineEdit>(name);
        edit->setText(text);
        emit edit->editingFinished();
    }
    void click(const char* name) const { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
};

// The locale a test sets, undone after it.
struct LocaleScope {
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(previous); }
    QLocale previous;
};

TEST(OutputCard, EachCodecShowsItsOwnRowsAndHiddenValuesReturn) {
    CardFixture fixture(ui::buildOutputCard);
    auto& coordinator = *fixture.coordinator;
    const char* const rows[] = {"proResVariant", "dxvQuality",    "outputAlpha", "exactBitrate",
                                "imageSequence", "stillDuration", "notchBanner", "experimentalBanner"};
    struct Case {
        OutputCodec codec;
        const char* shown;  // one letter per row above
    } const cases[] = {
        {OutputCodec::proRes, "PxAxxSxx"}, {OutputCodec::h264, "xxxBxSxx"},    {OutputCodec::hevc, "xxABxSxx"},
        {OutputCodec::gif, "xxxxxSxx"},    {OutputCodec::png, "xxxxIxxx"},     {OutputCodec::dxv2, "xxAxxSxE"},
        {OutputCodec::dxv3, "xDAxxSxE"},   {OutputCodec::notchLC, "xxxxxSNx"},
    };
    coordinator.setOutputAlpha(true);
    for (const Case& c : cases) {
        coordinator.setSelectedCodec(c.codec);
        for (std::size_t row = 0; row < std::size(rows); ++row)
            EXPECT_EQ(fixture.shows(rows[row]), c.shown[row] != 'x') << rawValue(c.codec) << " " << rows[row];
    }
    EXPECT_TRUE(coordinator.outputAlpha());
    EXPECT_TRUE(fixture.find<QAbstractButton>("outputAlpha")->isChecked());

    // NotchLC is offered but cannot be picked; HEVC + Alpha is not offered.
    auto* picker = fixture.find<QComboBox>("outputCodec");
    EXPECT_EQ(picker->count(), 14);
    EXPECT_EQ(picker->itemText(13), "NotchLC (Unavailable)");
    EXPECT_FALSE(qobject_cast<QStandardItemModel*>(picker->model())->item(13)->isEnabled());

    // The 4444 note follows alpha, codec and variant without changing the variant.
    coordinator.setSelectedCodec(OutputCodec::proRes);
    EXPECT_TRUE(fixture.shows("alphaNote"));
    fixture.find<QComboBox>("proResVariant")->setCurrentIndex(4);
    EXPECT_FALSE(fixture.shows("alphaNote"));
    fixture.click("outputAlpha");
    fixture.find<QComboBox>("proResVariant")->setCurrentIndex(3);
    EXPECT_FALSE(fixture.shows("alphaNote"));
    EXPECT_EQ(coordinator.proResVariant(), ProResVariant::hq);
}

// HEVC + Alpha has no encoder here: choosing it (HEVC with the alpha switch,
// or a stored configuration naming it) shows the banner, and neither Encode
// nor Stitch is offered; every other choice leaves them to the queue.
TEST(OutputCard, HevcWithAlphaShowsItsBannerAndIsNeverStarted) {
    CardFixture fixture(ui::buildOutputCard);
    auto& coordinator = *fixture.coordinator;
    ui::ActionBar bar(fixture.context);
    coordinator.addFiles({touch(fixture.base.folder / "a.mov"), touch(fixture.base.folder / "b.mov")},
                         EncodingCoordinator::Duplicates::allowed);
    auto* picker = fixture.find<QComboBox>("outputCodec");
    auto* alpha = fixture.find<QAbstractButton>("outputAlpha");
    struct Case {
        int pickerIndex;  // -1: a stored HEVC + Alpha applied
        bool alphaOn;
        bool banner;
        bool offered;  // Encode and Stitch enabled
    } const cases[] = {
        {2, false, false, true}, {2, true, true, false},  {0, true, false, true},
        {1, true, false, true},  {2, false, false, true}, {-1, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pickerIndex << (c.alphaOn ? " alpha" : ""));
        if (c.pickerIndex < 0) {
            ExportConfiguration stored;
            stored.codec = OutputCodec::hevcAlpha;
            coordinator.apply(stored);
        } else {
            picker->setCurrentIndex(c.pickerIndex);
            if (alpha->isChecked() != c.alphaOn) QTest::mouseClick(alpha, Qt::LeftButton);
        }
        test::processEvents();
        EXPECT_EQ(coordinator.outputAlpha(), c.alphaOn);
        EXPECT_EQ(fixture.shows("hevcAlphaBanner"), c.banner);
        EXPECT_FALSE(fixture.shows("notchBanner"));
        EXPECT_EQ(bar.findChild<QAbstractButton*>("encode")->isEnabled(), c.offered);
        EXPECT_EQ(bar.findChild<QAbstractButton*>("stitch")->isEnabled(), c.offered);
        EXPECT_EQ(coordinator.canStart(), c.offered);
    }
    // The help names what happens here, not another system's encoder.
    const QString help = fixture.find<QLabel>("alphaHelp")->text();
    EXPECT_FALSE(help.contains(QStringLiteral("Apple"))) << help.toStdString();
    EXPECT_TRUE(help.contains(QStringLiteral("HEVC cannot keep alpha on this system"))) << help.toStdString();
}

// The value behind one of the number fields.
double storedIn(const EncodingCoordinator& coordinator, std::string_view field) {
    if (field == "bitrate") return coordinator.h264().bitrateMbps;
    if (field == "keyFrameInterval") return double(coordinator.h264().maxKeyFrameInterval);
    if (field == "resizeWidth") return double(coordinator.resize().width);
    return double(coordinator.resize().height);
}

// A switch that opens a group shows it with the values typed before it was closed.
TEST(SettingsCards, OnlyTheTogglesShowUntilOpenedAndClosingKeepsTypedValues) {
    const LocaleScope german{QLocale(QLocale::German)};
    struct Case {
        QWidget* (*build)(ui::CardContext&);
        OutputCodec codec;
        const char* toggle;
        const char* group;
        const char* field;
        QString typed;
        double stored;
        QString shown;  // without digit grouping, so that it types back
    } const cases[] = {
        {ui::buildResizeCard, OutputCodec::proRes, "resizeEnabled", "resizeMode", "resizeWidth", "1.280", 1280, "1280"},
        {ui::buildOutputCard, OutputCodec::h264, "exactBitrate", "bitrate", "bitrate", "29,97", 29.97, "29,97"},
        {ui::buildOutputCard, OutputCodec::hevc, "customKeyFrames", "keyFrameInterval", "keyFrameInterval", "120", 120,
         "120"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        CardFixture fixture(c.build);
        fixture.coordinator->setSelectedCodec(c.codec);
        EXPECT_TRUE(fixture.shows(c.toggle));
        EXPECT_FALSE(fixture.shows(c.group));
        fixture.click(c.toggle);
        ASSERT_TRUE(fixture.shows(c.group));
        fixture.type(c.field, c.typed);
        fixture.click(c.toggle);
        EXPECT_FALSE(fixture.shows(c.group));
        fixture.click(c.toggle);
        EXPECT_EQ(fixture.find<QLineEdit>(c.field)->text(), c.shown);
        EXPECT_DOUBLE_EQ(storedIn(*fixture.coordinator, c.field), c.stored);
    }
}

TEST(SettingsCards, TypedNumbersParseInTheUsersLocaleAndStayInBounds) {
    const LocaleScope german{QLocale(QLocale::German)};
    struct Case {
        QWidget* (*build)(ui::CardContext&);
        const char* field;
        QString typed;
        double stored;
        QString shown;
    } const cases[] = {
        {ui::buildOutputCard, "bitrate", "abc", 12, "12"},
        {ui::buildOutputCard, "bitrate", "5000", 1000, "1000"},
        {ui::buildOutputCard, "bitrate", "0,01", 0.1, "0,1"},
        {ui::buildOutputCard, "keyFrameInterval", "0", 1, "1"},
        {ui::buildOutputCard, "keyFrameInterval", "20000", 10000, "10000"},
        {ui::buildOutputCard, "keyFrameInterval", "12x", 60, "60"},
        {ui::buildResizeCard, "resizeWidth", "1", 2, "2"},
        {ui::buildResizeCard, "resizeHeight", "99999", 16384, "16384"},
        {ui::buildResizeCard, "resizeHeight", "-720", 2, "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field + (" " + c.typed.toStdString()));
        CardFixture fixture(c.build);
        fixture.type(c.field, c.typed);
        EXPECT_DOUBLE_EQ(storedIn(*fixture.coordinator, c.field), c.stored);
        EXPECT_EQ(fixture.find<QLineEdit>(c.field)->text(), c.shown);
    }
    CardFixture output(ui::buildOutputCard);
    auto* still = output.find<QSpinBox>("stillDuration");
    EXPECT_EQ(still->text(), "Still image clip: 5s");
    still->setValue(0);
    EXPECT_EQ(output.coordinator->stillDuration(), 1);
    still->setValue(600);
    EXPECT_EQ(output.coordinator->stillDuration(), 60);
}

TEST(OutputCard, TheBadgeAndEstimateFollowTheSliderOrTheExactRate) {
    CardFixture fixture(ui::buildOutputCard);
    fixture.coordinator->setSelectedCodec(OutputCodec::h264);
    struct Case {
        double crush;
        std::optional<double> exactMbps;
        const char* badge;
        const char* estimate;
    } const cases[] = {
        {0.6, {}, "High", "\u22488 Mbps @1080p"},     {0, {}, "Very Low", "\u22481 Mbps @1080p"},
        {1, {}, "Very High", "\u224812 Mbps @1080p"}, {0.3, {}, "Medium", "\u22485 Mbps @1080p"},
        {0, 3.0, "Low", "\u22483 Mbps @1080p"},       {0, 12.0, "Very High", "\u224812 Mbps @1080p"},
    };
    auto* slider = fixture.find<QSlider>("quality");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.badge);
        fixture.coordinator->setH264({});
        slider->setValue(int(c.crush * slider->maximum()));
        if (c.exactMbps) {
            fixture.click("exactBitrate");
            fixture.type("bitrate", QString::number(*c.exactMbps));
        }
        EXPECT_EQ(fixture.find<QLabel>("qualityBadge")->text(), c.badge);
        EXPECT_EQ(fixture.find<QLabel>("bitrateEstimate")->text(), QString::fromUtf8(c.estimate));
        EXPECT_EQ(slider->isEnabled(), !c.exactMbps);
    }

    // The keys move the slider by steps a person sees.
    fixture.coordinator->setH264({});
    slider->setValue(300);
    const std::pair<Qt::Key, double> keys[] = {
        {Qt::Key_Right, 0.31}, {Qt::Key_PageUp, 0.41}, {Qt::Key_Left, 0.40}, {Qt::Key_PageDown, 0.30}};
    for (const auto& [key, crush] : keys) {
        QTest::keyClick(slider, key);
        EXPECT_DOUBLE_EQ(fixture.coordinator->h264().crush, crush) << key;
    }
}

// Every control of a card, hidden ones included.
std::vector<QWidget*> controlsOf(const QWidget* card) {
    std::vector<QWidget*> controls;
    for (QWidget* widget : card->findChildren<QWidget*>())
        if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
            qobject_cast<QLineEdit*>(widget) || qobject_cast<QSlider*>(widget) || qobject_cast<QSpinBox*>(widget))
            controls.push_back(widget);
    return controls;
}

TEST(SettingsCards, ARunDisablesEveryControlButTheDestinations) {
    struct Case {
        QWidget* (*build)(ui::CardContext&);
        bool keepsEnabled;
    } const cases[] = {{ui::buildOutputCard, false},
                       {ui::buildResizeCard, false},
                       {ui::buildFileNameCard, false},
                       {ui::buildProxyCard, false},
                       {ui::buildDestinationsCard, true}};
    for (const Case& c : cases) {
        CardFixture fixture(c.build);
        fixture.coordinator->setSelectedCodec(OutputCodec::h264);
        const std::vector<QWidget*> controls = controlsOf(fixture.card.get());
        ASSERT_GE(controls.size(), 2u);
        fixture.coordinator->setRunning(true);
        for (QWidget* control : controls)
            EXPECT_EQ(control->isEnabled(), c.keepsEnabled) << control->objectName().toStdString();
        fixture.coordinator->setRunning(false);
        for (QWidget* control : controls) EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
    }
}

TEST(FileNameCard, TheExampleIsTheCoordinatorsNameForEachCodecAndStyle) {
    struct Case {
        OutputCodec codec;
        bool alpha;
        std::optional<IntSize> resize;
        QString pattern;
        const char* example;
        const char* style;
        bool missesName, isSourceName;
    } const cases[] = {
        {OutputCodec::proRes, false, {}, "{name}_{codec}", "clip_ProRes.mov", "Name + format", false, false},
        {OutputCodec::h264,
         false,
         {},
         "{name}_{width}x{height}",
         "clip_1920x1080.mp4",
         "Name + resolution",
         false,
         false},
        {OutputCodec::hevc,
         false,
         {},
         "{name}_{codec}_{date}",
         "clip_HEVC_2026-01-01.mp4",
         "Name + format + date",
         false,
         false},
        {OutputCodec::hevc, true, {}, "{name}_{codec}", "clip_HEVC-Alpha.mov", "Name + format", false, false},
        {OutputCodec::dxv3, false, IntSize{1280, 720}, "{name}_{width}x{height}", "clip_1280x720.mov",
         "Name + resolution", false, false},
        {OutputCodec::png, false, {}, "{name}", "clip.png", "Name only", false, true},
        {OutputCodec::exr, false, {}, "  {name}  ", "clip.exr", "Custom", false, true},
        {OutputCodec::proRes, false, {}, "", "clip.mov", "Custom", true, true},
        {OutputCodec::gif, false, {}, "a/b:{Name}", "a-b-{Name}.gif", "Custom", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.example);
        CardFixture fixture(ui::buildFileNameCard);
        auto& coordinator = *fixture.coordinator;
        coordinator.setSelectedCodec(c.codec);
        coordinator.setOutputAlpha(c.alpha);
        if (c.resize) coordinator.setResize({true, c.resize->width, c.resize->height, ResizeMode::fill});
        auto* pattern = fixture.find<QLineEdit>("namingPattern");
        pattern->clear();
        emit pattern->editingFinished();
        QTest::keyClicks(pattern, c.pattern);  // each keystroke is written at once
        EXPECT_EQ(coordinator.naming().templateText, c.pattern.toStdString());
        EXPECT_EQ(fixture.find<ui::ElidedLabel>("exampleFileName")->fullText(), c.example);
        EXPECT_EQ(fixture.find<QComboBox>("namingStyle")->currentText(), c.style);
        EXPECT_EQ(fixture.shows("uniquenessWarning"), c.missesName);
        EXPECT_EQ(fixture.shows("sameNameWarning"), c.isSourceName);
    }
}

TEST(FileNameCard, StylesReplaceThePatternTokensAppendAndCustomWritesNothing) {
    CardFixture fixture(ui::buildFileNameCard);
    auto* style = fixture.find<QComboBox>("namingStyle");
    style->setCurrentIndex(1);
    EXPECT_EQ(fixture.coordinator->naming().templateText, "{name}");
    style->setCurrentIndex(4);
    EXPECT_EQ(fixture.coordinator->naming().templateText, "{name}");
    EXPECT_EQ(style->currentText(), "Name only");
    fixture.click("tokenDate");
    EXPECT_EQ(fixture.coordinator->naming().templateText, "{name}{date}");
    EXPECT_EQ(fixture.find<QLineEdit>("namingPattern")->text(), "{name}{date}");
    EXPECT_EQ(fixture.find<ui::ElidedLabel>("exampleFileName")->fullText(), "clip2026-01-01.mov");
}

TEST(DestinationsCard, FoldersWatchingAndTheWatchPresetFollowTheCoordinator) {
    CardFixture fixture(ui::buildDestinationsCard);
    auto& coordinator = *fixture.coordinator;
    const auto outputText = [&] { return fixture.find<ui::ElidedLabel>("outputFolder")->fullText(); };

    EXPECT_EQ(outputText(), "Beside each source file");
    EXPECT_FALSE(fixture.shows("resetOutputFolder"));
    fixture.click("chooseOutputFolder");
    fixture.click("chooseWatchFolder");
    EXPECT_EQ(fixture.chosen, (std::vector{FolderPickerTarget::output, FolderPickerTarget::watch}));
    coordinator.setOutputDirectory(fixture.base.folder.path());
    EXPECT_EQ(outputText().toStdString(), fixture.base.folder.path().string());
    fixture.click("resetOutputFolder");
    EXPECT_FALSE(coordinator.outputDirectory());
    EXPECT_FALSE(fixture.shows("resetOutputFolder"));

    coordinator.setAutoStartWatched(false);
    coordinator.startWatching(fixture.base.folder.path());
    EXPECT_TRUE(fixture.shows("stopWatching"));
    EXPECT_EQ(fixture.find<ui::ElidedLabel>("watchFolder")->fullText().toStdString(),
              fixture.base.folder.path().string());
    fixture.click("stopWatching");
    EXPECT_FALSE(coordinator.isWatching());
    EXPECT_FALSE(fixture.shows("stopWatching"));
    EXPECT_EQ(fixture.find<ui::ElidedLabel>("watchFolder")->fullText(), "Auto-encode new files in a folder");
    EXPECT_FALSE(fixture.find<QAbstractButton>("autoStartWatched")->isChecked());

    // Built-ins, then the user's presets, after "Main settings".
    fixture.presets.savePreset("Mine", {});
    auto* presetButton = fixture.find<QToolButton>("watchPreset");
    QMenu* menu = presetButton->menu();
    emit menu->aboutToShow();
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 2 + qsizetype(fixture.presets.allPresets().size()));
    EXPECT_EQ(items[0]->text(), "Main settings");
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items.back()->text(), "Mine");
    for (QAction* item : items)
        if (item->text() == "H.264 720p (web)") item->trigger();
    EXPECT_EQ(presetButton->text(), "Preset: H.264 720p (web)");
    EXPECT_EQ(coordinator.watchConfiguration()->codec, OutputCodec::h264);
    items[0]->trigger();
    EXPECT_EQ(presetButton->text(), "Preset: Main settings");
    EXPECT_FALSE(coordinator.watchConfiguration());
    EXPECT_FALSE(coordinator.watchPresetName());
}

}  // namespace
}  // namespace fw::test
