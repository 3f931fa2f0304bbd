#include "app/HistoryRowDelegate.h"

#include "app/HistoryListModel.h"
#include "ui/Symbols.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QToolTip>

namespace fw::app {

namespace {

constexpr int kInset = 12;       // left and right of the row's content
constexpr int kVerticalPad = 6;  // above and below it
constexpr int kSpacing = 10;     // between the marks and the texts
constexpr int kMark = 18;        // status mark and reveal button
constexpr int kLineGap = 2;
constexpr int kMessageLines = 2;
const QColor kSucceeded(52, 199, 89);
const QColor kFailed(255, 59, 48);

QFont captionFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(std::max(base.pointSizeF() * 10.0 / 13.0, 8.0));
    return font;
}

int textLeft(const QRect& row) { return row.left() + kInset + 2 * (kMark + kSpacing); }

// The message broken into at most kMessageLines lines of `width`, the last
// one cut with an ellipsis when more would follow.
QStringList messageLines(const QString& message, const QFont& font, int width) {
    QStringList lines;
    QTextLayout layout(message, font);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == kMessageLines - 1) {
            lines << QFontMetrics(font).elidedText(message.mid(line.textStart()), Qt::ElideRight, width);
            break;
        }
        lines << message.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

int rowTextWidth(const QStyleOptionViewItem& option) {
    int width = option.rect.width();
    if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget)) width = view->viewport()->width();
    return std::max(width - (textLeft(QRect(0, 0, width, 0)) + kInset), 40);
}

void drawStatusMark(QPainter* painter, const QRect& box, bool succeeded) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(succeeded ? kSucceeded : kFailed);
    painter->drawEllipse(box);
    QPen pen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter->setPen(pen);
    const QRectF inner = QRectF(box).adjusted(5, 5, -5, -5);
    if (succeeded) {
        const QPointF points[] = {{inner.left(), inner.center().y()},
                                  {inner.left() + inner.width() * 0.4, inner.bottom()},
                                  {inner.right(), inner.top() + 1}};
        painter->drawPolyline(points, 3);
    } else {
        painter->drawLine(inner.topLeft(), inner.bottomRight());
        painter->drawLine(inner.topRight(), inner.bottomLeft());
    }
    painter->restore();
}

}  // namespace

QRect HistoryRowDelegate::revealRect(const QRect& row) {
    return QRect(row.left() + kInset + kMark + kSpacing, row.center().y() - kMark / 2, kMark, kMark);
}

QSize HistoryRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QFontMetrics name(option.font);
    const QFont caption = captionFont(option.font);
    const QFontMetrics captionMetrics(caption);
    int height = kVerticalPad * 2 + name.height() + kLineGap + captionMetrics.height();
    const QString message = index.data(HistoryListModel::MessageRole).toString();
    if (!message.isEmpty())
        height += kLineGap + static_cast<int>(messageLines(message, caption, rowTextWidth(option)).size()) *
                                 captionMetrics.lineSpacing();
    return {textLeft(QRect()) + kInset + 120, std::max(height, kMark + 2 * kVerticalPad)};
}

void HistoryRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

    const QRect row = option.rect;
    drawStatusMark(painter, QRect(row.left() + kInset, row.center().y() - kMark / 2, kMark, kMark),
                   index.data(HistoryListModel::SucceededRole).toBool());
    if (index.data(HistoryListModel::RevealableRole).toBool())
        ui::symbolIcon("magnifyingglass.circle").paint(painter, revealRect(row));

    const bool selected = option.state & QStyle::State_Selected;
    QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    QColor secondary = text;
    secondary.setAlphaF(0.62);
    const int left = textLeft(row);
    const int width = std::max(row.right() - kInset - left, 10);
    const QFontMetrics nameMetrics(option.font);
    const QFont caption = captionFont(option.font);
    const QFontMetrics captionMetrics(caption);
    const QString message = index.data(HistoryListModel::MessageRole).toString();
    const QStringList lines = message.isEmpty() ? QStringList() : messageLines(message, caption, width);
    const int textHeight =
        nameMetrics.height() + kLineGap + captionMetrics.height() +
        (lines.isEmpty() ? 0 : kLineGap + static_cast<int>(lines.size()) * captionMetrics.lineSpacing());
    int y = row.top() + (row.height() - textHeight) / 2;

    painter->save();
    painter->setFont(option.font);
    painter->setPen(text);
    painter->drawText(QRect(left, y, width, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, width));
    y += nameMetrics.height() + kLineGap;
    painter->setFont(caption);
    painter->setPen(secondary);
    painter->drawText(
        QRect(left, y, width, captionMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
        captionMetrics.elidedText(index.data(HistoryListModel::CaptionRole).toString(), Qt::ElideRight, width));
    y += captionMetrics.height() + kLineGap;
    // A failure's message in red; a success's note on its sound as the caption is.
    painter->setPen(selected ? text : index.data(HistoryListModel::SucceededRole).toBool() ? secondary : kFailed);
    for (const QString& line : lines) {
        painter->drawText(QRect(left, y, width, captionMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += captionMetrics.lineSpacing();
    }
    painter->restore();
}

bool HistoryRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) {
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // Existence is asked again at the click: the file may have gone since the row was drawn.
        if (mouse->button() == Qt::LeftButton && revealRect(option.rect).contains(mouse->position().toPoint()) &&
            index.data(HistoryListModel::RevealableRole).toBool()) {
            emit revealRequested(index.data(HistoryListModel::OutputPathRole).toString());
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool HistoryRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) {
    if (event->type() == QEvent::ToolTip && revealRect(option.rect).contains(event->pos()) &&
        index.data(HistoryListModel::RevealableRole).toBool()) {
        QToolTip::showText(event->globalPos(), tr("Show the exported file in the file manager"), view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

}  // namespace fw::app
