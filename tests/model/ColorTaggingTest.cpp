#include "model/ColorTagging.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(ColorTagging, PropertiesAndJson) {
    // Tags only when switched on.
    ColorSettings settings;
    settings.tag = ColorTag::pq;
    EXPECT_FALSE(settings.properties());
    settings.enabled = true;
    EXPECT_EQ(settings.properties(), properties(ColorTag::pq));

    EXPECT_FALSE(fromRawValue<ColorTag>(std::string_view("Rec. 709")));
    EXPECT_FALSE(fromRawValue<ColorTag>(std::string_view("rec. 709 (sdr)")));
    EXPECT_EQ(fromRawValue<ColorTag>(std::string_view("Rec. 2020 HLG")), ColorTag::hlg);

    Json defaults = toJson(ColorSettings{});
    EXPECT_EQ(defaults, json::parse(R"x({"enabled": false, "tag": "Rec. 709 (SDR)"})x"));
    EXPECT_EQ(json::decode<ColorSettings>(defaults, "color"), ColorSettings{});
    EXPECT_THROW(json::decode<ColorSettings>(json::parse(R"({"enabled": false})"), "color"), JsonDecodeError);
    EXPECT_THROW(json::decode<ColorSettings>(json::parse(R"x({"enabled": 1, "tag": "Rec. 709 (SDR)"})x"), "color"),
                 JsonDecodeError);
    EXPECT_THROW(json::decode<ColorSettings>(json::parse(R"({"enabled": true, "tag": "HDR"})"), "color"),
                 JsonDecodeError);
}

}  // namespace
}  // namespace fw
