// Loaded into the built program (LD_PRELOAD) by the tests that need a batch
// running in the real window: it plays the user who presses Encode once the
// queued files allow it. FW_PRESS_ENCODE_CODEC (the start of a format's name
// in the picker) picks the format first, and FW_PRESS_ENCODE_SEQUENCE=1 asks
// for an image sequence. When FW_QUIT_WHEN names a file, it also chooses Quit
// once that file exists and agrees to quit whenever asked.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

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

// Answers each question a Quit asks ("Quit while encoding?", "Quit without
// saving?") with its quitting button, and says on standard error which it
// answered: "answered <object name>".
void agreeWhenAsked() {
    auto* look = new QTimer(QCoreApplication::instance());
    QObject::connect(look, &QTimer::timeout, look, [] {
        auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!question || !question->isVisible()) return;
        for (QAbstractButton* button : question->buttons())
            if (question->buttonRole(button) == QMessageBox::DestructiveRole) {
                std::fprintf(stderr, "answered %s\n", qPrintable(question->objectName()));
                button->click();
                return;
            }
    });
    look->start(20);
}

void chooseQuitWhenTold() {
    const QString when = qEnvironmentVariable("FW_QUIT_WHEN");
    if (when.isEmpty()) return;
    auto* look = new QTimer(QCoreApplication::instance());
    QObject::connect(look, &QTimer::timeout, look, [look, when] {
        if (!QFileInfo::exists(when)) return;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* quit = window->findChild<QAction*>(QStringLiteral("quit"))) {
                look->stop();
                look->deleteLater();
                agreeWhenAsked();
                quit->trigger();
                return;
            }
    });
    look->start(50);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(pressEncodeOnceItCan)
Q_COREAPP_STARTUP_FUNCTION(chooseQuitWhenTold)
