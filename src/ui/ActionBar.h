#pragma once
// The row of queue-wide commands along the bottom of the main window: Add
// Files…, Clear Finished, Cancel, Make Proxies, Stitch and Encode. It keeps
// no state: visibility and enabling are read from the coordinator again on
// every change of the queue, of a job, of the running state or of the codec
// and its alpha switch. While a cancelled batch winds down, Cancel reads
// "Cancelling…" and is disabled. When the chosen format cannot be written
// here (HEVC with alpha, NotchLC), the bar's caption and the tooltips of the
// greyed Encode and Stitch say why. Clear Finished, hidden once nothing is
// finished, leaves the focus it had on Add Files….
// No button here takes Return itself (none is a default button): the window
// hands Return to pressDefault() only while the focus is outside text fields,
// so typing in a field never starts a batch.
//
// Threads: GUI thread only.

#include <QWidget>

#include <string_view>

class QLabel;
class QPushButton;

namespace fw::ui {

struct CardContext;

class ActionBar : public QWidget {
    Q_OBJECT

public:
    // The buttons' object names: "addFiles", "clearFinished", "cancel",
    // "makeProxies", "stitch", "encode"; the caption's "actionCaption".
    explicit ActionBar(CardContext& context, QWidget* parent = nullptr);

    // The window's default action: presses Encode when it is enabled.
    // Returns whether it did.
    bool pressDefault();

    QPushButton* addFilesButton() const { return addFiles_; }

private:
    QPushButton* addButton(const QString& name, const QString& title, std::string_view symbol);
    void refresh();

    CardContext& context_;
    QPushButton* addFiles_ = nullptr;
    QPushButton* clearFinished_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* makeProxies_ = nullptr;
    QPushButton* stitch_ = nullptr;
    QPushButton* encode_ = nullptr;
    QLabel* caption_ = nullptr;
};

}  // namespace fw::ui
