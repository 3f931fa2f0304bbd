#include "app/WelcomeWindow.h"

#include "app/TextStyle.h"
#include "ui/AccessibleNames.h"
#include "ui/Contrast.h"
#include "ui/ControlStyle.h"
#include "ui/Glass.h"
#include "ui/Symbols.h"
#include "ui/UiFlags.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace fw::app {

namespace {

struct Step {
    const char* icon;
    QColor tint;
    QString title;
    QString detail;
};

// Shown as written; only the hero and the buttons are translated.
std::vector<Step> steps() {
    return {
        {"plus.rectangle.on.folder", QColor(0, 122, 255), QStringLiteral("Add your media"),
         QStringLiteral("Drag files onto the queue or press Ctrl+O. Video, audio, and images are all welcome.")},
        {"slider.horizontal.3", QColor(175, 82, 222), QStringLiteral("Choose your output"),
         QStringLiteral("Pick a format and quality, or start from a preset. “More settings” reveals resize, filters, "
                        "colour, and audio.")},
        {"play.fill", QColor(52, 199, 89), QStringLiteral("Encode the queue"),
         QStringLiteral(
             "Press Encode (Ctrl+R) to run every file in parallel across your cores — watch progress live.")},
        {"wand.and.stars", QColor(255, 149, 0), QStringLiteral("Go further"),
         QStringLiteral("LUTs and watermarks, crop/rotate, stitching, 10-bit HEVC, watch folders, and HTTP publishing "
                        "when you need them.")},
    };
}

// The accent-coloured rounded badge with the application's symbol.
class Badge : public QWidget {
public:
    Badge() { setFixedSize(96 + 2 * kShadow, 96 + 2 * kShadow); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor accent = palette().color(QPalette::Highlight);
        const QRectF tile(kShadow, kShadow - 4, 96, 96);
        QColor shadow = accent;
        for (int ring = kShadow; ring > 0; ring -= 2) {
            shadow.setAlphaF(0.35 * 0.12);
            painter.setPen(Qt::NoPen);
            painter.setBrush(shadow);
            painter.drawRoundedRect(tile.translated(0, 8).adjusted(-ring, -ring, ring, ring), 24 + ring, 24 + ring);
        }
        QLinearGradient gradient(tile.topLeft(), tile.bottomRight());
        QColor faded = accent;
        faded.setAlphaF(0.55);
        gradient.setColorAt(0, accent);
        gradient.setColorAt(1, faded);
        painter.setBrush(gradient);
        painter.drawRoundedRect(tile, 24, 24);
        const QPixmap symbol = tintedSymbol("film.stack", 52, Qt::white);
        painter.drawPixmap(tile.center() - QPointF(26, 26), symbol);
    }

private:
    static constexpr int kShadow = 16;
};

QWidget* stepRow(const Step& step) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    auto* icon = new QLabel;
    icon->setFixedSize(34, 34);
    icon->setAlignment(Qt::AlignCenter);
    // Drawn toward the text colour where the tint alone hardly shows on the window (green, orange in light).
    ui::showTintedSymbol(icon, step.icon, 26, [tint = step.tint](const QPalette& palette) {
        return ui::readableOn(tint, 1.0, {palette.color(QPalette::Window)}, palette.color(QPalette::WindowText),
                              ui::kSymbolContrast);
    });
    layout->addWidget(icon, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    auto* title = new QLabel(step.title);
    applyTextStyle(title, TextRole::headline);
    auto* detail = new QLabel(step.detail);
    detail->setWordWrap(true);
    applyTextStyle(detail, TextRole::subheadline, TextTone::secondary);
    texts->addWidget(title);
    texts->addWidget(detail);
    layout->addLayout(texts, 1);
    return row;
}

}  // namespace

WelcomeWindow::WelcomeWindow(ui::UiFlags& flags, std::function<void(const QString& id)> openWindow, QWidget* parent)
    : QDialog(parent), flags_(flags) {
    setWindowTitle(tr("Welcome to Framewright"));
    setFixedSize(480, 620);
    ui::useReadableControlEdges();  // the focus rings of the text and the buttons

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(22);
    column->setContentsMargins(36, 40, 36, 24);

    auto* hero = new QVBoxLayout;
    hero->setSpacing(14);
    hero->addWidget(new Badge, 0, Qt::AlignHCenter);
    auto* heroTexts = new QVBoxLayout;
    heroTexts->setSpacing(6);
    auto* title = new QLabel(tr("Welcome to Framewright"));
    title->setObjectName(QStringLiteral("welcomeTitle"));
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    applyTextStyle(title, TextRole::largeTitle, TextTone::primary, true);
    auto* subtitle = new QLabel(tr("A fast, native batch media encoder for Linux."));
    subtitle->setAlignment(Qt::AlignCenter);
    subtitle->setWordWrap(true);
    applyTextStyle(subtitle, TextRole::title3, TextTone::secondary);
    heroTexts->addWidget(title);
    heroTexts->addWidget(subtitle);
    hero->addLayout(heroTexts);
    column->addLayout(hero);

    auto* stepList = new QVBoxLayout;
    stepList->setSpacing(20);
    stepList->setContentsMargins(8, 0, 8, 0);
    for (const Step& step : steps()) stepList->addWidget(stepRow(step));
    column->addLayout(stepList);
    column->addStretch(1);

    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("welcomeScroll"));
    ui::nameAfter(scroll, title->text());  // a Tab stop, for scrolling by keyboard
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* manual = new QPushButton(tr("User Manual"));
    manual->setObjectName(QStringLiteral("userManual"));
    manual->setAutoDefault(false);
    ui::applyGlassButton(manual);
    connect(manual, &QPushButton::clicked, this, [openWindow = std::move(openWindow)] {
        if (openWindow) openWindow(QStringLiteral("manual"));
    });
    auto* getStarted = new QPushButton(tr("Get Started"));
    getStarted->setObjectName(QStringLiteral("getStarted"));
    ui::applyGlassProminentButton(getStarted);
    getStarted->setDefault(true);  // after the style, which clears it: Return acts here
    connect(getStarted, &QPushButton::clicked, this, [this] {
        flags_.setFlag(QString::fromLatin1(kHasSeenWelcomeKey), true);
        accept();
    });

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(24, 4, 24, 18);
    buttons->addWidget(manual);
    buttons->addStretch(1);
    buttons->addWidget(getStarted);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(scroll, 1);
    layout->addWidget(divider);
    layout->addSpacing(10);
    layout->addLayout(buttons);
}

}  // namespace fw::app
