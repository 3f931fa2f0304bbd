#include "platform/core/AtomicFile.h"
#include "platform/core/Base64.h"
#include "platform/core/CoreCount.h"
#include "platform/core/Date.h"
#include "platform/core/Json.h"
#include "platform/core/NumberText.h"
#include "platform/core/StagedFile.h"
#include "platform/core/StagedFolder.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/Uuid.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <clocale>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace fw {
namespace {

TEST(Json, StrictReadingRejectsWrongTypesAndMissingKeys) {
    auto object = json::parse(R"({"a": 1, "b": 2.5, "c": "x", "d": true, "n": null})");
    EXPECT_EQ(json::required<int>(object, "a"), 1);
    EXPECT_DOUBLE_EQ(json::required<double>(object, "a"), 1.0);  // integers are numbers
    EXPECT_THROW(json::required<int>(object, "b"), JsonDecodeError);
    EXPECT_THROW(json::required<std::string>(object, "a"), JsonDecodeError);
    EXPECT_THROW(json::required<bool>(object, "missing"), JsonDecodeError);
    EXPECT_FALSE(json::optional<bool>(object, "n").has_value());
    EXPECT_EQ(json::valueOr<bool>(object, "missing", true), true);
    EXPECT_THROW(json::optional<bool>(object, "c"), JsonDecodeError);
    for (const char* text : {"{\"a\": ", "[1e400]", "{\"a\": -1e400}"})
        EXPECT_THROW(json::parse(text), JsonDecodeError) << text;  // a double's range is part of the format
    EXPECT_THROW(json::required<int>(Json::array(), "a"), JsonDecodeError);
    auto huge = json::parse(R"({"big": 18446744073709551615, "edge": 9223372036854775807, "wide": 2147483648})");
    EXPECT_THROW(json::required<int>(huge, "wide"), JsonDecodeError);
    EXPECT_THROW(json::required<std::int64_t>(huge, "big"), JsonDecodeError);
    EXPECT_EQ(json::required<std::int64_t>(huge, "edge"), INT64_MAX);
}

// A value `depth` levels deep: arrays, or objects under the key "a".
std::string nested(std::size_t depth, bool objects = false) {
    std::string text;
    for (std::size_t level = 0; level < depth; ++level) text += objects ? "{\"a\":" : "[";
    text += "1";
    text.append(depth, objects ? '}' : ']');
    return text;
}

TEST(Json, DocumentsNestedPastTheLimitAreRefusedBeforeAnyValueIsBuilt) {
    std::string wide = "[";
    for (int element = 0; element < 100000; ++element) wide += "[1],";
    wide += "[1]]";
    const struct {
        const char* name;
        std::string text;
        bool accepted;
    } rows[] = {
        {"arrays at the limit", nested(json::kMaximumDepth), true},
        {"objects at the limit", nested(json::kMaximumDepth, true), true},
        {"arrays one past", nested(json::kMaximumDepth + 1), false},
        {"objects one past", "[" + nested(json::kMaximumDepth, true) + "]", false},
        {"arrays 100,000 deep", nested(100000), false},
        {"objects 100,000 deep", nested(100000, true), false},
        {"never closed", std::string(100000, '['), false},
        // Brackets in strings are text, after an escaped quote too.
        {"brackets in a string", "[\"" + std::string(100000, '[') + "\"]", true},
        {"after an escaped quote", "{\"a\":\"\\\"" + std::string(100000, '{') + "\"}", true},
        {"many side by side", wide, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.accepted) {
            EXPECT_THROW(json::parse(row.text), JsonDecodeError);
            continue;
        }
        Json value;
        ASSERT_NO_THROW(value = json::parse(row.text));
        EXPECT_EQ(json::parse(json::dump(value)), value) << "written and read back";
    }
}

TEST(Json, InvalidUtf8IsReplacedNotThrown) {
    Json object{{"name", std::string("clip\xff\xfe.mov")}};
    std::string text;
    ASSERT_NO_THROW(text = json::dump(object));
    EXPECT_NE(text.find("clip"), std::string::npos);
    EXPECT_NO_THROW(json::parse(text));
}

TEST(Uuid, TextIsUpperCaseAndRoundTrips) {
    auto id = Uuid::random();
    auto text = id.string();
    EXPECT_EQ(text.size(), 36u);
    for (char c : text) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || c == '-') << text;
    EXPECT_EQ(Uuid::parse(text), id);
    auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_FALSE(Uuid::parse("E621E1F8C36C495A93FC0C247A3E6E5F"));
    EXPECT_FALSE(Uuid::parse("G621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    EXPECT_NE(Uuid::random(), Uuid::random());
}

TEST(Date, ReferenceEpochIs2001) {
    using namespace std::chrono;
    Date unix2001 = Date(seconds(978307200));
    EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(unix2001), 0.0);
    Date later = unix2001 + milliseconds(1500);
    EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(later), 1.5);
    EXPECT_EQ(dateFromReferenceSeconds(1.5), later);
    EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(dateFromReferenceSeconds(-86400.25)), -86400.25);
    // Beyond the clock's range (about 1677 to 2262) a stored date is clamped to its ends.
    const Date latest = dateFromReferenceSeconds(1e300), earliest = dateFromReferenceSeconds(-1e300);
    EXPECT_GT(latest, dateFromReferenceSeconds(8e9));
    EXPECT_EQ(latest, dateFromReferenceSeconds(1e11));
    EXPECT_LT(earliest, dateFromReferenceSeconds(-9e9));
    EXPECT_EQ(earliest, dateFromReferenceSeconds(-1e11));
}

