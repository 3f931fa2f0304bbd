#pragma once
// Icons by the symbol names the window's texts use ("folder", "scissors",
// "chevron.right", …), mapped to freedesktop icon names with a painted or
// standard fallback, so that no icon is ever blank.

#include <QIcon>

#include <string_view>

namespace fw::ui {

QIcon symbolIcon(std::string_view symbolName);

}  // namespace fw::ui
