#include "ui/JobRowDelegate.h"

#include "ui/Glass.h"
#include "ui/JobListModel.h"
#include "ui/QueueListView.h"
#include "ui/Symbols.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHash>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <vector>

namespace fw::ui {

namespace {

constexpr int kSpacing = 12;           // between the row's items
constexpr int kLineSpacing = 4;        // between the name and the status line
constexpr int kVerticalPadding = 4;    // above and below the row's content
constexpr int kHorizontalPadding = 8;  // the inset of the list
constexpr int kStatusWidth = 22;
constexpr int kStatusIconSize = 18;
constexpr int kButtonSize = 22;
constexpr int kButtonIconSize = 18;
constexpr int kButtonSpacing = 6;
constexpr int kBadgeIconSize = 12;
constexpr int kProgressHeight = 6;
constexpr int kErrorLines = 2;
constexpr double kDimmedOpacity = 0.45;
constexpr double kFocusRadius = 6;

QFont scaled(const QFont& base, double factor) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    return font;
}
QFont captionFont(const QFont& base) { return scaled(base, 0.85); }
QFont calloutFont(const QFont& base) { return scaled(base, 0.95); }

// On the card's glass, at the top and the bottom of the window's wash, and
// under the current row's wash there: a row keeps its colours as the
// keyboard moves.
QColor tintColor(RowTint tint, const QPalette& palette) {
    const auto glass = glassBackgrounds(palette);
    return rowSymbolColor(tint, palette, rowBackgrounds(palette, glass));
}
QColor textColor(RowTint tint, const QPalette& palette) {
    const auto glass = glassBackgrounds(palette);
    return rowTextColor(tint, palette, rowBackgrounds(palette, glass));
}

// The symbol as a one-colour silhouette, kept for the next rows.
QPixmap tintedSymbol(std::string_view symbol, const QColor& color, int size, qreal pixelRatio) {
    static QHash<QString, QPixmap> cache;
    const QString key = QStringLiteral("%1|%2|%3|%4")
                            .arg(QLatin1String(symbol.data(), static_cast<qsizetype>(symbol.size())))
                            .arg(color.rgba())
                            .arg(size)
                            .arg(pixelRatio);
    if (auto found = cache.constFind(key); found != cache.constEnd()) return *found;
    QPixmap pixmap = symbolIcon(symbol).pixmap(QSize(size, size), pixelRatio);
    if (pixmap.isNull()) return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    cache.insert(key, pixmap);
    return pixmap;
}

void drawSymbol(QPainter* painter, const QRect& area, std::string_view symbol, const QColor& color, int size) {
    const QPixmap pixmap = tintedSymbol(symbol, color, size, painter->device()->devicePixelRatioF());
    const QRect target(area.center().x() - size / 2, area.center().y() - size / 2, size, size);
    painter->drawPixmap(target, pixmap);
}

// `text` wrapped into at most `maxLines` lines of `area`, the last one elided;
// a line break in the text starts a new line.
void drawWrapped(QPainter* painter, const QRect& area, const QString& text, const QFont& font, int maxLines) {
    const QFontMetrics metrics(font);
    const QString flowing = QString(text).replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(flowing, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    std::vector<std::pair<int, int>> lines;  // start, length
    for (QTextLine line = layout.createLine(); line.isValid() && int(lines.size()) < maxLines;
         line = layout.createLine()) {
        line.setLineWidth(area.width());
        lines.emplace_back(line.textStart(), line.textLength());
    }
    layout.endLayout();
    painter->setFont(font);
    int y = area.top();
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const bool last = index + 1 == lines.size();
        QString part = last ? flowing.mid(lines[index].first) : flowing.mid(lines[index].first, lines[index].second);
        part = last ? metrics.elidedText(part.simplified(), Qt::ElideRight, area.width()) : part.trimmed();
        painter->drawText(QRect(area.left(), y, area.width(), metrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, part);
        y += metrics.height();
    }
}

}  // namespace

struct JobRowDelegate::Layout {
    QFont nameFont;
    QFont captionFont;
    QFont calloutFont;
    QRect toggle;
    QRect status;
    QRect name;
    QRect line;  // the status line, one or two caption lines high
    QRect badge;
    QRect percentage;
    std::vector<std::pair<RowControl, QRect>> buttons;
};

JobRowDelegate::JobRowDelegate(const JobListModel& model, QAbstractItemView* view, std::function<bool()> showControls,
                               std::function<bool(const EncodeJob&)> cancelling)
    : QStyledItemDelegate(view),
      model_(model),
      view_(view),
      showControls_(std::move(showControls)),
      cancelling_(std::move(cancelling)) {}

std::optional<JobRowContent> JobRowDelegate::contentAt(const QModelIndex& index) const {
    const auto job = model_.jobAt(index.row());
    if (!job) return std::nullopt;
    return JobRowContent::of(*job, showControls_(), cancelling_(*job));
}

JobRowDelegate::Layout JobRowDelegate::layout(const QRect& rect, const JobRowContent& content) const {
    Layout result;
    result.nameFont = view_->font();
    result.captionFont = captionFont(result.nameFont);
    result.calloutFont = calloutFont(result.nameFont);
    const QFontMetrics nameMetrics(result.nameFont);
    const QFontMetrics captionMetrics(result.captionFont);

    const QRect inner = rect.adjusted(kHorizontalPadding, kVerticalPadding, -kHorizontalPadding, -kVerticalPadding);
    const int middle = inner.center().y();
    int left = inner.left();
    if (content.showsToggle) {
        const QStyle* style = view_->style();
        const int width = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, view_);
        const int height = style->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, view_);
        result.toggle = QRect(left, middle - height / 2, width, height);
        left += width + kSpacing;
    }
    result.status = QRect(left, inner.top(), kStatusWidth, inner.height());
    left += kStatusWidth + kSpacing;

    int right = inner.right() + 1;
    if (!content.percentage.isEmpty()) {
        const int width = QFontMetrics(result.calloutFont).horizontalAdvance(QStringLiteral("100%")) + 2;
        result.percentage = QRect(right - width, inner.top(), width, inner.height());
        right -= width + kSpacing;
    }
    for (auto button = content.buttons.rbegin(); button != content.buttons.rend(); ++button) {
        result.buttons.emplace_back(button->control,
                                    QRect(right - kButtonSize, middle - kButtonSize / 2, kButtonSize, kButtonSize));
        right -= kButtonSize + kButtonSpacing;
    }
    std::reverse(result.buttons.begin(), result.buttons.end());
    if (!content.buttons.empty()) right += kButtonSpacing - kSpacing;

    const int textWidth = std::max(0, right - left);
    const int lines = content.line == JobRowContent::Line::error ? kErrorLines : 1;
    const int lineHeight = captionMetrics.height() * lines;
    const int blockHeight = nameMetrics.height() + kLineSpacing + lineHeight;
    const int top = middle - blockHeight / 2;
    result.name = QRect(left, top, textWidth, nameMetrics.height());
    result.line = QRect(left, result.name.bottom() + 1 + kLineSpacing, textWidth, lineHeight);
    if (content.badge) {
        const int width = kBadgeIconSize + 4 + captionMetrics.horizontalAdvance(content.badge->text) + 2;
        const int badgeWidth = std::min(width, textWidth);
        // Right after the output's name, which gives way when the line is short.
        const int nameWidth =
            std::min(captionMetrics.horizontalAdvance(content.lineText), std::max(0, textWidth - badgeWidth - 6));
        result.badge = QRect(left + nameWidth + 6, result.line.top(), badgeWidth, lineHeight);
    }
    return result;
}

