// The advanced settings cards against a real coordinator: what shows by
// default, what a switch keeps, locale number entry, the running rule, the
// shared publishing secret and chosen filter files that cannot be used.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/ElidedLabel.h"
#include "ui/FilePicker.h"
#include "ui/SettingsCards.h"
#include "ui/UiFlags.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QLocale>
#include <QSlider>
#include <QTest>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

namespace fw::ui {
namespace {

using test::CoordinatorFixture;
using test::TestCoordinator;
using Builder = QWidget* (*)(CardContext&);

class MemorySecretStore final : public SecretStore {
public:
    std::optional<std::string> stored;
    std::optional<std::string> secret() const override { return stored; }
    void setSecret(std::string_view value) override {
        stored = value.empty() ? std::nullopt : std::optional<std::string>(value);
    }
};

class AdvancedSettingsCardTest : public ::testing::Test {
protected:
    ~AdvancedSettingsCardTest() override { QLocale::setDefault(localeBefore_); }

    QWidget* build(Builder builder) {
        bodies_.emplace_back(builder(context_));
        return bodies_.back().get();
    }
    template <class T = QWidget>
    static T* child(QWidget* body, const char* name) {
        auto* found = body->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // A 2×2×2 identity table as a .cube file holds it.
    static std::string identityCube() {
        std::string cube = "LUT_3D_SIZE 2\n";
        for (int i = 0; i < 8; ++i)
            cube += std::to_string(i & 1) + " " + std::to_string(i >> 1 & 1) + " " + std::to_string(i >> 2) + "\n";
        return cube;
    }
    static void type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }

