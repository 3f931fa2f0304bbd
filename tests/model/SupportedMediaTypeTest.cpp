#include "model/SupportedMediaType.h"

#include <gtest/gtest.h>

#include <set>

namespace fw {
namespace {

TEST(SupportedMediaType, ExtensionTestIgnoresCaseAndOnlyLooksAtTheLastSuffix) {
    EXPECT_TRUE(SupportedMediaType::isSupported("/m/CLIP.MOV"));
    EXPECT_TRUE(SupportedMediaType::isSupported("clip.Mov"));
    EXPECT_TRUE(SupportedMediaType::isSupported("/m/clip.mov"));
    EXPECT_FALSE(SupportedMediaType::isSupported("/m/clip"));
    EXPECT_FALSE(SupportedMediaType::isSupported("/m/clip.mov.part"));
    EXPECT_FALSE(SupportedMediaType::isSupported("/m/clip."));
    EXPECT_FALSE(SupportedMediaType::isSupported("/m/.mov"));

    EXPECT_TRUE(SupportedMediaType::isSupported("photo.JPG"));
    EXPECT_TRUE(SupportedMediaType::isStillImage("photo.JPG"));
    EXPECT_FALSE(SupportedMediaType::isCameraRaw("photo.JPG"));

    EXPECT_TRUE(SupportedMediaType::isSupported("a.R3D"));
    EXPECT_TRUE(SupportedMediaType::isCameraRaw("a.R3D"));
    EXPECT_FALSE(SupportedMediaType::isStillImage("a.R3D"));

    EXPECT_TRUE(SupportedMediaType::isSupported("a.mxf"));
    EXPECT_FALSE(SupportedMediaType::isStillImage("a.mxf"));
    EXPECT_FALSE(SupportedMediaType::isCameraRaw("a.mxf"));

    for (const char* name : {"a.gif", "a.webp", "a.exr", "a.dpx", "a.m4b"})
        EXPECT_FALSE(SupportedMediaType::isSupported(name)) << name;
}

}  // namespace
}  // namespace fw
