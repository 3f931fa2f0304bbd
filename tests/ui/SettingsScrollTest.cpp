// The settings column beside its scrollbar: with the scrollbar laid beside
// the cards or over them, and with a font that makes the cards wider than
// the column's usual width, every card ends left of the scrollbar, so its
// right border and padding are never cut off nor drawn under it.

#include "CoordinatorTestSupport.h"
#include "ScriptedFilePicker.h"
#include "UiTestSupport.h"
#include "model/Presets.h"
#include "ui/CollapsibleCard.h"
#include "ui/MainWindow.h"
#include "ui/SettingsColumn.h"
#include "ui/UiFlags.h"

#include <QApplication>
#include <QProxyStyle>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleFactory>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

// Scrollbars that fade in over the content, as touch-pad desktops draw them.
class OverlaidScrollBars final : public QProxyStyle {
public:
    OverlaidScrollBars() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_ScrollBar_Transient) return 1;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// The application's style and font for a scope.
class StyleAndFont {
public:
    StyleAndFont(QStyle* style, const QFont& font)
        : savedStyle_(QApplication::style()->name()), savedFont_(QApplication::font()) {
        QApplication::setStyle(style);
        QApplication::setFont(font);
    }
    ~StyleAndFont() {
        QApplication::setFont(savedFont_);
        // A proxy style has no name; under the window's own is Fusion.
        QApplication::setStyle(QStyleFactory::create(savedStyle_.isEmpty() ? QStringLiteral("Fusion") : savedStyle_));
    }
    StyleAndFont(const StyleAndFont&) = delete;
    StyleAndFont& operator=(const StyleAndFont&) = delete;

private:
    QString savedStyle_;
    QFont savedFont_;
};

TEST(SettingsScroll, EveryCardEndsLeftOfTheScrollBarWhateverTheStyleAndFont) {
    const struct Row {
        const char* name;
        bool overlaid;
        int fontPixels;  // 0: the application's font
    } rows[] = {
        {"scrollbar beside", false, 0},
        {"scrollbar beside, larger font", false, 15},
        {"scrollbar over the content", true, 0},
        {"scrollbar over the content, larger font", true, 15},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QFont font = QApplication::font();
        if (row.fontPixels > 0) font.setPixelSize(row.fontPixels);
        const StyleAndFont scope(row.overlaid ? static_cast<QStyle*>(new OverlaidScrollBars)
                                              : QStyleFactory::create(QStringLiteral("Fusion")),
                                 font);

        CoordinatorFixture fixture;
        auto coordinator = fixture.make(EncodingCoordinator::Restore::no);
        PresetStore presets{fixture.defaults};
        ScriptedFilePicker picker;
        ui::UiFlags flags{fixture.defaults};
        // Every card shown and open: the column is far taller than the window.
        flags.setFlag(ui::SettingsColumn::kShowAdvancedKey, true);
        for (const char* card : {"destinations", "transform", "trim", "filters", "audio", "color", "metadata",
                                 "filename", "proxy", "publish"})
            flags.setFlag(QStringLiteral("card.%1.expanded").arg(QLatin1String(card)), true);
        ui::MainWindow window(
            ui::WindowEnvironment{.coordinator = *coordinator, .presets = presets, .flags = flags, .picker = picker});
        window.resize(960, 720);
        window.show();
        processEvents();

        auto* scroll = window.findChild<QScrollArea*>(QStringLiteral("settingsScroll"));
        ASSERT_TRUE(scroll);
        const QScrollBar* bar = scroll->verticalScrollBar();
        ASSERT_TRUE(bar->isVisible()) << "the column scrolls";
        const int barLeft = bar->mapTo(scroll, QPoint(0, 0)).x();
        const int viewportRight = scroll->viewport()->geometry().right();
        const auto cards = window.settingsColumn()->cards();
        ASSERT_EQ(cards.size(), 13u);
        for (const ui::CollapsibleCard* card : cards) {
            const int right = card->mapTo(scroll, QPoint(card->width() - 1, 0)).x();
            EXPECT_LT(right, barLeft) << card->title().toStdString();
            EXPECT_LE(right, viewportRight) << card->title().toStdString() << " is cut off";
        }
    }
}

}  // namespace
}  // namespace fw::test
