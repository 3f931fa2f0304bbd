#pragma once
// The window's tinted notice: a symbol and a wrapped text on a pale rounded
// band of the tint colour.

#include <QColor>
#include <QString>

#include <string_view>

class QWidget;

namespace fw::ui {

QWidget* makeBanner(std::string_view symbolName, const QColor& tint, const QString& text, QWidget* parent = nullptr);

}  // namespace fw::ui