TEST(Base64, KnownVectorsAndMalformedInput) {
    for (const auto& [plain, encoded] :
         {std::pair{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}})
        EXPECT_EQ(base64::encode(plain), encoded);
    auto decoded = base64::decode("Zm9vYg==");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(std::string(decoded->begin(), decoded->end()), "foob");
    for (const char* malformed : {"Zm9", "Zm=v", "Zm9v!A==", "=m9v"})
        EXPECT_FALSE(base64::decode(malformed)) << malformed;
}

TEST(AtomicFile, ReplacesWholeFileAndLeavesNoTemporaries) {
    test::TempDir dir;
    auto file = dir / "state.json";
    writeFileAtomically(file, "first");
    writeFileAtomically(file, "second");
    std::string text;
    ASSERT_TRUE(readWholeFile(file, text));
    EXPECT_EQ(text, "second");
    const auto entries = [&] {
        return std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator());
    };
    EXPECT_EQ(entries(), 1);
    EXPECT_THROW(writeFileAtomically(dir / "missing-folder" / "x", "y"), std::system_error);

    // A rename that fails (a folder stands at the target) takes its temporary with it.
    std::filesystem::create_directories(dir / "taken" / "inside");
    EXPECT_THROW(writeFileAtomically(dir / "taken", "z"), std::system_error);
    EXPECT_EQ(entries(), 2);
}

// A stored file that is a symbolic link (a user's dotfiles) stays one: the
// file it names gets the new contents, staged beside it, and keeps its mode.
// A hard link (no symbolic one) is not written through: its other name keeps its bytes.
TEST(AtomicFile, WritesThroughSymbolicLinks) {
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> links;  // link, what it names
        const char* written;                                     // the file that gets the contents
    } rows[] = {
        {"absolute", {{"config/defaults.json", "@dotfiles/defaults.json"}}, "dotfiles/defaults.json"},
        {"relative", {{"config/defaults.json", "../dotfiles/defaults.json"}}, "dotfiles/defaults.json"},
        {"a chain",
         {{"config/defaults.json", "../middle.json"}, {"middle.json", "dotfiles/defaults.json"}},
         "dotfiles/defaults.json"},
        {"to a file not yet made", {{"config/defaults.json", "../dotfiles/new.json"}}, "dotfiles/new.json"},
        {"to an empty file", {{"config/defaults.json", "../dotfiles/empty.json"}}, "dotfiles/empty.json"},
        {"a hard link", {}, "config/defaults.json"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        fs::create_directories(dir / "config");
        fs::create_directories(dir / "dotfiles");
        std::ofstream(dir / "dotfiles/defaults.json") << "{}";
        std::ofstream(dir / "dotfiles/empty.json").flush();
        fs::permissions(dir / "dotfiles/defaults.json", fs::perms(0600));
        if (row.links.empty()) fs::create_hard_link(dir / "dotfiles/defaults.json", dir / "config/defaults.json");
        for (const auto& [link, named] : row.links)
            fs::create_symlink(named[0] == '@' ? (dir / (named + 1)).string() : named, dir / link);
        const fs::perms mode = fs::status(dir / row.written).permissions();  // unknown while not made
        UserDefaults(dir / "config/defaults.json").set("flag", true);
        EXPECT_EQ(fs::is_symlink(dir / "config/defaults.json"), !row.links.empty());
        EXPECT_EQ(test::readText(dir / row.written), R"({"flag":true})");
        EXPECT_TRUE(mode == fs::perms::unknown || fs::status(dir / row.written).permissions() == mode) << "its mode";
        EXPECT_TRUE(!row.links.empty() || test::readText(dir / "dotfiles/defaults.json") == "{}") << "written through";
        for (const char* folder : {"config", "dotfiles"})
            for (const auto& entry : fs::directory_iterator(dir / folder))
                EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "left staged: " << entry.path();
    }
}

// Any name the file system takes can be staged and committed, the extension kept.
TEST(StagedFile, StagedNameFitsTheFileNameLimit) {
    test::TempDir dir;
    std::string accented;
    for (int i = 0; i < 123; ++i) accented += "\u00e9";  // two bytes each
    for (const std::string& name : {std::string(251, 'a') + ".mp4", accented + "_H264.mp4", std::string("clip.mov")}) {
        SCOPED_TRACE(name.size());
        StagedFile staged(dir / name);
        EXPECT_LE(staged.path().filename().string().size(), 255u);
        EXPECT_EQ(staged.path().extension(), std::filesystem::path(name).extension());
        ASSERT_TRUE(std::ofstream(staged.path()) << "movie");
        EXPECT_FALSE(staged.commit());
        EXPECT_TRUE(std::filesystem::exists(dir / name));
    }
}

