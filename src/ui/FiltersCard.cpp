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

// What one filter drawn from a file (a colour LUT, a watermark image) is
// called and where it is kept.
template <class Loaded, class Kept>
struct FileFilterParts {
    QString switchText;
    QString name;  // object names: name + "Enabled", "Choose", "Name", "Error", "Missing"
    QString chooseText;
    QString chooserTitle;
    QString chooserFilter;
    QString missingText;
    bool FilterSettings::*enabled;
    std::optional<std::string> FilterSettings::*fileName;
    Kept FilterSettings::*kept;
    std::variant<Loaded, FilterFiles::Problem> (*load)(const std::filesystem::path&);
};

// A filter's switch and, shown while it is on, a group holding the file's
// row and a note while no file is chosen: switched on before that, the run
// goes ahead without the filter. A chosen file that cannot be used keeps the
// one before and says why. Returns the group, for the filter's other rows.
template <class Loaded, class Kept>
QWidget* addFileFilter(const FileFilterParts<Loaded, Kept>& parts, const Setting<FilterSettings>& filters,
                       Binder& binder, FilePicker& picker, QWidget* body) {
    auto* layout = static_cast<QVBoxLayout*>(body->layout());
    QCheckBox* toggle = makeSwitch(parts.switchText, parts.name + QStringLiteral("Enabled"), body);
    binder.check(toggle, field(filters, parts.enabled));
    layout->addWidget(toggle);
    QWidget* group = makeGroup(body, 12);
    const FileRow row = makeFileRow(parts.chooseText, parts.name, group);
    binder.follow(row.choose);
    QObject::connect(row.choose, &QAbstractButton::clicked, &binder, [&picker, filters, row, body, parts] {
        const std::optional<std::filesystem::path> file =
            picker.chooseFile(body, parts.chooserTitle, parts.chooserFilter);
        if (!file) return;
        std::variant<Loaded, FilterFiles::Problem> loaded = parts.load(*file);
        if (const auto* problem = std::get_if<FilterFiles::Problem>(&loaded)) {
            row.showError(problemText(*problem));
            return;
        }
        row.showError(QString());
        FilterSettings changed = filters.get();
        changed.*parts.kept = std::move(std::get<Loaded>(loaded));
        filters.set(changed);
        changed.*parts.fileName = file->filename().string();
        filters.set(changed);
    });
    groupLayout(group)->addWidget(row.widget);
    QWidget* missing = makeTintedNote("exclamationmark.triangle.fill", Tint::orange, parts.missingText, group);
    missing->setObjectName(parts.name + QStringLiteral("Missing"));
    groupLayout(group)->addWidget(missing);
    layout->addWidget(group);
    binder.watch(
        [filters, parts, group, row, missing] {
            const FilterSettings value = filters.get();
            group->setVisible(value.*parts.enabled);
            row.showName(fileNameText(value.*parts.fileName));
            missing->setVisible(!(value.*parts.kept));
        },
        filters);
    return group;
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

    addFileFilter(
        FileFilterParts<CubeLUT, std::optional<CubeLUT>>{
            QObject::tr("Colour LUT (.cube)"), QStringLiteral("lut"), QObject::tr("Choose .cube…"),
            QObject::tr("Choose a .cube colour LUT"), QObject::tr("Cube LUTs (*.cube)"),
            QObject::tr("No LUT chosen: outputs get no colour LUT until you choose one."), &FilterSettings::lutEnabled,
            &FilterSettings::lutName, &FilterSettings::lut, &FilterFiles::loadLut},
        filters, *binder, picker, body);
    layout->addWidget(makeDivider(body));

    QWidget* watermarkGroup = addFileFilter(
        FileFilterParts<ImageRef, ImageRef>{
            QObject::tr("Watermark image"), QStringLiteral("watermark"), QObject::tr("Choose image…"),
            QObject::tr("Choose a watermark image"),
            QObject::tr("Images (*.png *.jpg *.jpeg *.tif *.tiff *.heic *.webp *.bmp *.gif)"),
            QObject::tr("No image chosen: outputs get no watermark until you choose one."),
            &FilterSettings::watermarkEnabled, &FilterSettings::watermarkName, &FilterSettings::watermark,
            &FilterFiles::loadWatermark},
        filters, *binder, picker, body);
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
    layout->addWidget(makeDivider(body));

    // Burned-in timecode.
    QCheckBox* burn = makeSwitch(QObject::tr("Burn in timecode"), QStringLiteral("burnTimecode"), body);
    binder->check(burn, field(filters, &FilterSettings::burnTimecode));
    layout->addWidget(burn);
    QComboBox* timecodePosition = makeCornerPicker(QStringLiteral("timecodePosition"), body);
    binder->choice(timecodePosition, field(filters, &FilterSettings::timecodePosition), corners);
    QWidget* timecodeRow = makeTitledRow(QObject::tr("Position"), timecodePosition, body);
    layout->addWidget(timecodeRow);

    binder->watch([filters, timecodeRow] { timecodeRow->setVisible(filters.get().burnTimecode); }, filters);
    return body;
}

}  // namespace fw::ui
