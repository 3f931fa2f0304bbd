#pragma once

#include <QWidget>

namespace fw::ui {

struct CardContext;

class QueueCard : public QWidget {
    Q_OBJECT

public:
    explicit QueueCard(CardContext& context, QWidget* parent = nullptr);
};

}  // namespace fw::ui
