#include "ui/Glass.h"

#include "ui/AccessibleNames.h"
#include "ui/Contrast.h"
#include "ui/ControlStyle.h"
#include "ui/FollowPalette.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>
#include <vector>

namespace fw::ui {

namespace {

QString rgba(const QColor& color) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(QString::number(color.alphaF(), 'f', 3));
}

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

// Return in a line edit of a dialog presses the default or first auto-default
// push button: a styled button must never be that button.
void neverDefault(QAbstractButton* button) {
    if (auto* push = qobject_cast<QPushButton*>(button)) {
        push->setAutoDefault(false);
        push->setDefault(false);
    }
}

// The card's material: the base colour at this opacity over the wash.
constexpr double kGlassOpacity = 0.62;
// The accent's share at the bottom of the wash (the window is opaque).
constexpr double kWashAccent = 0.12;
// A disabled prominent button: the accent this faint; a chosen segment held
// while a run goes on, this.
constexpr double kDisabledAccentOpacity = 0.35;
constexpr double kDisabledSegmentOpacity = 0.6;
constexpr int kProminentRadius = 8;
// A glass button's or segment's light fill: the base colour this opaque.
constexpr double kGlassButtonFill = 0.7;

// Black or white, whichever `ink` stands out from more.
QColor farthestFrom(const QColor& ink) {
    return contrastRatio(ink, Qt::black) >= contrastRatio(ink, Qt::white) ? QColor(Qt::black) : QColor(Qt::white);
}

// An accent-filled control (a prominent button, the chosen segment): its
// fill plain, under the pointer and pressed (also its edge), and its
// label's ink.
struct AccentColours {
    QColor face, hover, pressed, ink;
};

// The palette's label colour on the accent where it reads at 4.5:1; else
// the accent is drawn away from the label until it does, as long as it
// still stands out from what it lies on (the card, the wash, the other
// segments) as well as the accent itself did. Where it would not (a light
// label in a dark palette), the label turns instead: the window colour drawn
// toward black or white until it reads on the accent. Hover and pressed go
// further from the label, so they read at least as well.
AccentColours accentColours(const QPalette& palette) {
    const QColor accent = palette.color(QPalette::Highlight);
    const auto [top, bottom] = glassBackgrounds(palette);
    const QColor segment = over(withAlpha(palette.color(QPalette::Base), kGlassButtonFill), top);
    const std::array surfaces{top, bottom, washTop(palette), washBottom(palette), segment};
    const auto standsOut = [&](const QColor& face) {
        double least = 21;
        for (const QColor& surface : surfaces) least = std::min(least, contrastRatio(face, surface));
        return least;
    };
    QColor ink = palette.color(QPalette::HighlightedText);
    QColor face = readableOn(accent, 1.0, {ink}, farthestFrom(ink));
    if (const double deepened = standsOut(face); deepened < kControlEdgeContrast && deepened < standsOut(accent)) {
        ink = readableOn(palette.color(QPalette::Window), 1.0, {accent}, farthestFrom(ink));
        face = readableOn(accent, 1.0, {ink}, farthestFrom(ink));
    }
    const QColor away = farthestFrom(ink);
    return {face, over(withAlpha(away, 0.1), face), over(withAlpha(away, 0.2), face), ink};
}

// The label of a disabled accent control, its fill the accent at
// `fillAlpha` over each of `under`: the label colour faded, drawn toward the
// text colour where needed to read as a disabled label.
QColor disabledAccentText(const QPalette& palette, double fillAlpha, std::initializer_list<QColor> under) {
    const QColor faded = withAlpha(palette.color(QPalette::Highlight), fillAlpha);
    std::vector<QColor> fills;
    for (const QColor& surface : under) fills.push_back(over(faded, surface));
    return readableOn(palette.color(QPalette::HighlightedText), 0.8, fills, palette.color(QPalette::WindowText),
                      kDisabledContrast);
}

}  // namespace

QColor lightestFace(const QPalette& palette) { return palette.color(QPalette::Button).lighter(126); }

QColor washTop(const QPalette& palette) { return palette.color(QPalette::Window); }

QColor washBottom(const QPalette& palette) {
    return over(withAlpha(palette.color(QPalette::Highlight), kWashAccent), palette.color(QPalette::Window));
}

