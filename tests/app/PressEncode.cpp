// Loaded into the built program (LD_PRELOAD) by the tests that need a batch
// running in the real window: it plays the user who presses Encode once the
// queued files allow it. FW_PRESS_ENCODE_CODEC (the start of a format's name
// in the picker) picks the format first, and FW_PRESS_ENCODE_SEQUENCE=1 asks
// for an image sequence.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

namespace {

// Sets the output as the environment asks; false while the controls are not there yet.
bool chooseOutput(QWidget* window) {
    const QString codec = qEnvironmentVariable("FW_PRESS_ENCODE_CODEC");
    if (!codec.isEmpty()) {
        auto* picker = window->findChild<QComboBox*>(QStringLiteral("outputCodec"));
        const int item = picker ? picker->findText(codec, Qt::MatchStartsWith) : -1;
        if (item < 0) return false;
        picker->setCurrentIndex(item);
    }
    if (qEnvironmentVariableIntValue("FW_PRESS_ENCODE_SEQUENCE") == 1) {
        auto* sequence = window->findChild<QCheckBox*>(QStringLiteral("imageSequence"));
        if (!sequence) return false;
        sequence->setChecked(true);
    }
    return true;
}

void pressEncodeOnceItCan() {
    auto* look = new QTimer(QCoreApplication::instance());
    QObject::connect(look, &QTimer::timeout, look, [look] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* encode = window->findChild<QPushButton*>(QStringLiteral("encode"));
            if (!encode || !encode->isVisible() || !encode->isEnabled() || !chooseOutput(window)) continue;
            look->deleteLater();
            encode->click();
            return;
        }
    });
    look->start(50);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(pressEncodeOnceItCan)
