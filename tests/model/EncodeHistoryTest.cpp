#include "model/EncodeHistory.h"

#include "platform/core/AtomicFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace fw {
namespace {

namespace fs = std::filesystem;

Json readFile(const fs::path& file) {
    std::string text;
    EXPECT_TRUE(readWholeFile(file, text)) << file;
    return Json::parse(text);
}

// The keys every record holds, and `more`.
std::set<std::string> recordKeysAnd(std::initializer_list<std::string> more) {
    std::set<std::string> keys{"id", "date", "sourceName", "outputName", "codec", "succeeded"};
    keys.insert(more);
    return keys;
}

std::set<std::string> keysOf(const Json& object) {
    std::set<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it) keys.insert(it.key());
    return keys;
}

Json storedRecord(int index) {
    return {{"id", Uuid::random().string()}, {"date", 700000000.5 + index}, {"sourceName", "s" + std::to_string(index)},
            {"outputName", "o"}, {"codec", "ProRes"}, {"succeeded", true}};
}

TEST(EncodeHistory, FileHoldsExactKeysDatesAndOptionalFields) {
    test::TempDir dir;
    const fs::path folder = dir / "Framewright";  // does not exist yet: the first save makes it
    const fs::path output = dir / "clip_ProRes.mov";
    std::ofstream(output) << "12345";

    EncodeHistoryStore store(folder);
    store.record("clip.mov", output, "ProRes, H.264", true, std::nullopt);
    fs::remove(output);
    store.record("gone.mov", output, "H.264", true, "");
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

    // Output deleted before recording: name and path, no size; an empty message is kept.
    const Json& gone = file[1];
    EXPECT_EQ(keysOf(gone), recordKeysAnd({"message", "outputPath"}));
    EXPECT_EQ(gone["message"], "");

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

TEST(EncodeHistory, UnreadableElementsAreSkippedAndBadFilesReadAsEmpty) {
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
    }
    for (const char* text : {"", "{}", "null", "[1,", "\"x\""}) {
        writeFileAtomically(dir / "history.json", text);
        EncodeHistoryStore store(dir.path());
        EXPECT_TRUE(store.records().empty()) << text;
    }
}

TEST(EncodeHistory, ClearAndObservers) {
    test::TempDir dir;
    EncodeHistoryStore store(dir.path());
    int changes = 0;
    store.recordsChanged().connect([&] { ++changes; });
    store.clear();
    EXPECT_EQ(changes, 1) << "clearing an empty history still notifies";
    std::string text;
    ASSERT_TRUE(readWholeFile(dir / "history.json", text));
    EXPECT_EQ(text, "[]");

    store.record("a", std::nullopt, "x", true, std::nullopt);
    EXPECT_EQ(changes, 2);

    EncodeHistoryStore memory;
    EXPECT_FALSE(memory.persists());
    memory.record("a", std::nullopt, "x", true, std::nullopt);
    memory.clear();
    EXPECT_TRUE(memory.records().empty());
}

TEST(EncodeHistory, FileSizeText) {
    const std::pair<std::int64_t, const char*> rows[] = {
        {0, "0 bytes"}, {1, "1 byte"}, {999, "999 bytes"}, {1000, "1.0 kB"},
        {1500000, "1.5 MB"}, {999960, "1.0 MB"}, {2500000000, "2.5 GB"},
    };
    for (const auto& [bytes, text] : rows) EXPECT_EQ(formatFileSize(bytes), text);
}

}  // namespace
}  // namespace fw
