#pragma once
// The publishing secret in the desktop's keyring: one item of the Secret
// Service (libsecret), with the attributes service = "Framewright.publish"
// and account = "destination.secret" and the UTF-8 secret as its value.
//
// Without a Secret Service on the session bus (no bus, no keyring daemon, or
// any error talking to it) the store falls back, for the rest of the process,
// to a value held in memory only: the secret is never written to a file.
// setSecret() replaces the item in one step (the service swaps the value of
// the matching item), so a failure never leaves the secret deleted.
//
// Threads: one thread at a time; calls block while the service answers.

#include "coordinator/CoordinatorServices.h"

#include <optional>
#include <string>

namespace fw {

class KeychainStore final : public SecretStore {
public:
    enum class Backend { secretService, memory };

    std::optional<std::string> secret() const override;
    // Empty text removes the secret.
    void setSecret(std::string_view value) override;

    // Where the secret lives now; memory once the service failed.
    Backend backend() const { return backend_; }

private:
    mutable Backend backend_ = Backend::secretService;
    std::optional<std::string> memory_;
};

}  // namespace fw