// A staging in the folder whose writer has gone (it ran on this machine in an
// earlier boot; or here, and no process here has its id, or the one that has
// it started at another time) is removed when anything is staged there; one
// of a running writer, one written elsewhere (another machine in any boot,
// another pid namespace, a writer that could not tell), a folder below, or any
// other name is left alone. Names telling only the boot and namespace are
// judged by those; names without the place by the id alone. A name ending in
// '/' is a staged folder.
TEST(StagedFile, StagingRemovesStagingsInTheFolderOfWritersThatAreGone) {
    test::TempDir dir;
    const StagedFile mine(dir / "mine.mov");
    std::ofstream(mine.path()) << "partial";
    // The process grows between its staging and the sweep, as an encode does:
    // its start time must be read from the field that does not change.
    const std::vector<char> grown(32 << 20, 1);
    // "<place>-<pid>-<start>-": this process as its stagings name it; the
    // place is "<machine><boot><boot and namespace>", 8 hex digits each.
    const std::string name = mine.path().filename().string();
    const std::size_t from = name.find("fwpart-") + 7;
    const std::string self = name.substr(from, name.rfind('-') + 1 - from);
    const std::string here = self.substr(0, 25);
    const auto other = [](std::string hash) { return hash.replace(0, 1, hash[0] == '0' ? "1" : "0"); };
    const std::string machine = here.substr(0, 8), boot = here.substr(8, 8), namespaced = here.substr(16, 8);
    const std::string earlierBoot = machine + other(boot) + other(namespaced) + "-";
    const std::string pid = std::to_string(::getpid());
    const std::uint64_t start = std::stoull(self.substr(here.size() + pid.size() + 1));
    // This process's id as a writer that ran before it had it.
    const std::string reused = pid + "-" + std::to_string(start - 1) + "-";
    // Beyond the largest process id Linux hands out: a writer that is surely gone.
    const std::string dead = "4194305";
    const std::pair<std::string, bool> rows[] = {
        {".clip.fwpart-" + dead + "-0A1B2C3D.mov", false},
        {".clip.fwpart-" + dead + "-52817-0A1B2C3D.mov", false},
        {".clip.fwpart-" + dead + "-0A1B2C3D.mp4", false},
        {".other.fwpart-" + dead + "-52817-12345678", false},
        {".queue.fwpart-" + reused + "0A1B2C3D.json", false},
        {".clip.fwpart-" + here + dead + "-52817-0A1B2C3D.mov", false},
        {".frames.fwpart-" + here + reused + "0A1B2C3D", false},
        {".clip.fwpart-" + namespaced + "-" + dead + "-52817-0A1B2C3D.mov", false},
        {".clip.fwpart-" + earlierBoot + dead + "-52817-0A1B2C3D.mov", false},
        {".frames.fwpart-" + earlierBoot + self.substr(25) + "0A1B2C3D/", false},
        {".clip.fwpart-" + machine + other(boot) + namespaced + "-" + self.substr(25) + "0A1B2C3D.mov", false},
        {".clip.fwpart-" + other(here) + dead + "-52817-0A1B2C3D.mov", true},
        {".frames.fwpart-" + other(here) + reused + "0A1B2C3D/", true},
        {".clip.fwpart-" + other(machine) + other(boot) + namespaced + "-" + dead + "-52817-0A1B2C3D.mov", true},
        {".clip.fwpart-" + machine + "00000000" + namespaced + "-" + dead + "-52817-0A1B2C3D.mov", true},
        {".clip.fwpart-00000000" + other(boot) + namespaced + "-" + dead + "-52817-0A1B2C3D.mov", true},
        {".clip.fwpart-" + machine + boot + other(namespaced) + "-" + dead + "-52817-0A1B2C3D.mov", true},
        {".clip.fwpart-" + other(namespaced) + "-" + dead + "-52817-0A1B2C3D.mov", true},
        {".clip.fwpart-00000000-" + dead + "-52817-0A1B2C3D.mov", true},
        {".clip.fwpart-" + pid + "-0A1B2C3D.mov", true},
        {".clip.fwpart-" + pid + "-" + std::to_string(start) + "-0A1B2C3D.mov", true},
        {".clip.fwpart-" + self + "0A1B2C3D.mov", true},
        {".clip.fwpart-" + namespaced + "-" + self.substr(25) + "0A1B2C3D.mov", true},
        {".clip.fwpart-" + dead + "-52817-0A1B2C3.mov", true},
        {".clip.fwpart-" + dead + "-52817-0A1B2C3D.m.ov", true},
        {".clip.fwpart-" + here.substr(1) + dead + "-52817-0A1B2C3D.mov", true},
        {"clip.fwpart-" + dead + "-0A1B2C3D.mov", true},
        {".gone.fwpart-elsewhere.mov", true},
        {"below/.clip.fwpart-" + dead + "-0A1B2C3D.mov", true},
    };
    std::filesystem::create_directory(dir / "below");
    for (const auto& [entry, kept] : rows) {
        if (entry.ends_with('/')) std::filesystem::create_directory(dir / entry);
        std::ofstream(dir / (entry.ends_with('/') ? entry + "frame-1.tif" : entry)) << "partial";
    }
    StagedFile staged(dir / "clip.mov");
    for (const auto& [entry, kept] : rows) EXPECT_EQ(std::filesystem::exists(dir / entry), kept) << entry;
    EXPECT_TRUE(std::filesystem::exists(mine.path()));
}

