#include "model/Presets.h"
#include "model/UnicodeText.h"

#include "platform/core/UserDefaults.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

namespace fs = std::filesystem;

struct PresetFixture : ::testing::Test {
    test::TempDir dir;
    fs::path defaultsFile = dir / "defaults.json";
    UserDefaults defaults{defaultsFile};

    ExportConfiguration gif() {
        ExportConfiguration configuration;
        configuration.codec = OutputCodec::gif;
        return configuration;
    }
};

TEST_F(PresetFixture, SavingTrimsReplacesByNameAndPersists) {
    PresetStore store(defaults);
    int changes = 0;
    store.userPresetsChanged().connect([&] { ++changes; });
    store.savePreset(" \n\t ", gif());
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(fs::exists(defaultsFile)) << "an empty name writes nothing";
    store.savePreset("  Loop \n", gif());
    store.savePreset("H.264 720p (web)", ExportConfiguration{});
    store.savePreset("loop", ExportConfiguration{});  // case counts: a second preset
    auto before = store.userPresets();
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(before[0].name, "Loop");
    EXPECT_FALSE(before[0].isBuiltIn);
    ExportConfiguration changed = gif();
    changed.resize.isEnabled = true;
    store.savePreset("Loop", changed);
    auto after = store.userPresets();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0].id, before[0].id);
    EXPECT_EQ(after[0].configuration, changed);
    EXPECT_EQ(store.builtIns()[2].configuration.h264.crush, 0.5) << "the built-in is untouched";
    store.savePreset("Caf\u00e9", gif());
    store.savePreset("Cafe\u0301", ExportConfiguration{});  // canonically the same name
    EXPECT_EQ(store.userPresets().size(), 4u);
    EXPECT_EQ(changes, 6);
    // The stored form, and a new store reading it back.
    auto stored = defaults.value(PresetStore::kDefaultsKey);
    ASSERT_TRUE(stored && stored->is_array());
    ASSERT_EQ(stored->size(), 4u);
    EXPECT_EQ(
        (*stored)[0],
        (Json{
            {"id", after[0].id.string()}, {"name", "Loop"}, {"isBuiltIn", false}, {"configuration", toJson(changed)}}));
    EXPECT_EQ((*stored)[0]["configuration"]["codec"], "GIF (animated)");
    UserDefaults reread(defaultsFile);
    PresetStore reloaded(reread);
    EXPECT_EQ(reloaded.userPresets(), store.userPresets());
}

TEST_F(PresetFixture, DeletingRemovesUserPresetsOnly) {
    PresetStore store(defaults);
    store.savePreset("A", gif());
    store.savePreset("B", gif());
    int changes = 0;
    store.userPresetsChanged().connect([&] { ++changes; });
    store.deletePreset(store.builtIns()[0]);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(store.allPresets().size(), 7u);
    store.deletePreset(store.userPresets()[0]);
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(store.userPresets().size(), 1u);
    EXPECT_EQ(store.userPresets()[0].name, "B");
    EXPECT_EQ(defaults.value(PresetStore::kDefaultsKey)->size(), 1u);
    store.deletePreset(Preset{});  // matches nothing, still a change notice
    EXPECT_EQ(changes, 2);
}

TEST_F(PresetFixture, UnreadableStoredElementsAreSkippedAndKept) {
    Json good = toJson(Preset{Uuid::random(), "Good", false, ExportConfiguration{}});
    Json builtInFlag = toJson(Preset{Uuid::random(), "Flagged", true, ExportConfiguration{}});
    Json unknownCodec = good;
    unknownCodec["configuration"]["codec"] = "NoSuchCodec";
    Json missingName = good;
    missingName.erase("name");
    defaults.set(PresetStore::kDefaultsKey, Json::array({unknownCodec, good, missingName, builtInFlag, 42}));
    PresetStore store(defaults);
    auto user = store.userPresets();
    ASSERT_EQ(user.size(), 2u);
    EXPECT_EQ(user[0].name, "Good");
    EXPECT_EQ(user[1].name, "Flagged");
    EXPECT_TRUE(user[1].isBuiltIn) << "listed among the user presets as stored";
    store.deletePreset(user[1]);
    EXPECT_EQ(store.userPresets().size(), 2u) << "a preset flagged built-in cannot be deleted";
    store.savePreset("New", gif());
    EXPECT_EQ(*defaults.value(PresetStore::kDefaultsKey),
              Json::array({good, builtInFlag, toJson(store.userPresets()[2]), unknownCodec, missingName, 42}))
        << "unreadable elements are written back unchanged after the others";
    defaults.set(PresetStore::kDefaultsKey, "not a list");
    EXPECT_TRUE(PresetStore(defaults).userPresets().empty());
}

TEST(UnicodeText, CanonicalEquivalenceAndTrimming) {
    EXPECT_TRUE(canonicallyEquivalent(std::string_view("Caf\u00e9"), std::string_view("Cafe\u0301")));
    EXPECT_FALSE(canonicallyEquivalent(std::string_view("caf\u00e9"), std::string_view("Caf\u00e9")));
    EXPECT_FALSE(canonicallyEquivalent(std::string_view("a"), std::string_view("b")));
    // Ill-formed UTF-8 compares by bytes only.
    EXPECT_TRUE(canonicallyEquivalent(std::string_view("\xff"), std::string_view("\xff")));
    EXPECT_FALSE(canonicallyEquivalent(std::string_view("\xff"), std::string_view("\xfe")));
    using Text = std::optional<std::string>;
    EXPECT_TRUE(canonicallyEquivalent(Text(), Text()));
    EXPECT_FALSE(canonicallyEquivalent(Text(), Text("")));
    EXPECT_TRUE(canonicallyEquivalent(Text(""), Text("")));
    // Trimming takes Unicode spaces and line breaks only.
    EXPECT_EQ(trimmingWhitespaceAndNewlines("\u2029\u0085 \t\r\n My Preset \u00a0\u3000\u2028"), "My Preset");
    EXPECT_EQ(trimmingWhitespaceAndNewlines(" \n \t "), "");
    EXPECT_EQ(trimmingWhitespaceAndNewlines("\u00e9 "), "\u00e9");
    EXPECT_EQ(trimmingWhitespaceAndNewlines("x\xff "), "x\xff");
    EXPECT_EQ(trimmingWhitespaceAndNewlines(""), "");
}

}  // namespace
}  // namespace fw
