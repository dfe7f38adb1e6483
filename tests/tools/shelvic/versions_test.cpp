// Version families and keys.
#include "tools/shelvic/shelvic.hpp"

#include <gtest/gtest.h>

namespace {

using vaskit::shelvic::clean_version;
using vaskit::shelvic::get_version_key;
using vaskit::shelvic::VersionKey;

TEST(VersionFamilies, WorkedTable) {
  struct Row {
    const char *name;
    const char *family;
    VersionKey key;
  };
  const Row rows[] = {
      {"guide_v1.2.html", "guide.html", {1, 2}},
      {"guide_v1.10.html", "guide.html", {1, 10}},
      {"Guide_V1.10.HTML", "guide.html", {1, 10}},
      {"guide-v2.html", "guide.html", {2}},
      {"guide_v1.2.3.html", "guide.html", {1, 2, 3}},
      {"guide.html", "guide.html", {0}},
      {"guidev1.2.html", "guidev1.2.html", {0}},
      {"guide v1.2.html", "guide v1.2.html", {0}},
      {"notes_v1_v2.md", "notes.md", {1}},
      {"a-v1.2-beta_v3.txt", "a-beta.txt", {1, 2}},
      {"release-v2-notes.md", "release-notes.md", {2}},
      {"report_v2.0.pdf", "report.pdf", {2, 0}},
      {"report_v2.pdf", "report.pdf", {2}},
      {"guide_v01.html", "guide.html", {1}},
      {"x_v1.2", "x.2", {1, 2}},
      {"x_v1.3", "x.3", {1, 3}},
      {"guide_v1.x.html", "guide.x.html", {1}},
      {"guide_v1..2.html", "guide..2.html", {1}},
      {"a__v3.html", "a_.html", {3}},
      {"guide_vx.html", "guide_vx.html", {0}},
      {"my-video_v1.mp4", "my-video.mp4", {1}},
      {"guide_v1.2.tar.gz", "guide.tar.gz", {1, 2}},
      {"a.html_v2", "a.html_v2", {2}},
      {"docs/guide_v1.2.html", "guide.html", {1, 2}},
      // Beyond the table: names that start or end with their only dot are all stem.
      {".hidden_v2", ".hidden", {2}},
      {"trailing_v3.", "trailing.", {3}},
      // Digits of other scripts are digits; the tag letter must be Latin.
      {"手冊_v١.٢.html", "手冊.html", {1, 2}},
      {"guide_v２.html", "guide.html", {2}},
      {"guide_ｖ2.html", "guide_ｖ2.html", {0}},
      // Full Unicode lower-casing, suffix included.
      {"ÄRGER_V3.PDF", "ärger.pdf", {3}},
      {"İSTANBUL_v1.TXT", "i̇stanbul.txt", {1}},
      // A number that does not fit gives the plain key.
      {"big_v99999999999999999999.html", "big.html", {0}},
      {"max_v18446744073709551615.html", "max.html", {18446744073709551615ull}},
  };
  for (const auto &r : rows) {
    EXPECT_EQ(clean_version(r.name), r.family) << r.name;
    EXPECT_EQ(get_version_key(r.name), r.key) << r.name;
  }
}

TEST(VersionFamilies, KeysOrderNumerically) {
  const char *oldest_first[] = {"a.html",       "a_v1.2.html", "a_v1.2.0.html", "a_v1.9.html",
                                "a_v1.10.html", "a_v2.html",   "a_v10.html"};
  for (std::size_t i = 0; i + 1 < std::size(oldest_first); ++i)
    EXPECT_LT(get_version_key(oldest_first[i]), get_version_key(oldest_first[i + 1]))
        << oldest_first[i] << " < " << oldest_first[i + 1];
  EXPECT_EQ(get_version_key("guide_v01.html"), get_version_key("guide_v1.html"));
  EXPECT_EQ(get_version_key("guide.html"), get_version_key("guide_v0.html"));
}

TEST(VersionFamilies, InvalidUtf8NamesDoNotFail) {
  EXPECT_EQ(get_version_key("bad\xff_v2.html"), (VersionKey{2}));
  // Such bytes stand for themselves: versions of one name share a family, two names that
  // differ only in those bytes do not, and none joins the family of a readable name.
  EXPECT_EQ(clean_version("bad\xff_v2.html"), "bad\xff.html");
  EXPECT_EQ(clean_version("CAF\xe9_V1.TXT"), "caf\xe9.txt");
  EXPECT_EQ(clean_version("caf\xe9_v1.txt"), clean_version("caf\xe9_v2.txt"));
  EXPECT_NE(clean_version("caf\xe9.txt"), clean_version("caf\xe8.txt"));
  EXPECT_NE(clean_version("caf\xe9.txt"), clean_version("caf\uFFFD.txt"));
  EXPECT_EQ(clean_version("x\xe9\xe8\x80.md"), "x\xe9\xe8\x80.md");
  // Characters of the last private plane beside such a byte are the name's own, not bytes: the
  // two names below are two families (one file would otherwise be left out of the package).
  const std::string own = "a\U0010FF80\xff.txt";
  const std::string bytes = "a\x80\xff.txt";
  EXPECT_EQ(clean_version(own), own);
  EXPECT_EQ(clean_version(bytes), bytes);
  EXPECT_EQ(clean_version("A\U0010FF7F\U0010FFFF_v2\xfe.TXT"), "a\U0010FF7F\U0010FFFF\xfe.txt");
  EXPECT_EQ(get_version_key("a\U0010FF80_v3\xff.txt"), (VersionKey{3}));
  // Stray bytes that the removed tag brings together into a character ("\xE6\x8A" and "\xAE")
  // do not make the name a version of the readable one; its own versions still are.
  EXPECT_NE(clean_version("\xE6\x8A_v1\xAE.txt"), clean_version("\xE6\x8A\xAE.txt"));
  EXPECT_EQ(clean_version("\xE6\x8A_v1\xAE.txt"), clean_version("\xE6\x8A_V2\xAE.TXT"));
}

} // namespace