std::optional<RowControl> JobRowDelegate::controlIn(const Layout& layout, const QPoint& point) const {
    if (layout.toggle.isValid() && layout.toggle.adjusted(-3, -3, 3, 3).contains(point))
        return RowControl::enabledToggle;
    for (const auto& [control, area] : layout.buttons)
        if (area.contains(point)) return control;
    return std::nullopt;
}

void JobRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const auto content = contentAt(index);
    if (!content) return;
    const Layout at = layout(option.rect, *content);
    // The window's palette: the list's own has a see-through base (the glass
    // shows through it), which would say nothing about what text is read on.
    const QPalette& palette = view_->window()->palette();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // The keyboard's current row: a wash and a frame in the accent colour,
    // which reads on the glass in light and dark palettes alike.
    const auto* list = qobject_cast<const QueueListView*>(view_);
    if ((option.state & QStyle::State_HasFocus) && list && list->showsCurrentRow()) {
        painter->setPen(QPen(palette.color(QPalette::Highlight), 2));
        painter->setBrush(currentRowWash(palette));
        painter->drawRoundedRect(QRectF(option.rect).adjusted(2, 1, -2, -1), kFocusRadius, kFocusRadius);
    }

    // Never dimmed: the box of a switched-off job is how it comes back.
    if (content->showsToggle) {
        QStyleOptionButton box;
        box.rect = at.toggle;
        box.palette = palette;
        box.state = QStyle::State_Enabled | (content->toggleOn ? QStyle::State_On : QStyle::State_Off);
        view_->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, view_);
    }
    if (content->dimmed) painter->setOpacity(kDimmedOpacity);
    drawSymbol(painter, at.status, content->statusSymbol, tintColor(content->statusTint, palette), kStatusIconSize);

    painter->setFont(at.nameFont);
    painter->setPen(tintColor(RowTint::primary, palette));
    painter->drawText(at.name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                      QFontMetrics(at.nameFont).elidedText(content->name, Qt::ElideMiddle, at.name.width()));

    const QFontMetrics caption(at.captionFont);
    painter->setFont(at.captionFont);
    switch (content->line) {
    case JobRowContent::Line::progress: {
        const QRectF track(at.line.left(), at.line.center().y() - kProgressHeight / 2.0, at.line.width(),
                           kProgressHeight);
        QColor trackColor = tintColor(RowTint::secondary, palette);
        trackColor.setAlphaF(0.18);
        painter->setPen(Qt::NoPen);
        painter->setBrush(trackColor);
        painter->drawRoundedRect(track, kProgressHeight / 2.0, kProgressHeight / 2.0);
        if (content->progress > 0) {
            QRectF filled = track;
            filled.setWidth(std::max(track.width() * content->progress, double(kProgressHeight)));
            painter->setBrush(tintColor(RowTint::accent, palette));
            painter->drawRoundedRect(filled, kProgressHeight / 2.0, kProgressHeight / 2.0);
        }
        break;
    }
    case JobRowContent::Line::error:
        painter->setPen(textColor(RowTint::red, palette));
        drawWrapped(painter, at.line, content->lineText, at.captionFont, kErrorLines);
        break;
    case JobRowContent::Line::output: {
        QRect text = at.line;
        if (content->badge) text.setRight(at.badge.left() - 6);
        painter->setPen(tintColor(RowTint::secondary, palette));
        // A note is what the user must not miss: the output's name gives way
        // first, down to a few letters, and then the note's end, never its start.
        const int noteWidth = content->lineNote.isEmpty() ? 0 : caption.horizontalAdvance(content->lineNote);
        const int shortestName = caption.horizontalAdvance(QStringLiteral("Mmm…mov"));
        if (noteWidth > 0 && shortestName < text.width() &&
            caption.horizontalAdvance(content->lineText) > text.width()) {
            const QString name = caption.elidedText(content->lineText.chopped(content->lineNote.size()),
                                                    Qt::ElideMiddle, std::max(text.width() - noteWidth, shortestName));
            const QString note =
                caption.elidedText(content->lineNote, Qt::ElideRight, text.width() - caption.horizontalAdvance(name));
            painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, name + note);
        } else {
            painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                              caption.elidedText(content->lineText, Qt::ElideMiddle, text.width()));
        }
        if (content->badge) {
            const QColor color = tintColor(content->badge->tint, palette);
            drawSymbol(painter, QRect(at.badge.left(), at.badge.top(), kBadgeIconSize, at.badge.height()),
                       content->badge->symbol, color, kBadgeIconSize);
            painter->setPen(textColor(content->badge->tint, palette));
            const QRect label = at.badge.adjusted(kBadgeIconSize + 4, 0, 0, 0);
            painter->drawText(label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                              caption.elidedText(content->badge->text, Qt::ElideRight, label.width()));
        }
        break;
    }
    case JobRowContent::Line::status: {
        painter->setPen(tintColor(RowTint::secondary, palette));
        const int wordWidth = std::min(caption.horizontalAdvance(content->lineText), at.line.width());
        painter->drawText(QRect(at.line.left(), at.line.top(), wordWidth, at.line.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, content->lineText);
        if (!content->outputsSummary.isEmpty()) {
            const QRect summary = at.line.adjusted(wordWidth + 6, 0, 0, 0);
            painter->setPen(textColor(RowTint::accent, palette));
            painter->drawText(summary, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                              caption.elidedText(content->outputsSummary, Qt::ElideRight, summary.width()));
        }
        break;
    }
    }

    if (!content->percentage.isEmpty()) {
        painter->setFont(at.calloutFont);
        painter->setPen(tintColor(RowTint::secondary, palette));
        painter->drawText(at.percentage, Qt::AlignRight | Qt::AlignVCenter, content->percentage);
    }
    for (std::size_t item = 0; item < at.buttons.size(); ++item) {
        const RowButton& button = content->buttons[item];
        drawSymbol(painter, at.buttons[item].second, button.symbol, tintColor(button.tint, palette), kButtonIconSize);
    }
    painter->restore();
}

