#pragma once
// The process-wide update service. It reads the update feed (UpdateFeed.h)
// from the address fixed at build time and tells the user when a newer
// version exists, showing its notes and offering to open its download page in
// the browser. It never downloads or installs anything itself.
//
// Checks: automatic ones, at most once a day while "AutomaticallyChecksForUpdates"
// (default true) holds, once start() has been called; and "Check for Updates…"
// (checkForUpdates()). The beta channel is offered while "ReceiveBetaUpdates"
// holds. An automatic check shows something only when an update exists; a
// check the user asked for also says "up to date" or gives a short error.
// Feeds are read with a size bound and a time-out, so a broken or hostile
// server can neither block the window nor fill the memory.
//
// In a test run (isTestHost()) start() does nothing: the service never
// checks on its own there, while every operation can still be called.
//
// Thread-safety: main thread only (it lives there and uses its event loop).

#include "app/UpdateFeed.h"
#include "app/UpdateSettings.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>

namespace fw {
class UserDefaults;
}

namespace fw::app {

class UpdateService : public QObject {
    Q_OBJECT

public:
    enum class Trigger { automatic, manual };
    enum class Outcome { updateAvailable, upToDate, failed };

    struct Result {
        Outcome outcome = Outcome::failed;
        Trigger trigger = Trigger::manual;
        UpdateItem item;  // the newer release, for updateAvailable
        QString error;    // one short sentence, for failed
    };

    struct Configuration {
        QUrl feed;
        QString currentVersion;
        UserDefaults* defaults = nullptr;  // REQUIRES: set; not owned, outlives the service
        qint64 maximumFeedBytes = 1 << 20;
        int timeout_ms = 20'000;         // for the whole transfer
        int firstCheckDelay_ms = 5'000;  // after start(), so the launch stays quick
    };

    static constexpr const char* kAutomaticallyChecksKey = "AutomaticallyChecksForUpdates";
    static constexpr const char* kReceiveBetaKey = "ReceiveBetaUpdates";
    static constexpr const char* kLastCheckKey = "LastUpdateCheckDate";  // seconds since 2001-01-01 UTC
    // Present in the environment (any value) of every test run.
    static constexpr const char* kTestHostVariable = "FW_TEST_HOST";

    // Shows what a result calls for. The default opens the dialogs; tests put their own.
    using Presenter = std::function<void(const Result&)>;

    // The one service of the application over the build-time feed and the
    // standard user defaults, made on first use.
    // REQUIRES: a QApplication exists; the service is deleted with it.
    static UpdateService& shared();

    explicit UpdateService(Configuration configuration, QObject* parent = nullptr);
    // What the Settings window and the menu use of `service()`, which is asked
    // for at each use (so the shared service is made on first use).
    static UpdateSettings settingsOf(std::function<UpdateService&()> service);
    ~UpdateService() override;

    // True when the process runs tests; read afresh on each call.
    static bool isTestHost();

    // Arms the automatic checks (the first soon after, then whenever a day
    // has passed since the last check). A second call, or any call in a test
    // run, does nothing.
    void start();
    // Checks now and reports every outcome. While a check is under way it
    // joins that check instead of starting another.
    void checkForUpdates();
    bool isChecking() const { return reply_ != nullptr; }

    bool automaticallyChecks() const;
    void setAutomaticallyChecks(bool enabled);
    bool receivesBetaUpdates() const;
    void setReceivesBetaUpdates(bool enabled);
    QString currentVersion() const { return configuration_.currentVersion; }

    void setPresenter(Presenter presenter) { presenter_ = std::move(presenter); }

private:
    void checkIfDue();
    void check(Trigger trigger);
    void readAvailable();
    // Appends what the reply holds; false once more than the bound has come.
    bool take(QNetworkReply& reply);
    void finishReply();
    void finish(Result result);
    void fail(const QString& error);

    Configuration configuration_;
    QNetworkAccessManager network_;
    QTimer dailyTimer_;
    QTimer deadline_;
    bool started_ = false;
    QPointer<QNetworkReply> reply_;
    Trigger trigger_ = Trigger::automatic;
    QByteArray received_;
    QString failure_;  // set when we abort the reply ourselves
    Presenter presenter_;
};

}  // namespace fw::app
