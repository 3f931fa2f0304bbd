#pragma once
// The user manual (window "manual"): a title and eleven fixed sections, each
// a symbol, a heading and one paragraph, in a scrolling page at least 520 by
// 480 pixels. Paragraphs wrap at any width; none is ever cut short. The
// page has the keyboard focus when the window opens.
// Main thread only.

#include <QScrollArea>

namespace fw::app {

class ManualWindow : public QScrollArea {
    Q_OBJECT

public:
    explicit ManualWindow(QWidget* parent = nullptr);
};

}  // namespace fw::app
