// Caption text on the window's glass cards reads at 4.5:1 or more (the WCAG
// contrast for small text), in a light and a dark palette: the cards' help
// captions, warning notes and banners, the preview's numbers and
// placeholder, the queue's count; also once the palette has switched under
// them. Colours are composed here as the window paints them: the base colour
// at 0.62 over the wash (the window colour at the top, with 12 % of the
// accent at the bottom).

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/Banner.h"
#include "ui/CardText.h"
#include "ui/Glass.h"
#include "ui/PreviewPanel.h"
#include "ui/QueueCard.h"
#include "ui/SettingsCards.h"
#include "ui/UiFlags.h"

#include <QApplication>
#include <QLabel>

#include <cmath>
#include <functional>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

double linear(double value) { return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4); }
double luminance(const QColor& c) {
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}
QColor blend(const QColor& top, const QColor& bottom) {
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                            float(top.greenF() * a + bottom.greenF() * (1 - a)),
                            float(top.blueF() * a + bottom.blueF() * (1 - a)));
}
QColor alpha(QColor color, double value) {
    color.setAlphaF(float(value));
    return color;
}
// The contrast of text in `ink` (maybe translucent) drawn on `background`.
double contrast(const QColor& ink, const QColor& background) {
    const double a = luminance(blend(ink, background)), b = luminance(background);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(43, 43, 43));
    palette.setColor(QPalette::Base, QColor(30, 30, 30));
    palette.setColor(QPalette::WindowText, QColor(230, 230, 230));
    palette.setColor(QPalette::Text, QColor(230, 230, 230));
    palette.setColor(QPalette::Highlight, QColor(61, 142, 224));
    return palette;
}

struct PaletteScope {
    explicit PaletteScope(const QPalette& palette) : saved(QApplication::palette()) {
        QApplication::setPalette(palette);
    }
    ~PaletteScope() { QApplication::setPalette(saved); }
    QPalette saved;
};

TEST(CaptionContrast, CaptionsReadOnTheGlassInLightAndDarkPalettes) {
    const QPalette light = QApplication::palette();
    for (const PaletteSwitch row : kPaletteSwitches) {
        SCOPED_TRACE(row.name());
        const PaletteScope scope(row.builtDark ? darkPalette() : light);
        const QPalette palette = row.darkened ? darkPalette() : light;  // what the text is read in
        const QColor window = palette.color(QPalette::Window);
        const QColor glass = alpha(palette.color(QPalette::Base), 0.62);
        const std::vector<QColor> cards = {
            blend(glass, window), blend(glass, blend(alpha(palette.color(QPalette::Highlight), 0.12), window))};
        const auto on = [](const std::vector<QColor>& under, const QColor& layer) {
            std::vector<QColor> result;
            for (const QColor& colour : under) result.push_back(blend(layer, colour));
            return result;
        };

        CoordinatorFixture fixture;
        auto coordinator = fixture.make(EncodingCoordinator::Restore::no);
        PresetStore presets(fixture.defaults);
        ui::UiFlags flags(fixture.defaults);
        ScriptedFilePicker picker;
        ui::CardContext context{*coordinator, presets, flags, picker, {}, {}};
        coordinator->addFiles({touch(fixture.folder / "a.mov")}, EncodingCoordinator::Duplicates::allowed);
        coordinator->setRunning(true);
        QWidget page;
        ui::PreviewPanel preview(*coordinator, &page);
        ui::QueueCard queue(context, &page);
        const auto label = [](QWidget* widget, const char* name = nullptr) {
            QLabel* found =
                name ? widget->findChild<QLabel*>(QString::fromLatin1(name)) : qobject_cast<QLabel*>(widget);
            if (!found) found = widget->findChild<QLabel*>();
            return found;
        };
        struct Style {
            const char* name;
            QLabel* text;
            std::vector<QColor> backgrounds;
        } const styles[] = {
            {"card caption", label(ui::makeCaption("help", &page)), cards},
            {"small caption", label(ui::makeCaption("help", &page, true)), cards},
            {"orange note", label(ui::makeTintedNote("flask.fill", ui::Tint::orange, "note", &page), "noteText"),
             cards},
            {"yellow note", label(ui::makeTintedNote("flask.fill", ui::Tint::yellow, "note", &page), "noteText"),
             cards},
            {"red note", label(ui::makeTintedNote("flask.fill", ui::Tint::red, "note", &page), "noteText"), cards},
            {"orange banner", label(ui::makeBanner("flask.fill", ui::Tint::orange, "banner", &page)),
             on(cards, alpha(ui::Tint::orange, 0.12))},
            {"yellow banner", label(ui::makeBanner("flask.fill", ui::Tint::yellow, "banner", &page)),
             on(cards, alpha(ui::Tint::yellow, 0.12))},
            {"orange banner on the window", label(ui::makeBanner("flask.fill", ui::Tint::orange, "banner", &page)),
             on({window, ui::washBottom(palette)}, alpha(ui::Tint::orange, 0.12))},
            {"preview numbers", label(&preview, "previewProgressText"), cards},
            {"preview countdown", label(&preview, "previewCountdown"), cards},
            {"preview placeholder", label(&preview, "previewPlaceholderText"), on(cards, QColor(0, 0, 0, 56))},
            {"queue count", label(&queue, "queueCount"), cards},
        };
        QApplication::setPalette(palette);
        processEvents();
        for (const Style& style : styles) {
            ASSERT_NE(style.text, nullptr) << style.name;
            const QColor ink = style.text->palette().color(QPalette::WindowText);
            for (const QColor& background : style.backgrounds)
                EXPECT_GE(contrast(ink, background), 4.5)
                    << style.name << " " << ink.name(QColor::HexArgb).toStdString() << " on "
                    << background.name().toStdString();
        }
        coordinator->setRunning(false);
    }
}

}  // namespace
}  // namespace fw::test
