#pragma once
// A desktop of the tests' own, read as a screen reader reads it: an X server
// (Xvfb), a private session bus with the accessibility bus on it
// (at-spi-bus-launcher, whose bus starts the registry), and the application
// object on Qt's X11 platform with its AT-SPI bridge on. Qt's offscreen
// platform has no such bridge, so these tests run on their own display,
// whatever platform the rest of the suite uses.
//
// AtSpiReader is the screen reader's side: it walks the tree and takes
// events over the accessibility bus. Its calls wait in a local event loop,
// so this process's own windows answer them.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <string>
#include <vector>

namespace fw::test {

// Why the session could not start ("" once it has): the tests then skip.
const std::string& atSpiUnavailable();

struct AtSpiObject {
    QString service;
    QString path;
    bool operator==(const AtSpiObject&) const = default;
};

// An org.a11y.atspi.Event.Object signal: its name ("TextChanged"), its
// detail ("insert") and its data (the text inserted).
struct AtSpiEvent {
    AtSpiObject source;
    QString name;
    QString detail;
    QVariant data;
};

// AT-SPI's state bits used here.
enum class AtSpiState { focusable = 11, showing = 25, visible = 30 };

class AtSpiReader : public QObject {
    Q_OBJECT

public:
    AtSpiReader();

    // The applications the registry lists.
    std::vector<AtSpiObject> applications();
    std::vector<AtSpiObject> children(const AtSpiObject& object);
    QString name(const AtSpiObject& object);
    QString role(const AtSpiObject& object);  // "combo box"
    bool has(const AtSpiObject& object, AtSpiState state);
    // Its Text interface's whole text; empty without one.
    QString text(const AtSpiObject& object);
    // `root` and everything under it for which `take` holds, in tree order.
    std::vector<AtSpiObject> find(const AtSpiObject& root, const std::function<bool(const AtSpiObject&)>& take);

    // Asks the registry for events of `kind` ("object:text-changed").
    void listen(const QString& kind);
    const std::vector<AtSpiEvent>& events() const { return events_; }

private slots:
    void take(const QDBusMessage& signal);

private:
    // The call's first answer; none for an error.
    QVariant call(const AtSpiObject& object, const QString& interface, const QString& method,
                  const QVariantList& arguments = {});

    QDBusConnection bus_;
    std::vector<AtSpiEvent> events_;
};

}  // namespace fw::test
