#pragma once
// The small pieces the settings cards are made of: switches, help texts,
// captions, dividers, groups that a switch shows and hides, and file rows.
// Main thread only, like every widget.

#include <QLabel>
#include <QString>

#include <initializer_list>

class QAbstractButton;
class QCheckBox;
class QFrame;
class QLayout;
class QVBoxLayout;

namespace fw::ui {

// A switch-style toggle named `objectName` (tests and bindings find it by name).
QCheckBox* makeSwitch(const QString& text, const QString& objectName, QWidget* parent);
// Caption-sized text, secondary colour unless `secondary` is false.
QLabel* makeCaption(const QString& text, QWidget* parent, bool secondary = true);
// A caption that wraps over as many lines as it needs.
QLabel* makeHelpText(const QString& text, QWidget* parent);
QFrame* makeDivider(QWidget* parent);
// A borderless container whose rows a switch shows or hides; its layout has
// no margins and `spacing` between rows.
QWidget* makeGroup(QWidget* parent, int spacing);
QVBoxLayout* groupLayout(QWidget* group);
// A horizontal row of `items` (widgets or stretch for nullptr), no margins.
QWidget* makeRow(QWidget* parent, std::initializer_list<QWidget*> items, int spacing = -1);

// One line of text shortened in the middle when it does not fit, keeping the
// start and the end (a file's extension) visible.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return fullText_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString fullText_;
};

// A file row: a small glass "Choose …" button beside the chosen file's name
// ("None" while nothing is chosen), and under them a line for a short error
// that stays hidden until showError().
struct FileRow {
    QWidget* widget = nullptr;
    QAbstractButton* choose = nullptr;
    ElidedLabel* name = nullptr;
    QLabel* error = nullptr;

    void showName(const QString& fileName) const;
    // An empty text hides the error line.
    void showError(const QString& message) const;
};
FileRow makeFileRow(const QString& buttonText, const QString& objectName, QWidget* parent);

}  // namespace fw::ui
