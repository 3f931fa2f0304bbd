#pragma once
// Icons by the symbol names the window's texts use ("folder", "scissors",
// "chevron.right", …), mapped to freedesktop icon names with a painted or
// standard fallback, so that no icon is ever blank.
//
// Threads: the GUI thread only (a QApplication must exist).

#include <QColor>
#include <QIcon>

#include <string_view>
#include <vector>

namespace fw::ui {

// The desktop theme's icon for the symbol, else Qt's standard icon of the
// same meaning, else a small painted glyph. Unknown names get the painted
// glyph too.
QIcon symbolIcon(std::string_view symbolName);

// The symbol in one colour (a red trash can, a green check mark): its shape
// filled with `tint`.
QIcon tintedSymbolIcon(std::string_view symbolName, const QColor& tint);

// Every symbol name the window code uses, for checks that none is blank.
std::vector<std::string_view> knownSymbolNames();

}  // namespace fw::ui
