// The update service against feeds served on 127.0.0.1: which release it
// offers, how broken feeds end, and when it checks on its own.

#include "LoopbackHttpServer.h"
#include "app/UpdateService.h"
#include "platform/core/Date.h"
#include "platform/core/UserDefaults.h"
#include "support/TestSupport.h"

#include <QTest>

#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

using test::LoopbackHttpServer;
using Behaviour = LoopbackHttpServer::Behaviour;

std::string feedItem(const std::string& version, const std::string& channel) {
    return "<item><title>Framewright " + version + "</title><fw:version>" + version + "</fw:version>" +
           (channel.empty() ? "" : "<fw:channel>" + channel + "</fw:channel>") + "<description><![CDATA[<p>Notes for " +
           version + "</p>]]></description>" + "<link>https://framewright.io/download/" + version + "</link></item>";
}

// Stable 0.9, 1.10 and 1.4, beta 1.11, a "nightly" that is never offered and
// items that are skipped for a bad version or a bad link.
const std::string kFeed =
    "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:fw=\"https://framewright.io/xml/updates\"><channel>" +
    feedItem("0.9", "") + feedItem("1.10", "") + feedItem("1.11", "beta") + feedItem("1.4", "") +
    feedItem("9.0", "nightly") + feedItem("12.x", "") +
    "<item><fw:version>50</fw:version><link>file:///etc/passwd</link></item></channel></rss>";

// Sets or removes the test-host variable for one scope.
class TestHostScope {
public:
    explicit TestHostScope(bool testHost) : saved_(qgetenv(UpdateService::kTestHostVariable)) {
        if (testHost)
            qputenv(UpdateService::kTestHostVariable, "1");
        else
            qunsetenv(UpdateService::kTestHostVariable);
    }
    ~TestHostScope() {
        if (saved_.isNull())
            qunsetenv(UpdateService::kTestHostVariable);
        else
            qputenv(UpdateService::kTestHostVariable, saved_);
    }

private:
    QByteArray saved_;
};

struct Harness {
    test::TempDir folder;
    UserDefaults defaults{folder / "defaults.json"};
    std::vector<UpdateService::Result> shown;
    std::unique_ptr<UpdateService> service;

    UpdateService& make(const std::string& feed, const QString& version, int timeout_ms = 5000,
                        qint64 maximumBytes = 1 << 20) {
        UpdateService::Configuration configuration;
        configuration.feed = QUrl(QString::fromStdString(feed));
        configuration.currentVersion = version;
        configuration.defaults = &defaults;
        configuration.timeout_ms = timeout_ms;
        configuration.maximumFeedBytes = maximumBytes;
        configuration.firstCheckDelay_ms = 0;
        service = std::make_unique<UpdateService>(configuration);
        service->setPresenter([this](const UpdateService::Result& result) { shown.push_back(result); });
        return *service;
    }
    bool settle() {
        return QTest::qWaitFor([&] { return !service->isChecking(); }, 20'000);
    }
};

TEST(UpdateService, OffersTheNewestReleaseOfTheChosenChannels) {
    const struct {
        const char* current;
        bool beta;
        UpdateService::Outcome outcome;
        const char* offered;
    } cases[] = {
        {"1.3", false, UpdateService::Outcome::updateAvailable, "1.10"},
        {"1.3", true, UpdateService::Outcome::updateAvailable, "1.11"},
        {"1.10.0", false, UpdateService::Outcome::upToDate, ""},
        {"1.10", true, UpdateService::Outcome::updateAvailable, "1.11"},
        {"1.11", true, UpdateService::Outcome::upToDate, ""},
        {"2.0", true, UpdateService::Outcome::upToDate, ""},
    };
    LoopbackHttpServer server(Behaviour::answer, 200, "Content-Type: application/rss+xml\r\n", kFeed);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.current) + (c.beta ? " beta" : " stable"));
        Harness harness;
        UpdateService& service = harness.make(server.url("/feed.xml"), QString::fromLatin1(c.current));
        service.setReceivesBetaUpdates(c.beta);
        service.checkForUpdates();
        ASSERT_TRUE(harness.settle());
        ASSERT_EQ(harness.shown.size(), 1u);
        const UpdateService::Result& result = harness.shown[0];
        EXPECT_EQ(result.outcome, c.outcome) << result.error.toStdString();
        EXPECT_EQ(result.item.version.toStdString(), c.offered);
        if (c.outcome == UpdateService::Outcome::updateAvailable) {
            EXPECT_EQ(result.item.downloadPage.toString().toStdString(),
                      std::string("https://framewright.io/download/") + c.offered);
            EXPECT_EQ(result.item.notes.toStdString(), std::string("<p>Notes for ") + c.offered + "</p>");
        }
    }
    EXPECT_EQ(server.requests().size(), std::size(cases));
    EXPECT_EQ(server.requests()[0].target, "/feed.xml");
}

