// Revealing an exported file: the file manager asked over a private session
// bus to select it, the folder opened where no file manager answers, and a
// message naming the file where neither works, readable whole however long
// its path.

#include "PrivateSessionBus.h"
#include "UiTestSupport.h"
#include "ui/FileReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <optional>

namespace fw::test {
namespace {

using ui::RevealOutcome;

// The file manager's ShowItems: records the items, answers or refuses.
class FakeFileManager : public QDBusVirtualObject {
public:
    bool refuse = false;
    QStringList shown;

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("ShowItems")) return false;
        shown << message.arguments().value(0).toStringList();
        connection.send(refuse ? message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"), "no")
                               : message.createReply());
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

TEST(FileReveal, SelectsTheFileElseOpensItsFolderElseSaysWhereItIs) {
    PrivateSessionBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << "dbus-daemon could not be started";
    QDBusConnection client = QDBusConnection::connectToBus(bus.address(), QStringLiteral("fw-reveal-client"));
    QDBusConnection service = QDBusConnection::connectToBus(bus.address(), QStringLiteral("fw-reveal-service"));
    ASSERT_TRUE(client.isConnected() && service.isConnected());
    FakeFileManager manager;
    ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager));

    const QString file = QStringLiteral("/exports/My Clip #1.mov");
    struct Case {
        const char* name;
        bool fileManager;  // the service is on the bus
        bool refuses;
        bool connected;  // else no session bus at all
        bool folderOpens;
        RevealOutcome outcome;
        bool message;
    } const cases[] = {
        {"selected by the file manager", true, false, true, true, RevealOutcome::selected, false},
        {"file manager refuses", true, true, true, true, RevealOutcome::folderOpened, false},
        {"no file manager", false, false, true, true, RevealOutcome::folderOpened, false},
        {"no bus", false, false, false, true, RevealOutcome::folderOpened, false},
        {"nothing can open it", false, false, true, false, RevealOutcome::failed, true},
        {"no bus, nothing can open it", false, false, false, false, RevealOutcome::failed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.refuse = c.refuses;
        manager.shown.clear();
        const QString name = QStringLiteral("org.freedesktop.FileManager1");
        if (c.fileManager)
            ASSERT_TRUE(service.registerService(name));
        else
            service.unregisterService(name);
        std::vector<QUrl> opened;
        const ui::FileRevealer revealer(c.connected ? client : QDBusConnection(QStringLiteral("fw-never-connected")),
                                        [&](const QUrl& folder) {
                                            opened.push_back(folder);
                                            return c.folderOpens;
                                        });
        std::optional<RevealOutcome> outcome;
        revealer.reveal(file, [&](RevealOutcome result) { outcome = result; });
        ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }));
        EXPECT_EQ(*outcome, c.outcome);
        if (c.fileManager) {
            EXPECT_EQ(manager.shown.join(" ").toStdString(), "file:///exports/My%20Clip%20%231.mov");
        }
        const bool triedFolder = c.outcome != RevealOutcome::selected;
        EXPECT_EQ(opened,
                  triedFolder ? std::vector{QUrl::fromLocalFile(QStringLiteral("/exports"))} : std::vector<QUrl>{});

        // What the user sees: nothing more, or a message naming the file.
        QWidget window;
        ui::revealInFileManager(file, &window, revealer);
        // The message, when there is one, comes right after the folder was tried.
        if (triedFolder)
            ASSERT_TRUE(waitUntil([&] { return opened.size() == 2; }));
        else
            ASSERT_TRUE(waitUntil([&] { return manager.shown.size() == 2; }));
        processEvents();
        auto* message = window.findChild<QMessageBox*>(QStringLiteral("revealFailed"));
        EXPECT_EQ(message != nullptr, c.message);
        if (message) {
            EXPECT_TRUE(message->informativeText().contains(file));
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fw-reveal-client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fw-reveal-service"));
}

// A long, deep path: the message stays well inside the screen, every line
// of it shown whole (a name too long for a line shortened in its middle, so
// that the file's extension still shows), and the path can still be read
// whole, in the message or its details.
TEST(FileReveal, TheMessageKeepsALongPathReadableInsideTheScreen) {
    const QString deep = QStringLiteral("/home/ana/Projects/2026/Harbour_Documentary/Exports/Delivery/Broadcast/");
    const QString longName = QString(QStringLiteral("Reel_03_Harbour_Dawn_Interview_")).repeated(6) + ".mov";
    const struct {
        const char* name;
        QString path;
        QString shownEnd;  // what the message's path ends with
    } rows[] = {
        {"a file name wider than the screen", deep + longName, "_Interview_.mov"},
        {"a folder name wider than the screen", deep + longName.chopped(4) + "/Final/clip.mov",
         "_Interview_/Final/clip.mov"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QWidget window;
        QMessageBox* box = ui::revealFailedMessage(row.path, &window);
        box->open();
        ASSERT_TRUE(waitUntil([box] { return box->isVisible(); }));
        processEvents();
        const QRect area = box->screen()->availableGeometry();
        EXPECT_LE(box->frameGeometry().width(), area.width() * 3 / 4) << "as wide as the screen";
        for (const QLabel* label : box->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->text().isEmpty()) continue;
            EXPECT_GE(label->width(), label->minimumSizeHint().width()) << label->text().toStdString() << " is cut";
        }
        EXPECT_TRUE(box->informativeText().contains(row.path) || box->detailedText() == row.path)
            << "the path cannot be read whole";
        EXPECT_TRUE(box->informativeText().endsWith(row.shownEnd)) << box->informativeText().toStdString();
        delete box;
    }
}

}  // namespace
}  // namespace fw::test