// A copy of the program in a pid namespace of its own (a sandbox, a
// container: `unshare --pid --fork --mount-proc`) is its own pid 1 with its
// own /proc; its id and start time mean nothing here, and its staging stays
// while it writes.
TEST(StagedFile, AStagingWrittenInAnotherPidNamespaceIsLeftAlone) {
    test::TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const auto user = ::getuid(), group = ::getgid();
    const pid_t outer = ::fork();
    ASSERT_NE(outer, -1);
    if (outer == 0) {
        // Not root: in a user namespace of its own, as unprivileged sandboxes are.
        if (::unshare(CLONE_NEWPID | CLONE_NEWNS | (user == 0 ? 0 : CLONE_NEWUSER)) != 0) ::_exit(1);
        if (user != 0 && !(std::ofstream("/proc/self/setgroups") << "deny" &&
                           std::ofstream("/proc/self/uid_map") << "0 " << user << " 1" &&
                           std::ofstream("/proc/self/gid_map") << "0 " << group << " 1"))
            ::_exit(1);
        if (::fork() == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("proc", "/proc", "proc", 0, nullptr) != 0)
                ::_exit(1);
            StagedFile staged(dir / "long.mov");
            std::ofstream(staged.path()) << "partial";
            [[maybe_unused]] const auto told = ::write(ready[1], staged.path().c_str(), staged.path().native().size());
            while (true) ::pause();
        }
        ::wait(nullptr);
        ::_exit(1);
    }
    ::close(ready[1]);
    char longStaged[PATH_MAX] = {};
    const bool started = ::read(ready[0], longStaged, sizeof longStaged - 1) > 0;
    ::close(ready[0]);
    if (started) const StagedFile meanwhile(dir / "short.mov");  // sweeps the folder
    const bool kept = std::filesystem::exists(longStaged);
    ::kill(outer, SIGKILL);
    ASSERT_EQ(::waitpid(outer, nullptr, 0), outer);
    if (!started) GTEST_SKIP() << "no pid namespace can be made here";
    EXPECT_TRUE(kept) << longStaged;
}

// A writer killed mid-write (no unwinding) leaves its staging; it stays while
// the writer runs and goes with the next staging in that folder once it has
// been killed.
TEST(StagedFile, AKilledWritersStagingGoesWithTheNextStagingInItsFolder) {
    test::TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t writer = ::fork();
    ASSERT_NE(writer, -1);
    if (writer == 0) {
        StagedFile staged(dir / "a.mov");
        std::ofstream(staged.path()) << "partial";
        [[maybe_unused]] const auto written = ::write(ready[1], "x", 1);
        while (true) ::pause();
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    const auto entries = [&] {
        return std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator());
    };
    { StagedFile meanwhile(dir / "b.mov"); }
    EXPECT_EQ(entries(), 1) << "the writer still runs";
    ::kill(writer, SIGKILL);
    ASSERT_EQ(::waitpid(writer, nullptr, 0), writer);
    { StagedFile next(dir / "b.mov"); }
    EXPECT_EQ(entries(), 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

// A staged folder replaces an earlier one only on commit, carrying over what
// `keep` names; uncommitted, it leaves nothing, the parents made for it
// included. Stagings of writers that are gone go with the next staging.
TEST(StagedFolder, TakesTheDestinationsPlaceOnlyOnCommit) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const fs::path folder = dir / "out/frames";
    {
        StagedFolder staged(folder);
        std::ofstream(staged.path() / "a") << "new";
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
    fs::create_directories(folder);
    for (const char* name : {"a", "b"}) std::ofstream(folder / name) << "old";
    std::ofstream(folder / "mine") << "kept";
    const fs::path abandoned = dir / "out/.frames.fwpart-4194305-0A1B2C3D";
    fs::create_directories(abandoned / "inside");
    {
        StagedFolder staged(folder);
        EXPECT_FALSE(fs::exists(abandoned));
        std::ofstream(staged.path() / "a") << "new";
        EXPECT_EQ(test::readText(folder / "a"), "old");
        ASSERT_FALSE(staged.commit([](const fs::path& name) { return name == "mine"; }));
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "out")) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"frames"});
    EXPECT_EQ(test::readText(folder / "a"), "new");
    EXPECT_FALSE(fs::exists(folder / "b"));
    EXPECT_EQ(test::readText(folder / "mine"), "kept");
}