TEST(UpdateService, BrokenFeedsGiveAShortErrorWhenAskedAndNothingOnTheirOwn) {
    const std::string big = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + std::string(200'000, 'x') +
                            "</title></channel></rss>";
    const struct {
        const char* name;
        Behaviour behaviour;
        int status;
        std::string body;
        const char* error;
    } cases[] = {
        {"not XML", Behaviour::answer, 200, "this is not a feed", "could not be read"},
        {"not a feed", Behaviour::answer, 200, "<html><body><p>Hello</p></body></html>", "could not be read"},
        {"damaged XML", Behaviour::answer, 200, kFeed.substr(0, kFeed.size() - 20) + "</rss>", "could not be read"},
        {"truncated transfer", Behaviour::truncateAnswer, 200, kFeed, "cut off"},
        {"ended short of its length, closed cleanly", Behaviour::endShortCleanly, 200, kFeed, "cut off"},
        {"oversized", Behaviour::answer, 200, big, "too large"},
        {"slow", Behaviour::stallAfterBody, 200, kFeed, "did not answer in time"},
        {"missing", Behaviour::answer, 404, "<html>gone</html>", "could not be reached"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server(c.behaviour, c.status, {}, c.body);
        for (const bool automatic : {false, true}) {
            const TestHostScope scope(!automatic);
            Harness harness;
            // Only the stalled answer meets the time-out: a busy machine may take a while over the others.
            const int timeout_ms = c.behaviour == Behaviour::stallAfterBody ? 400 : 10'000;
            UpdateService& service = harness.make(server.url("/feed.xml"), "1.0", timeout_ms, 64 * 1024);
            if (automatic) {
                service.start();
                ASSERT_TRUE(QTest::qWaitFor([&] { return service.isChecking(); }, 5000));
            } else {
                service.checkForUpdates();
            }
            ASSERT_TRUE(harness.settle());
            if (automatic) {
                EXPECT_TRUE(harness.shown.empty());
                continue;
            }
            ASSERT_EQ(harness.shown.size(), 1u);
            EXPECT_EQ(harness.shown[0].outcome, UpdateService::Outcome::failed);
            EXPECT_FALSE(harness.shown[0].error.isEmpty());
            EXPECT_TRUE(harness.shown[0].error.contains(QString::fromLatin1(c.error)))
                << harness.shown[0].error.toStdString();
        }
    }
}

TEST(UpdateService, RefusesPlainHttpAndUnreachableServers) {
    int closedPort = 0;
    {
        LoopbackHttpServer gone;
        closedPort = gone.port();
    }
    for (const std::string& address : {std::string("http://update.framewright.io/feed.xml"),
                                       "http://127.0.0.1:" + std::to_string(closedPort) + "/feed.xml"}) {
        SCOPED_TRACE(address);
        Harness harness;
        harness.make(address, "1.0").checkForUpdates();
        ASSERT_TRUE(harness.settle());
        ASSERT_EQ(harness.shown.size(), 1u);
        EXPECT_EQ(harness.shown[0].outcome, UpdateService::Outcome::failed);
        EXPECT_FALSE(harness.shown[0].error.isEmpty());
    }
}

TEST(UpdateService, ChecksOnItsOwnAtMostDailyAndNeverInATestRun) {
    const double now = secondsSinceReferenceDate(std::chrono::system_clock::now());
    const struct {
        const char* name;
        bool testHost;
        bool automaticChecks;
        std::optional<double> lastCheck;
        bool checks;
    } cases[] = {
        {"test run", true, true, std::nullopt, false},
        {"automatic checks off", false, false, std::nullopt, false},
        {"checked an hour ago", false, true, now - 3600, false},
        {"checked two days ago", false, true, now - 2 * 86400, true},
        {"never checked", false, true, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server(Behaviour::answer, 200, {}, kFeed);
        const TestHostScope scope(c.testHost);
        Harness harness;
        UpdateService& service = harness.make(server.url("/feed.xml"), "1.0");
        service.setAutomaticallyChecks(c.automaticChecks);
        if (c.lastCheck) harness.defaults.set(UpdateService::kLastCheckKey, *c.lastCheck);
        service.start();
        service.start();
        if (c.checks) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !harness.shown.empty(); }, 5000));
            EXPECT_EQ(harness.shown[0].trigger, UpdateService::Trigger::automatic);
            EXPECT_EQ(harness.shown[0].item.version.toStdString(), "1.10");
            EXPECT_GE(harness.defaults.number(UpdateService::kLastCheckKey).value_or(0), now);
        } else {
            QTest::qWait(200);
        }
        EXPECT_EQ(server.requests().size(), c.checks ? 1u : 0u);
    }
}

}  // namespace
}  // namespace fw::app
