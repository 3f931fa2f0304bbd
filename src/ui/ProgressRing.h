#pragma once
// The large progress ring of the preview card: the batch's overall progress
// as a gradient arc that starts at the top and grows clockwise, and in its
// centre the percentage, a status line (the countdown while running, else
// "Complete" or "Ready") and the finished / all jobs count. It only reads the
// coordinator; a one-second timer keeps the countdown moving while it is
// shown.
//
// Threads: the GUI thread only.

#include <QString>
#include <QTimer>
#include <QWidget>

#include <string_view>

namespace fw {
class EncodingCoordinator;
}

namespace fw::ui {

class ProgressRing : public QWidget {
    Q_OBJECT

public:
    // `scale` 1 draws the ring 180 pixels across.
    explicit ProgressRing(EncodingCoordinator& coordinator, double scale = 1.0, QWidget* parent = nullptr);

    // The three centre lines as drawn now: "42%", the status, "3 / 10".
    QString percentText() const;
    QString statusText() const;
    QString countText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::string_view statusSymbol() const;

    EncodingCoordinator& coordinator_;
    double scale_;
    QTimer tick_;
};

}  // namespace fw::ui