// The user's files in an earlier folder move into the new one; while any of
// them cannot (here: the new folder already has its name), the earlier folder
// stays beside it, with that file in it, under a name no later export takes
// for an abandoned staging: the commit runs in a process that has ended when
// the next export of the same folder starts.
TEST(StagedFolder, AnEarlierFolderStaysWhileAUsersFileInItCannotMove) {
    namespace fs = std::filesystem;
    using Files = std::map<std::string, std::string>;
    const struct {
        const char* name;
        Files earlier, staged, committed, leftOver;
    } cases[] = {
        {"every file of the user's moves",
         {{"frame1", "old"}, {"frame2", "old"}, {"notes.txt", "mine"}},
         {{"frame1", "new"}},
         {{"frame1", "new"}, {"notes.txt", "mine"}},
         {}},
        {"one of the user's files cannot move",
         {{"frame1", "old"}, {"notes.txt", "mine"}, {"cover.png", "mine too"}},
         {{"frame1", "new"}, {"notes.txt", "the export's"}},
         {{"frame1", "new"}, {"notes.txt", "the export's"}, {"cover.png", "mine too"}},
         {{"frame1", "old"}, {"notes.txt", "mine"}}},
    };
    const auto read = [](const fs::path& folder) {
        Files files;
        for (const auto& entry : fs::directory_iterator(folder))
            files[entry.path().filename().string()] = test::readText(entry.path());
        return files;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const fs::path folder = dir / "frames";
        fs::create_directories(folder);
        for (const auto& [name, text] : c.earlier) std::ofstream(folder / name) << text;
        const pid_t exporter = ::fork();
        ASSERT_NE(exporter, -1);
        if (exporter == 0) {
            StagedFolder staged(folder);
            for (const auto& [name, text] : c.staged) std::ofstream(staged.path() / name) << text;
            const bool committed =
                !staged.commit([](const fs::path& name) { return !name.string().starts_with("frame"); });
            ::_exit(committed ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(exporter, &status, 0), exporter);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(read(folder), c.committed);
        StagedFolder next(folder);  // clears the stagings of ended processes
        std::vector<fs::path> beside;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path() != folder && entry.path() != next.path()) beside.push_back(entry.path());
        if (c.leftOver.empty()) {
            EXPECT_TRUE(beside.empty());
        } else {
            ASSERT_EQ(beside.size(), 1u);
            EXPECT_EQ(beside[0].filename(), "frames.earlier");
            EXPECT_EQ(read(beside[0]), c.leftOver);
        }
    }
}

// A process ending without unwinding removes the files and folders it has
// staged, from many threads at once, and nothing else: not a committed
// output, not a staging already given up.
TEST(StagedFile, RemoveAllNowRemovesEveryOpenStagingAndNothingElse) {
    test::TempDir dir;
    StagedFile committed(dir / "done.mov");
    ASSERT_TRUE(std::ofstream(committed.path()) << "complete");
    ASSERT_FALSE(committed.commit());
    { StagedFile gone(dir / "gone.mov"); }
    std::ofstream(dir / ".gone.fwpart-elsewhere.mov") << "not ours";
    constexpr int kThreads = 8, kEach = 4;
    std::vector<std::unique_ptr<StagedFile>> open(kThreads * kEach);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                auto& staged = open[t * kEach + i];
                staged = std::make_unique<StagedFile>(dir / ("clip" + std::to_string(t * kEach + i) + ".mov"));
                std::ofstream(staged->path()) << "partial";
            }
        });
    for (auto& thread : threads) thread.join();

    // Staged folders go too, whatever they hold; a committed one stays.
    StagedFolder frames(dir / "frames");
    std::filesystem::create_directories(frames.path() / "below/deeper");
    for (const char* file : {"1.png", "2.png", "below/3.png", "below/deeper/4.png"})
        std::ofstream(frames.path() / file) << "frame";
    StagedFolder exported(dir / "exported");
    std::ofstream(exported.path() / "1.png") << "frame";
    ASSERT_FALSE(exported.commit());

    StagedFile::removeAllNow();
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".gone.fwpart-elsewhere.mov", "done.mov", "exported"}));
}

