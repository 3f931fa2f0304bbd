#include "ui/Contrast.h"

#include <algorithm>
#include <cmath>

namespace fw::ui {

namespace {

double channel(double value) { return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4); }

double luminance(const QColor& color) {
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

QColor mix(const QColor& from, const QColor& to, double share) {
    return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * share),
                            float(from.greenF() + (to.greenF() - from.greenF()) * share),
                            float(from.blueF() + (to.blueF() - from.blueF()) * share));
}

// As a picture stores it, 8 bits a channel: a colour measured just at the
// limit must not fall below it once drawn.
QColor drawable(const QColor& color) { return QColor::fromRgba(color.rgba()); }

// Translucent ink as a painter stores it over `background`: 8 bits a
// channel, each rounded toward the background at worst (Qt's blend of a
// half-faded grey falls a whole step short of the exact mix).
QColor blendedOver(const QColor& ink, const QColor& background) {
    const QColor exact = over(ink, background);
    const QColor under = background.toRgb();
    const auto level = [](double value, int toward) {
        const double scaled = value * 255;
        return int(scaled > toward ? std::floor(scaled + 1e-6) : std::ceil(scaled - 1e-6));
    };
    return QColor(level(exact.redF(), under.red()), level(exact.greenF(), under.green()),
                  level(exact.blueF(), under.blue()));
}

// A little more for what painters and text rendering may still take off a
// colour chosen just at the limit.
constexpr double kBlendMargin = 0.02;

bool readsOnAll(const QColor& ink, std::span<const QColor> backgrounds, double minimum) {
    return std::all_of(backgrounds.begin(), backgrounds.end(), [&](const QColor& background) {
        return contrastRatio(blendedOver(ink, background), background) >= minimum + kBlendMargin;
    });
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double first = luminance(a), second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor over(const QColor& top, const QColor& bottom) {
    const QColor opaque = top.toRgb();
    return mix(bottom.toRgb(), QColor::fromRgbF(opaque.redF(), opaque.greenF(), opaque.blueF()), opaque.alphaF());
}

QColor readableOn(QColor ink, double alpha, std::initializer_list<QColor> backgrounds, const QColor& strongest,
                  double minimum) {
    return readableOn(ink, alpha, std::span(backgrounds.begin(), backgrounds.size()), strongest, minimum);
}

QColor readableOn(QColor ink, double alpha, std::span<const QColor> backgrounds, const QColor& strongest,
                  double minimum) {
    ink = ink.toRgb();
    // Steps of 1/64: fine enough to stay faint, few enough to be cheap.
    for (double share = std::clamp(alpha, 0.0, 1.0); share < 1.0; share += 1.0 / 64) {
        QColor faded = ink;
        faded.setAlphaF(float(share));
        faded = drawable(faded);
        if (readsOnAll(faded, backgrounds, minimum)) return faded;
    }
    ink.setAlphaF(1.0f);
    for (double share = 0; share <= 1.0; share += 1.0 / 64) {
        const QColor deeper = drawable(mix(ink, strongest, share));
        if (readsOnAll(deeper, backgrounds, minimum)) return deeper;
    }
    return strongest.toRgb();
}

}  // namespace fw::ui
