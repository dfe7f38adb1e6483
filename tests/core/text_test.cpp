// Expected values come from Python 3.11's str (computed once, hard-coded here).
#include "core/text.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <utility>

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

TEST(Text, SanitizeGivesOneReplacementPerMaximalInvalidPart) {
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

TEST(Text, ReprQuotesAndEscapesWhatIsNotPrintable) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "'plain'"},
      {"it's", "\"it's\""},
      {"say \"hi\"", "'say \"hi\"'"},
      {"both ' and \"", "'both \\' and \"'"},
      {"back\\slash\n\r\t", "'back\\\\slash\\n\\r\\t'"},
      {"\x01\x7f\u0085", "'\\x01\\x7f\\x85'"},
      {"a\u00a0b c", "'a\\xa0b c'"},                         // no-break space (Zs)
      {"\u3000\u200b\u2028\u2029", "'\\u3000\\u200b\\u2028\\u2029'"}, // Zs Cf Zl Zp
      {"\ue000\U000f0000", "'\\ue000\\U000f0000'"},              // private use (Co)
      {"\u0378", "'\\u0378'"},                                 // unassigned (Cn)
      {"\u9031\u5831 caf\u00e9 \U0001F600", "'\u9031\u5831 caf\u00e9 \U0001F600'"},
      {"caf\xe9 \xe2\x82", "'caf\\udce9 \\udce2\\udc82'"}, // bytes that are not UTF-8
  };
  for (const auto &[in, out] : cases)
    EXPECT_EQ(text::py_repr(in), out) << in;
}

TEST(Text, CodePointUnitsCoverEveryByteOnce) {
  // Invalid runs group as Python's 'replace' decoding groups them.
  const std::string s = "a\xe2\x82"
                        "b\xf0\x9f\x98\x80\xff";
  std::vector<text::CodePoint> got;
  for (const text::CodePoint &u : text::code_points(s))
    got.push_back(u);
  ASSERT_EQ(got.size(), 5u);
  const std::size_t pos[] = {0, 1, 3, 4, 8}, len[] = {1, 2, 1, 4, 1};
  const char32_t cps[] = {'a', 0xFFFD, 'b', 0x1F600, 0xFFFD};
  const bool ok[] = {true, false, true, true, false};
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].pos, pos[k]) << k;
    EXPECT_EQ(got[k].len, len[k]) << k;
    EXPECT_EQ(got[k].cp, cps[k]) << k;
    EXPECT_EQ(got[k].ok, ok[k]) << k;
  }
  EXPECT_EQ(text::code_points("").begin(), text::code_points("").end());
  const text::CodePoint last = text::decode_at("x\xc3\xa9", 1);
  EXPECT_EQ(last.cp, 0xE9u);
  EXPECT_EQ(last.len, 2u);
}

TEST(Text, AsciiCaseLeavesOtherBytesAlone) {
  EXPECT_EQ(text::ascii_lower("AbZ@[`{ÉÇ"), "abz@[`{ÉÇ");
  EXPECT_EQ(text::ascii_upper("abz@[`{éç\xff"), "ABZ@[`{éç\xff");
  EXPECT_TRUE(text::iequals_ascii("Content_Types.XML", "content_types.xml"));
  EXPECT_FALSE(text::iequals_ascii("É", "é")); // not ASCII: compared as bytes
  EXPECT_FALSE(text::iequals_ascii("ab", "abc"));
  EXPECT_FALSE(text::iequals_ascii("@", "`")); // 0x40 and 0x60 differ by the case bit only
  EXPECT_TRUE(text::istarts_with_ascii("<DETAILS open>", "<details"));
  EXPECT_FALSE(text::istarts_with_ascii("<det", "<details"));
  for (int b = 0x80; b <= 0xFF; ++b) {
    const char c = static_cast<char>(b);
    EXPECT_FALSE(text::is_ascii_digit(c) || text::is_ascii_alpha(c)) << b;
    EXPECT_EQ(text::ascii_lower(c), c);
  }
  EXPECT_TRUE(text::is_ascii_digit('7'));
  EXPECT_FALSE(text::is_ascii_digit('/'));
  EXPECT_FALSE(text::is_ascii_digit(':'));
}

