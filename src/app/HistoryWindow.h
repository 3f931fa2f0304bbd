#pragma once
// The encode history (window "history"): "Encode History" with a "Clear"
// button over the list of records, newest first, or "No encodes yet." while
// there are none. "Clear" asks first and is disabled while the list is empty;
// the window opens with the focus on the list.
// A row's reveal button shows the output file in the file manager; it is
// offered, and acts, only while that file exists. The keyboard reaches it on
// the current row with Return, or in the row's menu (the menu key or
// Shift+F10).
//
// Main thread only. The store outlives the window.

#include <QWidget>

#include <filesystem>
#include <functional>

namespace fw {
class EncodeHistoryStore;
}

namespace fw::app {

class HistoryWindow : public QWidget {
    Q_OBJECT

public:
    // Asked before clearing; true clears.
    using Confirmation = std::function<bool(QWidget* window)>;
    // Shows the file at the path in the file manager.
    using Revealer = std::function<void(const std::filesystem::path& path)>;

    explicit HistoryWindow(EncodeHistoryStore& store, QWidget* parent = nullptr);

    // Replace the question box and the file manager (tests, or another desktop service).
    void setConfirmation(Confirmation confirmation) { confirmation_ = std::move(confirmation); }
    void setRevealer(Revealer revealer) { revealer_ = std::move(revealer); }

private:
    EncodeHistoryStore& store_;
    Confirmation confirmation_;
    Revealer revealer_;
};

}  // namespace fw::app
