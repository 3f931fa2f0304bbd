#pragma once

#include <QWidget>

namespace fw::ui {

struct CardContext;

class ActionBar : public QWidget {
    Q_OBJECT

public:
    explicit ActionBar(CardContext& context, QWidget* parent = nullptr);
};

}  // namespace fw::ui
