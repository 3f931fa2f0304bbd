#pragma once
// The update feed: an RSS 2.0 document whose items each announce one release.
//
//   <rss version="2.0" xmlns:fw="https://framewright.io/xml/updates">
//     <channel>
//       <item>
//         <title>Framewright 1.2</title>
//         <fw:version>1.2</fw:version>        dotted numbers, compared numerically
//         <fw:channel>beta</fw:channel>       optional; absent for stable releases
//         <description>notes</description>    plain text or HTML
//         <link>https://…</link>              the release's download page
//       </item>
//     </channel>
//   </rss>
//
// An item without a readable version or an http(s) link is skipped; anything
// that is not such a document is rejected whole. Pure functions, any thread.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

namespace fw::app {

struct UpdateItem {
    QString title;
    QString version;
    QString channel;  // empty for stable releases
    QString notes;
    QUrl downloadPage;
};

struct UpdateFeed {
    static constexpr const char* kNamespace = "https://framewright.io/xml/updates";
    static constexpr const char* kBetaChannel = "beta";

    std::vector<UpdateItem> items;

    // nullopt when the document is not well-formed XML or has no <rss><channel>.
    static std::optional<UpdateFeed> parse(const QByteArray& document);

    // The item with the highest version among stable ones and, when
    // `includeBeta`, beta ones; other channels are never offered.
    std::optional<UpdateItem> newest(bool includeBeta) const;
};

// Numeric comparison of dotted versions, missing components counting as 0
// ("1.2" == "1.2.0" < "1.10"). Negative, zero or positive like strcmp.
// REQUIRES: both are readable (isReadableVersion).
int compareVersions(const QString& left, const QString& right);
// One to four dot-separated groups of one to nine digits.
bool isReadableVersion(const QString& version);

}  // namespace fw::app
