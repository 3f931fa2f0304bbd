// Copying a sandboxed install's data: what is copied, what is kept, and when
// the migration counts as done.

#include "app/SandboxMigration.h"
#include "support/TestSupport.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace fw::app {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// Every file under `folder` with its contents, hidden ones and subfolders included.
std::map<std::string, std::string> tree(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = test::readText(entry.path());
    return files;
}

struct MigrationFixture {
    TempDir root;
    UserDefaults defaults{root / "config/defaults.json"};
    SandboxMigration::Locations locations{root / "container", root / "support"};

    MigrationFixture() {
        write(root / "container/config/Framewright/defaults.json",
              R"({"userPresets.v1": [{"name": "old"}], "hasSeenWelcome": true, "OutputDirectoryPath": "/old"})");
        write(root / "container/data/Framewright/queue.json", "old queue");
        write(root / "container/data/Framewright/history.json", "old history");
        write(root / "container/data/Framewright/.hidden", "hidden");
        write(root / "container/data/Framewright/thumbnails/a.png", "a");
        // Already here: kept as they are, the folder not merged.
        defaults.set("OutputDirectoryPath", "/new");
        write(root / "support/history.json", "new history");
        write(root / "support/thumbnails/b.png", "b");
    }
};

TEST(SandboxMigration, CopiesOnlyWhatIsMissingAndLeavesTheOldFolderAlone) {
    MigrationFixture fixture;
    const auto before = tree(fixture.root / "container");
    EXPECT_TRUE(SandboxMigration::runOnce(fixture.defaults, fixture.locations));

    EXPECT_EQ(tree(fixture.root / "support"), (std::map<std::string, std::string>{{".hidden", "hidden"},
                                                                                  {"history.json", "new history"},
                                                                                  {"queue.json", "old queue"},
                                                                                  {"thumbnails/b.png", "b"}}));
    EXPECT_EQ(fixture.defaults.string("OutputDirectoryPath"), "/new");
    EXPECT_EQ(fixture.defaults.boolean("hasSeenWelcome"), true);
    EXPECT_EQ(fixture.defaults.value("userPresets.v1")->at(0).at("name"), "old");
    EXPECT_EQ(fixture.defaults.boolean(SandboxMigration::kFlagKey), true);
    EXPECT_EQ(tree(fixture.root / "container"), before);

    // Done: new content in the old folder is not looked at again.
    write(fixture.root / "container/data/Framewright/late.json", "late");
    EXPECT_FALSE(SandboxMigration::runOnce(fixture.defaults, fixture.locations));
    EXPECT_FALSE(fs::exists(fixture.root / "support/late.json"));
}

TEST(SandboxMigration, AFailedCopyLeavesNothingUnderItsNameAndTheFlagUnset) {
    MigrationFixture fixture;
    const SandboxMigration::CopyItem failingQueue = [](const fs::path& from, const fs::path& to) {
        if (from.filename() == "queue.json")
            throw fs::filesystem_error("disk full", from, to, std::make_error_code(std::errc::no_space_on_device));
        SandboxMigration::stagedCopy(from, to);
    };
    EXPECT_TRUE(SandboxMigration::runOnce(fixture.defaults, fixture.locations, failingQueue));
    EXPECT_FALSE(fs::exists(fixture.root / "support/queue.json"));
    EXPECT_TRUE(fs::exists(fixture.root / "support/.hidden")) << "the other items are still copied";
    EXPECT_FALSE(fixture.defaults.boolean(SandboxMigration::kFlagKey).has_value());

    // The next launch copies what is still missing, and is then done.
    EXPECT_TRUE(SandboxMigration::runOnce(fixture.defaults, fixture.locations));
    EXPECT_EQ(test::readText(fixture.root / "support/queue.json"), "old queue");
    EXPECT_EQ(fixture.defaults.boolean(SandboxMigration::kFlagKey), true);

    // A target that appears while the copy is staged is neither replaced nor merged.
    const fs::path old = fixture.root / "container/data/Framewright/thumbnails";
    EXPECT_THROW(SandboxMigration::stagedCopy(old, fixture.root / "support/thumbnails"), fs::filesystem_error);
    EXPECT_THROW(SandboxMigration::stagedCopy(old / "a.png", fixture.root / "support/history.json"),
                 fs::filesystem_error);
    EXPECT_EQ(tree(fixture.root / "support"), (std::map<std::string, std::string>{{".hidden", "hidden"},
                                                                                  {"history.json", "new history"},
                                                                                  {"queue.json", "old queue"},
                                                                                  {"thumbnails/b.png", "b"}}))
        << "no staging left behind";
}

TEST(SandboxMigration, WithoutAnOldFolderNothingIsCopiedAndTheMigrationIsDone) {
    TempDir root;
    UserDefaults defaults{root / "defaults.json"};
    EXPECT_FALSE(SandboxMigration::runOnce(defaults, {root / "missing", root / "support"}));
    EXPECT_EQ(defaults.boolean(SandboxMigration::kFlagKey), true);
    EXPECT_FALSE(fs::exists(root / "support"));
}

}  // namespace
}  // namespace fw::app
