#include "coordinator/PublishSettings.h"

#include <QString>
#include <QUrl>

namespace fw {

bool PublishSettings::isConfigured() const {
    const QUrl url(QString::fromStdString(endpoint), QUrl::StrictMode);
    if (!url.isValid()) return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

std::string_view rawValue(PublishSettings::Method method) {
    switch (method) {
    case PublishSettings::Method::put: return "PUT";
    case PublishSettings::Method::post: return "POST";
    }
    return "";
}

std::string_view rawValue(PublishSettings::Auth auth) {
    switch (auth) {
    case PublishSettings::Auth::none: return "None";
    case PublishSettings::Auth::basic: return "Basic";
    case PublishSettings::Auth::bearer: return "Bearer token";
    }
    return "";
}

}  // namespace fw
