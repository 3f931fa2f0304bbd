// Loaded into the built program (LD_PRELOAD) by the tests that need a batch
// running in the real window: it plays the user who presses Encode once the
// queued files allow it.

#include <QApplication>
#include <QPushButton>
#include <QTimer>

namespace {

void pressEncodeOnceItCan() {
    auto* look = new QTimer(QCoreApplication::instance());
    QObject::connect(look, &QTimer::timeout, look, [look] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* encode = window->findChild<QPushButton*>(QStringLiteral("encode"));
            if (!encode || !encode->isVisible() || !encode->isEnabled()) continue;
            look->deleteLater();
            encode->click();
            return;
        }
    });
    look->start(50);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(pressEncodeOnceItCan)
