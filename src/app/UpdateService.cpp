#include "app/UpdateService.h"

#include "app/BuildInfo.h"
#include "app/UpdateDialog.h"
#include "platform/core/Date.h"
#include "platform/core/UserDefaults.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QMessageBox>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <chrono>
#include <cmath>

namespace fw::app {

namespace {

constexpr double kSecondsBetweenAutomaticChecks = 24 * 60 * 60;
constexpr std::chrono::hours kDueCheckInterval{1};

double now() { return secondsSinceReferenceDate(std::chrono::system_clock::now()); }

// Plain HTTP only to this machine (the tests' feed); everything else must be HTTPS.
bool isTrustedFeedAddress(const QUrl& feed) {
    if (feed.scheme() == QLatin1String("https")) return !feed.host().isEmpty();
    if (feed.scheme() != QLatin1String("http")) return false;
    return feed.host() == QLatin1String("localhost") || QHostAddress(feed.host()).isLoopback();
}

// Whether the body ended before the length the server announced. Qt ends a
// transfer whose server closed early with an error, but not always: when it
// takes the close in its own time, it finishes the answer as one of no stated
// length. A compressed body is counted after inflating, so only a plain one
// can be compared.
bool endedShortOfItsLength(const QNetworkReply& reply, qint64 received) {
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    return length.isValid() && (encoding.isEmpty() || encoding == "identity") && received < length.toLongLong();
}

void presentWithDialogs(const UpdateService::Result& result, const QString& currentVersion) {
    if (result.outcome == UpdateService::Outcome::updateAvailable) {
        auto* dialog = new UpdateDialog(result.item, currentVersion);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
        return;
    }
    const bool upToDate = result.outcome == UpdateService::Outcome::upToDate;
    auto* box = new QMessageBox(upToDate ? QMessageBox::Information : QMessageBox::Warning,
                                QCoreApplication::translate("UpdateService", "Check for Updates"),
                                upToDate ? QCoreApplication::translate("UpdateService", "You’re up to date!")
                                         : QCoreApplication::translate("UpdateService", "Couldn’t check for updates."));
    box->setInformativeText(upToDate ? QCoreApplication::translate(
                                           "UpdateService", "Framewright %1 is currently the newest version available.")
                                           .arg(currentVersion)
                                     : result.error);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

}  // namespace

UpdateService& UpdateService::shared() {
    static UpdateService* const instance = [] {
        Configuration configuration;
        configuration.feed = QUrl(updateFeedAddress());
        configuration.currentVersion = applicationVersion();
        configuration.defaults = &UserDefaults::standard();
        return new UpdateService(std::move(configuration), QCoreApplication::instance());
    }();
    return *instance;
}

UpdateService::UpdateService(Configuration configuration, QObject* parent)
    : QObject(parent), configuration_(std::move(configuration)) {
    if (!isReadableVersion(configuration_.currentVersion)) configuration_.currentVersion = QStringLiteral("0");
    dailyTimer_.setInterval(kDueCheckInterval);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { fail(tr("The update server did not answer in time.")); });
    connect(&dailyTimer_, &QTimer::timeout, this, &UpdateService::checkIfDue);
}

UpdateService::~UpdateService() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

bool UpdateService::isTestHost() { return qEnvironmentVariableIsSet(kTestHostVariable); }

void UpdateService::start() {
    if (started_ || isTestHost()) return;
    started_ = true;
    dailyTimer_.start();
    QTimer::singleShot(configuration_.firstCheckDelay_ms, this, &UpdateService::checkIfDue);
}

void UpdateService::checkForUpdates() { check(Trigger::manual); }

bool UpdateService::automaticallyChecks() const {
    return configuration_.defaults->boolean(kAutomaticallyChecksKey).value_or(true);
}

void UpdateService::setAutomaticallyChecks(bool enabled) {
    configuration_.defaults->set(kAutomaticallyChecksKey, enabled);
}

UpdateSettings UpdateService::settingsOf(std::function<UpdateService&()> service) {
    return UpdateSettings{
        [service] { return service().currentVersion(); },
        [service] { return service().automaticallyChecks(); },
        [service](bool on) { service().setAutomaticallyChecks(on); },
        [service] { return service().receivesBetaUpdates(); },
        [service](bool on) { service().setReceivesBetaUpdates(on); },
        [service] { service().checkForUpdates(); },
    };
}

bool UpdateService::receivesBetaUpdates() const {
    return configuration_.defaults->boolean(kReceiveBetaKey).value_or(false);
}

void UpdateService::setReceivesBetaUpdates(bool enabled) { configuration_.defaults->set(kReceiveBetaKey, enabled); }

void UpdateService::checkIfDue() {
    if (!automaticallyChecks()) return;
    // A clock set back counts as due, so a wrong date cannot stop the checks for good.
    const std::optional<double> last = configuration_.defaults->number(kLastCheckKey);
    if (last && std::abs(now() - *last) < kSecondsBetweenAutomaticChecks) return;
    check(Trigger::automatic);
}

void UpdateService::check(Trigger trigger) {
    if (reply_) {
        if (trigger == Trigger::manual) trigger_ = Trigger::manual;
        return;
    }
    trigger_ = trigger;
    received_.clear();
    failure_.clear();
    configuration_.defaults->set(kLastCheckKey, now());
    if (!isTrustedFeedAddress(configuration_.feed)) {
        finish({Outcome::failed, trigger, {}, tr("The update feed address is not secure.")});
        return;
    }
    QNetworkRequest request(configuration_.feed);
    request.setTransferTimeout(configuration_.timeout_ms);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Framewright/%1").arg(configuration_.currentVersion));
    reply_ = network_.get(request);
    connect(reply_, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = reply_ ? reply_->header(QNetworkRequest::ContentLengthHeader) : QVariant();
        if (length.isValid() && length.toLongLong() > configuration_.maximumFeedBytes)
            fail(tr("The update feed is too large."));
    });
    connect(reply_, &QNetworkReply::readyRead, this, &UpdateService::readAvailable);
    connect(reply_, &QNetworkReply::finished, this, &UpdateService::finishReply);
    // The transfer time-out only notices silence; this bounds a feed that trickles in.
    deadline_.start(configuration_.timeout_ms);
}

