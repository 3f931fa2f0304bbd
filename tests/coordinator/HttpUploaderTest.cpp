// Uploads against a real HTTP server on 127.0.0.1: what goes over the wire
// (method, target, exact headers, the body byte for byte) and how every kind
// of answer, a stall and a cancellation end.

#include "LoopbackHttpServer.h"
#include "coordinator/HttpUploader.h"
#include "coordinator/PublishRequest.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QNetworkProxy>

#include <sys/resource.h>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>

namespace fw::test {
namespace {

using namespace std::chrono_literals;

std::string randomBytes(std::size_t count) {
    std::mt19937 generator(17);
    std::string bytes(count, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator());
    return bytes;
}

std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// As the coordinator calls it: on a worker thread of its own.
std::optional<std::string> uploadOnWorker(HttpUploader uploader, const std::filesystem::path& file,
                                          const PublishSettings& settings, const std::optional<std::string>& secret,
                                          std::stop_token stop = {}) {
    std::optional<std::string> result;
    std::thread([&] { result = uploader.upload(file, settings, secret, stop); }).join();
    return result;
}

PublishSettings settingsFor(std::string endpoint, PublishSettings::Method method = PublishSettings::Method::put,
                            PublishSettings::Auth auth = PublishSettings::Auth::none, std::string username = {}) {
    PublishSettings settings;
    settings.endpoint = std::move(endpoint);
    settings.method = method;
    settings.auth = auth;
    settings.username = std::move(username);
    return settings;
}

TEST(HttpUploader, SendsMethodTargetHeadersAndBodyExactly) {
    using M = PublishSettings::Method;
    using A = PublishSettings::Auth;
    struct Case {
        M method;
        A auth;
        std::string username;
        std::optional<std::string> secret;
        std::string endpointPath, expectedTarget;
        std::optional<std::string> expectedAuthorization;
    };
    const Case cases[] = {{M::put, A::none, "", "ignored", "/dav/", "/dav/a%20b%23%E9.mov", std::nullopt},
                          {M::post, A::basic, "ann", "s3cr\xC3\xA9t", "/in?sig=a%2Fb&x=1", "/in?sig=a%2Fb&x=1",
                           "Basic " + std::string("YW5uOnMzY3LDqXQ=")},
                          {M::put, A::basic, "ann", std::nullopt, "/dav/", "/dav/a%20b%23%E9.mov", "Basic YW5uOg=="},
                          {M::put, A::bearer, "", "tok.en", "/object", "/object", "Bearer tok.en"},
                          {M::post, A::bearer, "", std::nullopt, "/object", "/object", "Bearer "}};
    TempDir folder;
    const std::string bytes = randomBytes(300'007);
    const auto file = writeFile(folder / "a b#\xe9.mov", bytes);  // Latin-1: opened and named by its bytes
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endpointPath + " " + std::string(rawValue(c.auth)));
        LoopbackHttpServer server;
        EXPECT_EQ(uploadOnWorker(HttpUploader(), file,
                                 settingsFor(server.url(c.endpointPath), c.method, c.auth, c.username), c.secret),
                  std::nullopt);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        const ReceivedRequest& request = requests[0];
        EXPECT_EQ(request.method, rawValue(c.method));
        EXPECT_EQ(request.target, c.expectedTarget);
        EXPECT_EQ(request.headers.at("content-type"), "application/octet-stream");
        EXPECT_EQ(
            request.headers.count("authorization") ? std::optional(request.headers.at("authorization")) : std::nullopt,
            c.expectedAuthorization);
        EXPECT_TRUE(request.body == bytes);
    }
}

TEST(HttpUploader, StatusClassesAndRedirectsEndAsTheirCode) {
    TempDir folder;
    const auto file = writeFile(folder / "a.mov", "abc");
    // Redirects are not followed: the body and any credentials stay with the first host.
    const std::pair<int, const char*> cases[] = {{200, ""},
                                                 {204, ""},
                                                 {299, ""},
                                                 {301, "Location: http://127.0.0.1:1/elsewhere\r\n"},
                                                 {307, "Location: /elsewhere\r\n"},
                                                 {300, ""},
                                                 {404, ""},
                                                 {503, ""}};
    for (const auto& [status, extraHeaders] : cases) {
        SCOPED_TRACE(status);
        LoopbackHttpServer server(LoopbackHttpServer::Behaviour::answer, status, extraHeaders);
        EXPECT_EQ(uploadOnWorker(HttpUploader(), file, settingsFor(server.url("/up/")), "x"),
                  status < 300 ? std::nullopt : std::optional("Upload failed (HTTP " + std::to_string(status) + ")."));
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

TEST(HttpUploader, RefusesBeforeSendingAnything) {
    using A = PublishSettings::Auth;
    TempDir folder;
    const auto file = writeFile(folder / "a.mov", "abc");
    LoopbackHttpServer server;
    const std::string port = std::to_string(server.port());
    struct Case {
        PublishSettings settings;
        std::filesystem::path file;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        // Credentials in clear text to another machine.
        {settingsFor("http://192.0.2.1/up/", PublishSettings::Method::put, A::bearer), file,
         std::string(kInsecureCredentialsMessage)},
        {settingsFor("http://example.invalid/up/", PublishSettings::Method::put, A::basic, "u"), file,
         std::string(kInsecureCredentialsMessage)},
        {settingsFor("ftp://127.0.0.1/up/"), file, std::string(kNotConfiguredMessage)},
        {settingsFor(server.url("/up/")), folder / "missing.mov", std::string(kUnreadableFileMessage)},
        {settingsFor(server.url("/up/")), folder.path(), std::string(kUnreadableFileMessage)},
        // Loopback by name is this machine.
        {settingsFor("http://localhost:" + port + "/up/", PublishSettings::Method::put, A::bearer), file,
         std::nullopt}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings.endpoint);
        EXPECT_EQ(uploadOnWorker(HttpUploader(), c.file, c.settings, "secret"), c.message);
    }
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(HttpUploader, CredentialsAnywhereAreRefusedOnlyInClearTextToAnotherMachine) {
    const std::optional<std::string> header = "Bearer t", none;
    const std::string inAddress(kCredentialsInAddressMessage), inHeader(kInsecureCredentialsMessage);
    const std::tuple<const char*, std::optional<std::string>, std::optional<std::string>> cases[] = {
        {"https://ann:pw@media.invalid/up/", none, std::nullopt},
        {"https://media.invalid/up/", header, std::nullopt},
        {"http://ann:pw@localhost:8080/up/", header, std::nullopt},
        {"http://ann:pw@[::1]/up/", none, std::nullopt},
        {"http://ann:pw@127.8.0.1/up/", none, std::nullopt},
        {"http://media.invalid/up/", none, std::nullopt},
        {"http://ann@media.invalid/up/", none, inAddress},
        {"http://:pw@media.invalid/up/", header, inAddress},
        {"http://media.invalid/up/", header, inHeader},
        {"http://localhost.media.invalid/up/", header, inHeader}};
    for (const auto& [url, authorization, refusal] : cases)
        EXPECT_EQ(credentialRefusal(url, authorization), refusal) << url;
}

// Every connection of this process goes to `proxy` while it lives: a request
// for any host, named or not, lands there instead of being looked up.
class ProxyEverything {
public:
    explicit ProxyEverything(const LoopbackHttpServer& proxy) {
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", static_cast<quint16>(proxy.port())));
    }
    ~ProxyEverything() { QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy)); }
    ProxyEverything(const ProxyEverything&) = delete;
    ProxyEverything& operator=(const ProxyEverything&) = delete;
};

// A user name or password typed into the address is a credential too: in
// clear text only to this machine, and never after a redirect.
TEST(HttpUploader, CredentialsInTheAddressTravelOnlyToThisMachine) {
    using A = PublishSettings::Auth;
    TempDir folder;
    const auto file = writeFile(folder / "a.mov", "abc");
    {
        LoopbackHttpServer server;
        const std::string address = "http://ann:pw@127.0.0.1:" + std::to_string(server.port()) + "/up/";
        EXPECT_EQ(uploadOnWorker(HttpUploader(), file, settingsFor(address), {}), std::nullopt);
        EXPECT_EQ(server.requests().size(), 1u);
    }
    {
        // Redirected to another port of this machine: neither the header nor the address's pair follow.
        LoopbackHttpServer elsewhere;
        for (const A auth : {A::none, A::basic}) {
            LoopbackHttpServer server(LoopbackHttpServer::Behaviour::answer, 307,
                                      "Location: " + elsewhere.url("/taken") + "\r\n");
            const std::string address = "http://ann:pw@127.0.0.1:" + std::to_string(server.port()) + "/up/";
            EXPECT_EQ(uploadOnWorker(HttpUploader(), file,
                                     settingsFor(address, PublishSettings::Method::put, auth, "bo"), "secret"),
                      "Upload failed (HTTP 307).");
            EXPECT_EQ(server.requests().size(), 1u);
        }
        EXPECT_TRUE(elsewhere.requests().empty());
    }
    // Any attempt to reach another machine would arrive at this proxy.
    LoopbackHttpServer proxy;
    const ProxyEverything everything(proxy);
    const std::pair<std::string, A> refused[] = {{"http://ann:pw@media.invalid/up/", A::none},
                                                 {"http://ann@media.invalid/up/", A::none},
                                                 {"http://:pw@media.invalid/object?sig=1", A::none},
                                                 {"HTTP://ann:pw@192.0.2.1/up/", A::basic}};
    for (const auto& [address, auth] : refused) {
        SCOPED_TRACE(address);
        EXPECT_EQ(
            uploadOnWorker(HttpUploader(), file, settingsFor(address, PublishSettings::Method::post, auth, "bo"), {}),
            std::string(kCredentialsInAddressMessage));
    }
    EXPECT_TRUE(proxy.requests().empty());
}

TEST(HttpUploader, StalledServerTimesOut) {
    TempDir folder;
    LoopbackHttpServer server(LoopbackHttpServer::Behaviour::stallAfterBody);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(
        uploadOnWorker(HttpUploader(300ms), writeFile(folder / "a.mov", "abc"), settingsFor(server.url("/up/")), {}),
        std::string(kUploadTimedOutMessage));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST(HttpUploader, StopEndsTheTransferMidBody) {
    TempDir folder;
    const auto file = writeFile(folder / "big.mov", "");
    std::filesystem::resize_file(file, std::uintmax_t{256} << 20);
    LoopbackHttpServer server(LoopbackHttpServer::Behaviour::stallMidBody);
    std::stop_source stop;
    std::jthread canceller([&](std::stop_token done) {
        // The server records the request once a mebibyte of body has come, and then stalls.
        while (!done.stop_requested() && server.requests().empty()) std::this_thread::sleep_for(5ms);
        stop.request_stop();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(uploadOnWorker(HttpUploader(), file, settingsFor(server.url("/up/")), {}, stop.get_token()),
              std::string(kUploadCancelledMessage));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_FALSE(server.requests()[0].bodyComplete);
}

long peakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(HttpUploader, LargeSparseFileStreamsWithFlatMemory) {
    TempDir folder;
    // Beyond any 32-bit length, and far beyond what holding the body would leave unnoticed.
    constexpr std::uintmax_t kSize = std::uintmax_t{2} << 30;
    const auto file = writeFile(folder / "huge.mov", "head");
    std::filesystem::resize_file(file, kSize);
    LoopbackHttpServer server;
    server.keptBodyBytes = 4;
    const long before = peakResidentKilobytes();
    EXPECT_EQ(uploadOnWorker(HttpUploader(), file, settingsFor(server.url("/up/")), {}), std::nullopt);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bodySize, kSize);
    EXPECT_EQ(requests[0].body, "head");
    EXPECT_TRUE(requests[0].bodyPastKeptIsZero);
    // Peak growth well under the file: the body was never held whole.
    EXPECT_LT(peakResidentKilobytes() - before, 64 * 1024);
}

}  // namespace
}  // namespace fw::test
