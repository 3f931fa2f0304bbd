#include "model/SupportedMediaType.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(SupportedMediaType, ExtensionTestIgnoresCaseAndOnlyLooksAtTheLastSuffix) {
    struct Row {
        const char* name;
        bool supported, still, raw;
    };
    const Row rows[] = {
        {"/m/CLIP.MOV", true, false, false}, {"clip.Mov", true, false, false}, {"/m/clip.mov", true, false, false},
        {"/m/clip", false, false, false},    {"/m/clip.mov.part", false, false, false},
        {"/m/clip.", false, false, false},   {"/m/.mov", false, false, false},  {"photo.JPG", true, true, false},
        {"a.R3D", true, false, true},        {"a.mxf", true, false, false},     {"a.gif", false, false, false},
        {"a.webp", false, false, false},     {"a.exr", false, false, false},    {"a.dpx", false, false, false},
        {"a.m4b", false, false, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SupportedMediaType::isSupported(row.name), row.supported) << row.name;
        if (!row.supported) continue;
        EXPECT_EQ(SupportedMediaType::isStillImage(row.name), row.still) << row.name;
        EXPECT_EQ(SupportedMediaType::isCameraRaw(row.name), row.raw) << row.name;
    }
}

}  // namespace
}  // namespace fw