void UpdateService::readAvailable() {
    if (reply_ && failure_.isEmpty() && !take(*reply_)) fail(tr("The update feed is too large."));
}

bool UpdateService::take(QNetworkReply& reply) {
    // Reading one byte past the bound is enough to know the feed is too large.
    while (reply.bytesAvailable() > 0) {
        received_ += reply.read(configuration_.maximumFeedBytes + 1 - received_.size());
        if (received_.size() > configuration_.maximumFeedBytes) return false;
    }
    return true;
}

void UpdateService::fail(const QString& error) {
    if (!failure_.isEmpty() || !reply_) return;
    failure_ = error;
    reply_->abort();  // emits finished(), which reports failure_
}

void UpdateService::finishReply() {
    if (!reply_) return;
    deadline_.stop();
    QNetworkReply* const reply = reply_;
    reply_ = nullptr;
    reply->disconnect(this);
    reply->deleteLater();
    if (failure_.isEmpty() && !take(*reply)) failure_ = tr("The update feed is too large.");

    const Trigger trigger = trigger_;
    const auto failed = [&](const QString& error) { finish({Outcome::failed, trigger, {}, error}); };
    if (!failure_.isEmpty()) return failed(failure_);
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
        return failed(tr("The update server did not answer in time."));
    if (error == QNetworkReply::RemoteHostClosedError ||
        (error == QNetworkReply::NoError && endedShortOfItsLength(*reply, received_.size())))
        return failed(tr("The connection to the update server was cut off."));
    if (error != QNetworkReply::NoError) return failed(tr("The update server could not be reached."));
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return failed(tr("The update server could not provide the update feed."));

    const std::optional<UpdateFeed> feed = UpdateFeed::parse(received_);
    received_.clear();
    if (!feed) return failed(tr("The update feed could not be read."));
    const std::optional<UpdateItem> newest = feed->newest(receivesBetaUpdates());
    if (newest && compareVersions(newest->version, configuration_.currentVersion) > 0)
        return finish({Outcome::updateAvailable, trigger, *newest, {}});
    finish({Outcome::upToDate, trigger, {}, {}});
}

void UpdateService::finish(Result result) {
    // Automatic checks stay silent unless there is something to offer.
    if (result.trigger == Trigger::automatic && result.outcome != Outcome::updateAvailable) return;
    if (presenter_)
        presenter_(result);
    else
        presentWithDialogs(result, configuration_.currentVersion);
}

}  // namespace fw::app