QSize JobRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const QFontMetrics name(view_->font());
    const QFontMetrics caption(captionFont(view_->font()));
    const int content = std::max(name.height() + kLineSpacing + kErrorLines * caption.height(), kButtonSize);
    return {std::max(option.rect.width(), 200), content + 2 * kVerticalPadding + 4};
}

bool JobRowDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) {
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    const auto content = contentAt(index);
    if (!content) return false;
    const Layout at = layout(option.rect, *content);
    const auto control = controlIn(at, mouse->position().toPoint());
    if (type != QEvent::MouseButtonRelease) {
        if (control) pressed_ = std::make_pair(index.row(), *control);
        return control.has_value();
    }
    const bool released = control && pressed_ && *pressed_ == std::make_pair(index.row(), *control);
    pressed_.reset();
    if (!released) return control.has_value();
    emitActivated(index.row(), *control, areaOf(at, *control));
    return true;
}

QRect JobRowDelegate::areaOf(const Layout& layout, RowControl control) {
    if (control == RowControl::enabledToggle) return layout.toggle;
    for (const auto& [kind, rect] : layout.buttons)
        if (kind == control) return rect;
    return {};
}

void JobRowDelegate::emitActivated(int row, RowControl control, const QRect& area) {
    emit controlActivated(row, control, QRect(view_->viewport()->mapToGlobal(area.topLeft()), area.size()));
}

