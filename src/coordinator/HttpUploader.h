#pragma once
// Publishing over HTTP(S) with Qt Network: one blocking PUT or POST of one
// output file, streamed from disk in small chunks (the file is never read
// whole), with the Authorization and Content-Type headers of PublishRequest.
//
// Rules that hold whatever the server says: no redirect is followed (a 3xx is
// a failure carrying its status); credentials, in the Authorization header
// or written into the URL, go over plain http only to a loopback host,
// otherwise nothing is sent and no host is looked up; the transfer ends with
// "timed out" after `idleTimeout` without progress.
//
// Threads: upload() may run on any thread but the GUI thread (it runs a
// local event loop there); each call uses its own network access manager, so
// concurrent calls on different threads are independent. A stop request
// aborts the transfer at once from any thread.

#include "coordinator/CoordinatorServices.h"

#include <chrono>

namespace fw {

class HttpUploader final : public Uploader {
public:
    static constexpr std::chrono::milliseconds kDefaultIdleTimeout{60'000};

    explicit HttpUploader(std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout) : idleTimeout_(idleTimeout) {}

    // nullopt on a 2xx answer; else the message: the PublishRequest texts,
    // "Upload failed (HTTP n)." for any other status, Qt's own text for a
    // transport failure.
    std::optional<std::string> upload(const std::filesystem::path& file, const PublishSettings& settings,
                                      const std::optional<std::string>& secret, std::stop_token stop) override;

private:
    std::chrono::milliseconds idleTimeout_;
};

}  // namespace fw