    const QLocale localeBefore_;
    CoordinatorFixture fixture_;
    std::shared_ptr<MemorySecretStore> secrets_ = std::make_shared<MemorySecretStore>();
    std::unique_ptr<TestCoordinator> coordinator_ = [this] {
        CoordinatorServices services = fixture_.services();
        services.secrets = secrets_;
        return std::make_unique<TestCoordinator>(services, EncodingCoordinator::Restore::no);
    }();
    PresetStore presets_{fixture_.defaults};
    UiFlags flags_{fixture_.defaults};
    test::ScriptedFilePicker picker_;
    CardContext context_{*coordinator_, presets_, flags_, picker_, [](FolderPickerTarget) {}, [] {}};
    std::vector<std::unique_ptr<QWidget>> bodies_;
};

TEST_F(AdvancedSettingsCardTest, DefaultsShowOnlyTheSwitches) {
    const struct {
        Builder builder;
        std::vector<const char*> shown;
        std::vector<const char*> hidden;
    } cases[] = {
        {buildTransformCard,
         {"rotation0", "flipHorizontal", "cropEnabled", "frameRateEnabled"},
         {"cropX", "cropHeight", "frameRate", "frameRatePreset0"}},
        {buildTrimCard, {"trimEnabled"}, {"trimStart", "trimEnd"}},
        {buildColorCard, {"tenBit", "colorEnabled"}, {"colorTag"}},
        {buildMetadataCard,
         {"metadataEnabled", "writeTimecodeTrack", "captionsEnabled"},
         {"metadataTitle", "startTimecode", "timecodeFrameRate", "captionChoose"}},
        {buildFiltersCard,
         {"lutEnabled", "watermarkEnabled", "burnTimecode"},
         {"lutChoose", "watermarkChoose", "watermarkPosition", "watermarkOpacity", "timecodePosition"}},
        {buildAudioCard,
         {"normalizeLoudness", "limitTruePeak", "stripAudio", "sampleRate"},
         {"targetLUFS", "truePeakCeilingDb"}},
        {buildPublishCard, {"publishEnabled", "publishEndpoint", "publishAuth"}, {"publishUsername", "publishSecret"}},
    };
    for (const auto& card : cases) {
        QWidget* body = build(card.builder);
        for (const char* name : card.shown) EXPECT_TRUE(child(body, name)->isVisibleTo(body)) << name;
        for (const char* name : card.hidden) EXPECT_FALSE(child(body, name)->isVisibleTo(body)) << name;
    }
}

// Each number field behind its switch: a decimal comma is read in the
// German locale, text that is no number leaves the value, and switching
// off and on again shows the value typed before.
TEST_F(AdvancedSettingsCardTest, NumberFieldsReadTheLocaleAndSurviveTheirSwitch) {
    QLocale::setDefault(QLocale(QLocale::German));
    EncodingCoordinator& c = *coordinator_;
    const struct {
        Builder builder;
        const char* switchName;
        const char* fieldName;
        std::function<double()> stored;
        QString typed;
        double value;
    } cases[] = {
        {buildTransformCard, "cropEnabled", "cropX", [&c] { return c.geometry().cropX; }, "0,125", 0.125},
        {buildTransformCard, "cropEnabled", "cropWidth", [&c] { return c.geometry().cropWidth; }, "0,75", 0.75},
        {buildTransformCard, "frameRateEnabled", "frameRate", [&c] { return c.geometry().frameRate; }, "29,97", 29.97},
        {buildTrimCard, "trimEnabled", "trimStart", [&c] { return c.trimStart(); }, "29,97", 29.97},
        {buildTrimCard, "trimEnabled", "trimEnd", [&c] { return c.trimEnd(); }, "1234,5", 1234.5},
        {buildMetadataCard, "writeTimecodeTrack", "timecodeFrameRate", [&c] { return c.metadata().timecodeFrameRate; },
         "29,97", 29.97},
    };
    for (const auto& row : cases) {
        QWidget* body = build(row.builder);
        auto* toggle = child<QCheckBox>(body, row.switchName);
        auto* edit = child<QLineEdit>(body, row.fieldName);
        toggle->setChecked(true);
        ASSERT_TRUE(edit->isVisibleTo(body)) << row.fieldName;
        type(edit, row.typed);
        EXPECT_EQ(row.stored(), row.value) << row.fieldName;
        type(edit, QStringLiteral("abc"));
        EXPECT_EQ(row.stored(), row.value) << row.fieldName;
        // No digit grouping: what the field shows reads back as the same number.
        EXPECT_EQ(edit->text(), row.typed) << row.fieldName;
        toggle->setChecked(false);
        EXPECT_FALSE(edit->isVisibleTo(body)) << row.fieldName;
        toggle->setChecked(true);
        EXPECT_EQ(edit->text(), row.typed) << row.fieldName;
    }
    // A chip's exact rate is stored as it is.
    QWidget* transform = build(buildTransformCard);
    child<QAbstractButton>(transform, "frameRatePreset0")->click();
    EXPECT_EQ(c.geometry().frameRate, 23.976);
}

// The crop fields take fractions of the source: a pixel size, a value past
// either end or no number is refused beside the field, and the crop stays as
// it was (it would otherwise be clamped to the whole frame). Each field names
// its own refusal, so several refused at once are all shown.
TEST_F(AdvancedSettingsCardTest, CropFieldsRefuseWhatIsNoFraction) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    GeometrySettings geometry;
    geometry.cropEnabled = true;
    geometry.cropX = 0.25;
    geometry.cropWidth = 0.5;
    coordinator_->setGeometry(geometry);
    QWidget* body = build(buildTransformCard);
    body->show();
    const auto refusal = [body](const char* field) { return child(body, (std::string(field) + "Refusal").c_str()); };
    const struct {
        const char* field;
        QString typed;
        bool taken;
        QString shown;
        double GeometrySettings::*member;
        double stored;
    } cases[] = {
        {"cropWidth", "1280", false, "0.5", &GeometrySettings::cropWidth, 0.5},
        {"cropHeight", "720", false, "1", &GeometrySettings::cropHeight, 1},
        {"cropWidth", "1,280", false, "0.5", &GeometrySettings::cropWidth, 0.5},
        {"cropX", "-0.1", false, "0.25", &GeometrySettings::cropX, 0.25},
        {"cropY", "1.01", false, "0", &GeometrySettings::cropY, 0},
        {"cropY", "half", false, "0", &GeometrySettings::cropY, 0},
        {"cropWidth", "0.75", true, "0.75", &GeometrySettings::cropWidth, 0.75},
        {"cropHeight", "1", true, "1", &GeometrySettings::cropHeight, 1},
        {"cropX", "0", true, "0", &GeometrySettings::cropX, 0},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.field) + " " + row.typed.toStdString());
        auto* edit = child<QLineEdit>(body, row.field);
        type(edit, row.typed);
        EXPECT_EQ(coordinator_->geometry().*row.member, row.stored);
        EXPECT_EQ(edit->text(), row.shown);
        EXPECT_EQ(refusal(row.field)->isVisible(), !row.taken);
        if (!row.taken) {
            EXPECT_TRUE(refusal(row.field)->findChild<QLabel*>("noteText")->text().contains(row.typed));
        }
    }
    // Y's "half" is still named beside two refusals more.
    type(child<QLineEdit>(body, "cropX"), "5");
    type(child<QLineEdit>(body, "cropWidth"), "2");
    const std::pair<const char*, QString> shown[] = {
        {"cropX", "X: “5”"}, {"cropY", "Y: “half”"}, {"cropWidth", "W: “2”"}, {"cropHeight", ""}};
    for (const auto& [field, text] : shown) {
        EXPECT_EQ(refusal(field)->isVisible(), !text.isEmpty()) << field;
        if (!text.isEmpty()) {
            EXPECT_TRUE(refusal(field)->findChild<QLabel*>("noteText")->text().startsWith(text));
        }
    }
}

