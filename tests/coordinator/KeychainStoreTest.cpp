// The publishing secret on a private session bus. A Secret Service (a keyring
// daemon) is used when the bus offers one; this machine's test bus has none,
// so the in-memory fallback runs, and the test records which one did.

#include "coordinator/KeychainStore.h"

#include "PrivateSessionBus.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

namespace fw::test {
namespace {

TEST(KeychainStore, ReplacesAndRemovesTheOneSecretWithoutWritingFiles) {
    PrivateSessionBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << "dbus-daemon could not be started";
    TempDir home;
    // Only this test talks to the bus through libsecret, so the process's
    // first (and cached) session connection is the private one.
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8().constData(), 1);
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);

    KeychainStore store;
    EXPECT_EQ(store.secret(), std::nullopt);
    struct Step {
        std::string value;
        std::optional<std::string> expected;
    };
    const Step steps[] = {
        {"p\xC3\xA4ss:word", "p\xC3\xA4ss:word"},
        {"token-2", "token-2"},  // replaced, not added beside
        {"", std::nullopt},      // removed
        {"again", "again"},
    };
    for (const Step& step : steps) {
        store.setSecret(step.value);
        EXPECT_EQ(store.secret(), step.expected) << step.value;
    }
    const bool usedService = store.backend() == KeychainStore::Backend::secretService;
    RecordProperty("backend", usedService ? "secret service" : "in-memory fallback");
    std::cout << "[ KEYRING  ] ran against the " << (usedService ? "Secret Service" : "in-memory fallback") << "\n";
    if (!usedService) {
        EXPECT_TRUE(std::filesystem::is_empty(home.path()));
    }
}

}  // namespace
}  // namespace fw::test
