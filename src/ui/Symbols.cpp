#include "ui/Symbols.h"

#include "ui/FollowPalette.h"
#include "ui/Glass.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIconEngine>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>
#include <QStyle>
#include <QTransform>

#include <array>
#include <optional>
#include <string>
#include <utility>

// The shipped pictures live in this static library: registered by hand.
static void registerShippedSymbols() { Q_INIT_RESOURCE(symbols); }

namespace fw::ui {

namespace {

enum class Painted { letter, chevronRight, chevronDown, plus, minus };

struct SymbolEntry {
    std::string_view symbol;
    // Freedesktop names, tried in order ("-symbolic" variants are found by the theme).
    std::array<const char*, 2> themeNames;
    // Qt's standard icon of the same meaning; SP_CustomBase: none, paint `painted`.
    QStyle::StandardPixmap standard;
    Painted painted = Painted::letter;
};

constexpr auto kNone = QStyle::SP_CustomBase;

// The symbol names of the window's texts (cards, rows, menus, secondary windows).
constexpr std::array kSymbols = {
    SymbolEntry{"wand.and.stars", {"starred", "emblem-favorite"}, kNone},
    SymbolEntry{"slider.horizontal.3", {"preferences-system", "preferences-other"}, QStyle::SP_FileDialogDetailedView},
    SymbolEntry{"aspectratio", {"view-fullscreen", "zoom-fit-best"}, kNone},
    SymbolEntry{"folder", {"folder", nullptr}, QStyle::SP_DirIcon},
    SymbolEntry{"crop.rotate", {"object-rotate-right", nullptr}, kNone},
    SymbolEntry{"scissors", {"edit-cut", nullptr}, kNone},
    SymbolEntry{"camera.filters", {"preferences-color", "color-select"}, kNone},
    SymbolEntry{"waveform", {"audio-x-generic", "audio-volume-high"}, QStyle::SP_MediaVolume},
    SymbolEntry{"swatchpalette", {"color-select", "preferences-color"}, kNone},
    SymbolEntry{"tag", {"user-bookmarks", "document-properties"}, kNone},
    SymbolEntry{"textformat", {"insert-text", "format-text-bold"}, kNone},
    SymbolEntry{"square.stack.3d.down.right", {"view-paged", "edit-copy"}, kNone},
    SymbolEntry{"square.and.arrow.up.on.square", {"document-send", "send-to"}, QStyle::SP_ArrowUp},
    SymbolEntry{"square.and.arrow.down", {"document-save", nullptr}, QStyle::SP_DialogSaveButton},
    SymbolEntry{"waveform.badge.magnifyingglass", {"camera-video", "video-x-generic"}, kNone},
    SymbolEntry{"photo.on.rectangle.angled", {"image-x-generic", "emblem-photos"}, kNone},
    SymbolEntry{"photo", {"image-x-generic", nullptr}, kNone},
    SymbolEntry{"timer", {"alarm", "preferences-system-time"}, kNone},
    SymbolEntry{"clock", {"preferences-system-time", "alarm"}, kNone},
    SymbolEntry{"sparkles", {"starred", "emblem-favorite"}, kNone},
    SymbolEntry{"trash", {"user-trash", "edit-delete"}, QStyle::SP_TrashIcon},
    // Chevrons are the cards' own chrome: always painted, the same on every desktop.
    SymbolEntry{"chevron.right", {nullptr, nullptr}, kNone, Painted::chevronRight},
    SymbolEntry{"chevron.down", {nullptr, nullptr}, kNone, Painted::chevronDown},
    SymbolEntry{"checkmark.circle.fill", {"emblem-ok", "object-select"}, QStyle::SP_DialogApplyButton},
    SymbolEntry{"exclamationmark.triangle.fill", {"dialog-warning", nullptr}, QStyle::SP_MessageBoxWarning},
    SymbolEntry{"exclamationmark.circle.fill", {"dialog-error", "emblem-important"}, QStyle::SP_MessageBoxCritical},
    SymbolEntry{"xmark.circle.fill", {"process-stop", "edit-clear"}, QStyle::SP_DialogCancelButton},
    SymbolEntry{"list.bullet.rectangle", {"view-list-bullet", "view-list"}, QStyle::SP_FileDialogListView},
    SymbolEntry{"arrow.down.doc", {"document-open", "folder-download"}, QStyle::SP_DialogOpenButton},
    SymbolEntry{"plus", {"list-add", nullptr}, kNone, Painted::plus},
    SymbolEntry{"minus.circle", {nullptr, nullptr}, kNone, Painted::minus},
    SymbolEntry{"play.fill", {"media-playback-start", nullptr}, QStyle::SP_MediaPlay},
    SymbolEntry{"stop.fill", {"media-playback-stop", "process-stop"}, QStyle::SP_MediaStop},
    SymbolEntry{"pause.circle", {"media-playback-pause", nullptr}, QStyle::SP_MediaPause},
    SymbolEntry{"arrow.clockwise.circle", {"view-refresh", nullptr}, QStyle::SP_BrowserReload},
    // Shipped (":/symbols"): the themes' stand-ins ("view-dual") do not read as a merge.
    SymbolEntry{"arrow.triangle.merge", {nullptr, nullptr}, kNone},
    SymbolEntry{"arrow.up.circle", {"go-up", "network-transmit"}, QStyle::SP_ArrowUp},
    SymbolEntry{"checkmark.icloud", {"emblem-shared", "emblem-ok"}, QStyle::SP_DialogApplyButton},
    SymbolEntry{"exclamationmark.icloud", {"network-error", "dialog-warning"}, QStyle::SP_MessageBoxWarning},
    SymbolEntry{"gearshape.2", {"emblem-system", "preferences-system"}, kNone},
    SymbolEntry{"gearshape.2.fill", {"emblem-system", "system-run"}, kNone},
    SymbolEntry{"magnifyingglass.circle", {"system-search", "edit-find"}, kNone},
    SymbolEntry{"doc", {"text-x-generic", "x-office-document"}, QStyle::SP_FileIcon},
    SymbolEntry{"eye.fill", {"view-reveal", nullptr}, kNone},
    SymbolEntry{"eye.slash", {"view-conceal", nullptr}, kNone},
    SymbolEntry{"flask.fill", {"applications-science", nullptr}, kNone},
    SymbolEntry{"film.stack", {"video-x-generic", "applications-multimedia"}, kNone},
    SymbolEntry{"cpu", {"power-profile-performance", "computer"}, QStyle::SP_ComputerIcon},
    SymbolEntry{
        "menubar.dock.rectangle", {"focus-legacy-systray", "preferences-desktop-display"}, QStyle::SP_DesktopIcon},
    // Shipped too: Adwaita has this one only as a full-colour picture.
    SymbolEntry{"arrow.triangle.2.circlepath", {"system-software-update", nullptr}, QStyle::SP_BrowserReload},
    SymbolEntry{"plus.rectangle.on.folder", {"folder-new", "list-add"}, QStyle::SP_FileDialogNewFolder},
    SymbolEntry{"bell", {"preferences-system-notifications", "alarm"}, kNone},
    SymbolEntry{"externaldrive", {"drive-harddisk", nullptr}, QStyle::SP_DriveHDIcon},
    SymbolEntry{"keyboard", {"input-keyboard", nullptr}, kNone},
};

const SymbolEntry* findSymbol(std::string_view name) {
    for (const SymbolEntry& entry : kSymbols)
        if (entry.symbol == name) return &entry;
    return nullptr;
}

// A glyph's shape (inked when drawn): chevrons and signs drawn as strokes,
// anything else as the symbol's first letter in a rounded frame.
QIcon paintedIcon(Painted kind, std::string_view name) {
    constexpr int kSide = 64;
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = Qt::black;
    painter.setPen(QPen(ink, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (kind) {
    case Painted::chevronRight:
        painter.drawPolyline(QPolygonF({QPointF(24, 12), QPointF(44, 32), QPointF(24, 52)}));
        break;
    case Painted::chevronDown:
        painter.drawPolyline(QPolygonF({QPointF(12, 24), QPointF(32, 44), QPointF(52, 24)}));
        break;
    case Painted::plus: painter.drawLine(QPointF(32, 12), QPointF(32, 52)); [[fallthrough]];
    case Painted::minus: painter.drawLine(QPointF(12, 32), QPointF(52, 32)); break;
    case Painted::letter: {
        painter.setPen(QPen(ink, 4));
        painter.drawRoundedRect(QRectF(6, 6, 52, 52), 12, 12);
        QFont font = QApplication::font();
        font.setPixelSize(34);
        font.setBold(true);
        painter.setFont(font);
        const QChar letter = name.empty() ? QChar('?') : QChar(name.front()).toUpper();
        painter.drawText(QRectF(0, 0, kSide, kSide), Qt::AlignCenter, QString(letter));
        break;
    }
    }
    return QIcon(pixmap);
}

QString shippedPicture(std::string_view name) {
    return QStringLiteral(":/symbols/%1.svg").arg(QLatin1String(name.data(), static_cast<qsizetype>(name.size())));
}

// Fixed colours for a symbol: one for every mode, or another for a disabled one.
struct Inks {
    QColor normal;
    std::optional<QColor> disabled;
};

// A one-colour symbol drawn in an ink of its own: the shape's alpha filled
// with the fixed inks, or, without them, with the application palette's text
// colour for the icon's mode at the moment it is drawn, so that a dark
// palette gets light symbols. Themes draw their symbolic icons in a fixed
// dark grey.
class InkedSymbolEngine final : public QIconEngine {
public:
    InkedSymbolEngine(QIcon shape, std::optional<Inks> fixed) : shape_(std::move(shape)), fixed_(std::move(fixed)) {}

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap = shape_.pixmap(size, QIcon::Normal, state);
        if (pixmap.isNull()) return pixmap;
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), ink(mode));
        return pixmap;
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        drawn.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, drawn);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return shape_.actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return shape_.availableSizes(mode, state);
    }
    QIconEngine* clone() const override { return new InkedSymbolEngine(shape_, fixed_); }
    QString key() const override { return QStringLiteral("fw.inkedSymbol"); }

private:
    QColor ink(QIcon::Mode mode) const {
        if (fixed_) return mode == QIcon::Disabled && fixed_->disabled ? *fixed_->disabled : fixed_->normal;
        const QPalette palette = QApplication::palette();
        switch (mode) {
        case QIcon::Disabled: return disabledTextOnGlass(palette);
        case QIcon::Selected: return palette.color(QPalette::Active, QPalette::HighlightedText);
        case QIcon::Normal:
        case QIcon::Active: break;
        }
        return palette.color(QPalette::Active, QPalette::WindowText);
    }