bool JobRowDelegate::activate(const QModelIndex& index, RowControl control) {
    const QRect area = controlRect(index, control);
    if (!area.isValid()) return false;
    emitActivated(index.row(), control, area);
    return true;
}

QRect JobRowDelegate::controlRect(const QModelIndex& index, RowControl control) const {
    const auto content = contentAt(index);
    if (!content) return {};
    return areaOf(layout(view_->visualRect(index), *content), control);
}

JobRowDelegate::Parts JobRowDelegate::partsAt(const QModelIndex& index) const {
    const auto content = contentAt(index);
    if (!content) return {};
    const Layout at = layout(view_->visualRect(index), *content);
    return {at.status, at.name, at.line};
}

std::optional<RowControl> JobRowDelegate::controlAt(const QModelIndex& index, const QPoint& point) const {
    const auto content = contentAt(index);
    if (!content) return std::nullopt;
    return controlIn(layout(view_->visualRect(index), *content), point);
}

QString JobRowDelegate::helpAt(const QModelIndex& index, const QPoint& point) const {
    const auto content = contentAt(index);
    if (!content) return {};
    const Layout at = layout(view_->visualRect(index), *content);
    if (const auto control = controlIn(at, point)) {
        if (*control == RowControl::enabledToggle) return tr("Include this file in the next run");
        for (const auto& button : content->buttons)
            if (button.control == *control) return button.help;
    }
    if (content->badge && at.badge.contains(point)) return content->badge->help;
    // A name cut in the middle is shown whole.
    if (at.name.contains(point) && QFontMetrics(at.nameFont).horizontalAdvance(content->name) > at.name.width())
        return content->name;
    return {};
}

bool JobRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                               const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip) return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString help = helpAt(index, event->pos());
    if (help.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return false;
    }
    QToolTip::showText(event->globalPos(), help, view);
    return true;
}

}  // namespace fw::ui
