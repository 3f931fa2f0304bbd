#include "app/UpdateFeed.h"

#include <QXmlStreamReader>

#include <charconv>

namespace fw::app {

namespace {

constexpr int kMaximumVersionGroups = 4;
constexpr int kMaximumGroupDigits = 9;

std::vector<long> versionGroups(const QString& version) {
    std::vector<long> groups;
    for (const QString& group : version.split(QLatin1Char('.'))) {
        const QByteArray digits = group.toLatin1();
        long value = 0;
        groups.push_back(std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc() ? value
                                                                                                                : 0);
    }
    return groups;
}

bool isDownloadPage(const QUrl& url) {
    return url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")) &&
           !url.host().isEmpty();
}

// Reads one <item>; the reader stands on its start element.
UpdateItem readItem(QXmlStreamReader& reader) {
    UpdateItem item;
    while (reader.readNextStartElement()) {
        const bool ours = reader.namespaceUri() == QLatin1String(UpdateFeed::kNamespace);
        const bool plain = reader.namespaceUri().isEmpty();
        const auto name = reader.name();
        if (ours && name == QLatin1String("version"))
            item.version = reader.readElementText().trimmed();
        else if (ours && name == QLatin1String("channel"))
            item.channel = reader.readElementText().trimmed();
        else if (plain && name == QLatin1String("title"))
            item.title = reader.readElementText().trimmed();
        else if (plain && name == QLatin1String("description"))
            item.notes = reader.readElementText().trimmed();
        else if (plain && name == QLatin1String("link"))
            item.downloadPage = QUrl(reader.readElementText().trimmed(), QUrl::StrictMode);
        else
            reader.skipCurrentElement();
    }
    return item;
}

}  // namespace

bool isReadableVersion(const QString& version) {
    const QStringList groups = version.split(QLatin1Char('.'));
    if (groups.size() > kMaximumVersionGroups) return false;
    for (const QString& group : groups) {
        if (group.isEmpty() || group.size() > kMaximumGroupDigits) return false;
        for (const QChar c : group)
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    }
    return true;
}

int compareVersions(const QString& left, const QString& right) {
    std::vector<long> a = versionGroups(left);
    std::vector<long> b = versionGroups(right);
    const std::size_t count = std::max(a.size(), b.size());
    a.resize(count, 0);
    b.resize(count, 0);
    for (std::size_t i = 0; i < count; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

std::optional<UpdateFeed> UpdateFeed::parse(const QByteArray& document) {
    QXmlStreamReader reader(document);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("rss")) return std::nullopt;
    UpdateFeed feed;
    bool sawChannel = false;
    while (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("channel") || !reader.namespaceUri().isEmpty()) {
            reader.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (reader.readNextStartElement()) {
            if (reader.name() != QLatin1String("item") || !reader.namespaceUri().isEmpty()) {
                reader.skipCurrentElement();
                continue;
            }
            UpdateItem item = readItem(reader);
            if (isReadableVersion(item.version) && isDownloadPage(item.downloadPage))
                feed.items.push_back(std::move(item));
        }
    }
    // Reading on to the end catches damage after </rss> and a cut-off document.
    while (!reader.atEnd()) reader.readNext();
    if (reader.hasError() || !sawChannel) return std::nullopt;
    return feed;
}

std::optional<UpdateItem> UpdateFeed::newest(bool includeBeta) const {
    const UpdateItem* best = nullptr;
    for (const UpdateItem& item : items) {
        const bool allowed = item.channel.isEmpty() || (includeBeta && item.channel == QLatin1String(kBetaChannel));
        if (allowed && (!best || compareVersions(item.version, best->version) > 0)) best = &item;
    }
    if (!best) return std::nullopt;
    return *best;
}

}  // namespace fw::app