// Watermark on with no image chosen: the card says the outputs get none.
TEST_F(AdvancedSettingsCardTest, AWatermarkSwitchedOnWithoutAnImageSaysSo) {
    QWidget* body = build(buildFiltersCard);
    body->show();
    auto* missing = child(body, "watermarkMissing");
    child<QCheckBox>(body, "watermarkEnabled")->click();
    EXPECT_TRUE(missing->isVisible());
    EXPECT_EQ(child<ElidedLabel>(body, "watermarkName")->fullText(), QStringLiteral("None"));

    const struct {
        const char* file;
        bool picture;
        bool warned;
    } choices[] = {{"mark.png", false, true}, {"logo.png", true, false}, {"broken.png", false, false}};
    for (const auto& choice : choices) {
        SCOPED_TRACE(choice.file);
        const std::filesystem::path file = fixture_.folder / choice.file;
        if (choice.picture) {
            QImage logo(32, 16, QImage::Format_ARGB32);
            logo.fill(QColor(200, 40, 40, 180));
            ASSERT_TRUE(logo.save(QString::fromStdString(file.string())));
        } else {
            std::ofstream(file) << "not a picture";
        }
        picker_.file = file;
        child<QAbstractButton>(body, "watermarkChoose")->click();
        EXPECT_EQ(missing->isVisible(), choice.warned);
        EXPECT_EQ(bool(coordinator_->filters().watermark), !choice.warned);
    }
    child<QCheckBox>(body, "watermarkEnabled")->click();
    EXPECT_FALSE(missing->isVisible());
}

// A colour LUT on with no file chosen: the card says the outputs get none,
// until a usable table is chosen; an unusable file after it changes nothing.
TEST_F(AdvancedSettingsCardTest, AColourLutSwitchedOnWithoutAFileSaysSo) {
    QWidget* body = build(buildFiltersCard);
    body->show();
    auto* missing = child(body, "lutMissing");
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->isVisible()) << "switched off";
    child<QCheckBox>(body, "lutEnabled")->click();
    EXPECT_TRUE(missing->isVisible());
    EXPECT_EQ(child<ElidedLabel>(body, "lutName")->fullText(), QStringLiteral("None"));

    const struct {
        const char* file;
        std::string bytes;
        bool warned;
    } choices[] = {
        {"flat.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n", true},
        {"Film.cube", identityCube(), false},
        {"short.cube", "LUT_3D_SIZE 2\n0 0 0\n", false},
    };
    for (const auto& choice : choices) {
        SCOPED_TRACE(choice.file);
        std::ofstream(fixture_.folder / choice.file, std::ios::binary) << choice.bytes;
        picker_.file = fixture_.folder / choice.file;
        child<QAbstractButton>(body, "lutChoose")->click();
        EXPECT_EQ(missing->isVisible(), choice.warned);
        EXPECT_EQ(coordinator_->filters().lut.has_value(), !choice.warned);
    }
    child<QCheckBox>(body, "lutEnabled")->click();
    EXPECT_FALSE(missing->isVisible());
}

