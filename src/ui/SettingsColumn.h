#pragma once
// The main window's column of settings cards: Preset, Output, Resize and
// Destinations always, then the more-settings toggle, then, only while the
// user default "showAdvancedSettings" is true, Transform, Trim, Filters,
// Audio, Colour / HDR, Metadata, File Name, Proxy and Publish. Each card is
// a CollapsibleCard around its builder's body (SettingsCards.h). The
// advanced cards are built when the flag turns on and destroyed when it
// turns off; their settings live in the coordinator, so nothing is lost.
//
// Threads: the GUI thread only.

#include <QScrollArea>
#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace fw::ui {

class CollapsibleCard;
struct CardContext;

class SettingsColumn : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* kShowAdvancedKey = "showAdvancedSettings";

    // `context` must outlive the column.
    explicit SettingsColumn(CardContext& context, QWidget* parent = nullptr);

    // The cards present now, top to bottom.
    std::vector<CollapsibleCard*> cards() const;
    QPushButton* moreSettingsToggle() const { return toggle_; }

private:
    void refreshAdvanced();

    CardContext& context_;
    QVBoxLayout* layout_ = nullptr;
    QPushButton* toggle_ = nullptr;
    QLabel* toggleText_ = nullptr;
    QLabel* toggleChevron_ = nullptr;
    QWidget* advanced_ = nullptr;
};

// The column's scroll area: 320 wide, or wider when the column's content
// needs more (a larger font), with room for the vertical scrollbar besides,
// so that no card is cut at the right nor drawn under the scrollbar, whether
// the style lays the scrollbar beside the content or over it. Its width
// follows the column as cards are shown, expanded and hidden.
//
// The area itself takes no Tab stop (it has nothing to show the focus on);
// a control in it that the keyboard gives the focus to (Tab, Shift+Tab, a
// shortcut), from inside the column or from elsewhere in the window, is
// scrolled into view.
class SettingsScrollArea : public QScrollArea {
    Q_OBJECT

public:
    static constexpr int kPreferredWidth = 320;

    explicit SettingsScrollArea(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class KeyboardFocusScroll;

    int neededWidth() const;
    // Keeps the content clear of a scrollbar the style draws over it.
    void reserveOverlaidScrollBar();
};

}  // namespace fw::ui
