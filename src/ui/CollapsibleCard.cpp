#include "ui/CollapsibleCard.h"

#include "ui/FollowPalette.h"
#include "ui/Symbols.h"
#include "ui/UiFlags.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace fw::ui {

CollapsibleCard::CollapsibleCard(const QString& title, std::string symbolName, QString storageKey, bool defaultExpanded,
                                 QWidget* content, UiFlags& flags, int contentSpacing, QWidget* parent)
    : GlassCard(parent),
      flags_(flags),
      title_(title),
      storageKey_(std::move(storageKey)),
      defaultExpanded_(defaultExpanded),
      content_(content) {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(16, 16, 16, 16);

    auto* header = new QPushButton(this);
    header->setFlat(true);
    header->setAutoDefault(false);
    // The whole row is the hit area; it draws nothing of its own.
    followStyleSheet(header, QStringLiteral("QPushButton { border: none; background: transparent; }"));
    header->setCursor(Qt::PointingHandCursor);
    header->setAccessibleName(title);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel(header);
    showSymbol(icon, symbolName, 16);
    auto* label = new QLabel(title, header);
    QFont headline = label->font();
    headline.setBold(true);
    label->setFont(headline);
    chevron_ = new QLabel(header);
    row->addWidget(icon);
    row->addWidget(label);
    row->addStretch(1);
    row->addWidget(chevron_);
    header->setMinimumHeight(label->sizeHint().height() + 4);
    header_ = header;
    layout_->addWidget(header);

    content_->setParent(this);
    if (QLayout* inner = content_->layout()) {
        inner->setSpacing(contentSpacing);
        inner->setContentsMargins(0, 0, 0, 0);
    }
    layout_->addWidget(content_);

    connect(header, &QPushButton::clicked, this, [this] { setExpanded(!isExpanded()); });
    connect(&flags_, &UiFlags::flagChanged, this, [this](const QString& key) {
        if (key == storageKey_) refresh();
    });
    refresh();
}

bool CollapsibleCard::isExpanded() const { return flags_.flag(storageKey_, defaultExpanded_); }

void CollapsibleCard::setExpanded(bool expanded) { flags_.setFlag(storageKey_, expanded); }

void CollapsibleCard::refresh() {
    const bool expanded = isExpanded();
    content_->setVisible(expanded);
    layout_->setSpacing(expanded ? 12 : 0);
    // One chevron, turned a quarter to point down while open.
    showSymbol(chevron_, "chevron.right", 12, expanded ? 90 : 0);
}

}  // namespace fw::ui
