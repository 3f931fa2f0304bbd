#include "ui/SettingsCards.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace fw::ui {

QWidget* buildProxyCard(CardContext&) {
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->addWidget(new QLabel(QStringLiteral("(to come)"), body));
    return body;
}

}  // namespace fw::ui
