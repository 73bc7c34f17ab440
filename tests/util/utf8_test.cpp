#include "util/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace util {
namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(Utf8, AcceptsEveryFormUpToTheLastScalarValue) {
    EXPECT_TRUE(is_utf8(""));
    EXPECT_TRUE(is_utf8("a\xC2\x80\xDF\xBF"));
    EXPECT_TRUE(is_utf8("\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"));
    EXPECT_TRUE(is_utf8("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"));
}

TEST(Utf8, FindsTheFirstBrokenByte) {
    EXPECT_EQ(first_invalid_utf8("ab\xC0\xAF"), 2u);       // overlong
    EXPECT_EQ(first_invalid_utf8("\xE0\x9F\xBF"), 0u);     // overlong three-byte form
    EXPECT_EQ(first_invalid_utf8("x\xED\xA0\x80"), 1u);    // surrogate
    EXPECT_EQ(first_invalid_utf8("\xF4\x90\x80\x80"), 0u); // above U+10FFFF
    EXPECT_EQ(first_invalid_utf8("ok\xE2\x82"), 2u);       // cut short
    EXPECT_EQ(first_invalid_utf8("\x80"), 0u);             // lone continuation
    EXPECT_EQ(first_invalid_utf8("\xF5\x80\x80\x80"), 0u);
}

TEST(Utf8, LossyCopyReplacesEachLongestBrokenStart) {
    EXPECT_EQ(lossy_utf8("\xF0\x9F\x98" "a"), fffd + "a");
    EXPECT_EQ(lossy_utf8("\xF0\x9F\x98\xF0\x9F\x98\x80"), fffd + "\xF0\x9F\x98\x80");
    EXPECT_EQ(lossy_utf8("\xE0\x80\x80"), fffd + fffd + fffd);
    EXPECT_EQ(lossy_utf8("\xFF\xFE"), fffd + fffd);
}

TEST(Utf8, DecodingReadsBackWhatEncodingWrote) {
    for (char32_t code : {U'A', U'\u00E9', U'\u20AC', U'\U0001F600', U'\U0010FFFF'}) {
        std::string text;
        append_utf8(text, code);
        const Utf8Char c = decode_utf8(text, 0);
        EXPECT_EQ(c.value, code);
        EXPECT_EQ(c.length, text.size());
    }
    const Utf8Char broken = decode_utf8("\xC3" "a", 0);
    EXPECT_EQ(broken.value, U'\uFFFD');
    EXPECT_EQ(broken.length, 1u);
}

TEST(Utf8, BlankMeansOnlyUnicodeWhiteSpace) {
    EXPECT_TRUE(is_blank(""));
    EXPECT_TRUE(is_blank(" \t\r\n\xC2\xA0\xE3\x80\x80\xE2\x80\xA8"));
    EXPECT_FALSE(is_blank(" x "));
    EXPECT_FALSE(is_blank("\xEF\xBB\xBF"));  // a byte-order mark
    EXPECT_FALSE(is_blank("\xE2\x80\x8B"));  // zero width space
    EXPECT_FALSE(is_blank(" \xC2"));
}

}  // namespace
}  // namespace util