std::array<QColor, 2> glassBackgrounds(const QPalette& palette) {
    const QColor glass = withAlpha(palette.color(QPalette::Base), kGlassOpacity);
    return {over(glass, washTop(palette)), over(glass, washBottom(palette))};
}

QColor secondaryTextOnGlass(const QPalette& palette, double alpha) {
    const auto [top, bottom] = glassBackgrounds(palette);
    const QColor text = palette.color(QPalette::WindowText);
    return readableOn(text, alpha, {top, bottom}, text);
}

QColor disabledTextOnGlass(const QPalette& palette) {
    const auto [top, bottom] = glassBackgrounds(palette);
    // Controls' faces: a combo box's blends the button colour toward the light
    // one, a disabled field shows its disabled base.
    return readableOn(
        palette.color(QPalette::Disabled, QPalette::WindowText), 1.0,
        {top, bottom, washTop(palette), washBottom(palette), palette.color(QPalette::Button), lightestFace(palette),
         palette.color(QPalette::Light), palette.color(QPalette::Disabled, QPalette::Base)},
        palette.color(QPalette::Active, QPalette::WindowText), kDisabledContrast);
}

QColor tintTextOnGlass(const QColor& tint, const QPalette& palette, double fillAlpha) {
    const auto [top, bottom] = glassBackgrounds(palette);
    const QColor fill = withAlpha(tint, fillAlpha);
    return readableOn(tint, 1.0, {over(fill, top), over(fill, bottom)}, palette.color(QPalette::WindowText));
}

QColor tintSymbolOnGlass(const QColor& tint, const QPalette& palette) {
    const auto [top, bottom] = glassBackgrounds(palette);
    return readableOn(tint, 1.0, {top, bottom}, palette.color(QPalette::WindowText), kSymbolContrast);
}

QColor controlEdge(const QPalette& palette) {
    const auto [top, bottom] = glassBackgrounds(palette);
    const QColor page = lightestFace(palette);
    // Opaque (the card's colour drawn toward the text, not faded ink): styles
    // draw it as it comes.
    // The action bar's buttons lie on the wash itself.
    return readableOn(top, 1.0, {top, bottom, washTop(palette), washBottom(palette), page},
                      palette.color(QPalette::WindowText), kControlEdgeContrast);
}

QColor focusRing(const QPalette& palette) {
    const auto [top, bottom] = glassBackgrounds(palette);
    return readableOn(palette.color(QPalette::Highlight), 1.0,
                      {top, bottom, washTop(palette), washBottom(palette), lightestFace(palette), controlEdge(palette)},
                      palette.color(QPalette::WindowText), kControlEdgeContrast);
}

GlassCard::GlassCard(QWidget* parent, int cornerRadius) : QFrame(parent), cornerRadius_(cornerRadius) {
    // The controls laid on the card need edges that read on it, and names.
    useReadableControlEdges();
    useLabelledComboBoxes();
    setFrameShape(QFrame::NoFrame);
    // A light palette's disabled grey hardly shows on the card: what a run
    // holds greyed (the format and quality it encodes) must still read.
    followPalette(this, PaletteUse::surface, [this](const QPalette& application) {
        QPalette readable = palette();
        const QColor disabled = disabledTextOnGlass(application);
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            readable.setColor(QPalette::Disabled, role, disabled);
        setPalette(readable);
    });
}

void GlassCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (cornerRadius_ > 0)
        path.addRoundedRect(bounds, cornerRadius_, cornerRadius_);
    else
        path.addRect(bounds);
    // A thin, light material over the window's wash.
    painter.fillPath(path, withAlpha(palette().color(QPalette::Base), kGlassOpacity));
    painter.setPen(QPen(withAlpha(palette().color(QPalette::Mid), 0.35), 1));
    painter.drawPath(path);
}

