// The files the queue and the encode history keep in the user's folder.

#include "model/EncodeHistory.h"
#include "model/EncodeResult.h"
#include "model/QueuePersistence.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/Base64.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <thread>
#include <vector>

namespace fw {
namespace {

namespace fs = std::filesystem;
using QueuePersistence::JobList;

std::string textOf(const fs::path& file) {
    std::string text;
    EXPECT_TRUE(readWholeFile(file, text)) << file;
    return text;
}

Json readFile(const fs::path& file) { return Json::parse(textOf(file)); }

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

// Files that are no readable list, each around one readable `element`:
// nested past what any reader walks, a slip made by hand, a cut-off write,
// bytes of something else, JSON of another shape.
std::vector<std::pair<std::string, std::string>> unreadableLists(const Json& element) {
    const std::string one = element.dump();
    return {{"nested 100,000 deep", "[" + one + "," + std::string(100000, '[') + std::string(100000, ']') + "]"},
            {"trailing comma", "[" + one + ",]"},
            {"truncated", "[" + one.substr(0, one.size() / 2)},
            {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0", 10)},
            {"an object", "{\"list\": [" + one + "]}"},
            {"null", "null"},
            {"an element with each key twice", "[" + one.substr(0, one.size() - 1) + "," + one.substr(1) + "]"}};
}

// The `index`-th file (from 0) set aside in `folder` for "<name>.json".
fs::path setAside(const fs::path& folder, const std::string& name, std::size_t index) {
    return folder / (name + ".unreadable" + (index == 0 ? "" : "-" + std::to_string(index + 1)) + ".json");
}

TEST(QueuePersistence, EmptyQueueIsTwoCharactersAndFolderIsMade) {
    test::TempDir dir;
    const fs::path folder = dir / "Framewright";
    QueuePersistence::save({}, folder);
    EXPECT_EQ(textOf(folder / "queue.json"), "[]");
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
    fs::remove(gone);
    QueuePersistence::save({first, disabled, duplicate, missing}, dir.path());
    const Json file = readFile(dir / "queue.json");
    ASSERT_EQ(file.size(), 4u) << "the source that is gone keeps its entry";
    for (const Json& entry : file) EXPECT_EQ(keysOf(entry), (std::set<std::string>{"bookmark", "enabled", "outputs"}));
    ASSERT_EQ(file[1]["outputs"].size(), 2u);
    EXPECT_EQ(keysOf(file[1]["outputs"][0]), (std::set<std::string>{"name", "configuration"}));
    EXPECT_EQ(file[1]["outputs"][1]["configuration"]["codec"], "HEVC");
    EXPECT_TRUE(base64::decode(file[0]["bookmark"].get<std::string>()));
    JobList restored = QueuePersistence::load(dir.path());
    ASSERT_EQ(restored.size(), 3u);
    for (const auto& [job, source] : {std::pair{restored[0], clip}, {restored[1], odd}, {restored[2], clip}})
        EXPECT_EQ(job->sourceURL(), source);
    EXPECT_NE(restored[0]->id(), restored[2]->id());
    EXPECT_NE(restored[0]->id(), first->id());
    EXPECT_EQ(restored[0]->status(), EncodeJob::Status::waiting);
    EXPECT_EQ(restored[0]->progress(), 0);
    EXPECT_FALSE(restored[0]->outputURL() || restored[0]->errorMessage());
    EXPECT_EQ(restored[0]->uploadState(), EncodeJob::UploadState::none);
    EXPECT_TRUE(restored[0]->enabled());
    EXPECT_FALSE(restored[1]->enabled());
    auto outputs = restored[1]->outputs(), saved = disabled->outputs();
    ASSERT_EQ(outputs.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(outputs[i].name, saved[i].name);
        EXPECT_EQ(outputs[i].configuration, saved[i].configuration);
        EXPECT_NE(outputs[i].id, saved[i].id);
    }
}

TEST(QueuePersistence, BadEntriesAreSkippedAndWrittenBackUnchanged) {
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
    auto newerBookmark = *QueuePersistence::bookmark(b);
    newerBookmark[4] = 2;
    Json newer = entryFor(b);
    newer["bookmark"] = base64::encode(newerBookmark.data(), newerBookmark.size());
    const Json list = {entryFor(a),
                       noOutputs,
                       badBase64,
                       entryFor(b, Json::array({{{"name", "x"}, {"configuration", unknownCodec}}})),
                       entryFor(deleted),
                       entryFor(c, Json::array({{{"name", "Old DXV"}, {"configuration", legacy}}})),
                       newer,
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
    // The entries it could not read go back after the jobs as written; the one whose source is gone does not.
    const Json unreadable = {list[1], list[2], list[3], list[6], list[7]};
    for (int save = 0; save < 2; ++save) {
        QueuePersistence::save(jobs, dir.path());
        const Json file = readFile(dir / "queue.json");
        ASSERT_EQ(file.size(), 7u);
        EXPECT_EQ(Json(std::vector<Json>(file.begin() + 2, file.end())), unreadable);
        EXPECT_EQ(QueuePersistence::load(dir.path()).size(), 2u);
    }
    for (const char* text : {"{}", "null", "", "[{\"bookmark\":", "[]", "[{\"enabled\": 1e400}]"}) {
        writeFileAtomically(dir / "queue.json", text);
        EXPECT_TRUE(QueuePersistence::load(dir.path()).empty()) << text;
    }
}

TEST(QueuePersistence, AFileThatIsNoListIsSetAsideWholeByTheNextSave) {
    test::TempDir dir;
    const fs::path clip = touch(dir / "clip.mov");
    const auto rows = unreadableLists(entryFor(clip));
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const auto& [name, text] = rows[index];
        SCOPED_TRACE(name);
        writeFileAtomically(dir / "queue.json", text);
        JobList jobs = QueuePersistence::load(dir.path());
        EXPECT_TRUE(jobs.empty());
        EXPECT_EQ(textOf(dir / "queue.json"), text) << "loading changes nothing";
        jobs.push_back(std::make_shared<EncodeJob>(clip));
        const auto reports = QueuePersistence::save(jobs, dir.path());
        EXPECT_EQ(textOf(setAside(dir.path(), "queue", index)), text) << "kept whole beside the new file";
        ASSERT_EQ(reports.size(), 1u) << "and told where";
        EXPECT_EQ(reports[0].kind, StoredFileReport::Kind::setAside);
        EXPECT_EQ(reports[0].kept, setAside(dir.path(), "queue", index));
        EXPECT_EQ(readFile(dir / "queue.json"), Json::array({entryFor(clip)}));
        QueuePersistence::save(jobs, dir.path());
        EXPECT_FALSE(fs::exists(setAside(dir.path(), "queue", index + 1))) << "a readable file is simply replaced";
        EXPECT_EQ(QueuePersistence::load(dir.path()).size(), 1u);
    }
    for (std::size_t index = 0; index < rows.size(); ++index)
        EXPECT_EQ(textOf(setAside(dir.path(), "queue", index)), rows[index].second) << "none replaced another";
}

TEST(QueuePersistence, BookmarksNeedAnExistingAbsoluteFile) {
    test::TempDir dir;
    const fs::path file = touch(dir / "f.mov");
    EXPECT_FALSE(QueuePersistence::resolveBookmark(QueuePersistence::bookmark(dir / "missing.mov").value()));
    auto bytes = QueuePersistence::bookmark(file);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(QueuePersistence::resolveBookmark(*bytes), file);
    auto wrongVersion = *bytes;
    wrongVersion[4] = 2;
    EXPECT_FALSE(QueuePersistence::resolveBookmark(wrongVersion));
    for (const std::vector<std::uint8_t>& bad :
         {std::vector<std::uint8_t>{'F', 'W', 'B', 'M', 1, 'f', '.', 'm', 'o', 'v'}, {'F', 'W', 'B', 'M', 1}, {}})
        EXPECT_FALSE(QueuePersistence::resolveBookmark(bad));  // relative, empty path, nothing
    fs::remove(file);
    EXPECT_FALSE(QueuePersistence::resolveBookmark(*bytes));
}

// The keys every record holds, and `more`.
std::set<std::string> recordKeysAnd(std::initializer_list<std::string> more) {
    std::set<std::string> keys{"id", "date", "sourceName", "outputName", "codec", "succeeded"};
    keys.insert(more);
    return keys;
}

Json storedRecord(int index) {
    return {{"id", Uuid::random().string()},
            {"date", 700000000.5 + index},
            {"sourceName", "s" + std::to_string(index)},
            {"outputName", "o"},
            {"codec", "ProRes"},
            {"succeeded", true}};
}

TEST(EncodeHistory, FileHoldsExactKeysDatesAndOptionalFields) {
    test::TempDir dir;
    const fs::path folder = dir / "Framewright";  // does not exist yet: the first save makes it
    const fs::path output = dir / "clip_ProRes.mov";
    std::ofstream(output) << "12345";
    EncodeHistoryStore store(folder);
    store.record("clip.mov", output, "ProRes, H.264", true, std::nullopt);
    fs::remove(output);
    store.record("gone.mov", output, "H.264", true, "", {}, {3.24, 12, 0.96});
    store.record("bad.mov", std::nullopt, "HEVC", false, "Reading failed: x");
    Json file = readFile(folder / "history.json");
    ASSERT_TRUE(file.is_array());
    ASSERT_EQ(file.size(), 3u);
    // Newest first: the failure without output.
    const Json& failed = file[0];
    EXPECT_EQ(keysOf(failed), recordKeysAnd({"message"}));
    EXPECT_EQ(failed["outputName"], "\u2014");
    EXPECT_EQ(failed["succeeded"], false);
    EXPECT_EQ(failed["message"], "Reading failed: x");
    // Output deleted before recording: name and path, no size; an empty message is kept, and so are the sound
    // concealed, the pictures left out and the sound left out.
    const Json& gone = file[1];
    EXPECT_EQ(keysOf(gone), recordKeysAnd({"concealedSoundSeconds", "damagedPictures", "leftOutSoundSeconds", "message",
                                           "outputPath"}));
    EXPECT_EQ(gone["message"], "");
    EXPECT_EQ(gone["concealedSoundSeconds"], 3.24);
    EXPECT_EQ(gone["damagedPictures"], 12);
    EXPECT_EQ(gone["leftOutSoundSeconds"], 0.96);
    const Json& done = file[2];
    EXPECT_EQ(keysOf(done), recordKeysAnd({"fileSizeBytes", "outputPath"}));
    EXPECT_EQ(done["outputName"], "clip_ProRes.mov");
    EXPECT_EQ(done["outputPath"], output.string());
    EXPECT_EQ(done["fileSizeBytes"], 5);
    EXPECT_EQ(done["codec"], "ProRes, H.264");
    std::string id = done["id"];
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(id, Uuid::parse(id)->string()) << "identifiers are upper-case";
    // Seconds since 2001-01-01: a present-day date is between 2023 and 2100 in that count.
    ASSERT_TRUE(done["date"].is_number());
    EXPECT_GT(done["date"].get<double>(), 7.0e8);
    EXPECT_LT(done["date"].get<double>(), 3.1e9);
    // A new store reads back exactly what the first one holds.
    EncodeHistoryStore reloaded(folder);
    EXPECT_EQ(reloaded.records(), store.records());
    EXPECT_EQ(store.records()[2].sizeDescription(), "5 bytes");
    EXPECT_EQ(store.records()[0].sizeDescription(), std::nullopt);
    EXPECT_EQ(
        store.records()[1].damageNote(),
        "12 damaged pictures left out; 3.2 s of damaged sound replaced by silence; 1.0 s of damaged sound left out");
    EXPECT_EQ(store.records()[2].damageNote(), "");
    EXPECT_EQ(concealedSoundNote(0.021), "0.1 s of damaged sound replaced by silence") << "one packet still shows";
    // Paths that are no UTF-8 (Latin-1 names) read back as their bytes.
    EncodeHistoryStore latin1(dir / "latin1");
    latin1.record("caf\xe9.mov", dir / "caf\xe9_ProRes.mov", "ProRes", true, {}, {dir / "caf\xe9.mp4", dir / "b.mp4"});
    EXPECT_EQ(EncodeHistoryStore(dir / "latin1").records()[0].outputPaths(), latin1.records()[0].outputPaths());
}

TEST(EncodeHistory, KeepsAtMostFiveHundredNewestFirst) {
    test::TempDir dir;
    Json many = Json::array();
    for (int i = 0; i < 600; ++i) many.push_back(storedRecord(i));
    writeFileAtomically(dir / "history.json", many.dump());
    EncodeHistoryStore store(dir.path());
    ASSERT_EQ(store.records().size(), 600u) << "a longer file loads whole";
    store.record("new.mov", std::nullopt, "GIF (animated)", true, std::nullopt);
    auto records = store.records();
    ASSERT_EQ(records.size(), 500u);
    EXPECT_EQ(records.front().sourceName, "new.mov");
    EXPECT_EQ(records.back().sourceName, "s498");
    store.record("newer.mov", std::nullopt, "PNG (still)", true, std::nullopt);
    records = store.records();
    ASSERT_EQ(records.size(), 500u);
    EXPECT_EQ(records[0].sourceName, "newer.mov");
    EXPECT_EQ(records[1].sourceName, "new.mov");
    EXPECT_EQ(records.back().sourceName, "s497");
    EXPECT_EQ(readFile(dir / "history.json").size(), 500u);
}

TEST(EncodeHistory, UnreadableElementsAreSkippedAndKeptAndBadFilesReadAsEmpty) {
    test::TempDir dir;
    Json list = Json::array({storedRecord(0), storedRecord(1), storedRecord(2), storedRecord(3)});
    list[1].erase("codec");
    list[2]["id"] = "not-a-uuid";
    list[3]["extra"] = 1;  // unknown keys are ignored
    writeFileAtomically(dir / "history.json", list.dump());
    {
        EncodeHistoryStore store(dir.path());
        auto records = store.records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].sourceName, "s0");
        EXPECT_EQ(records[1].sourceName, "s3");
        store.record("new.mov", std::nullopt, "x", true, std::nullopt);
        const Json file = readFile(dir / "history.json");
        ASSERT_EQ(file.size(), 5u) << "unreadable records are written back after the others";
        EXPECT_EQ(file[3], list[1]);
        EXPECT_EQ(file[4], list[2]);
        store.clear();
        EXPECT_EQ(readFile(dir / "history.json"), Json::array()) << "clearing removes them too";
    }
    for (const char* text : {"", "{}", "null", "[1,", "\"x\"", "[1e400]"}) {
        writeFileAtomically(dir / "history.json", text);
        EncodeHistoryStore store(dir.path());
        EXPECT_TRUE(store.records().empty()) << text;
    }
}

TEST(EncodeHistory, AFileThatIsNoListIsSetAsideWholeByTheNextSave) {
    test::TempDir dir;
    const auto rows = unreadableLists(storedRecord(0));
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const auto& [name, text] = rows[index];
        SCOPED_TRACE(name);
        writeFileAtomically(dir / "history.json", text);
        EncodeHistoryStore store(dir.path());
        std::vector<StoredFileReport> reports;
        store.reports().connect([&](const StoredFileReport& report) { reports.push_back(report); });
        EXPECT_TRUE(store.records().empty());
        EXPECT_EQ(textOf(dir / "history.json"), text) << "reading changes nothing";
        // Either change is the first save: a new record, or clearing.
        const bool clears = index % 2 == 1;
        if (clears)
            store.clear();
        else
            store.record("new.mov", std::nullopt, "x", true, std::nullopt);
        EXPECT_EQ(textOf(setAside(dir.path(), "history", index)), text) << "kept whole beside the new file";
        ASSERT_EQ(reports.size(), 1u) << "and told where";
        EXPECT_EQ(reports[0].kind, StoredFileReport::Kind::setAside);
        EXPECT_EQ(reports[0].kept, setAside(dir.path(), "history", index));
        EXPECT_EQ(readFile(dir / "history.json").size(), clears ? 0u : 1u);
        store.record("again.mov", std::nullopt, "x", true, std::nullopt);
        EXPECT_FALSE(fs::exists(setAside(dir.path(), "history", index + 1))) << "a readable file is simply replaced";
        EXPECT_EQ(EncodeHistoryStore(dir.path()).records(), store.records());
    }
    for (std::size_t index = 0; index < rows.size(); ++index)
        EXPECT_EQ(textOf(setAside(dir.path(), "history", index)), rows[index].second) << "none replaced another";
}

