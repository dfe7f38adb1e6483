// Expected values come from Python 3.11's str (computed once, hard-coded here).
#include "core/text.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace vaskit;
using Strings = std::vector<std::string>;

TEST(Text, ValidUtf8) {
  EXPECT_TRUE(text::valid_utf8(""));
  EXPECT_TRUE(text::valid_utf8("abc é漢😀 \u0085"));
  EXPECT_FALSE(text::valid_utf8("a\xff"));
  EXPECT_FALSE(text::valid_utf8("\xc0\xaf"));         // overlong '/'
  EXPECT_FALSE(text::valid_utf8("\xed\xa0\x80"));     // surrogate U+D800
  EXPECT_FALSE(text::valid_utf8("\xf4\x90\x80\x80")); // above U+10FFFF
  EXPECT_FALSE(text::valid_utf8("\xe2\x82"));         // truncated
  EXPECT_FALSE(text::valid_utf8("\x80"));
}

TEST(Text, SanitizeLikePythonReplace) {
  // bytes.decode('utf-8', 'replace'): one U+FFFD per maximal invalid subpart.
  EXPECT_EQ(text::sanitize_utf8("a\xff" "b"), "a\uFFFDb");
  EXPECT_EQ(text::sanitize_utf8("\xe2\x82"), "\uFFFD");
  EXPECT_EQ(text::sanitize_utf8("\xe2\x82" "A"), "\uFFFDA");
  EXPECT_EQ(text::sanitize_utf8("\xed\xa0\x80"), "\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(text::sanitize_utf8("\xf0\x80\x80\x80"), "\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(text::sanitize_utf8("\xf4\x90\x80\x80"), "\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(text::sanitize_utf8("\xc0\xaf"), "\uFFFD\uFFFD");
  EXPECT_EQ(text::sanitize_utf8("\xf0\x9f\x98"), "\uFFFD");
  EXPECT_EQ(text::sanitize_utf8("ok é😀"), "ok é😀");
}

TEST(Text, CodePoints) {
  EXPECT_EQ(text::to_u32("é漢😀"), (std::u32string{0xE9, 0x6F22, 0x1F600}));
  EXPECT_EQ(text::to_u32("a\xff"), (std::u32string{'a', 0xFFFD}));
  EXPECT_EQ(text::from_u32(U"é漢😀"), "é漢😀");
  EXPECT_EQ(text::from_u32(std::u32string{0xD800, 0x110000}), "\uFFFD\uFFFD");
  std::string out;
  text::append_utf8(out, 0x7F);
  text::append_utf8(out, 0x80);
  text::append_utf8(out, 0x800);
  text::append_utf8(out, 0x10000);
  text::append_utf8(out, 0x10FFFF);
  EXPECT_EQ(out, "\x7f\u0080\u0800\U00010000\U0010FFFF");
  EXPECT_EQ(text::length("é漢😀"), 3u);
  EXPECT_EQ(text::length(""), 0u);
  EXPECT_EQ(text::prefix("é漢😀x", 2), "é漢");
  EXPECT_EQ(text::prefix("é漢😀x", 3), "é漢😀");
  EXPECT_EQ(text::prefix("ab", 10), "ab");
}

TEST(Text, IsSpace) {
  for (char32_t cp : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x85, 0xA0,
                      0x1680, 0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000})
    EXPECT_TRUE(text::is_space(cp)) << std::hex << unsigned(cp);
  for (char32_t cp : {0x00, 0x08, 0x0E, 0x1B, 0x21, 0x84, 0x86, 0x180E, 0x200B, 0x2060, 0xFEFF})
    EXPECT_FALSE(text::is_space(cp)) << std::hex << unsigned(cp);
}

TEST(Text, Strip) {
  EXPECT_EQ(text::strip(" \t\x1c\x1f\u0085\u00a0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000"
                        "x y\u3000\n"),
            "x y");
  EXPECT_EQ(text::strip("\u200bx\u200b"), "\u200bx\u200b"); // ZERO WIDTH SPACE is not space
  EXPECT_EQ(text::lstrip("\x1c" "ab "), "ab ");
  EXPECT_EQ(text::rstrip(" ab\x1f"), " ab");
  EXPECT_EQ(text::strip("  "), "");
  EXPECT_EQ(text::strip(""), "");
  EXPECT_EQ(text::strip(" a\xff "), "a\xff"); // invalid bytes are kept
  EXPECT_EQ(text::strip_chars("--ab-c--", "-"), "ab-c");
  EXPECT_EQ(text::strip_chars("xyabyx", "xy"), "ab");
  EXPECT_EQ(text::strip_chars("---", "-"), "");
}

TEST(Text, LowerUpper) {
  EXPECT_EQ(text::lower("İstanbul"), "i\u0307stanbul");
  EXPECT_EQ(text::lower("ÉCOLE Ǆ"), "école ǆ");
  EXPECT_EQ(text::upper("straße ŉ ﬁ ǰ ΐ"), "STRASSE \u02bcN FI J\u030c \u0399\u0308\u0301");
  EXPECT_EQ(text::upper("éà ǆ ǅ"), "ÉÀ Ǆ Ǆ");
  EXPECT_EQ(text::upper("ı i"), "I I");
  EXPECT_EQ(text::upper("ÿ µ"), "Ÿ Μ");
  EXPECT_EQ(text::lower("ABC xyz 123"), "abc xyz 123");
  EXPECT_EQ(text::upper("a\xff"), "A\xff"); // invalid bytes are kept
}

TEST(Text, FinalSigma) {
  EXPECT_EQ(text::lower("ΟΔΟΣ ΟΔΟΣ."), "\u03bf\u03b4\u03bf\u03c2 \u03bf\u03b4\u03bf\u03c2.");
  EXPECT_EQ(text::lower("ΣΑ"), "\u03c3\u03b1");
  EXPECT_EQ(text::lower("Σ"), "\u03c3");
  EXPECT_EQ(text::lower("ΑΣ"), "\u03b1\u03c2");
  EXPECT_EQ(text::lower("ΑΣΑ"), "\u03b1\u03c3\u03b1");
  EXPECT_EQ(text::lower("ΑΣ'Α"), "\u03b1\u03c3'\u03b1");
  EXPECT_EQ(text::lower("ΑΣ\u0301"), "\u03b1\u03c2\u0301");
  EXPECT_EQ(text::lower("1Σ"), "1\u03c3");
  EXPECT_EQ(text::lower("ΑΣ1"), "\u03b1\u03c2" "1");
}

TEST(Text, Splitlines) {
  EXPECT_EQ(text::splitlines("a\nb\r\nc\rd\x0b" "e\x0c" "f\x1cg\x1dh\x1ei\u0085j\u2028k\u2029l\x1fm"),
            (Strings{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l\x1fm"}));
  EXPECT_EQ(text::splitlines("abc\n"), (Strings{"abc"}));
  EXPECT_EQ(text::splitlines(""), Strings{});
  EXPECT_EQ(text::splitlines("\n"), (Strings{""}));
  EXPECT_EQ(text::splitlines("\n\n"), (Strings{"", ""}));
  EXPECT_EQ(text::splitlines("a\r"), (Strings{"a"}));
  EXPECT_EQ(text::splitlines("a\r\r\nb"), (Strings{"a", "", "b"}));
}

TEST(Text, SplitJoinReplace) {
  EXPECT_EQ(text::split("", ","), (Strings{""}));
  EXPECT_EQ(text::split("a,,b,", ","), (Strings{"a", "", "b", ""}));
  EXPECT_EQ(text::split("a::b", "::"), (Strings{"a", "b"}));
  EXPECT_THROW(text::split("a", ""), std::invalid_argument);
  EXPECT_EQ(text::join({"a", "", "b"}, ", "), "a, , b");
  EXPECT_EQ(text::join({}, ","), "");
  EXPECT_EQ(text::replace_all("ab", "", "-"), "-a-b-");
  EXPECT_EQ(text::replace_all("é漢", "", "|"), "|é|漢|");
  EXPECT_EQ(text::replace_all("aaa", "aa", "b"), "ba");
  EXPECT_EQ(text::replace_all("", "", "x"), "x");
  EXPECT_TRUE(text::starts_with("prefix", "pre"));
  EXPECT_FALSE(text::starts_with("pre", "prefix"));
  EXPECT_TRUE(text::ends_with("file.md", ".md"));
  EXPECT_FALSE(text::ends_with("md", "file.md"));
}

TEST(Text, Printable) {
  EXPECT_EQ(text::printable("a\tb\nc"), "a\tb\nc");
  EXPECT_EQ(text::printable("\x1b[31mred\r\x07\x7f"), "\uFFFD[31mred\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(text::printable("\u0085\u009b x \u00a0é"), "\uFFFD\uFFFD x \u00a0é");
  EXPECT_EQ(text::printable("bad\xff"), "bad\uFFFD");
}

TEST(Text, DecimalValueOfAnyScript) {
  EXPECT_EQ(text::decimal_value(U'0'), 0);
  EXPECT_EQ(text::decimal_value(U'7'), 7);
  EXPECT_EQ(text::decimal_value(U'\u0663'), 3);  // ARABIC-INDIC DIGIT THREE
  EXPECT_EQ(text::decimal_value(U'\u096F'), 9);  // DEVANAGARI DIGIT NINE
  EXPECT_EQ(text::decimal_value(U'\uFF17'), 7);  // FULLWIDTH DIGIT SEVEN
  EXPECT_EQ(text::decimal_value(U'\U0001D7D7'), 9); // MATHEMATICAL BOLD DIGIT NINE
  EXPECT_EQ(text::decimal_value(U'\U0001D7D8'), 0); // next run starts right after it
  EXPECT_EQ(text::decimal_value(U'\U0001D7E3'), 1);
  EXPECT_EQ(text::decimal_value(U'\u00B2'), -1); // superscript two is no decimal digit
  EXPECT_EQ(text::decimal_value(U'\u2167'), -1); // ROMAN NUMERAL EIGHT
  EXPECT_EQ(text::decimal_value(U'a'), -1);
  EXPECT_EQ(text::decimal_value(U'/'), -1);
  EXPECT_EQ(text::decimal_value(char32_t{0x110000}), -1);
}
