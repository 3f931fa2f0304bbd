#include "model/QueuePersistence.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/Base64.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace fw {
namespace {

namespace fs = std::filesystem;
using QueuePersistence::JobList;

fs::path touch(const fs::path& file) {
    std::ofstream(file) << "x";
    return file;
}

std::set<std::string> keysOf(const Json& object) {
    std::set<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it) keys.insert(it.key());
    return keys;
}

Json entryFor(const fs::path& source, Json outputs = Json::array()) {
    auto bytes = QueuePersistence::bookmark(source);
    EXPECT_TRUE(bytes);
    return {{"bookmark", base64::encode(bytes->data(), bytes->size())}, {"enabled", true}, {"outputs", outputs}};
}

TEST(QueuePersistence, EmptyQueueIsTwoCharactersAndFolderIsMade) {
    test::TempDir dir;
    const fs::path folder = dir / "Framewright";
    QueuePersistence::save({}, folder);
    std::string text;
    ASSERT_TRUE(readWholeFile(folder / "queue.json", text));
    EXPECT_EQ(text, "[]");
    EXPECT_TRUE(QueuePersistence::load(folder).empty());
    EXPECT_TRUE(QueuePersistence::load(dir / "nowhere").empty());
}

TEST(QueuePersistence, RestoresSourcesFlagsAndOutputsAsNewWaitingJobs) {
    test::TempDir dir;
    const fs::path clip = touch(dir / "clip.mov");
    const fs::path gone = touch(dir / "gone.mov");
    const fs::path odd = touch(dir / "notes.xyz");  // load does not filter by type

    auto first = std::make_shared<EncodeJob>(clip);
    first->setStatus(EncodeJob::Status::finished);
    first->setProgress(1);
    first->setOutputURL(dir / "clip_ProRes.mov");
    first->setErrorMessage("old");
    first->setUploadState(EncodeJob::UploadState::uploaded);
    auto missing = std::make_shared<EncodeJob>(gone);
    auto disabled = std::make_shared<EncodeJob>(odd);
    disabled->setEnabled(false);
    ExportConfiguration trimmedHevc;
    trimmedHevc.codec = OutputCodec::hevc;
    trimmedHevc.trim = TrimRange{2.0, 5.0};
    trimmedHevc.geometry = GeometrySettings{};
    trimmedHevc.tenBit = true;
    disabled->setOutputs({JobOutputSpec("Master", ExportConfiguration{}), JobOutputSpec("Web \u00e9", trimmedHevc)});
    auto duplicate = std::make_shared<EncodeJob>(clip);
    const JobList jobs{first, missing, disabled, duplicate};

    fs::remove(gone);
    QueuePersistence::save(jobs, dir.path());

    std::string text;
    ASSERT_TRUE(readWholeFile(dir / "queue.json", text));
    Json file = Json::parse(text);
    ASSERT_EQ(file.size(), 3u) << "the source that is gone is left out";
    for (const Json& entry : file) EXPECT_EQ(keysOf(entry), (std::set<std::string>{"bookmark", "enabled", "outputs"}));
    ASSERT_EQ(file[1]["outputs"].size(), 2u);
    EXPECT_EQ(keysOf(file[1]["outputs"][0]), (std::set<std::string>{"name", "configuration"}));
    EXPECT_EQ(file[1]["outputs"][1]["configuration"]["codec"], "HEVC");
    EXPECT_TRUE(base64::decode(file[0]["bookmark"].get<std::string>()));

    JobList restored = QueuePersistence::load(dir.path());
    ASSERT_EQ(restored.size(), 3u);
    EXPECT_EQ(restored[0]->sourceURL(), clip);
    EXPECT_EQ(restored[1]->sourceURL(), odd);
    EXPECT_EQ(restored[2]->sourceURL(), clip);
    EXPECT_NE(restored[0]->id(), restored[2]->id());
    EXPECT_NE(restored[0]->id(), first->id());

    EXPECT_EQ(restored[0]->status(), EncodeJob::Status::waiting);
    EXPECT_EQ(restored[0]->progress(), 0);
    EXPECT_FALSE(restored[0]->outputURL() || restored[0]->errorMessage());
    EXPECT_EQ(restored[0]->uploadState(), EncodeJob::UploadState::none);
    EXPECT_TRUE(restored[0]->enabled());

    EXPECT_FALSE(restored[1]->enabled());
    auto outputs = restored[1]->outputs();
    auto saved = disabled->outputs();
    ASSERT_EQ(outputs.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(outputs[i].name, saved[i].name);
        EXPECT_EQ(outputs[i].configuration, saved[i].configuration);
        EXPECT_NE(outputs[i].id, saved[i].id);
    }
}

TEST(QueuePersistence, BadEntriesAndUnresolvableBookmarksAreSkipped) {
    test::TempDir dir;
    const fs::path a = touch(dir / "a.mov");
    const fs::path b = touch(dir / "b.mov");
    const fs::path c = touch(dir / "c.mov");
    const fs::path deleted = touch(dir / "deleted.mov");

    Json legacy = toJson(ExportConfiguration{});
    legacy["codec"] = "DXV";
    legacy["dxvAlpha"] = true;
    legacy.erase("alpha");
    Json unknownCodec = toJson(ExportConfiguration{});
    unknownCodec["codec"] = "NoSuchCodec";
    Json noOutputs = entryFor(b);
    noOutputs.erase("outputs");
    Json badBase64 = entryFor(b);
    badBase64["bookmark"] = "not base64!";
    const Json list = {entryFor(a),
                       noOutputs,
                       badBase64,
                       entryFor(b, Json::array({{{"name", "x"}, {"configuration", unknownCodec}}})),
                       entryFor(deleted),
                       entryFor(c, Json::array({{{"name", "Old DXV"}, {"configuration", legacy}}})),
                       "not an object"};
    fs::remove(deleted);
    writeFileAtomically(dir / "queue.json", list.dump());

    JobList jobs = QueuePersistence::load(dir.path());
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0]->sourceURL(), a);
    EXPECT_EQ(jobs[1]->sourceURL(), c);
    auto outputs = jobs[1]->outputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].configuration.codec, OutputCodec::dxv2);
    EXPECT_TRUE(outputs[0].configuration.alpha);

    for (const char* text : {"{}", "null", "", "[{\"bookmark\":", "[]"}) {
        writeFileAtomically(dir / "queue.json", text);
        EXPECT_TRUE(QueuePersistence::load(dir.path()).empty()) << text;
    }
}

TEST(QueuePersistence, BookmarksNeedAnExistingAbsoluteFile) {
    test::TempDir dir;
    const fs::path file = touch(dir / "f.mov");
    EXPECT_FALSE(QueuePersistence::bookmark(dir / "missing.mov"));
    auto bytes = QueuePersistence::bookmark(file);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(QueuePersistence::resolveBookmark(*bytes), file);

    auto wrongVersion = *bytes;
    wrongVersion[4] = 2;
    EXPECT_FALSE(QueuePersistence::resolveBookmark(wrongVersion));
    std::vector<std::uint8_t> relative{'F', 'W', 'B', 'M', 1, 'f', '.', 'm', 'o', 'v'};
    EXPECT_FALSE(QueuePersistence::resolveBookmark(relative));
    EXPECT_FALSE(QueuePersistence::resolveBookmark(std::vector<std::uint8_t>{'F', 'W', 'B', 'M', 1}));
    EXPECT_FALSE(QueuePersistence::resolveBookmark({}));
    fs::remove(file);
    EXPECT_FALSE(QueuePersistence::resolveBookmark(*bytes));
}

}  // namespace
}  // namespace fw
