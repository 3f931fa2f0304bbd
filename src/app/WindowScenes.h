#pragma once
// The single windows known by id ("about", "manual", "history", "welcome"):
// open(id) builds the window on first use, and afterwards shows and raises
// the one that exists, so there is never a second window of a scene. A
// closed window is deleted; the next open() builds it afresh. A window built
// opens centred over the anchor (the main window) and Esc closes it.
// Thread-safety: GUI thread only.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <map>

namespace fw::app {

class WindowScenes : public QObject {
    Q_OBJECT

public:
    using Factory = std::function<QWidget*()>;

    explicit WindowScenes(QObject* parent = nullptr);
    ~WindowScenes() override;

    // The window of `id` is what `factory` returns (a top-level window; the
    // scenes own it from then on).
    void add(const QString& id, Factory factory);
    // The window that windows built from now on open centred over.
    void setAnchor(QWidget* anchor) { anchor_ = anchor; }
    // Shows the window of `id`, or brings it forward. An unknown id does nothing.
    void open(const QString& id);
    // The open window of `id`, or null.
    QWidget* window(const QString& id) const;

private:
    struct Scene {
        Factory factory;
        QPointer<QWidget> window;
    };
    std::map<QString, Scene> scenes_;
    QPointer<QWidget> anchor_;
};

}  // namespace fw::app
