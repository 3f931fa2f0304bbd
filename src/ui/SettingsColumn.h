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

}  // namespace fw::ui
