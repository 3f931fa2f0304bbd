#include "ui/ActionBar.h"

#include "ui/SettingsCards.h"

namespace fw::ui {

ActionBar::ActionBar(CardContext&, QWidget* parent) : QWidget(parent) {}

}  // namespace fw::ui
