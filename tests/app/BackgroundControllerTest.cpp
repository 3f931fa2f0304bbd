// Launch at login through the autostart entry, and agent mode's guard.

#include "app/BackgroundController.h"
#include "support/TestSupport.h"

#include <QSignalSpy>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(BackgroundController, LaunchAtLoginWritesAndRemovesTheAutostartEntry) {
    TempDir config;
    const AutostartEntry entry(config / "autostart/app.desktop");
    BackgroundController background(entry, "/opt/frame wright/bin/framewright");
    EXPECT_FALSE(background.launchAtLogin());

    background.setLaunchAtLogin(true);
    const std::string text = test::readText(entry.file());
    EXPECT_NE(text.find("\nExec=\"/opt/frame wright/bin/framewright\"\n"), std::string::npos) << text;
    EXPECT_TRUE(BackgroundController(entry, "/x").launchAtLogin()) << "read back at the next launch";

    background.setLaunchAtLogin(false);
    EXPECT_FALSE(fs::exists(entry.file()));
    EXPECT_TRUE(background.lastError().isEmpty());

    std::ofstream(entry.file()) << "[Desktop Entry]\nHidden=true\n";
    EXPECT_FALSE(BackgroundController(entry, "/x").launchAtLogin()) << "a hidden entry does not start anything";
    fs::permissions(entry.file(), fs::perms(0600));
    background.setLaunchAtLogin(true);
    EXPECT_EQ(fs::status(entry.file()).permissions(), fs::perms(0600)) << "the mode of the entry it replaced";
}

TEST(BackgroundController, AnUnwritableAutostartFolderIsReportedAndTheToggleFollowsTheFile) {
    TempDir config;
    // A file where the folder should be: unwritable for every user, root included.
    std::ofstream(config / "autostart") << "";
    BackgroundController background(AutostartEntry(config / "autostart/app.desktop"), "/usr/bin/framewright");
    QSignalSpy toggled(&background, &BackgroundController::launchAtLoginChanged);

    background.setLaunchAtLogin(true);
    EXPECT_FALSE(background.launchAtLogin());
    EXPECT_EQ(toggled.size(), 2) << "on, then back to the entry's real state";
    EXPECT_TRUE(background.lastError().contains(QString::fromStdString((config / "autostart").string())))
        << background.lastError().toStdString();

    // Once the folder can be written, the next change succeeds and the old message goes.
    fs::remove(config / "autostart");
    background.setLaunchAtLogin(true);
    EXPECT_TRUE(background.launchAtLogin());
    EXPECT_TRUE(background.lastError().isEmpty());
}

TEST(BackgroundController, ExecValuesSurviveTheDesktopEntryEscapes) {
    const std::pair<const char*, const char*> rows[] = {
        {"/usr/bin/framewright", "/usr/bin/framewright"},
        {"/home/a b/fw", R"("/home/a b/fw")"},
        {"/opt/$HOME/fw", R"("/opt/\\$HOME/fw")"},
        {"/opt/a\"b\\c/fw", R"("/opt/a\\"b\\\\c/fw")"},
        {"/opt/100%/fw", "/opt/100%%/fw"},
    };
    for (const auto& [path, value] : rows) EXPECT_EQ(AutostartEntry::execValue(path), value) << path;
}

TEST(BackgroundController, AgentModeIsRefusedWithoutATray) {
    TempDir config;
    BackgroundController background(AutostartEntry(config / "app.desktop"), "/x");
    std::vector<bool> applied;
    background.setAgentModeHandler([&](bool agent) { applied.push_back(agent); });
    background.setRunAsMenuBarAgent(true);
    background.setAgentModeUnavailableReason("no tray");
    background.setRunAsMenuBarAgent(true);
    EXPECT_FALSE(background.runAsMenuBarAgent());
    EXPECT_EQ(applied, (std::vector<bool>{true, false})) << "losing the tray brings the window back";
}

}  // namespace
}  // namespace fw::app
