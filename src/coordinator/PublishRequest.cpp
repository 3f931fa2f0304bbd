#include "coordinator/PublishRequest.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QUrl>

#include <charconv>

namespace fw {

namespace {

std::optional<QUrl> parsedEndpoint(std::string_view endpoint) {
    const QUrl url(QString::fromUtf8(endpoint.data(), static_cast<qsizetype>(endpoint.size())), QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty()) return std::nullopt;
    return url;
}

}  // namespace

std::optional<std::string> publishTargetURL(std::string_view endpoint, std::string_view fileName) {
    auto url = parsedEndpoint(endpoint);
    if (!url) return std::nullopt;
    if (!endpointNamesEachFile(endpoint)) return url->toString(QUrl::FullyEncoded).toStdString();
    // The name is one segment: a "/" or "?" inside it must not start another.
    // Percent-encoded byte for byte: a name that is no UTF-8 keeps its bytes.
    const QByteArray segment = QByteArray(fileName.data(), static_cast<qsizetype>(fileName.size())).toPercentEncoding();
    url->setPath(url->path(QUrl::FullyEncoded) + QString::fromLatin1(segment), QUrl::StrictMode);
    if (!url->isValid()) return std::nullopt;
    return url->toString(QUrl::FullyEncoded).toStdString();
}

bool endpointNamesEachFile(std::string_view endpoint) { return endpoint.ends_with('/'); }

std::optional<std::string> authorizationHeader(const PublishSettings& settings,
                                               const std::optional<std::string>& secret) {
    const std::string text = secret.value_or("");
    switch (settings.auth) {
    case PublishSettings::Auth::none: return std::nullopt;
    case PublishSettings::Auth::basic: {
        const QByteArray pair = QByteArray::fromStdString(settings.username + ":" + text);
        return "Basic " + pair.toBase64().toStdString();
    }
    case PublishSettings::Auth::bearer: return "Bearer " + text;
    }
    return std::nullopt;
}

bool carriesCredentialsSafely(std::string_view targetURL) {
    const auto url = parsedEndpoint(targetURL);
    if (!url) return false;
    const QString scheme = url->scheme().toLower();
    if (scheme == QLatin1String("https")) return true;
    if (scheme != QLatin1String("http")) return false;
    const QString host = url->host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool addressCarriesCredentials(std::string_view targetURL) {
    const auto url = parsedEndpoint(targetURL);
    return url && (!url->userName().isEmpty() || !url->password().isEmpty());
}

std::optional<std::string> credentialRefusal(std::string_view targetURL,
                                             const std::optional<std::string>& authorization) {
    if (carriesCredentialsSafely(targetURL)) return std::nullopt;
    if (addressCarriesCredentials(targetURL)) return std::string(kCredentialsInAddressMessage);
    if (authorization) return std::string(kInsecureCredentialsMessage);
    return std::nullopt;
}

std::string httpStatusMessage(int status) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, status).ptr;
    return "Upload failed (HTTP " + std::string(digits, end) + ").";
}

}  // namespace fw
