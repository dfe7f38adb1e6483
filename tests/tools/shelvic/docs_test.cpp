// The document table and the re-pointing of documents at their newest files.
#include "support.hpp"
#include "tools/shelvic/shelvic.hpp"

#include <gtest/gtest.h>

namespace {

using namespace vaskit::shelvic;
using test_support::InTempDir;
using test_support::LogCapture;
using Strings = std::vector<std::string>;

Strings numbers(const Docs &docs) {
  Strings out;
  for (const auto &[n, rec] : docs.entries)
    out.push_back(n.text());
  return out;
}

TEST(DocumentList, KeysNumbersAndFolderListing) {
  InTempDir dir;
  for (const char *f : {"b.html", "a_v1.html", "config.yaml", "other.YML", "index.html", ".env",
                        ".config.yaml.bak", "noext"})
    dir.file(f);
  dir.file("sub/inner.html");
  const json config = {
      {"document_title", "T"},          {"document2_file", "b.html"},
      {"document01_title", "One"},      {"document1_file", "a_v1.html"},
      {"document1_title", "One again"}, {"Document3_title", "case matters"},
      {"document1_Title", "case"},      {"document4_files", "f.html"},
      {"document2_title_old", 7},       {"document٣_description", "arabic three"},
      {"download_link", "#"},
  };
  auto [docs, files] = extract_docs_and_find_actual_files(config);
  EXPECT_EQ(numbers(docs), (Strings{"2", "1", "4", "3"}));
  const DocRecord &one = *docs.find(DocNumber::from_digits("1"));
  EXPECT_EQ(one.title, "One again"); // a later key of the same number and field wins
  EXPECT_EQ(one.file, "a_v1.html");
  EXPECT_EQ(docs.find(DocNumber::from_digits("2"))->title, "7"); // numbers in text form
  EXPECT_EQ(docs.find(DocNumber::from_digits("4"))->file, "f.html");
  EXPECT_EQ(docs.find(DocNumber::from_digits("3"))->description, "arabic three");
  EXPECT_FALSE(docs.find(DocNumber::from_digits("3"))->title.has_value());
  EXPECT_EQ(docs.download, "#");
  EXPECT_EQ(files, (Strings{"a_v1.html", "b.html", "noext"}));
}

TEST(DocumentList, ValuesThatAreNotTextAreRefusedByKey) {
  InTempDir dir;
  try {
    extract_docs_and_find_actual_files(json{{"document1_file", json::array({"a", "b"})}});
    FAIL() << "a list was taken as a path";
  } catch (const vaskit::config::ConfigError &e) {
    EXPECT_NE(std::string(e.what()).find("document1_file"), std::string::npos);
  }
  EXPECT_THROW(extract_docs_and_find_actual_files(json{{"download_link", {{"a", 1}}}}),
               vaskit::config::ConfigError);
  auto [docs, files] = extract_docs_and_find_actual_files(
      json{{"document1_title", nullptr}, {"document1_file", true}, {"download_link", ""}});
  EXPECT_EQ(docs.entries.at(0).second.title, "");
  EXPECT_EQ(docs.entries.at(0).second.file, "True");
  EXPECT_FALSE(docs.download.has_value());
}

TEST(DocumentNumbers, CompareNumericallyAndCount) {
  EXPECT_TRUE(DocNumber::from_digits("9") < DocNumber::from_digits("10"));
  EXPECT_EQ(DocNumber::from_digits("007").text(), "7");
  EXPECT_EQ(DocNumber::from_digits("000").text(), "0");
  EXPECT_EQ(DocNumber::from_digits("99").next().text(), "100");
  EXPECT_EQ(DocNumber::from_digits("123456789012345678901234567890").next().text(),
            "123456789012345678901234567891");
  EXPECT_THROW(DocNumber::from_digits("1a"), std::invalid_argument);
}

Docs docs_with(const std::vector<std::pair<std::string, std::string>> &files) {
  Docs docs;
  for (const auto &[n, f] : files)
    docs.at_or_add(DocNumber::from_digits(n)).file = f;
  return docs;
}

TEST(NewestVersions, RepointsKeepsDropsAndListsTheRest) {
  InTempDir dir;
  dir.file("docs/sub.html");
  LogCapture logs;
  const Strings actual = {"guide_v1.2.html", "guide_v1.10.html", "notes.md",     "tie_v1.html",
                          "tie_v01.html",    "web.html",         "other_v3.txt", "other_v2.txt"};
  Docs docs = docs_with({{"1", "guide_v1.2.html"},
                         {"2", "docs/guide_v1.html"},
                         {"3", "./guide_v1.html"},
                         {"4", "tie.html"},
                         {"5", "docs/sub.html"},
                         {"6", "missing.html"},
                         {"7", "https://example.com/web.html"},
                         {"8", "#"},
                         {"9", ""}});
  docs.entries.emplace_back(DocNumber::from_digits("10"), DocRecord{"no file", {}, {}});
  const Strings unlisted = update_docs_to_latest_versions(docs, actual);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto &[n, rec] : docs.entries)
    got.emplace_back(n.text(), rec.file.value_or("<none>"));
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                     {"1", "guide_v1.10.html"},
                     {"2", "docs/guide_v1.10.html"},
                     {"3", "guide_v1.10.html"},
                     {"4", "tie_v1.html"}, // equal keys: the first listed wins
                     {"5", "docs/sub.html"},
                     {"7", "https://example.com/web.html"},
                     {"8", "#"},
                     {"9", ""},
                     {"10", "<none>"}}));
  // The web link's family counts as configured, so web.html is not offered.
  EXPECT_EQ(unlisted, (Strings{"notes.md", "other_v3.txt", "other_v2.txt"}));
  const auto warnings = logs.texts("WARNING");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0],
            "⚠️ 找不到與 missing.html 匹配的實體檔案，將其自索引中移除。");
  const auto infos = logs.texts("INFO");
  EXPECT_EQ(infos.front(), "✅ 自動匹配檔案：將 guide_v1.2.html 更新為最新版本 guide_v1.10.html");
  EXPECT_NE(std::find(infos.begin(), infos.end(), "✅ 保留已存在的實體檔案路徑：docs/sub.html"),
            infos.end());
}