void applyGlassButton(QAbstractButton* button, bool small) {
    button->setProperty("glass", true);
    neverDefault(button);
    const QString padding = small ? QStringLiteral("2px 8px") : QStringLiteral("4px 12px");
    const int radius = small ? 6 : 8;
    followStyleSheet(button, [padding, radius](const QPalette& palette) {
        const QColor base = palette.color(QPalette::Base);
        // The fill is too near the card to show the button: the edge does.
        return QStringLiteral(
                   "QPushButton, QToolButton { background: %1; color: %2; border: 1px solid %3;"
                   " border-radius: %4px; padding: %5; }"
                   " QPushButton:hover, QToolButton:hover { background: %6; }"
                   " QPushButton:pressed, QToolButton:pressed { background: %7; }"
                   " QPushButton:disabled, QToolButton:disabled { color: %8; }"
                   " QToolButton::menu-indicator { subcontrol-position: right center; }")
            .arg(rgba(withAlpha(base, kGlassButtonFill)), rgba(palette.color(QPalette::ButtonText)),
                 rgba(controlEdge(palette)), QString::number(radius), padding, rgba(base),
                 rgba(withAlpha(palette.color(QPalette::Shadow), 0.1)), rgba(disabledTextOnGlass(palette)));
    });
    button->setProperty(kFocusRingRadius, radius);
    if (small) {
        QFont font = button->font();
        font.setPointSizeF(font.pointSizeF() * 0.9);
        button->setFont(font);
    }
}

void applySegmentStyle(QAbstractButton* segment, SegmentPosition position) {
    const QString left = position == SegmentPosition::first ? QStringLiteral("6px") : QStringLiteral("0px");
    const QString right = position == SegmentPosition::last ? QStringLiteral("6px") : QStringLiteral("0px");
    followStyleSheet(segment, [left, right](const QPalette& palette) {
        const QColor base = palette.color(QPalette::Base);
        const AccentColours chosen = accentColours(palette);
        const auto [top, bottom] = glassBackgrounds(palette);
        // The picker's outline shows it as one control on the card.
        return QStringLiteral(
                   "QToolButton, QPushButton { background: %1; color: %2; border: 1px solid %3; padding: 3px 2px;"
                   " border-top-left-radius: %4; border-bottom-left-radius: %4;"
                   " border-top-right-radius: %5; border-bottom-right-radius: %5; }"
                   " QToolButton:hover, QPushButton:hover { background: %6; }"
                   " QToolButton:checked, QPushButton:checked { background: %7; color: %8; border-color: %9; }"
                   " QToolButton:disabled, QPushButton:disabled { color: %10; }"
                   " QToolButton:checked:disabled, QPushButton:checked:disabled { background: %11; color: %12; }")
            .arg(rgba(withAlpha(base, kGlassButtonFill)), rgba(palette.color(QPalette::ButtonText)),
                 rgba(controlEdge(palette)), left, right, rgba(base), rgba(chosen.face), rgba(chosen.ink),
                 rgba(chosen.pressed), rgba(disabledTextOnGlass(palette)),
                 rgba(withAlpha(palette.color(QPalette::Highlight), kDisabledSegmentOpacity)),
                 rgba(disabledAccentText(palette, kDisabledSegmentOpacity, {top, bottom})));
    });
}

QColor prominentButtonText(const QPalette& palette, bool enabled) {
    if (enabled) return accentColours(palette).ink;
    // The faded accent over the wash, at either end of the window.
    return disabledAccentText(palette, kDisabledAccentOpacity, {washTop(palette), washBottom(palette)});
}

void applyGlassProminentButton(QAbstractButton* button) {
    button->setProperty("glassProminent", true);
    button->setProperty(kFocusRingRadius, kProminentRadius);
    neverDefault(button);
    followStyleSheet(button, [](const QPalette& palette) {
        const AccentColours colours = accentColours(palette);
        return QStringLiteral(
                   "QPushButton, QToolButton { background: %1; color: %2; border: 1px solid %3;"
                   " border-radius: %7px; padding: 5px 16px; font-weight: 600; }"
                   " QPushButton:hover, QToolButton:hover { background: %4; }"
                   " QPushButton:pressed, QToolButton:pressed { background: %3; }"
                   " QPushButton:disabled, QToolButton:disabled { background: %5; color: %6; }")
            .arg(rgba(colours.face), rgba(colours.ink), rgba(colours.pressed), rgba(colours.hover),
                 rgba(withAlpha(palette.color(QPalette::Highlight), kDisabledAccentOpacity)),
                 rgba(prominentButtonText(palette, false)))
            .arg(kProminentRadius);
    });
}

}  // namespace fw::ui
