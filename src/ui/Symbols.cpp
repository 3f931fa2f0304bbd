#include "ui/Symbols.h"

#include <QApplication>
#include <QStyle>

namespace fw::ui {

QIcon symbolIcon(std::string_view symbolName) {
    (void)symbolName;
    return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
}

}  // namespace fw::ui
