#include "jobs/OutputNaming.h"
#include "ui/AccessibleNames.h"
#include "ui/Binding.h"
#include "ui/CardText.h"
#include "ui/ElidedLabel.h"
#include "ui/FollowPalette.h"
#include "ui/SettingsCards.h"
#include "ui/Symbols.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

#include <array>
#include <ctime>

namespace fw::ui {

namespace {

struct QuickStyle {
    const char* label;
    const char* templateText;
};

// The picker's styles; the last is the "Custom" marker, never written.
constexpr std::array<QuickStyle, 5> kQuickStyles{{
    {QT_TRANSLATE_NOOP("FileNameCard", "Name + format"), "{name}_{codec}"},
    {QT_TRANSLATE_NOOP("FileNameCard", "Name only"), "{name}"},
    {QT_TRANSLATE_NOOP("FileNameCard", "Name + resolution"), "{name}_{width}x{height}"},
    {QT_TRANSLATE_NOOP("FileNameCard", "Name + format + date"), "{name}_{codec}_{date}"},
    {QT_TRANSLATE_NOOP("FileNameCard", "Custom"), "__custom__"},
}};
constexpr std::size_t kCustomStyle = kQuickStyles.size() - 1;

struct Token {
    const char* label;
    const char* token;
};

constexpr std::array<Token, 5> kTokens{{
    {"Name", "{name}"},
    {"Format", "{codec}"},
    {"Width", "{width}"},
    {"Height", "{height}"},
    {"Date", "{date}"},
}};

// The example's source: "clip", named on 2026-01-01 (noon local time, so the
// local date is that day in every zone).
constexpr const char* kExampleSource = "clip";

Date exampleDate() {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 0;
    local.tm_mday = 1;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

// The name the coordinator gives the example source's output for the current
// settings; the size is the resize box when resizing, else 1920 × 1080.
std::filesystem::path exampleOutput(const EncodingCoordinator& coordinator) {
    const ExportConfiguration configuration = coordinator.primaryConfiguration().resolvingAlpha();
    const IntSize size = configuration.resize.isEnabled
                             ? IntSize{configuration.resize.width, configuration.resize.height}
                             : IntSize{1920, 1080};
    return OutputNaming::destination(kExampleSource, configuration, size, std::nullopt, exampleDate()).filename();
}

QWidget* makeExampleRow(QWidget* parent, ElidedLabel*& name) {
    auto* row = new QFrame(parent);
    row->setObjectName(QStringLiteral("exampleRow"));
    followStyleSheet(row, QStringLiteral("#exampleRow { background: rgba(128,128,128,0.14); border-radius: 8px; }"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    auto* icon = new QLabel(row);
    showSymbol(icon, "doc", 14);
    layout->addWidget(icon);
    name = new ElidedLabel(row);
    name->setObjectName(QStringLiteral("exampleFileName"));
    QFont medium = name->font();
    medium.setWeight(QFont::Medium);
    name->setFont(medium);
    layout->addWidget(name, 1);
    return row;
}

}  // namespace

QWidget* buildFileNameCard(CardContext& context) {
    EncodingCoordinator& coordinator = context.coordinator;
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setSpacing(10);
    auto* binder = new Binder(coordinator, body);
    const auto naming = setting(coordinator, &EncodingCoordinator::naming, &EncodingCoordinator::setNaming,
                                &EncodingCoordinator::namingChanged);
    const Setting<std::string> pattern = field(naming, &NamingSettings::templateText);

    ElidedLabel* example = nullptr;
    layout->addWidget(makeExampleRow(body, example));

    // The template as the picker's tag: a known style's own, else "Custom",
    // which writes nothing.
    const Setting<std::string> quickStyle{[pattern] {
                                              const std::string current = pattern.get();
                                              for (std::size_t i = 0; i < kCustomStyle; ++i)
                                                  if (current == kQuickStyles[i].templateText) return current;
                                              return std::string(kQuickStyles[kCustomStyle].templateText);
                                          },
                                          [pattern](const std::string& chosen) {
                                              if (chosen != kQuickStyles[kCustomStyle].templateText)
                                                  pattern.set(chosen);
                                          },
                                          pattern.onChange};
    auto* style = new QComboBox(body);
    style->setObjectName(QStringLiteral("namingStyle"));
    std::vector<std::string> tags;
    for (const QuickStyle& each : kQuickStyles) {
        style->addItem(QCoreApplication::translate("FileNameCard", each.label));
        tags.emplace_back(each.templateText);
    }
    binder->choice(style, quickStyle, tags);
    layout->addWidget(makeTitledRow(QObject::tr("Style"), style, body));

    auto* tokenBar = new QVBoxLayout;
    tokenBar->setSpacing(4);
    tokenBar->addWidget(makeCaption(QObject::tr("Insert"), body));
    auto* tokens = new QHBoxLayout;
    tokens->setSpacing(6);
    for (const Token& each : kTokens) {
        auto* button = new QToolButton(body);
        button->setText(QString::fromLatin1(each.label));
        button->setObjectName(QStringLiteral("token") + QString::fromLatin1(each.label));
        QFont small = button->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        button->setFont(small);
        QObject::connect(button, &QToolButton::clicked, button,
                         [pattern, token = std::string(each.token)] { pattern.set(pattern.get() + token); });
        binder->follow(button);
        tokens->addWidget(button);
    }
    tokens->addStretch(1);
    tokenBar->addLayout(tokens);
    layout->addLayout(tokenBar);

    auto* patternField = new QLineEdit(body);
    patternField->setObjectName(QStringLiteral("namingPattern"));
    patternField->setPlaceholderText(QObject::tr("Pattern"));
    nameAfter(patternField, patternField->placeholderText());
    binder->text(patternField, pattern, Binder::Commit::onEveryEdit);
    layout->addWidget(patternField);

    QWidget* uniqueness = makeTintedNote("exclamationmark.triangle.fill", Tint::orange,
                                         QObject::tr("Include {name} so each output keeps a unique name."), body);
    uniqueness->setObjectName(QStringLiteral("uniquenessWarning"));
    layout->addWidget(uniqueness);
    // The run refuses an output that would replace its source, which a name
    // equal to the source's own does beside a source of the output's type.
    QWidget* sameName = makeTintedNote(
        "exclamationmark.triangle.fill", Tint::orange,
        QObject::tr("Outputs keep their source's name: one that would replace its source file is refused."), body);
    sameName->setObjectName(QStringLiteral("sameNameWarning"));
    layout->addWidget(sameName);

    binder->watchSignals(
        [&coordinator, example, uniqueness, sameName] {
            const std::filesystem::path output = exampleOutput(coordinator);
            example->setFullText(QString::fromStdString(output.string()));
            uniqueness->setVisible(coordinator.naming().templateText.find("{name}") == std::string::npos);
            sameName->setVisible(output.stem() == OutputNaming::sourceName(kExampleSource));
        },
        &EncodingCoordinator::namingChanged, &EncodingCoordinator::selectedCodecChanged,
        &EncodingCoordinator::resizeChanged, &EncodingCoordinator::outputAlphaChanged);
    return body;
}

}  // namespace fw::ui