// Runs `body` in a child process with a mount namespace of its own, private,
// so that what it mounts is seen nowhere else; its result, or nullopt when no
// such namespace can be made here.
std::optional<bool> inOwnMountNamespace(const std::function<bool()>& body) {
    const auto user = ::getuid(), group = ::getgid();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS | (user == 0 ? 0 : CLONE_NEWUSER)) != 0) ::_exit(2);
        if (user != 0 && !(std::ofstream("/proc/self/setgroups") << "deny" &&
                           std::ofstream("/proc/self/uid_map") << "0 " << user << " 1" &&
                           std::ofstream("/proc/self/gid_map") << "0 " << group << " 1"))
            ::_exit(2);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    if (child == -1 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return false;
    if (WEXITSTATUS(status) == 2) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

// A second signal mid-commit. While the user's earlier folder is under the
// staging's name, its files moving into the new folder, it is left whole and
// the new folder is in place. After a swap that failed (the destination a
// mount point, which no rename moves), the staged folder goes and the
// destination is as it was.
TEST(StagedFolder, ASecondSignalMidCommitLeavesTheEarlierFolderOrTheNewOneWhole) {
    namespace fs = std::filesystem;
    for (const bool swapFails : {false, true}) {
        SCOPED_TRACE(swapFails ? "the swap failed" : "the user's files moving");
        test::TempDir dir;
        const fs::path folder = dir / "frames";
        fs::create_directories(folder);
        for (const char* name : {"frame1", "notes.txt"}) std::ofstream(folder / name) << "old";
        const auto whole = [](const fs::path& at, const char* frame) {
            return test::readText(at / "frame1") == frame && test::readText(at / "notes.txt") == "old";
        };
        const auto held = inOwnMountNamespace([&] {
            if (swapFails && ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
            StagedFolder staged(folder);
            std::ofstream(staged.path() / "frame1") << "new";
            bool earlierWhole = false, signalled = false;
            const std::error_code error = staged.commit([&](const fs::path& name) {
                if (!std::exchange(signalled, true)) {
                    StagedFile::removeAllNow();
                    earlierWhole = whole(staged.path(), "old");
                }
                return name == "notes.txt";
            });
            StagedFile::removeAllNow();
            if (swapFails) return error && !fs::exists(staged.path()) && whole(folder, "old");
            return !error && earlierWhole && whole(folder, "new");
        });
        if (!held) GTEST_SKIP() << "no mount namespace can be made here";
        EXPECT_TRUE(*held);
    }
}

// Where this machine's id cannot be read (no /etc/machine-id, as in some
// containers), a staging whose writer could not read its machine's id
// either, written in another boot, is left alone: nothing tells whether it
// was this machine's boot.
TEST(StagedFile, WithoutAMachineIdAStagingNamingNoMachineIsNotTakenForAnEarlierBoot) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    std::ofstream(dir / "no-id");
    const auto kept = inOwnMountNamespace([&] {
        for (const char* id : {"/etc/machine-id", "/var/lib/dbus/machine-id"})
            if (fs::exists(id) && ::mount((dir / "no-id").c_str(), id, nullptr, MS_BIND, nullptr) != 0) return false;
        // "<machine><boot><boot and namespace>" as this process names its stagings.
        const StagedFile mine(dir / "mine.mov");
        const std::string name = mine.path().filename().string();
        std::string place = name.substr(name.find("fwpart-") + 7, 24);
        if (!place.starts_with("00000000")) return false;
        place[8] = place[8] == '0' ? '1' : '0';  // another boot
        const fs::path staging = dir / (".clip.fwpart-" + place + "-4194305-52817-0A1B2C3D.mov");
        std::ofstream(staging) << "partial";
        const StagedFile next(dir / "clip.mov");  // sweeps the folder
        return fs::exists(staging);
    });
    if (!kept) GTEST_SKIP() << "no mount namespace can be made here";
    EXPECT_TRUE(*kept);
}

TEST(UserDefaults, PersistsTypedValuesAndSurvivesCorruptFile) {
    test::TempDir dir;
    auto file = dir / "defaults.json";
    {
        UserDefaults defaults(file);
        defaults.set("flag", true);
        defaults.set("count", 3);
        defaults.set("ratio", 0.5);
        defaults.set("name", "x");
    }
    UserDefaults reread(file);
    EXPECT_EQ(reread.boolean("flag"), true);
    EXPECT_EQ(reread.integer("count"), 3);
    EXPECT_EQ(reread.number("ratio"), 0.5);
    EXPECT_EQ(reread.string("name"), "x");
    EXPECT_FALSE(reread.boolean("name"));  // wrong type reads as absent
    reread.remove("name");
    EXPECT_FALSE(UserDefaults(file).string("name"));

    const std::pair<const char*, bool> texts[] = {
        {"{not json", false},
        {R"({"flag": true, "ratio": 1e400})", false},
        // One key in an object and in the object around it, after the inner one ended: no key written twice.
        {R"({"x": {"flag": false}, "flag": true})", true},
    };
    for (const auto& [text, readable] : texts) {
        writeFileAtomically(file, text);
        UserDefaults stored(file);
        EXPECT_EQ(stored.boolean("flag"), readable ? std::optional(true) : std::nullopt) << text;
        stored.set("flag", false);
        EXPECT_EQ(stored.setAsideUnreadableFile().has_value(), !readable) << text;
        EXPECT_EQ(UserDefaults(file).boolean("flag"), false);
    }
}

// Each kind of damage a settings file meets: a slip made by hand, a cut-off
// write, bytes of something else, JSON of another shape, nesting too deep to walk.
const struct {
    const char* name;
    std::string text;
} kDamagedSettings[] = {
    {"trailing comma", R"({"naming.template": "{name}_cut", "userPresets.v1": [],})"},
    {"truncated", R"({"naming.template": "{name}_cut", "userPresets.v1": [{"id": "5A)"},
    {"garbage", std::string("\x7f"
                            "ELF\x02\x01\x01\0\0\xff\xfe",
                            11)},
    {"top-level array", R"([{"naming.template": "{name}_cut"}])"},
    {"nested 100,000 deep", R"({"naming.template": "{name}_cut", "deep": )" + nested(100000) + "}"},
    {"a key twice, once escaped, deeper down", R"({"naming.template": "{name}_cut", "x": [{"a": 1, "\u0061": 2}]})"},
    {"a key twice", R"({"naming.template": "{name}_cut", "userPresets.v1": [], "userPresets.v1": [{}]})"},
};

TEST(UserDefaults, AnUnreadableFileIsNeverWrittenOverAndIsSetAsideWhole) {
    test::TempDir dir;
    const auto file = dir / "defaults.json";
    std::vector<std::filesystem::path> kept;
    for (const auto& damage : kDamagedSettings) {
        SCOPED_TRACE(damage.name);
        writeFileAtomically(file, damage.text);
        {
            UserDefaults defaults(file);
            EXPECT_FALSE(defaults.string("naming.template"));
            defaults.set("flag", true);
            defaults.remove("naming.template");
            EXPECT_EQ(defaults.boolean("flag"), true) << "changes live on in memory";
            EXPECT_EQ(test::readText(file), damage.text) << "never written over";
        }
        UserDefaults defaults(file);
        defaults.set("flag", true);
        const auto setAside = defaults.setAsideUnreadableFile();
        ASSERT_TRUE(setAside);
        kept.push_back(*setAside);
        EXPECT_EQ(UserDefaults(file).boolean("flag"), true) << "what was held is written once the file is aside";
        EXPECT_FALSE(defaults.setAsideUnreadableFile()) << "only once";
        EXPECT_FALSE(UserDefaults(file).setAsideUnreadableFile());
        EXPECT_EQ(UserDefaults(file).string("naming.template"), std::nullopt);
    }
    // Each under a name of its own, beside the file; none replaced an earlier one.
    ASSERT_EQ(kept.size(), std::size(kDamagedSettings));
    EXPECT_EQ(kept[0], dir / "defaults.unreadable.json");
    EXPECT_EQ(kept[1], dir / "defaults.unreadable-2.json");
    for (std::size_t index = 0; index < kept.size(); ++index)
        EXPECT_EQ(test::readText(kept[index]), kDamagedSettings[index].text) << kept[index];

    // No file, or an empty one, holds nothing to keep.
    for (const bool empty : {false, true}) {
        std::filesystem::remove(file);
        if (empty) std::ofstream{file};
        UserDefaults defaults(file);
        defaults.set("count", 2);
        EXPECT_FALSE(defaults.setAsideUnreadableFile());
        EXPECT_EQ(UserDefaults(file).integer("count"), 2);
    }
}

// A write that fails is told, with the system's reason, and every value
// stays in memory to be written by the next change, even one that changes
// nothing; the write that works is told too. A damaged file that cannot be
// set aside is told so and left alone.
TEST(UserDefaults, AFailedWriteIsReportedAndTheNextWritesEverything) {
    namespace fs = std::filesystem;
    using Kind = StoredFileReport::Kind;
    const struct {
        const char* name;
        const char* blocked;  // made a folder, or a file, in the way
        bool folder;
        const char* reason;
    } rows[] = {
        {"a folder where the file should be", "config/defaults.json", true, "Is a directory"},
        {"a file where the folder should be", "config", false, "Not a directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const fs::path file = dir / "config/defaults.json";
        if (row.folder)
            fs::create_directories(dir / row.blocked);
        else
            std::ofstream(dir / row.blocked) << "";
        UserDefaults defaults(file);
        std::vector<StoredFileReport> reports;
        defaults.reports().connect([&](const StoredFileReport& report) { reports.push_back(report); });
        defaults.set("first", 1);
        defaults.set("second", 2);
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[0].kind, Kind::writeFailed);
        EXPECT_EQ(reports[0].file, file);
        EXPECT_EQ(reports[0].reason, row.reason);
        EXPECT_EQ(defaults.integer("first"), 1) << "kept in memory";

        fs::remove(dir / row.blocked);
        defaults.set("second", 2);
        defaults.set("third", 3);
        ASSERT_EQ(reports.size(), 3u) << "the write that worked is told, once";
        EXPECT_EQ(reports[2].kind, Kind::saved);
        EXPECT_EQ(reports[2].file, file);
        UserDefaults reread(file);
        EXPECT_EQ(reread.integer("first"), 1);
        EXPECT_EQ(reread.integer("second"), 2);
    }

    // Too long a name to take ".unreadable": it cannot be moved aside.
    test::TempDir dir;
    const fs::path file = dir / (std::string(245, 'd') + ".json");
    std::ofstream(file) << "{damaged";
    UserDefaults defaults(file);
    std::vector<StoredFileReport> reports;
    defaults.reports().connect([&](const StoredFileReport& report) { reports.push_back(report); });
    EXPECT_FALSE(defaults.setAsideUnreadableFile());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, Kind::notSetAside);
    EXPECT_EQ(reports[0].reason, "File name too long");
    defaults.set("flag", true);
    EXPECT_EQ(test::readText(file), "{damaged");
}

