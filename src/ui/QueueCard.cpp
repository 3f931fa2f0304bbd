#include "ui/QueueCard.h"

#include "ui/SettingsCards.h"

namespace fw::ui {

QueueCard::QueueCard(CardContext&, QWidget* parent) : QWidget(parent) {}

}  // namespace fw::ui