TEST_F(AdvancedSettingsCardTest, RunningDisablesEveryControlButUploadFinishedNow) {
    // A publishable queue: a valid endpoint and a finished job with an output.
    coordinator_->setPublish(
        {false, "https://example.test/up/", PublishSettings::Method::put, PublishSettings::Auth::basic, ""});
    coordinator_->addFiles({fixture_.folder / "a.mov"}, EncodingCoordinator::Duplicates::allowed);
    coordinator_->jobs()[0]->setStatus(EncodeJob::Status::finished);
    coordinator_->jobs()[0]->setOutputURL(fixture_.folder / "a_ProRes.mov");
    std::vector<QWidget*> bodies;
    for (Builder builder : {buildTransformCard, buildTrimCard, buildColorCard, buildMetadataCard, buildFiltersCard,
                            buildAudioCard, buildPublishCard})
        bodies.push_back(build(builder));
    auto controls = [&bodies] {
        std::vector<QWidget*> all;
        for (QWidget* body : bodies)
            for (QWidget* widget : body->findChildren<QWidget*>())
                if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                    qobject_cast<QComboBox*>(widget) || qobject_cast<QSlider*>(widget))
                    all.push_back(widget);
        return all;
    };
    for (const bool running : {true, false}) {
        coordinator_->setRunning(running);
        for (QWidget* control : controls()) {
            const bool upload = control->objectName() == QStringLiteral("uploadFinishedNow");
            EXPECT_EQ(control->isEnabled(), upload || !running) << control->objectName().toStdString();
        }
    }
}

TEST_F(AdvancedSettingsCardTest, EnablingFollowsCodecAndSilence) {
    QWidget* colour = build(buildColorCard);
    QWidget* audio = build(buildAudioCard);
    auto* tenBit = child<QCheckBox>(colour, "tenBit");
    coordinator_->setSelectedCodec(OutputCodec::hevc);
    tenBit->click();
    coordinator_->setSelectedCodec(OutputCodec::h264);
    EXPECT_TRUE(tenBit->isChecked());
    EXPECT_FALSE(tenBit->isEnabled());
    EXPECT_TRUE(child<QLabel>(colour, "tenBitHelp")->text().startsWith(QStringLiteral("10-bit needs")));
    coordinator_->setSelectedCodec(OutputCodec::proRes);
    EXPECT_TRUE(tenBit->isEnabled());

    auto* mono = child<QCheckBox>(audio, "downmixMono");
    mono->click();
    child<QCheckBox>(audio, "stripAudio")->click();
    EXPECT_FALSE(mono->isEnabled());
    EXPECT_TRUE(coordinator_->audio().downmixMono);
    child<QCheckBox>(audio, "stripAudio")->click();
    EXPECT_TRUE(mono->isEnabled());
    EXPECT_TRUE(mono->isChecked());
}

TEST_F(AdvancedSettingsCardTest, BasicAndBearerShareOneSecret) {
    secrets_->stored = "from-last-launch";
    QWidget* body = build(buildPublishCard);
    auto* auth = child<QComboBox>(body, "publishAuth");
    auto* secret = child<QLineEdit>(body, "publishSecret");
    EXPECT_EQ(secret->text(), QStringLiteral("from-last-launch"));
    EXPECT_EQ(secret->echoMode(), QLineEdit::Password);

    auth->setCurrentIndex(1);  // Basic
    EXPECT_TRUE(child(body, "publishUsername")->isVisibleTo(body));
    type(secret, QStringLiteral("s3cret"));
    EXPECT_EQ(secrets_->stored, "s3cret");
    auth->setCurrentIndex(2);  // Bearer token
    EXPECT_FALSE(child(body, "publishUsername")->isVisibleTo(body));
    EXPECT_TRUE(secret->isVisibleTo(body));
    EXPECT_EQ(secret->placeholderText(), QStringLiteral("Token"));
    EXPECT_EQ(secret->text(), QStringLiteral("s3cret"));
    auth->setCurrentIndex(0);  // None hides the field and keeps the secret.
    EXPECT_FALSE(secret->isVisibleTo(body));
    EXPECT_EQ(secrets_->stored, "s3cret");
    auth->setCurrentIndex(1);
    type(secret, QString());
    EXPECT_EQ(secrets_->stored, std::nullopt);
}

