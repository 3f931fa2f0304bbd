#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for upload tests, on plain sockets and
// a thread of its own, so it shares nothing with the client under test. It
// answers each request with a fixed status, or stalls to let a time-out or a
// cancellation happen. Bodies are kept up to a limit; past it the server
// only counts bytes and checks that they are zero (sparse files). An answer
// may carry a body, or announce it whole and send only half (truncateAnswer),
// or send half as a chunked body complete in itself, which an HTTP client
// finishes without an error though the length announced is not met
// (endShortCleanly).

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fw::test {

struct ReceivedRequest {
    std::string method;
    std::string target;
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;                            // the first keptBodyBytes bytes
    std::uint64_t bodySize = 0;
    bool bodyPastKeptIsZero = true;
    bool bodyComplete = false;
};

class LoopbackHttpServer {
public:
    enum class Behaviour { answer, stallAfterBody, stallMidBody, truncateAnswer, endShortCleanly };

    explicit LoopbackHttpServer(Behaviour behaviour = Behaviour::answer, int status = 201,
                                std::string extraHeaders = {}, std::string answerBody = {});
    ~LoopbackHttpServer();

    int port() const { return port_; }
    std::string url(const std::string& path) const;  // "http://127.0.0.1:<port><path>"
    std::vector<ReceivedRequest> requests() const;
    std::size_t keptBodyBytes = 4 << 20;

private:
    void serve();
    void handle(int connection);
    bool waitReadable(int descriptor) const;

    Behaviour behaviour_;
    int status_;
    std::string extraHeaders_;
    std::string answerBody_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_ = false;
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
    std::thread thread_;
};

}  // namespace fw::test