TEST(EncodeHistory, ClearAndObservers) {
    test::TempDir dir;
    EncodeHistoryStore store(dir.path());
    int changes = 0;
    store.recordsChanged().connect([&] { ++changes; });
    store.clear();
    EXPECT_EQ(changes, 1) << "clearing an empty history still notifies";
    EXPECT_EQ(textOf(dir / "history.json"), "[]");
    store.record("a", std::nullopt, "x", true, std::nullopt);
    EXPECT_EQ(changes, 2);
    EncodeHistoryStore memory;
    EXPECT_FALSE(memory.persists());
    memory.record("a", std::nullopt, "x", true, std::nullopt);
    memory.clear();
    EXPECT_TRUE(memory.records().empty());
}

// Records made on several threads while the file is blocked (a folder in its
// place), with saves of what is unsaved tried among them: once it is free, one
// saveUnsaved writes them all, and a second finds nothing left to write.
TEST(EncodeHistory, RecordsFromSeveralThreadsLeftUnsavedAreWrittenByOneSaveUnsaved) {
    test::TempDir folder;
    const fs::path file = folder / EncodeHistoryStore::kFileName;
    fs::create_directories(file);
    EncodeHistoryStore store(folder.path());
    constexpr int kThreads = 4, kEach = 25;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
        threads.emplace_back([&store, thread] {
            for (int index = 0; index < kEach; ++index) {
                store.record(std::to_string(thread * kEach + index), std::nullopt, "H.264", true, std::nullopt);
                if (index % 5 == 0) {
                    EXPECT_EQ(store.saveUnsaved().size(), 1u) << "still blocked";
                }
            }
        });
    for (auto& thread : threads) thread.join();
    fs::remove(file);
    EXPECT_TRUE(store.saveUnsaved().empty());
    EXPECT_EQ(EncodeHistoryStore(folder.path()).records().size(), std::size_t{kThreads * kEach});
    fs::remove(file);
    EXPECT_TRUE(store.saveUnsaved().empty());
    EXPECT_FALSE(fs::exists(file)) << "nothing was left to write";
}

TEST(EncodeHistory, FileSizeText) {
    const std::pair<std::int64_t, const char*> rows[] = {{0, "0 bytes"},        {1, "1 byte"},       {999, "999 bytes"},
                                                         {1000, "1.0 kB"},      {1500000, "1.5 MB"}, {999960, "1.0 MB"},
                                                         {2500000000, "2.5 GB"}};
    for (const auto& [bytes, text] : rows) EXPECT_EQ(formatFileSize(bytes), text);
}

}  // namespace
}  // namespace fw
