#include "AtSpiSession.h"

#include "PrivateSessionBus.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

namespace fw::test {

namespace {

constexpr auto kLauncher = "/usr/libexec/at-spi-bus-launcher";
constexpr auto kAccessible = "org.a11y.atspi.Accessible";
// A start on a loaded machine takes seconds; a minute is no machine's.
constexpr int kStartLimit_ms = 60000;

std::string unavailable = "not started";
QString busAddress;

class AtSpiEnvironment : public ::testing::Environment {
public:
    void SetUp() override { unavailable = start(); }
    void TearDown() override {
        application_.reset();
        for (QProcess* process : {&launcher_, &display_}) {
            process->terminate();
            process->waitForFinished(kStartLimit_ms);
        }
        bus_.reset();
    }

private:
    std::string start() {
        setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        // The first free display; Xvfb writes its number.
        display_.start(
            QStringLiteral("Xvfb"),
            {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
             QStringLiteral("1600x1000x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QElapsedTimer clock;
        clock.start();
        while (display_.waitForStarted(kStartLimit_ms) && !display_.canReadLine() &&
               display_.state() == QProcess::Running && clock.elapsed() < kStartLimit_ms)
            display_.waitForReadyRead(100);
        const QByteArray display = display_.readLine().trimmed();
        if (display.isEmpty()) return "Xvfb did not start (scripts/setup.sh installs xvfb)";
        bus_ = std::make_unique<PrivateSessionBus>();
        if (bus_->address().isEmpty()) return "dbus-daemon did not start";
        if (!QFileInfo(QString::fromLatin1(kLauncher)).isExecutable())
            return "at-spi-bus-launcher is missing (scripts/setup.sh installs at-spi2-core)";

        setenv("DISPLAY", (":" + display).constData(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().toUtf8().constData(), 1);
        setenv("GSETTINGS_BACKEND", "memory", 1);
        launcher_.start(QString::fromLatin1(kLauncher),
                        {QStringLiteral("--launch-immediately"), QStringLiteral("--a11y=1")});
        if (!launcher_.waitForStarted(kStartLimit_ms)) return "at-spi-bus-launcher did not start";

        // Qt's X11 platform with its bridge on, and nothing of the desktop
        // this runs from.
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        for (const char* name :
             {"XDG_CURRENT_DESKTOP", "QT_QPA_PLATFORMTHEME", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY"})
            unsetenv(name);
        static int argc = 1;
        static char name[] = "fw_screen_reader_tests";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);

        QDBusConnectionInterface* session = QDBusConnection::sessionBus().interface();
        const auto launched = [&] { return session && session->isServiceRegistered(QStringLiteral("org.a11y.Bus")); };
        if (!waitUntil(launched, kStartLimit_ms)) return "at-spi-bus-launcher took no name on the session bus";
        const QDBusReply<QString> address = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                           QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
        if (!address.isValid() || address.value().isEmpty()) return "the accessibility bus has no address";
        busAddress = address.value();
        return {};
    }

    TempDir runtime_;
    QProcess display_;
    std::unique_ptr<PrivateSessionBus> bus_;
    QProcess launcher_;
    std::unique_ptr<QApplication> application_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new AtSpiEnvironment);

}  // namespace

const std::string& atSpiUnavailable() { return unavailable; }

AtSpiReader::AtSpiReader() : bus_(QDBusConnection::connectToBus(busAddress, QStringLiteral("screenReader"))) {
    bus_.connect({}, {}, QStringLiteral("org.a11y.atspi.Event.Object"), {}, this, SLOT(take(QDBusMessage)));
}

QVariant AtSpiReader::call(const AtSpiObject& object, const QString& interface, const QString& method,
                           const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
    message.setArguments(arguments);
    // This process's windows answer while the call waits.
    const QDBusMessage reply = bus_.call(message, QDBus::BlockWithGui);
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0) : QVariant();
}

std::vector<AtSpiObject> AtSpiReader::applications() {
    return children({QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/accessible/root")});
}

std::vector<AtSpiObject> AtSpiReader::children(const AtSpiObject& object) {
    // An "a(so)" of object references.
    const QVariant answer = call(object, QString::fromLatin1(kAccessible), QStringLiteral("GetChildren"));
    std::vector<AtSpiObject> objects;
    if (!answer.canConvert<QDBusArgument>()) return objects;
    const QDBusArgument list = answer.value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString service;
        QDBusObjectPath path;
        list.beginStructure();
        list >> service >> path;
        list.endStructure();
        objects.push_back({service, path.path()});
    }
    list.endArray();
    return objects;
}

QString AtSpiReader::name(const AtSpiObject& object) {
    return call(object, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                {QString::fromLatin1(kAccessible), QStringLiteral("Name")})
        .value<QDBusVariant>()
        .variant()
        .toString();
}

QString AtSpiReader::role(const AtSpiObject& object) {
    return call(object, QString::fromLatin1(kAccessible), QStringLiteral("GetRoleName")).toString();
}

bool AtSpiReader::has(const AtSpiObject& object, AtSpiState state) {
    const auto words =
        qdbus_cast<QList<uint>>(call(object, QString::fromLatin1(kAccessible), QStringLiteral("GetState")));
    const int bit = int(state);
    return words.size() > bit / 32 && (words[bit / 32] >> (bit % 32)) & 1;
}

QString AtSpiReader::text(const AtSpiObject& object) {
    return call(object, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"), {0, -1}).toString();
}

std::vector<AtSpiObject> AtSpiReader::find(const AtSpiObject& root,
                                           const std::function<bool(const AtSpiObject&)>& take) {
    std::vector<AtSpiObject> found;
    if (take(root)) found.push_back(root);
    for (const AtSpiObject& child : children(root)) {
        std::vector<AtSpiObject> below = find(child, take);
        found.insert(found.end(), below.begin(), below.end());
    }
    return found;
}

void AtSpiReader::listen(const QString& kind) {
    call({QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/registry")},
         QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("RegisterEvent"), {kind, QStringList(), QString()});
}

void AtSpiReader::take(const QDBusMessage& signal) {
    const QVariantList arguments = signal.arguments();
    if (arguments.size() < 4) return;
    events_.push_back({{signal.service(), signal.path()},
                       signal.member(),
                       arguments[0].toString(),
                       arguments[3].value<QDBusVariant>().variant()});
}

}  // namespace fw::test
