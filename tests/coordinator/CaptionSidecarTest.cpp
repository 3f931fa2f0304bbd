// Caption sidecars: written only when asked for, converted from SubRip with
// its byte-order mark and CRLF lines, never from invalid UTF-8, and replaced
// atomically.

#include "CoordinatorTestSupport.h"

#include "coordinator/CaptionSidecar.h"
#include "platform/core/AtomicFile.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::CoordinatorFixture;

const std::string kSubRip =
    "\xEF\xBB\xBF"
    "1\r\n00:00:01,000 --> 00:00:02,500\r\nHello\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000\r\nWorld\r\n";
const std::string kWebVTT =
    "WEBVTT\n\n00:00:01.000 --> 00:00:02.500\nHello\n\n00:00:03.000 --> 00:00:04.000\nWorld\n\n";

void writeBytes(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

std::optional<std::string> contents(const fs::path& file) {
    std::string text;
    if (!fs::exists(file) || !readWholeFile(file, text)) return std::nullopt;
    return text;
}

MetadataSettings captions(const fs::path& file) {
    MetadataSettings metadata;
    metadata.enabled = true;
    metadata.captionsEnabled = true;
    metadata.captionSourceURL = file;
    return metadata;
}

TEST(CaptionSidecar, WrittenOnlyFromValidSubRipWhenAskedFor) {
    CoordinatorFixture fixture;
    const fs::path output = test::touch(fixture.folder / "clip_ProRes.mov");
    const fs::path sidecar = fixture.folder / "clip_ProRes.vtt";
    struct Row {
        const char* what;
        std::function<void(MetadataSettings&)> edit;
        std::string subRip;
        std::optional<std::string> expected;  // none: an earlier sidecar stays as it was
    } rows[] = {
        {"BOM and CRLF", [](MetadataSettings&) {}, kSubRip, kWebVTT},
        {"metadata off", [](MetadataSettings& m) { m.enabled = false; }, kSubRip, std::nullopt},
        {"captions off", [](MetadataSettings& m) { m.captionsEnabled = false; }, kSubRip, std::nullopt},
        {"no caption file", [](MetadataSettings& m) { m.captionSourceURL.reset(); }, kSubRip, std::nullopt},
        {"caption file gone", [&](MetadataSettings& m) { m.captionSourceURL = fixture.folder / "gone.srt"; }, kSubRip,
         std::nullopt},
        {"caption path is a folder", [&](MetadataSettings& m) { m.captionSourceURL = fixture.folder.path(); }, kSubRip,
         std::nullopt},
        {"byte FF", [](MetadataSettings&) {}, "1\n00:00:01,000 --> 00:00:02,000\nH\xFFllo\n", std::nullopt},
        {"overlong slash", [](MetadataSettings&) {}, "1\n00:00:01,000 --> 00:00:02,000\n\xC0\xAF\n", std::nullopt},
        {"surrogate", [](MetadataSettings&) {}, "1\n00:00:01,000 --> 00:00:02,000\n\xED\xA0\x80\n", std::nullopt},
        {"cut short", [](MetadataSettings&) {}, "1\n00:00:01,000 --> 00:00:02,000\nprice \xE2\x82", std::nullopt},
        {"plain LF, no BOM", [](MetadataSettings&) {}, "7\n00:00:05,000 --> 00:00:06,000\nÉté\n",
         "WEBVTT\n\n00:00:05.000 --> 00:00:06.000\nÉté\n\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path subRip = fixture.folder / "captions.srt";
        writeBytes(subRip, row.subRip);
        writeBytes(sidecar, "earlier");
        MetadataSettings metadata = captions(subRip);
        row.edit(metadata);
        const auto written = CaptionSidecar::write(metadata, output);
        EXPECT_EQ(written.has_value(), row.expected.has_value());
        EXPECT_EQ(contents(sidecar), row.expected.value_or("earlier"));
    }
    EXPECT_EQ(CaptionSidecar::write(captions(fixture.folder / "captions.srt"), fixture.folder / "missing" / "a.mov"),
              std::nullopt)
        << "a folder that cannot be written to is silent";
}

TEST(CaptionSidecar, TheCoordinatorReadsItsMetadataWhenCalled) {
    CoordinatorFixture fixture;
    const fs::path subRip = fixture.folder / "captions.srt";
    writeBytes(subRip, kSubRip);
    auto coordinator = fixture.make();
    const fs::path output = fixture.folder / "take.2.mov";
    coordinator->writeCaptionSidecar(output);
    EXPECT_FALSE(fs::exists(fixture.folder / "take.2.vtt"));
    coordinator->setMetadata(captions(subRip));
    coordinator->writeCaptionSidecar(output);
    EXPECT_EQ(contents(fixture.folder / "take.2.vtt"), kWebVTT);
    for (const auto& entry : fs::directory_iterator(fixture.folder.path()))
        EXPECT_EQ(entry.path().filename().string().find(".fwpart"), std::string::npos) << "staging left behind";
}

}  // namespace
}  // namespace fw
