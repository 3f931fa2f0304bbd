#pragma once
// The window's tinted notice: a symbol and a wrapped text on a pale rounded
// band of the tint colour.

#include <QColor>
#include <QString>

#include <string_view>

class QPushButton;
class QWidget;

namespace fw::ui {

QWidget* makeBanner(std::string_view symbolName, const QColor& tint, const QString& text, QWidget* parent = nullptr);

// A button at the end of `banner` (made by makeBanner), its text and edge in
// the colour of the banner's text, so that it reads wherever the text does.
// A screen reader names it by its text and describes it by the banner's.
QPushButton* addBannerButton(QWidget* banner, const QString& text);

}  // namespace fw::ui
