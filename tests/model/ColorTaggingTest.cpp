#include "model/ColorTagging.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(ColorTagging, PropertiesAndJson) {
    ColorSettings settings;
    EXPECT_FALSE(settings.properties());
    settings.tag = ColorTag::pq;
    EXPECT_FALSE(settings.properties());
    settings = ColorSettings{true, ColorTag::rec709};
    EXPECT_EQ(settings.properties(),
              (ColorProperties{ColorPrimaries::itu709, TransferFunction::itu709, YCbCrMatrix::itu709}));

    auto rec2020 = properties(ColorTag::rec2020);
    auto pq = properties(ColorTag::pq);
    auto hlg = properties(ColorTag::hlg);
    EXPECT_EQ(rec2020.transferFunction, TransferFunction::itu709);
    EXPECT_EQ(rec2020.primaries, pq.primaries);
    EXPECT_EQ(rec2020.yCbCrMatrix, pq.yCbCrMatrix);
    EXPECT_EQ(pq.primaries, hlg.primaries);
    EXPECT_EQ(pq.yCbCrMatrix, hlg.yCbCrMatrix);
    EXPECT_NE(pq.transferFunction, hlg.transferFunction);

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