TEST(NewestVersions, DownloadEntryFollowsThePin) {
  InTempDir dir;
  const Strings actual = {"package.zip", "package_v2.zip", "a.html"};
  // Matching alone would pick the user's newer family member.
  Docs matched = docs_with({});
  matched.download = "package.zip";
  update_docs_to_latest_versions(matched, actual);
  EXPECT_EQ(matched.download, "package_v2.zip");

  Docs fixed = docs_with({});
  fixed.download = "dist/package.zip";
  const Strings unlisted =
      update_docs_to_latest_versions(fixed, actual, {DownloadPin::Mode::fixed, "package.zip"});
  EXPECT_EQ(fixed.download, "package.zip"); // where the package was written
  EXPECT_EQ(unlisted, (Strings{"a.html"}));

  Docs kept = docs_with({});
  kept.download = "gone.zip";
  update_docs_to_latest_versions(kept, actual, {DownloadPin::Mode::keep, ""});
  EXPECT_EQ(kept.download, "gone.zip");

  Docs dropped = docs_with({});
  dropped.download = "gone.zip";
  update_docs_to_latest_versions(dropped, actual);
  EXPECT_FALSE(dropped.download.has_value());
}

TEST(NewestVersions, NamesThatAreNotUtf8AreNeitherChosenNorOffered) {
  InTempDir dir;
  LogCapture logs;
  // The bad byte reads as U+FFFD, so the family matches; a configuration cannot name that file.
  Docs docs = docs_with({{"1", "r\uFFFD_v1.html"}});
  const Strings unlisted = update_docs_to_latest_versions(docs, {"r\xff_v9.html", "x\xfe.txt"});
  EXPECT_TRUE(docs.entries.empty());
  EXPECT_TRUE(unlisted.empty());
  EXPECT_EQ(logs.texts("WARNING").size(), 3u);
}

} // namespace