TEST(Text, DecimalDigitsOfAnyScript) {
  // Values as Python's unicodedata.decimal() gives them.
  const std::pair<char32_t, int> digits[] = {
      {U'0', 0},    {U'9', 9},    {0x0663, 3}, {0xFF14, 4},
      {0x1D7D7, 9}, {0x1D7D8, 0}, {0x07C3, 3}, {0x0E59, 9},
  };
  for (const auto &[cp, value] : digits) {
    EXPECT_TRUE(text::is_decimal(cp)) << std::hex << unsigned(cp);
    EXPECT_EQ(text::decimal_value(cp), value) << std::hex << unsigned(cp);
  }
  // Numeric but not decimal (circled one, superscript two, TAI THAM digit one), and letters.
  for (char32_t cp : {0x2460u, 0x00B2u, 0x19DAu, unsigned('a'), 0x4E00u}) {
    EXPECT_FALSE(text::is_decimal(cp)) << std::hex << unsigned(cp);
    EXPECT_EQ(text::decimal_value(cp), -1) << std::hex << unsigned(cp);
  }
}

TEST(Text, CompatibilityDecomposition) {
  EXPECT_EQ(text::nfkd("ﬁ ① ¼ ｶ ㍻"), "fi 1 1\u20444 \u30ab \u5e73\u6210");
  EXPECT_EQ(text::nfkd("Åé"), "A\u030ae\u0301");
  // Combining marks in canonical order, as unicodedata.normalize gives them.
  EXPECT_EQ(text::nfkd("x\u0301\u0323"), "x\u0323\u0301");
  EXPECT_EQ(text::nfkd("\u1e69"), "s\u0323\u0307");
  EXPECT_EQ(text::nfkd("a\xff"
                       "b"),
            "a\uFFFDb");
  EXPECT_EQ(text::nfkd(""), "");
}

TEST(Text, FloatReprHasTheShortestRoundTripDigits) {
  // Expected texts are Python 3.11's repr() of the same doubles.
  const std::pair<double, const char *> cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {20.0, "20.0"},
      {0.1, "0.1"},
      {350.5, "350.5"},
      {1e16, "1e+16"},
      {1e15, "1000000000000000.0"},
      {9999999999999998.0, "9999999999999998.0"},
      {123456789012345678.0, "1.2345678901234568e+17"},
      {1e-4, "0.0001"},
      {1e-5, "1e-05"},
      {0.00012345, "0.00012345"},
      {1.5e-7, "1.5e-07"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {-2.5e-10, "-2.5e-10"},
      {1.0 / 3, "0.3333333333333333"},
      {1e22, "1e+22"},
      {1.25e100, "1.25e+100"},
      {0.1 + 0.2, "0.30000000000000004"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
  };
  for (const auto &[value, want] : cases)
    EXPECT_EQ(text::float_repr(value), want);
}

TEST(Text, ValidUtf8AgreesWithTheDecoder) {
  // The fast check against the decoder's verdict on every sequence of up to three bytes after a
  // lead byte, and on four-byte sequences around every boundary.
  auto by_decoder = [](std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
      const text::CodePoint u = text::decode_at(s, i);
      if (!u.ok)
        return false;
      i += u.len;
    }
    return true;
  };
  std::size_t checked = 0;
  for (int a = 0x80; a < 0x100; ++a)
    for (int b = 0; b < 0x100; b += (b >= 0x7c && b <= 0xc4) ? 1 : 7) {
      for (int c = 0x7e; c <= 0xc1; c += 1) {
        std::string s{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
        ASSERT_EQ(text::valid_utf8(s), by_decoder(s)) << a << " " << b << " " << c;
        s.push_back('\x80');
        ASSERT_EQ(text::valid_utf8(s), by_decoder(s)) << a << " " << b << " " << c << " 80";
        const std::string padded = "12345678" + s.substr(0, 2);
        ASSERT_EQ(text::valid_utf8(padded), by_decoder(padded));
        ++checked;
      }
    }
  EXPECT_GT(checked, 10000u);
}