    QIcon shape_;
    std::optional<Inks> fixed_;
};

QIcon inked(QIcon shape, std::optional<Inks> fixed = std::nullopt) {
    return QIcon(new InkedSymbolEngine(std::move(shape), std::move(fixed)));
}

struct Resolved {
    QIcon icon;
    SymbolSource source;
    bool oneColour;  // a shape to ink, not a picture in colours of its own
};

// Monochrome first: the themes' "-symbolic" variants, then the shipped
// picture, then the themes' ordinary icons, Qt's standard icon, the glyph.
Resolved resolve(std::string_view symbolName) {
    prepareSymbolTheme();
    const SymbolEntry* entry = findSymbol(symbolName);
    if (!entry) return {paintedIcon(Painted::letter, symbolName), SymbolSource::placeholder, true};
    for (const char* themeName : entry->themeNames) {
        if (!themeName) continue;
        const QString candidate = QString::fromLatin1(themeName) + QStringLiteral("-symbolic");
        if (QIcon::hasThemeIcon(candidate)) return {QIcon::fromTheme(candidate), SymbolSource::theme, true};
    }
    if (const QString shipped = shippedPicture(symbolName); QFile::exists(shipped))
        return {QIcon(shipped), SymbolSource::shipped, true};
    for (const char* themeName : entry->themeNames) {
        if (!themeName) continue;
        const QString candidate = QString::fromLatin1(themeName);
        if (QIcon::hasThemeIcon(candidate)) return {QIcon::fromTheme(candidate), SymbolSource::theme, false};
    }
    if (entry->standard != kNone) {
        const QIcon standard = QApplication::style()->standardIcon(entry->standard);
        if (!standard.isNull()) return {standard, SymbolSource::standard, false};
    }
    // Chevrons have no theme names: they are drawn here by choice.
    const bool chrome = entry->themeNames[0] == nullptr && entry->painted != Painted::letter;
    return {paintedIcon(entry->painted, symbolName), chrome ? SymbolSource::chrome : SymbolSource::placeholder, true};
}

}  // namespace

