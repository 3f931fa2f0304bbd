#include "ui/SettingsColumn.h"
#include "ui/AccessibleNames.h"

#include "ui/CardRows.h"
#include "ui/CollapsibleCard.h"
#include "ui/ControlStyle.h"
#include "ui/FollowPalette.h"
#include "ui/Glass.h"
#include "ui/SettingsCards.h"
#include "ui/Symbols.h"
#include "ui/UiFlags.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace fw::ui {

namespace {

struct CardEntry {
    const char* title;
    const char* symbol;
    const char* key;
    bool expandedByDefault;
    int spacing;
    QWidget* (*build)(CardContext&);
};

constexpr std::array kAlwaysShown = {
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Preset"), "wand.and.stars", "card.preset.expanded", true, 10,
              &buildPresetCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Output"), "slider.horizontal.3", "card.output.expanded", true, 12,
              &buildOutputCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Resize"), "aspectratio", "card.resize.expanded", true, 12,
              &buildResizeCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Destinations"), "folder", "card.destinations.expanded", false, 12,
              &buildDestinationsCard},
};

constexpr std::array kAdvanced = {
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Transform"), "crop.rotate", "card.transform.expanded", false, 12,
              &buildTransformCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Trim"), "scissors", "card.trim.expanded", false, 10, &buildTrimCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Filters"), "camera.filters", "card.filters.expanded", false, 12,
              &buildFiltersCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Audio"), "waveform", "card.audio.expanded", false, 10,
              &buildAudioCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Colour / HDR"), "swatchpalette", "card.color.expanded", false, 10,
              &buildColorCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Metadata"), "tag", "card.metadata.expanded", false, 10,
              &buildMetadataCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "File Name"), "textformat", "card.filename.expanded", true, 10,
              &buildFileNameCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Proxy"), "square.stack.3d.down.right", "card.proxy.expanded", false,
              12, &buildProxyCard},
    CardEntry{QT_TRANSLATE_NOOP("SettingsColumn", "Publish"), "square.and.arrow.up.on.square", "card.publish.expanded",
              false, 10, &buildPublishCard},
};

CollapsibleCard* makeCard(const CardEntry& entry, CardContext& context, QWidget* parent) {
    return new CollapsibleCard(SettingsColumn::tr(entry.title), entry.symbol, QString::fromLatin1(entry.key),
                               entry.expandedByDefault, entry.build(context), context.flags, entry.spacing, parent);
}

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    followColour(label, [](const QPalette& palette) {
        QColor ink = palette.color(QPalette::WindowText);
        ink.setAlphaF(0.65f);
        return ink;
    });
    return label;
}

}  // namespace

SettingsColumn::SettingsColumn(CardContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    setObjectName(QStringLiteral("settingsColumn"));
    layout_ = new QVBoxLayout(this);
    // The more-settings strip is as wide as the column and may end it: room
    // for its focus ring on its left and below.
    layout_->setContentsMargins(kFocusRingWidth, 0, 4, kFocusRingWidth);
    layout_->setSpacing(16);
    for (const CardEntry& entry : kAlwaysShown) layout_->addWidget(makeCard(entry, context_, this));

    // The more-settings row: a glass strip whose whole width is the button.
    auto* strip = new GlassCard(this);
    auto* stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(0, 0, 0, 0);
    toggle_ = new QPushButton(strip);
    toggle_->setObjectName(QStringLiteral("moreSettingsToggle"));
    toggle_->setFlat(true);
    toggle_->setAutoDefault(false);
    toggle_->setCursor(Qt::PointingHandCursor);
    followStyleSheet(toggle_, QStringLiteral("QPushButton { border: none; background: transparent; }"));
    toggle_->setProperty(kFocusRingRadius, kCardCornerRadius);
    toggle_->setToolTip(
        tr("Show transform, trim, filters, audio, colour, metadata, filename, proxy, and publishing options."));
    auto* row = new QHBoxLayout(toggle_);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(8);
    auto* icon = new QLabel(toggle_);
    showSymbol(icon, "slider.horizontal.3", 14);
    toggleText_ = secondaryLabel(QString(), toggle_);
    QFont medium = toggleText_->font();
    medium.setWeight(QFont::Medium);
    toggleText_->setFont(medium);
    toggleChevron_ = new QLabel(toggle_);
    row->addWidget(icon);
    row->addWidget(toggleText_);
    row->addStretch(1);
    row->addWidget(toggleChevron_);
    toggle_->setMinimumHeight(toggleText_->sizeHint().height() + 16);
    stripLayout->addWidget(toggle_);
    layout_->addWidget(strip);

    connect(toggle_, &QPushButton::clicked, this, [this] {
        context_.flags.setFlag(QString::fromLatin1(kShowAdvancedKey),
                               !context_.flags.flag(QString::fromLatin1(kShowAdvancedKey), false));
    });
    connect(&context_.flags, &UiFlags::flagChanged, this, [this](const QString& key) {
        if (key == QLatin1String(kShowAdvancedKey)) refreshAdvanced();
    });
    layout_->addStretch(1);
    refreshAdvanced();
}

