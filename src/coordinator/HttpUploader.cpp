#include "coordinator/HttpUploader.h"

#include "coordinator/PublishRequest.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <memory>

namespace fw {

namespace {

struct ReplyDeleter {
    void operator()(QNetworkReply* reply) const { reply->deleteLater(); }
};

QNetworkRequest makeRequest(const std::string& target, const std::optional<std::string>& authorization, qint64 bodySize,
                            std::chrono::milliseconds idleTimeout) {
    QNetworkRequest request(QUrl(QString::fromStdString(target), QUrl::StrictMode));
    // A redirect could carry the body and the credentials elsewhere.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(static_cast<int>(idleTimeout.count()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, bodySize);
    if (authorization) request.setRawHeader("Authorization", QByteArray::fromStdString(*authorization));
    return request;
}

}  // namespace

std::optional<std::string> HttpUploader::upload(const std::filesystem::path& file, const PublishSettings& settings,
                                                const std::optional<std::string>& secret, std::stop_token stop) {
    if (!settings.isConfigured()) return std::string(kNotConfiguredMessage);
    const auto target = publishTargetURL(settings.endpoint, file.filename().string());
    if (!target) return std::string(kBadEndpointMessage);
    const auto authorization = authorizationHeader(settings, secret);
    if (auto refusal = credentialRefusal(*target, authorization)) return refusal;
    if (stop.stop_requested()) return std::string(kUploadCancelledMessage);

    std::error_code error;
    // Opened by its bytes: a name that is no UTF-8 (Latin-1) names another file as a QString.
    const int descriptor =
        std::filesystem::is_regular_file(file, error) ? ::open(file.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    QFile body;
    if (descriptor < 0 || !body.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (descriptor >= 0) ::close(descriptor);
        return std::string(kUnreadableFileMessage);
    }

    QNetworkAccessManager network;
    const QNetworkRequest request = makeRequest(*target, authorization, body.size(), idleTimeout_);
    // Qt reads the device in chunks as the socket drains: memory stays flat.
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(
        settings.method == PublishSettings::Method::post ? network.post(request, &body) : network.put(request, &body));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    std::atomic<bool> cancelled = false;
    {
        // Destroyed before the reply: abort never reaches a deleted object.
        QNetworkReply* const abortable = reply.get();
        std::stop_callback onStop(stop, [&cancelled, abortable] {
            cancelled = true;
            QMetaObject::invokeMethod(abortable, &QNetworkReply::abort, Qt::QueuedConnection);
        });
        if (!reply->isFinished()) loop.exec();
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (cancelled) return std::string(kUploadCancelledMessage);
    if (status.isValid()) {
        const int code = status.toInt();
        if (code >= 200 && code <= 299) return std::nullopt;
        return httpStatusMessage(code);
    }
    switch (reply->error()) {
    case QNetworkReply::NoError: return httpStatusMessage(-1);  // answered, but not in HTTP
    case QNetworkReply::OperationCanceledError:                 // Qt's name for the transfer time-out
    case QNetworkReply::TimeoutError: return std::string(kUploadTimedOutMessage);
    default: return reply->errorString().toStdString();
    }
}

}  // namespace fw
