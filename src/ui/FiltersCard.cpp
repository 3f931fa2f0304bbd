#include "coordinator/FilterFiles.h"
#include "ui/Binding.h"
#include "ui/CardRows.h"
#include "ui/FilePicker.h"
#include "ui/SettingsCards.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLocale>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>
#include <variant>
#include <vector>

namespace fw::ui {

namespace {

// Opacity in hundredths on the slider.
constexpr int kOpacitySteps = 100;

QString problemText(const FilterFiles::Problem& problem) {
    using Kind = FilterFiles::Problem::Kind;
    switch (problem.kind) {
    case Kind::unreadable: return QObject::tr("Could not read the file.");
    case Kind::notText: return QObject::tr("Not a text file.");
    case Kind::missingSize: return QObject::tr("Missing LUT_3D_SIZE.");
    case Kind::unsupported1D: return QObject::tr("1D LUTs are not supported.");
    case Kind::sampleCountMismatch:
        return QObject::tr("Expected %1 entries, found %2.")
            .arg(QLocale().toString(qlonglong(problem.expectedEntries)),
                 QLocale().toString(qlonglong(problem.foundEntries)));
    case Kind::notAnImage: return QObject::tr("Could not read image.");
    }
    return {};
}

QComboBox* makeCornerPicker(const QString& objectName, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(objectName);
    for (FilterCorner corner : kAllFilterCorners) box->addItem(QString::fromStdString(std::string(rawValue(corner))));
    return box;
}

QString fileNameText(const std::optional<std::string>& name) {
    return name ? QString::fromStdString(*name) : QString();
}

}  // namespace

QWidget* buildFiltersCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    FilePicker& picker = context.picker;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(12);
    auto* binder = new Binder(coordinator, body);
    const auto filters = setting(coordinator, &EncodingCoordinator::filters, &EncodingCoordinator::setFilters,
                                 &EncodingCoordinator::filtersChanged);
    const std::vector<FilterCorner> corners(kAllFilterCorners.begin(), kAllFilterCorners.end());

    // Colour LUT.
    QCheckBox* lut = makeSwitch(QObject::tr("Colour LUT (.cube)"), QStringLiteral("lutEnabled"), body);
    binder->check(lut, field(filters, &FilterSettings::lutEnabled));
    layout->addWidget(lut);
    const FileRow lutRow = makeFileRow(QObject::tr("Choose .cube…"), QStringLiteral("lut"), body);
    binder->follow(lutRow.choose);
    // A file that cannot be used keeps the previous table and says why.
    QObject::connect(lutRow.choose, &QAbstractButton::clicked, binder, [&picker, filters, lutRow, body] {
        const std::optional<std::filesystem::path> file =
            picker.chooseFile(body, QObject::tr("Choose a .cube colour LUT"), QObject::tr("Cube LUTs (*.cube)"));
        if (!file) return;
        std::variant<CubeLUT, FilterFiles::Problem> loaded = FilterFiles::loadLut(*file);
        if (const auto* problem = std::get_if<FilterFiles::Problem>(&loaded)) {
            lutRow.showError(problemText(*problem));
            return;
        }
        lutRow.showError(QString());
        FilterSettings changed = filters.get();
        changed.lut = std::move(std::get<CubeLUT>(loaded));
        filters.set(changed);
        changed.lutName = file->filename().string();
        filters.set(changed);
    });
    layout->addWidget(lutRow.widget);
    layout->addWidget(makeDivider(body));

    // Watermark.
    QCheckBox* watermark = makeSwitch(QObject::tr("Watermark image"), QStringLiteral("watermarkEnabled"), body);
    binder->check(watermark, field(filters, &FilterSettings::watermarkEnabled));
    layout->addWidget(watermark);
    QWidget* watermarkGroup = makeGroup(body, 12);
    const FileRow imageRow = makeFileRow(QObject::tr("Choose image…"), QStringLiteral("watermark"), watermarkGroup);
    binder->follow(imageRow.choose);
    QObject::connect(imageRow.choose, &QAbstractButton::clicked, binder, [&picker, filters, imageRow, body] {
        const std::optional<std::filesystem::path> file =
            picker.chooseFile(body, QObject::tr("Choose a watermark image"),
                              QObject::tr("Images (*.png *.jpg *.jpeg *.tif *.tiff *.heic *.webp *.bmp *.gif)"));
        if (!file) return;
        std::variant<ImageRef, FilterFiles::Problem> loaded = FilterFiles::loadWatermark(*file);
        if (const auto* problem = std::get_if<FilterFiles::Problem>(&loaded)) {
            imageRow.showError(problemText(*problem));
            return;
        }
        imageRow.showError(QString());
        FilterSettings changed = filters.get();
        changed.watermark = std::get<ImageRef>(loaded);
        filters.set(changed);
        changed.watermarkName = file->filename().string();
        filters.set(changed);
    });
    groupLayout(watermarkGroup)->addWidget(imageRow.widget);
    // Switched on before an image is chosen: the run would go ahead with none.
    QWidget* noImage =
        makeTintedNote("exclamationmark.triangle.fill", Tint::orange,
                       QObject::tr("No image chosen: outputs get no watermark until you choose one."), watermarkGroup);
    noImage->setObjectName(QStringLiteral("watermarkMissing"));
    groupLayout(watermarkGroup)->addWidget(noImage);
    QComboBox* watermarkPosition = makeCornerPicker(QStringLiteral("watermarkPosition"), watermarkGroup);
    binder->choice(watermarkPosition, field(filters, &FilterSettings::watermarkPosition), corners);
    groupLayout(watermarkGroup)->addWidget(makeTitledRow(QObject::tr("Position"), watermarkPosition, watermarkGroup));
    auto* opacity = new QSlider(Qt::Horizontal, watermarkGroup);
    opacity->setObjectName(QStringLiteral("watermarkOpacity"));
    opacity->setRange(kOpacitySteps / 10, kOpacitySteps);
    binder->slider(opacity, mapped<double, int>(
                                field(filters, &FilterSettings::watermarkOpacity),
                                [](const double& value) { return int(std::lround(value * kOpacitySteps)); },
                                [](const int& steps) { return double(steps) / kOpacitySteps; }));
    groupLayout(watermarkGroup)
        ->addWidget(
            makeRow(watermarkGroup, {makeShortCaption(QObject::tr("Opacity"), watermarkGroup, false), opacity}));
    layout->addWidget(watermarkGroup);
    layout->addWidget(makeDivider(body));

    // Burned-in timecode.
    QCheckBox* burn = makeSwitch(QObject::tr("Burn in timecode"), QStringLiteral("burnTimecode"), body);
    binder->check(burn, field(filters, &FilterSettings::burnTimecode));
    layout->addWidget(burn);
    QComboBox* timecodePosition = makeCornerPicker(QStringLiteral("timecodePosition"), body);
    binder->choice(timecodePosition, field(filters, &FilterSettings::timecodePosition), corners);
    QWidget* timecodeRow = makeTitledRow(QObject::tr("Position"), timecodePosition, body);
    layout->addWidget(timecodeRow);

    binder->watch(
        [filters, lutRow, imageRow, watermarkGroup, noImage, timecodeRow] {
            const FilterSettings value = filters.get();
            lutRow.widget->setVisible(value.lutEnabled);
            lutRow.showName(fileNameText(value.lutName));
            watermarkGroup->setVisible(value.watermarkEnabled);
            imageRow.showName(fileNameText(value.watermarkName));
            noImage->setVisible(!value.watermark);
            timecodeRow->setVisible(value.burnTimecode);
        },
        filters);
    return body;
}

}  // namespace fw::ui
