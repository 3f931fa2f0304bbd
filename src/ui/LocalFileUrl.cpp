#include "ui/LocalFileUrl.h"

#include <QByteArray>
#include <QFile>

#include <string_view>
#include <system_error>

namespace fw::ui {

std::filesystem::path localFilePath(const QUrl& url) {
    if (!url.isLocalFile()) return {};
    // A share named by its host ("//server/clips") is Qt's to spell.
    if (!url.host().isEmpty()) return QFile::encodeName(url.toLocalFile()).toStdString();
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.contains('\0')) return {};
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

QUrl localFileUrl(const std::filesystem::path& path) {
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(path, error).native();
    const QByteArray bytes(absolute.data(), qsizetype(absolute.size()));
    return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

bool nameLostInText(const std::filesystem::path& path) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::not_found &&
           path.native().find(kReplacement) != std::string::npos;
}

}  // namespace fw::ui
