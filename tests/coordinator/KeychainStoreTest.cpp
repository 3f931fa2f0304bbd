// The publishing secret on a private session bus. A Secret Service (a keyring
// daemon) is used when the bus offers one; this machine's test bus has none,
// so the in-memory fallback runs, and the test records which one did.

#include "coordinator/KeychainStore.h"

#include "PrivateSessionBus.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

namespace fw::test {
namespace {

// Sets variables for one test and puts the old values back.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(std::vector<std::pair<std::string, std::string>> values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, old] : saved_) old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(KeychainStore, ReplacesAndRemovesTheOneSecretWithoutWritingFiles) {
    PrivateSessionBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << "dbus-daemon could not be started";
    TempDir home;
    // Only this test talks to the bus through libsecret, so the process's
    // first (and cached) session connection is the private one.
    const ScopedEnvironment environment({{"DBUS_SESSION_BUS_ADDRESS", bus.address().toStdString()},
                                         {"HOME", home.path().string()},
                                         {"XDG_DATA_HOME", (home / "data").string()}});

    KeychainStore store;
    EXPECT_EQ(store.secret(), std::nullopt);
    // The second replaces the first rather than being added beside it; the empty one removes it.
    for (const std::string value : {"p\xC3\xA4ss:word", "token-2", "", "again"}) {
        store.setSecret(value);
        EXPECT_EQ(store.secret(), value.empty() ? std::nullopt : std::optional(value)) << value;
    }
    const bool usedService = store.backend() == KeychainStore::Backend::secretService;
    RecordProperty("backend", usedService ? "secret service" : "in-memory fallback");
    if (!usedService) {
        EXPECT_TRUE(std::filesystem::is_empty(home.path()));
    }
}

}  // namespace
}  // namespace fw::test
