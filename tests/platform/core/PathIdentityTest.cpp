#include "platform/core/PathIdentity.h"
#include "platform/core/StagedFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace fw {
namespace {

namespace fs = std::filesystem;

// Runs the test inside `folder`, so that relative paths start there.
class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
    ~WorkingFolder() { fs::current_path(previous_); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
    fs::path previous_;
};

TEST(PathIdentity, SpellingsOfOneFileAreOneFileAndOthersAreNot) {
    test::TempDir dir;
    fs::create_directories(dir / "media");
    std::ofstream(dir / "media/clip.mov") << "x";
    std::ofstream(dir / "media/other.mov") << "y";
    fs::create_directory_symlink(dir / "media", dir / "linked");
    fs::create_symlink(dir / "media/clip.mov", dir / "clip-link.mov");
    fs::create_hard_link(dir / "media/clip.mov", dir / "clip-hard.mov");
    const WorkingFolder inside(dir.path());
    const fs::path absolute = dir.path();
    // Letter case is only a different file where the file system says so.
    const bool caseSensitive = !fs::exists("media/CLIP.mov");

    struct Case {
        const char* name;
        fs::path a, b;
        bool same;
        bool sameKey;  // pathIdentity agrees, except for hard links
    };
    const Case cases[] = {
        {"relative and absolute", "media/clip.mov", absolute / "media/clip.mov", true, true},
        {"dot and dot-dot", "./media/../media/./clip.mov", "media/clip.mov", true, true},
        {"through a linked folder", "linked/clip.mov", "media/clip.mov", true, true},
        {"a link to the file", "clip-link.mov", "media/clip.mov", true, true},
        {"a hard link", "clip-hard.mov", "media/clip.mov", true, false},
        {"not yet written, in a linked folder", "linked/new.mov", absolute / "media/new.mov", true, true},
        {"not yet written, dot-dot in a missing folder", "media/later/../new.mov", "media/new.mov", true, true},
        {"not yet written, relative in a missing folder", "out/new.mov", absolute / "out/new.mov", true, true},
        {"trailing separator, existing folder", "media/", absolute / "media", true, true},
        {"trailing separator, linked folder", "linked/", "media", true, true},
        {"trailing separator, missing folder", "out/frames/", absolute / "out/frames", true, true},
        {"another file", "media/clip.mov", "media/other.mov", false, false},
        {"another file not yet written", "media/new.mov", "media/new.mp4", false, false},
        {"a folder and a file in it", "media", "media/clip.mov", false, false},
        {"letter case", "media/Clip.mov", "media/clip.mov", !caseSensitive, !caseSensitive},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(samePath(c.a, c.b), c.same);
        EXPECT_EQ(samePath(c.b, c.a), c.same);
        EXPECT_EQ(pathIdentity(c.a) == pathIdentity(c.b), c.sameKey);
        EXPECT_TRUE(pathIdentity(c.a).is_absolute());
        // A staged output replaces exactly the files samePath names.
        if (c.a.has_filename()) {
            EXPECT_EQ(StagedFile(c.a).replaces(c.b), c.same);
        }
    }
}

}  // namespace
}  // namespace fw
