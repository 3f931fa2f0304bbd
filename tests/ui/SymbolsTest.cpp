// The window's symbols on a desktop that names no icon theme: each comes from
// an installed freedesktop theme or the program's own pictures, never from
// Qt's standard icons or a painted letter, and keeps its shape when tinted.

#include "UiTestSupport.h"
#include "ui/Symbols.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

namespace fw::test {
namespace {

TEST(SymbolsTest, EverySymbolComesFromAThemeWithNoDesktopNamedAndNoThemeForced) {
    ASSERT_TRUE(qEnvironmentVariableIsEmpty("XDG_CURRENT_DESKTOP"));
    ASSERT_TRUE(qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME"));
    // As at start-up: the application icon is looked up before any symbol.
    (void)QIcon::fromTheme(QStringLiteral("org.framewright.Framewright"));
    ui::prepareSymbolTheme();

    for (const std::string_view name : ui::knownSymbolNames()) {
        const ui::SymbolSource source = ui::symbolSource(name);
        EXPECT_TRUE(source == ui::SymbolSource::theme || source == ui::SymbolSource::shipped ||
                    source == ui::SymbolSource::chrome)
            << name << " falls back to " << static_cast<int>(source);
        // Tinted as the rows and the welcome window tint them: a shape, not a blank or a filled square.
        constexpr int kSide = 16;
        const QImage image = ui::tintedSymbolIcon(name, Qt::red).pixmap(kSide, kSide).toImage();
        int inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) inked += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GT(inked, kSide) << name;
        EXPECT_LT(inked, kSide * kSide * 8 / 10) << name;
    }
}

}  // namespace
}  // namespace fw::test
