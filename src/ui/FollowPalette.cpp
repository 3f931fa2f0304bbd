#include "ui/FollowPalette.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace fw::ui {

namespace {

// Hears of a change of the application's palette (the application is told
// first, before its windows) and makes everything anew once the windows have
// taken the new palette: Qt posts them their events as it tells the
// application, and a posted event of the lowest priority runs after those.
class PaletteFollowers final : public QObject {
public:
    static PaletteFollowers& instance() {
        static QPointer<PaletteFollowers> followers;  // one per application
        if (!followers) {
            followers = new PaletteFollowers(qApp);
            qApp->installEventFilter(followers);
        }
        return *followers;
    }

    void follow(QWidget* widget, PaletteUse use, std::function<void(const QPalette&)> make) {
        make(QApplication::palette());
        // Indices stay put while remake() walks them.
        if (!remaking_) std::erase_if(makers_, [](const Maker& maker) { return !maker.widget; });
        const auto same = [&](const Maker& maker) { return maker.widget == widget && maker.use == use; };
        if (const auto found = std::find_if(makers_.begin(), makers_.end(), same); found != makers_.end())
            found->make = std::move(make);
        else
            makers_.push_back({widget, use, std::move(make)});
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange && !pending_) {
            pending_ = true;
            QCoreApplication::postEvent(this, new QEvent(remakeEvent()), Qt::LowEventPriority);
        }
        return false;
    }

    bool event(QEvent* event) override {
        if (event->type() != remakeEvent()) return QObject::event(event);
        pending_ = false;
        remake();
        return true;
    }

private:
    using QObject::QObject;

    struct Maker {
        QPointer<QWidget> widget;
        PaletteUse use;
        std::function<void(const QPalette&)> make;
    };

    static QEvent::Type remakeEvent() {
        static const auto type = QEvent::Type(QEvent::registerEventType());
        return type;
    }

    // In the order of the uses; the palette of the moment, however many
    // changes came since the event was posted.
    void remake() {
        remaking_ = true;
        const QPalette palette = QApplication::palette();
        for (const PaletteUse use :
             {PaletteUse::surface, PaletteUse::styleSheet, PaletteUse::colours, PaletteUse::picture})
            for (std::size_t at = 0; at < makers_.size(); ++at) {
                if (makers_[at].use != use || !makers_[at].widget) continue;
                // A copy: making may replace this very maker (a card turning its chevron).
                const auto make = makers_[at].make;
                make(palette);
            }
        remaking_ = false;
    }

    std::vector<Maker> makers_;  // in the order they were first given
    bool pending_ = false;
    bool remaking_ = false;
};

}  // namespace

void followPalette(QWidget* widget, PaletteUse use, std::function<void(const QPalette&)> make) {
    PaletteFollowers::instance().follow(widget, use, std::move(make));
}

void followStyleSheet(QWidget* widget, std::function<QString(const QPalette&)> sheet) {
    followPalette(widget, PaletteUse::styleSheet, [widget, sheet = std::move(sheet)](const QPalette& palette) {
        widget->setStyleSheet(sheet(palette));
    });
}

void followStyleSheet(QWidget* widget, const QString& sheet) {
    followStyleSheet(widget, [sheet](const QPalette&) { return sheet; });
}

void followColour(QWidget* widget, std::function<QColor(const QPalette&)> colour, QPalette::ColorRole role) {
    followPalette(widget, PaletteUse::colours, [widget, role, colour = std::move(colour)](const QPalette& palette) {
        QPalette own = widget->palette();
        own.setColor(role, colour(palette));
        widget->setPalette(own);
    });
}

}  // namespace fw::ui
