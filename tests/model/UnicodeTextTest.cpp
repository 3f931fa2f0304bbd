#include "model/UnicodeText.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(UnicodeText, CanonicalEquivalenceKeepsCaseAndOptionality) {
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
}

TEST(UnicodeText, TrimsUnicodeSpacesAndLineBreaksOnly) {
    EXPECT_EQ(trimmingWhitespaceAndNewlines("\u2029\u0085 \t\r\n My Preset \u00a0\u3000\u2028"), "My Preset");
    EXPECT_EQ(trimmingWhitespaceAndNewlines(" \n \t "), "");
    EXPECT_EQ(trimmingWhitespaceAndNewlines("\u00e9 "), "\u00e9");
    EXPECT_EQ(trimmingWhitespaceAndNewlines("x\xff "), "x\xff");
    EXPECT_EQ(trimmingWhitespaceAndNewlines(""), "");
}

}  // namespace
}  // namespace fw
