#include "app/WindowScenes.h"

#include "app/SecondaryWindow.h"

namespace fw::app {

WindowScenes::WindowScenes(QObject* parent) : QObject(parent) {}

WindowScenes::~WindowScenes() {
    for (auto& [id, scene] : scenes_) delete scene.window.data();
}

void WindowScenes::add(const QString& id, Factory factory) { scenes_[id] = Scene{std::move(factory), {}}; }

void WindowScenes::open(const QString& id) {
    const auto found = scenes_.find(id);
    if (found == scenes_.end()) return;
    Scene& scene = found->second;
    if (!scene.window) {
        scene.window = scene.factory();
        if (!scene.window) return;
        scene.window->setAttribute(Qt::WA_DeleteOnClose);
        scene.window->setObjectName(id + QStringLiteral("Window"));
        closeOnEscape(*scene.window);
        if (anchor_) centreOver(*scene.window, *anchor_);
    }
    scene.window->show();
    scene.window->setWindowState(scene.window->windowState() & ~Qt::WindowMinimized);
    scene.window->raise();
    scene.window->activateWindow();
}

QWidget* WindowScenes::window(const QString& id) const {
    const auto found = scenes_.find(id);
    return found == scenes_.end() ? nullptr : found->second.window.data();
}

}  // namespace fw::app