void prepareSymbolTheme() {
    static const bool prepared = [] {
        registerShippedSymbols();
        const auto isGeneric = [](const QString& name) { return name.isEmpty() || name == QLatin1String("hicolor"); };
        // Some platforms (offscreen, a bare X11 session) name no theme at all.
        if (QIcon::themeName().isEmpty()) QIcon::setThemeName(QStringLiteral("hicolor"));
        if (isGeneric(QIcon::fallbackThemeName())) QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        QStringList paths = QIcon::themeSearchPaths();
        QStringList folders{QDir::homePath() + QStringLiteral("/.icons")};
        folders += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                             QStandardPaths::LocateDirectory);
        for (const QString& folder : folders)
            if (!paths.contains(folder) && QFileInfo(folder).isDir()) paths.append(folder);
        // Also drops the themes Qt has read so far, with the fallback they had then.
        QIcon::setThemeSearchPaths(paths);
        return true;
    }();
    (void)prepared;
}

SymbolSource symbolSource(std::string_view symbolName) { return resolve(symbolName).source; }

QIcon symbolIcon(std::string_view symbolName) {
    Resolved resolved = resolve(symbolName);
    return resolved.oneColour ? inked(std::move(resolved.icon)) : resolved.icon;
}

QIcon tintedSymbolIcon(std::string_view symbolName, const QColor& tint, const std::optional<QColor>& disabledTint) {
    return inked(resolve(symbolName).icon, Inks{tint.toRgb(), disabledTint});
}

void showSymbol(QLabel* label, std::string_view symbolName, int size, int turn_degrees) {
    followPalette(
        label, PaletteUse::picture, [label, icon = symbolIcon(symbolName), size, turn_degrees](const QPalette&) {
            const QPixmap drawn = icon.pixmap(size, size);
            label->setPixmap(turn_degrees == 0
                                 ? drawn
                                 : drawn.transformed(QTransform().rotate(turn_degrees), Qt::SmoothTransformation));
        });
}

void showTintedSymbol(QLabel* label, std::string_view symbolName, int size,
                      std::function<QColor(const QPalette&)> ink) {
    followPalette(label, PaletteUse::picture,
                  [label, name = std::string(symbolName), size, ink = std::move(ink)](const QPalette& palette) {
                      label->setPixmap(tintedSymbolIcon(name, ink(palette)).pixmap(size, size));
                  });
}

std::vector<std::string_view> knownSymbolNames() {
    std::vector<std::string_view> names;
    for (const SymbolEntry& entry : kSymbols) names.push_back(entry.symbol);
    return names;
}

}  // namespace fw::ui
