#include "LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <stdexcept>

namespace fw::test {

LoopbackHttpServer::LoopbackHttpServer(Behaviour behaviour, int status, std::string extraHeaders,
                                       std::string answerBody)
    : behaviour_(behaviour),
      status_(status),
      extraHeaders_(std::move(extraHeaders)),
      answerBody_(std::move(answerBody)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

std::string LoopbackHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<ReceivedRequest> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackHttpServer::waitReadable(int descriptor) const {
    pollfd entry{descriptor, POLLIN, 0};
    while (!stopping_)
        if (::poll(&entry, 1, 20) > 0) return true;
    return false;
}

void LoopbackHttpServer::serve() {
    while (waitReadable(listener_)) {
        const int connection = ::accept(listener_, nullptr, nullptr);
        if (connection < 0) continue;
        handle(connection);
        ::close(connection);
    }
}

void LoopbackHttpServer::handle(int connection) {
    std::string head;
    std::vector<char> buffer(1 << 16);
    std::size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos) {
        if (!waitReadable(connection)) return;
        const auto got = ::recv(connection, buffer.data(), buffer.size(), 0);
        if (got <= 0) return;
        head.append(buffer.data(), static_cast<std::size_t>(got));
        headEnd = head.find("\r\n\r\n");
    }
    ReceivedRequest request;
    const std::string rest = head.substr(headEnd + 4);
    head.resize(headEnd + 2);
    // The request line, then "Name: value" lines, each ended by CRLF.
    for (std::size_t start = 0, end; (end = head.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = head.substr(start, end - start);
        if (start == 0) {
            request.method = line.substr(0, line.find(' '));
            request.target = line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
            continue;
        }
        const auto colon = line.find(':');
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        request.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    std::uint64_t expected = 0;
    const std::string& length = request.headers["content-length"];
    std::from_chars(length.data(), length.data() + length.size(), expected);

    const auto take = [&](const char* bytes, std::size_t count) {
        request.bodySize += count;
        const std::size_t keep = std::min(count, keptBodyBytes - std::min(keptBodyBytes, request.body.size()));
        request.body.append(bytes, keep);
        if (std::any_of(bytes + keep, bytes + count, [](char c) { return c != 0; })) request.bodyPastKeptIsZero = false;
    };
    take(rest.data(), rest.size());
    while (request.bodySize < expected && !(behaviour_ == Behaviour::stallMidBody && request.bodySize >= (1u << 20)) &&
           waitReadable(connection)) {
        const auto got = ::recv(connection, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        take(buffer.data(), static_cast<std::size_t>(got));
    }
    request.bodyComplete = request.bodySize == expected;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    if (behaviour_ == Behaviour::stallAfterBody || behaviour_ == Behaviour::stallMidBody) {
        // Silent until the client gives up and closes.
        pollfd entry{connection, POLLRDHUP, 0};
        while (!stopping_ && ::poll(&entry, 1, 20) == 0) {}
        return;
    }
    const bool cut = behaviour_ == Behaviour::truncateAnswer || behaviour_ == Behaviour::endShortCleanly;
    const std::size_t sent = cut ? answerBody_.size() / 2 : answerBody_.size();
    std::string answer = "HTTP/1.1 " + std::to_string(status_) +
                         " Status\r\nContent-Length: " + std::to_string(answerBody_.size()) + "\r\n" + extraHeaders_ +
                         "Connection: close\r\n";
    if (behaviour_ == Behaviour::endShortCleanly) {
        // One chunk and the last one: whole by its own framing.
        std::array<char, 16> size{};
        const auto end = std::to_chars(size.data(), size.data() + size.size(), sent, 16).ptr;
        answer += "Transfer-Encoding: chunked\r\n\r\n" + std::string(size.data(), end) + "\r\n" +
                  answerBody_.substr(0, sent) + "\r\n0\r\n\r\n";
    } else {
        answer += "\r\n" + answerBody_.substr(0, sent);
    }
    for (std::size_t offset = 0; offset < answer.size();) {
        const auto put = ::send(connection, answer.data() + offset, answer.size() - offset, MSG_NOSIGNAL);
        if (put <= 0) break;
        offset += static_cast<std::size_t>(put);
    }
}

}  // namespace fw::test
