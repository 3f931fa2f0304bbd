#pragma once
// A one-line label that shortens its text in the middle to the width it is
// given, so a long path keeps its beginning and its end. The full text is
// its tooltip.

#include <QLabel>
#include <QString>

namespace fw::ui {

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The whole text; text() holds what is shown.
    void setFullText(const QString& text);
    const QString& fullText() const { return fullText_; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();

    QString fullText_;
};

}  // namespace fw::ui