TEST(UserDefaults, ConcurrentWritersKeepEveryKey) {
    test::TempDir dir;
    UserDefaults defaults(dir / "defaults.json");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) defaults.set("k" + std::to_string(t * 100 + i), i);
        });
    for (auto& t : threads) t.join();
    UserDefaults reread(dir / "defaults.json");
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 25; ++i) EXPECT_EQ(reread.integer("k" + std::to_string(t * 100 + i)), i);
}

TEST(NumberText, IgnoresProcessLocale) {
    // A decimal-comma locale must not change file text; skip quietly if absent.
    const char* previous = std::setlocale(LC_ALL, nullptr);
    std::string saved = previous ? previous : "C";
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(formatNumber(29.97), "29.97");
    EXPECT_EQ(formatFixed(1.25, 1), "1.2");
    EXPECT_EQ(parseNumber("23.976"), 23.976);
    EXPECT_FALSE(parseNumber("23,976"));
    EXPECT_FALSE(parseNumber("12abc"));
    EXPECT_EQ(parseInteger("+42"), 42);
    EXPECT_EQ(json::dump(Json{{"r", 0.5}}), "{\"r\":0.5}");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(NumberText, IntegersAreStrict) {
    for (const auto& [text, expected] : {std::pair<const char*, std::int64_t>{"0", 0},
                                         {"+17", 17},
                                         {"-17", -17},
                                         {"007", 7},
                                         {"9223372036854775807", INT64_MAX},
                                         {"-9223372036854775808", INT64_MIN}})
        EXPECT_EQ(parseInteger(text), expected) << '"' << text << '"';
    for (const char* text :
         {"9223372036854775808", "-9223372036854775809", "", "+", "-", "+-5", "--5", " 5", "5 ", "5x", "1.0", "0x10"})
        EXPECT_EQ(parseInteger(text), std::nullopt) << '"' << text << '"';
}

TEST(CoreCount, CgroupQuotaTextRoundsUpAndIgnoresNoQuota) {
    const struct {
        const char* text;
        std::optional<int> cores;
    } cases[] = {
        {"max 100000\n", std::nullopt},
        {"200000 100000\n", 2},
        {"250000 100000", 3},
        {"50000 100000", 1},
        {"", std::nullopt},
        {"garbage", std::nullopt},
        {"-1 100000", std::nullopt},
        {"100000 0", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(coresAllowedByCpuMax(c.text), c.cores) << c.text;
}

// The first two CPUs this thread may run on (one on a machine of one).
std::vector<int> firstTwoAllowedCpus() {
    cpu_set_t all;
    CPU_ZERO(&all);
    sched_getaffinity(0, sizeof all, &all);
    std::vector<int> allowed;
    for (int cpu = 0; cpu < CPU_SETSIZE && allowed.size() < 2; ++cpu)
        if (CPU_ISSET(cpu, &all)) allowed.push_back(cpu);
    return allowed;
}

// `count` run on a thread pinned to `cpus` (0 when it cannot be pinned).
int countPinnedTo(const std::vector<int>& cpus, const std::function<int()>& count) {
    int counted = 0;
    std::thread pinned([&] {
        cpu_set_t set;
        CPU_ZERO(&set);
        for (const int cpu : cpus) CPU_SET(cpu, &set);
        if (sched_setaffinity(0, sizeof set, &set) == 0) counted = count();
    });
    pinned.join();
    return counted;
}

TEST(CoreCount, FollowsTheAffinityMask) {
    // Pinned to two CPUs, a machine of more counts two: what `taskset -c 0,1` gives.
    const std::vector<int> allowed = firstTwoAllowedCpus();
    const int counted = countPinnedTo(allowed, [] { return usableCoreCount(); });
    EXPECT_GE(counted, 1);
    EXPECT_LE(counted, static_cast<int>(allowed.size()));
}

// Over a made-up cgroup tree, on a thread pinned to two CPUs: the tightest
// quota of the process's group and its ancestors counts, and never more than
// the CPUs the thread may use.
TEST(CoreCount, TheTightestQuotaOfTheTreeCapsTheAffinityCount) {
    namespace fs = std::filesystem;
    const std::vector<int> two = firstTwoAllowedCpus();
    if (two.size() < 2) GTEST_SKIP() << "needs two CPUs";
    const std::string unified = "0::/jobs.slice/encode.scope\n";
    const struct {
        const char* name;
        std::string selfCgroup;
        std::vector<std::pair<std::string, std::string>> files;  // below sys/fs/cgroup
        int cores;
    } cases[] = {
        {"no quota anywhere", unified, {{"jobs.slice/encode.scope/cpu.max", "max 100000\n"}}, 2},
        {"the group's own quota", unified, {{"jobs.slice/encode.scope/cpu.max", "50000 100000\n"}}, 1},
        {"a looser ancestor's quota does not lift the group's",
         unified,
         {{"jobs.slice/encode.scope/cpu.max", "90000 100000\n"}, {"jobs.slice/cpu.max", "150000 100000\n"}},
         1},
        {"a tighter ancestor's quota holds under a group without one",
         unified,
         {{"jobs.slice/encode.scope/cpu.max", "max 100000\n"}, {"jobs.slice/cpu.max", "100000 100000\n"}},
         1},
        {"the root's quota counts too", unified, {{"cpu.max", "80000 100000\n"}}, 1},
        {"a quota above the affinity count", unified, {{"jobs.slice/encode.scope/cpu.max", "400000 100000\n"}}, 2},
        {"an ancestor quota above the affinity count",
         unified,
         {{"jobs.slice/encode.scope/cpu.max", "max 100000\n"}, {"jobs.slice/cpu.max", "800000 100000\n"}},
         2},
        {"unreadable quota text", unified, {{"jobs.slice/encode.scope/cpu.max", "half\n"}}, 2},
        {"version 1, a quota",
         "12:cpu,cpuacct:/jobs\n",
         {{"cpu,cpuacct/cpu.cfs_quota_us", "100000\n"}, {"cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
         1},
        {"version 1, a quota above the affinity count",
         "12:cpu,cpuacct:/jobs\n",
         {{"cpu,cpuacct/cpu.cfs_quota_us", "300000\n"}, {"cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
         2},
        {"version 1, no quota",
         "12:cpu,cpuacct:/jobs\n",
         {{"cpu,cpuacct/cpu.cfs_quota_us", "-1\n"}, {"cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir root;
        fs::create_directories(root / "proc/self");
        std::ofstream(root / "proc/self/cgroup") << c.selfCgroup;
        for (const auto& [file, text] : c.files) {
            const fs::path place = root / "sys/fs/cgroup" / file;
            fs::create_directories(place.parent_path());
            std::ofstream(place) << text;
        }
        EXPECT_EQ(countPinnedTo(two, [&] { return usableCoreCount(root.path()); }), c.cores);
    }
}

}  // namespace
}  // namespace fw