// A job that finishes on an encoder's thread enables "Upload finished now".
TEST_F(AdvancedSettingsCardTest, UploadButtonFollowsJobsFinishingOnOtherThreads) {
    QWidget* body = build(buildPublishCard);
    auto* uploadNow = child<QAbstractButton>(body, "uploadFinishedNow");
    type(child<QLineEdit>(body, "publishEndpoint"), QStringLiteral("HTTPS://example.test/up/"));
    coordinator_->addFiles({fixture_.folder / "a.mov"}, EncodingCoordinator::Duplicates::allowed);
    EXPECT_FALSE(uploadNow->isEnabled());
    std::shared_ptr<EncodeJob> job = coordinator_->jobs()[0];
    std::thread([job, output = fixture_.folder / "a_ProRes.mov"] {
        job->setOutputURL(output);
        job->setStatus(EncodeJob::Status::finished);
    }).join();
    test::processEvents();
    EXPECT_TRUE(uploadNow->isEnabled());
}

TEST_F(AdvancedSettingsCardTest, UnusableFilterFilesKeepThePreviousChoiceAndSayWhy) {
    auto write = [this](const std::string& name, const std::string& bytes) {
        std::ofstream(fixture_.folder / name, std::ios::binary) << bytes;
        return fixture_.folder / name;
    };
    QWidget* body = build(buildFiltersCard);
    child<QCheckBox>(body, "lutEnabled")->click();
    picker_.file = write("Film.cube", identityCube());
    child<QAbstractButton>(body, "lutChoose")->click();
    ASSERT_TRUE(coordinator_->filters().lut);
    const CubeLUT chosen = *coordinator_->filters().lut;

    const struct {
        std::optional<std::filesystem::path> file;
        QString message;
    } cases[] = {
        {write("size.cube", "0 0 0\n1 1 1\n"), QStringLiteral("Missing LUT_3D_SIZE.")},
        {write("flat.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n"), QStringLiteral("1D LUTs are not supported.")},
        {write("short.cube", "LUT_3D_SIZE 2\n0 0 0\n1 1 1\n0 1 0\n"), QStringLiteral("Expected 8 entries, found 3.")},
        {write("bytes.cube", "LUT_3D_SIZE 2\n\xff\xfe\n"), QStringLiteral("Not a text file.")},
        {fixture_.folder / "missing.cube", QStringLiteral("Could not read the file.")},
    };
    auto* error = child<QLabel>(body, "lutError");
    for (const auto& row : cases) {
        picker_.file = row.file;
        child<QAbstractButton>(body, "lutChoose")->click();
        EXPECT_EQ(error->text(), row.message);
        EXPECT_TRUE(error->isVisibleTo(body));
        EXPECT_EQ(child<ElidedLabel>(body, "lutName")->fullText(), QStringLiteral("Film.cube"));
        EXPECT_EQ(coordinator_->filters().lut, chosen);
    }

    child<QCheckBox>(body, "watermarkEnabled")->click();
    picker_.file = write("mark.png", "not a picture");
    child<QAbstractButton>(body, "watermarkChoose")->click();
    EXPECT_EQ(child<QLabel>(body, "watermarkError")->text(), QStringLiteral("Could not read image."));
    EXPECT_EQ(child<ElidedLabel>(body, "watermarkName")->fullText(), QStringLiteral("None"));
    EXPECT_FALSE(coordinator_->filters().watermark);
}

}  // namespace
}  // namespace fw::ui
