// The GIF writer's failures say which file and why, as the other writers do: a missing folder, a folder that takes no
// files, a device that takes no bytes (at the frame that overflows the buffer, or at the end).

#include "encoders/GIFWriter.h"
#include "model/EncodingError.h"
#include "support/Outputs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>

namespace fw {
namespace {

namespace fs = std::filesystem;

// A 256 × 256 frame of 256 colours in no order: far more bytes than a file buffer holds, whatever the coder makes.
IndexedPicture noisyFrame() {
    IndexedPicture picture{256, 256, {}, {}};
    for (int i = 0; i < 256; ++i)
        picture.palette.push_back({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7)});
    std::uint32_t state = 12345;
    for (int i = 0; i < 256 * 256; ++i) {
        state = state * 1664525u + 1013904223u;
        picture.indices.push_back(std::uint8_t(state >> 24));
    }
    return picture;
}

IndexedPicture tinyFrame() { return {2, 2, {{0, 0, 0}, {255, 255, 255}}, {0, 1, 1, 0}}; }

// A folder this process cannot create files in, and the system's reason: a read-only folder, or for a user whom
// permissions do not stop, a system folder that refuses everyone. None when there is neither.
std::optional<std::pair<fs::path, std::string>> unwritableFolder(const fs::path& scratch) {
    const fs::path locked = scratch / "locked";
    fs::create_directory(locked);
    ::chmod(locked.c_str(), 0555);
    for (const fs::path& folder : {locked, fs::path("/sys")}) {
        const fs::path probe = folder / "probe.gif";
        const int descriptor = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (descriptor < 0) return std::pair{folder, std::generic_category().message(errno)};
        ::close(descriptor);
        ::unlink(probe.c_str());
    }
    return std::nullopt;
}

TEST(GIFWriter, FailuresNameTheFileAndTheReason) {
    test::TempDir dir;
    const auto unwritable = unwritableFolder(dir.path());
    struct Row {
        const char* name;
        fs::path file;
        IndexedPicture frame;
        std::string says;
    };
    std::vector<Row> rows = {
        {"missing folder", dir / "missing/out.gif", tinyFrame(),
         "Writing failed: could not create GIF \u201cout.gif\u201d: the folder \u201c" + (dir / "missing").string() +
             "\u201d does not exist"},
        {"full device, a large frame", "/dev/full", noisyFrame(),
         "Writing failed: could not write GIF frame to \u201cfull\u201d: No space left on device"},
        {"full device, at the end", "/dev/full", tinyFrame(),
         "Writing failed: could not finalize GIF \u201cfull\u201d: No space left on device"},
    };
    if (unwritable)
        rows.push_back({"unwritable folder", unwritable->first / "out.gif", tinyFrame(),
                        "Writing failed: could not create GIF \u201cout.gif\u201d: " + unwritable->second});
    else
        std::printf("every folder takes files here: no unwritable folder tried\n");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const test::Failure failure = test::failureOf([&] {
            GIFWriter writer(row.file, row.frame.width, row.frame.height, GIFWriter::Looping::forever);
            writer.addFrame(row.frame, 10);
            writer.finish();
        });
        EXPECT_EQ(failure.kind, EncodingError::Kind::writerFailed);
        EXPECT_EQ(failure.message, row.says);
    }
    // The name shown is the destination's, not the staging file's.
    const test::Failure staged = test::failureOf([&] {
        GIFWriter writer(dir / "missing/.out.gif.partial", 2, 2, GIFWriter::Looping::once, dir / "missing/out.gif");
    });
    EXPECT_EQ(staged.message, "Writing failed: could not create GIF \u201cout.gif\u201d: the folder \u201c" +
                                  (dir / "missing").string() + "\u201d does not exist");
}

}  // namespace
}  // namespace fw