void SettingsColumn::refreshAdvanced() {
    const bool shown = context_.flags.flag(QString::fromLatin1(kShowAdvancedKey), false);
    toggleText_->setText(shown ? tr("Hide advanced settings") : tr("More settings"));
    nameAfter(toggle_, toggleText_->text());
    // One chevron pointing down, turned to point right while the cards are hidden.
    showSymbol(toggleChevron_, "chevron.down", 12, shown ? 0 : -90);

    if (shown == (advanced_ != nullptr)) return;
    if (!shown) {
        delete advanced_;
        advanced_ = nullptr;
        return;
    }
    advanced_ = new QWidget(this);
    advanced_->setObjectName(QStringLiteral("advancedCards"));
    auto* advancedLayout = new QVBoxLayout(advanced_);
    advancedLayout->setContentsMargins(0, 0, 0, 0);
    advancedLayout->setSpacing(16);
    for (const CardEntry& entry : kAdvanced) advancedLayout->addWidget(makeCard(entry, context_, advanced_));
    // After the toggle, before the closing stretch; and so in Tab order.
    layout_->insertWidget(layout_->count() - 1, advanced_);
    placeTabStopsAfter(toggle_, advanced_);
}

std::vector<CollapsibleCard*> SettingsColumn::cards() const {
    std::vector<CollapsibleCard*> cards;
    auto collect = [&cards](QLayout* layout) {
        for (int i = 0; i < layout->count(); ++i)
            if (auto* card = qobject_cast<CollapsibleCard*>(layout->itemAt(i)->widget())) cards.push_back(card);
    };
    collect(layout_);
    if (advanced_) collect(advanced_->layout());
    return cards;
}

// Qt scrolls to the focus only when Tab moves it within the area; focus
// that comes from outside (Shift+Tab from the action bar) could land below
// the fold.
class SettingsScrollArea::KeyboardFocusScroll final : public QObject {
public:
    explicit KeyboardFocusScroll(SettingsScrollArea* area) : QObject(area), area_(area) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::FocusIn || !watched->isWidgetType()) return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const bool byKeyboard =
            reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
        auto* focused = static_cast<QWidget*>(watched);
        QWidget* column = area_->widget();
        if (!byKeyboard || !column || !column->isAncestorOf(focused)) return false;
        // The control is in view when its focus ring is; brought in, it gets
        // the room Qt gives a control Tab reaches inside the area.
        const QRect ring = QRect(focused->mapTo(column, QPoint()), focused->size())
                               .adjusted(-kFocusRingWidth, -kFocusRingWidth, kFocusRingWidth, kFocusRingWidth);
        if (QRect(-column->pos(), area_->viewport()->size()).contains(ring)) return false;
        area_->ensureVisible(ring.center().x(), ring.center().y(), ring.width() / 2 + kRoom, ring.height() / 2 + kRoom);
        return false;
    }

private:
    static constexpr int kRoom = 50;
    SettingsScrollArea* area_;
};

SettingsScrollArea::SettingsScrollArea(QWidget* parent) : QScrollArea(parent) {
    setObjectName(QStringLiteral("settingsScroll"));
    setFocusPolicy(Qt::NoFocus);
    new KeyboardFocusScroll(this);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    reserveOverlaidScrollBar();
}

int SettingsScrollArea::neededWidth() const {
    // The scrollbar's room is kept whether or not it shows: the column keeps
    // its width as cards open and close.
    const int scrollBar = verticalScrollBar()->sizeHint().width();
    int content = 0;
    if (const QWidget* column = widget()) content = std::max(column->minimumWidth(), column->minimumSizeHint().width());
    return std::max(kPreferredWidth, content + scrollBar + 2 * frameWidth());
}

QSize SettingsScrollArea::sizeHint() const { return {neededWidth(), QScrollArea::sizeHint().height()}; }

QSize SettingsScrollArea::minimumSizeHint() const { return {neededWidth(), QScrollArea::minimumSizeHint().height()}; }

void SettingsScrollArea::reserveOverlaidScrollBar() {
    const int overlap = style()->pixelMetric(QStyle::PM_ScrollView_ScrollBarOverlap, nullptr, verticalScrollBar());
    setViewportMargins(0, 0, overlap > 0 ? verticalScrollBar()->sizeHint().width() : 0, 0);
}

bool SettingsScrollArea::event(QEvent* event) {
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange) {
        reserveOverlaidScrollBar();
        updateGeometry();
    }
    return QScrollArea::event(event);
}

bool SettingsScrollArea::eventFilter(QObject* watched, QEvent* event) {
    // The column asks for a new layout when its cards or their rows change.
    if (watched == widget() && event->type() == QEvent::LayoutRequest) updateGeometry();
    return QScrollArea::eventFilter(watched, event);
}

}  // namespace fw::ui
