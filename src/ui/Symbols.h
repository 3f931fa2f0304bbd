#pragma once
// Icons by the symbol names the window's texts use ("folder", "scissors",
// "chevron.right", …), mapped to freedesktop icon names. The few that the
// stock freedesktop themes lack are shipped with the program as pictures
// (":/symbols/<name>.svg"); Qt's standard icons and a painted glyph are the
// last resort, so that no icon is ever blank.
//
// Threads: the GUI thread only (a QApplication must exist).

#include <QColor>
#include <QIcon>

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

class QLabel;
class QPalette;

namespace fw::ui {

// Makes the freedesktop icon themes reachable on any desktop: the system's
// icon folders are searched, "hicolor" is the theme when the platform names
// none, and Adwaita stands behind a generic theme. Without a desktop named
// (XDG_CURRENT_DESKTOP unset) Qt finds only the generic theme, which has no
// symbols. Call it right after the QApplication is made; a later call still
// works (it drops what Qt cached of the themes). Only the first call acts.
void prepareSymbolTheme();

// Where a symbol's picture comes from on this system.
enum class SymbolSource {
    theme,        // the desktop's icon theme or its fallback
    shipped,      // the program's own picture
    chrome,       // drawn here on purpose, the same on every desktop (chevrons)
    standard,     // Qt's standard icon: no theme had it
    placeholder,  // the symbol's first letter in a frame: nothing had it
};
SymbolSource symbolSource(std::string_view symbolName);

// The desktop theme's icon for the symbol, else Qt's standard icon of the
// same meaning, else a small painted glyph. Unknown names get the painted
// glyph too. One-colour symbols (the themes' symbolic icons, the shipped
// pictures, the glyphs) are drawn in the application palette's text colour
// as it is when they are drawn (disabledTextOnGlass() for a disabled icon,
// as disabled labels are), so that they read in a dark palette as in a light
// one.
QIcon symbolIcon(std::string_view symbolName);

// The symbol in one colour (a red trash can, a green check mark): its shape
// filled with `tint`, or with `disabledTint`, when given, where it is drawn
// disabled.
QIcon tintedSymbolIcon(std::string_view symbolName, const QColor& tint,
                       const std::optional<QColor>& disabledTint = std::nullopt);

// `label` shows the symbol `size` pixels square, drawn as symbolIcon() draws
// it and turned by `turn_degrees`, drawn anew when the palette changes.
// Showing another symbol later replaces it.
void showSymbol(QLabel* label, std::string_view symbolName, int size, int turn_degrees = 0);
// The same in the one colour `ink` makes from the palette.
void showTintedSymbol(QLabel* label, std::string_view symbolName, int size, std::function<QColor(const QPalette&)> ink);

// Every symbol name the window code uses, for checks that none is blank.
std::vector<std::string_view> knownSymbolNames();

}  // namespace fw::ui
