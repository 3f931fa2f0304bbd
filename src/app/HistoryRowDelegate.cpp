#include "app/HistoryRowDelegate.h"

#include "app/HistoryListModel.h"
#include "ui/RowTints.h"
#include "ui/Symbols.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <vector>

namespace fw::app {

namespace {

constexpr int kInset = 12;       // left and right of the row's content
constexpr int kVerticalPad = 6;  // above and below it
constexpr int kSpacing = 10;     // between the marks and the texts
constexpr int kMark = 18;        // status mark and reveal button
constexpr int kLineGap = 2;
constexpr int kMessageLines = 2;

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

// A filled circle in `ink` with the check or the cross cut out of it, in
// the colour of what the row lies on.
void drawStatusMark(QPainter* painter, const QRect& box, bool succeeded, const QColor& ink, const QColor& cutOut) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(ink);
    painter->drawEllipse(box);
    QPen pen(cutOut, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
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

// The colours the style drew under a row's content, top to bottom and each
// once, over the list's `surface`: the selection, and the frame it shades on
// the current row once the keyboard has moved the focus (each style its own).
std::vector<QColor> drawnUnder(const QStyle& style, QStyleOptionViewItem row, const QColor& surface) {
    row.rect = QRect(0, 0, 2 * kInset, row.rect.height());
    QImage drawn(row.rect.size(), QImage::Format_RGB32);
    drawn.fill(surface);
    {
        QPainter painter(&drawn);
        style.drawControl(QStyle::CE_ItemViewItem, &row, &painter, row.widget);
    }
    // Between the paddings, where the content lies; the frame's edge is outside it.
    std::vector<QColor> colors;
    for (int y = kVerticalPad; y < drawn.height() - kVerticalPad; ++y) {
        const QColor color = drawn.pixelColor(kInset, y);
        if (std::find(colors.begin(), colors.end(), color) == colors.end()) colors.push_back(color);
    }
    return colors;
}

}  // namespace

QRect HistoryRowDelegate::revealRect(const QRect& row) {
    return QRect(row.left() + kInset + kMark + kSpacing, row.center().y() - kMark / 2, kMark, kMark);
}

HistoryRowDelegate::Parts HistoryRowDelegate::parts(const QRect& row, const QFont& font, const QString& message) {
    Parts parts;
    parts.mark = QRect(row.left() + kInset, row.center().y() - kMark / 2, kMark, kMark);
    parts.reveal = revealRect(row);
    const int left = textLeft(row);
    const int width = std::max(row.right() - kInset - left, 10);
    const QFontMetrics nameMetrics(font);
    const QFont caption = captionFont(font);
    const QFontMetrics captionMetrics(caption);
    const auto lines = message.isEmpty() ? 0 : static_cast<int>(messageLines(message, caption, width).size());
    const int textHeight = nameMetrics.height() + kLineGap + captionMetrics.height() +
                           (lines == 0 ? 0 : kLineGap + lines * captionMetrics.lineSpacing());
    int y = row.top() + (row.height() - textHeight) / 2;
    parts.name = QRect(left, y, width, nameMetrics.height());
    y += nameMetrics.height() + kLineGap;
    parts.caption = QRect(left, y, width, captionMetrics.height());
    y += captionMetrics.height() + kLineGap;
    if (lines > 0) parts.message = QRect(left, y, width, lines * captionMetrics.lineSpacing());
    return parts;
}

bool HistoryRowDelegate::reveal(const QModelIndex& index) {
    if (!index.data(HistoryListModel::RevealableRole).toBool()) return false;
    emit revealRequested(index.data(HistoryListModel::OutputPathRole).toByteArray());
    return true;
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
    // The current row is framed once the keyboard has moved the focus in the
    // window: one that merely opens on its list frames nothing.
    if (!(option.state & QStyle::State_KeyboardFocusChange)) background.state &= ~QStyle::State_HasFocus;
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

    // The row's own colours, read on what the style drew: a selected row's on the selection.
    const bool selected = option.state & QStyle::State_Selected;
    QPalette palette = option.palette;
    palette.setCurrentColorGroup(!(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                 : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                         : QPalette::Inactive);
    if (selected)
        for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText})
            palette.setColor(role, palette.color(QPalette::HighlightedText));
    const std::vector<QColor> under = drawnUnder(*style, background, palette.color(QPalette::Base));

    const bool succeeded = index.data(HistoryListModel::SucceededRole).toBool();
    const QString message = index.data(HistoryListModel::MessageRole).toString();
    const Parts at = parts(option.rect, option.font, message);
    const ui::RowTint state = succeeded ? ui::RowTint::green : ui::RowTint::red;
    drawStatusMark(painter, at.mark, succeeded, ui::rowSymbolColor(state, palette, under), under[under.size() / 2]);
    if (index.data(HistoryListModel::RevealableRole).toBool())
        ui::tintedSymbolIcon("magnifyingglass.circle", ui::rowSymbolColor(ui::RowTint::accent, palette, under))
            .paint(painter, at.reveal);

    const QFontMetrics nameMetrics(option.font);
    const QFont caption = captionFont(option.font);
    const QFontMetrics captionMetrics(caption);
    painter->save();
    painter->setFont(option.font);
    painter->setPen(ui::rowTextColor(ui::RowTint::primary, palette, under));
    painter->drawText(at.name, Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, at.name.width()));
    painter->setFont(caption);
    const QColor secondary = ui::rowTextColor(ui::RowTint::secondary, palette, under);
    painter->setPen(secondary);
    painter->drawText(at.caption, Qt::AlignLeft | Qt::AlignVCenter,
                      captionMetrics.elidedText(index.data(HistoryListModel::CaptionRole).toString(), Qt::ElideRight,
                                                at.caption.width()));
    // A failure's message in red; a success's note on its sound as the caption is.
    painter->setPen(succeeded ? secondary : ui::rowTextColor(ui::RowTint::red, palette, under));
    int y = at.message.top();
    for (const QString& line : message.isEmpty() ? QStringList() : messageLines(message, caption, at.message.width())) {
        painter->drawText(QRect(at.message.left(), y, at.message.width(), captionMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, line);
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
            reveal(index))
            return true;
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
