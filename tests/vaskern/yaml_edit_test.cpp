// The configuration writer: edits keep the user's text, every result loads back as the mapping.
#include "core/config.hpp"
#include "core/fs.hpp"
#include "support/files.hpp"
#include "vaskern/yaml_edit.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using vaskern::yaml_edit::json;
using vaskit::testing::read_file;
using vaskit::testing::TempDir;
using vaskit::testing::write_file;
namespace ye = vaskern::yaml_edit;

json load(const std::string &text) {
  json j = vaskit::config::parse_yaml(text);
  return j.is_null() ? json::object() : j;
}

std::string splice(const std::string &text, const json &mapping) {
  const auto r = ye::splice_mapping(text, mapping);
  EXPECT_TRUE(r.text.has_value()) << r.reason;
  return r.text.value_or("");
}

const std::string kUserFile = "# Site index  (edited by hand)\n"
                              "document_title: 'My Docs'   # single quotes kept\n"
                              "document_description: Plain words here\n"
                              "download_link: package.zip\n"
                              "\n"
                              "# first document\n"
                              "document1_title: \"Guide\"\n"
                              "document1_file: guide_v1.html  # newest is picked by the run\n"
                              "document1_description: How to start\n"
                              "\n"
                              "document2_title: Old\n"
                              "document2_file: gone.html # this line goes\n"
                              "document2_description: >\n"
                              "  folded text\n"
                              "  over lines\n"
                              "\n"
                              "extra_list:\n"
                              "  - a\n"
                              "  - b\n"
                              "# trailing comment\n";

TEST(YamlSplice, ChangesDeletesAndAppendsWhileKeepingTheRestByteForByte) {
  json m = load(kUserFile);
  m["document1_file"] = "guide_v2.html";
  m.erase("document2_title");
  m.erase("document2_file");
  m.erase("document2_description");
  m["document3_title"] = "New & <shiny>";
  m["document3_file"] = "notes.md";
  m["document3_description"] = "";
  const std::string out = splice(kUserFile, m);
  EXPECT_EQ(out, "# Site index  (edited by hand)\n"
                 "document_title: 'My Docs'   # single quotes kept\n"
                 "document_description: Plain words here\n"
                 "download_link: package.zip\n"
                 "\n"
                 "# first document\n"
                 "document1_title: \"Guide\"\n"
                 "document1_file: \"guide_v2.html\"  # newest is picked by the run\n"
                 "document1_description: How to start\n"
                 "\n"
                 "extra_list:\n"
                 "  - a\n"
                 "  - b\n"
                 "# trailing comment\n"
                 "\n"
                 "document3_title: \"New & <shiny>\"\n"
                 "document3_file: \"notes.md\"\n"
                 "document3_description: \"\"\n");
  EXPECT_EQ(load(out), m);
}

TEST(YamlSplice, ValuesThatLookLikeOtherTypesReadBackAsText) {
  const std::string text = "a: 1\nb: x\n";
  json m = load(text);
  const std::vector<std::string> tricky = {"yes",        "null",        "~",
                                           "[x]",        "#x",          "a: b",
                                           "12",         "1.5",         "",
                                           " lead",      "trail ",      "'q'",
                                           "\"dq\"",     "back\\slash", "two\nlines",
                                           "tab\there",  "{k: v}",      "- item",
                                           "&anchor",    "*alias",      "!tag",
                                           "% pct",      "@at",         "`tick",
                                           "|",          ">",           "中文 & emoji 🎉",
                                           "nel\u0085x", "ls\u2028x",   "bom\uFEFFx",
                                           "bell\x07x",  "del\x7fx"};
  for (std::size_t i = 0; i < tricky.size(); ++i)
    m["k" + std::to_string(i)] = tricky[i];
  m["b"] = "a: b # not a comment";
  const std::string out = splice(text, m);
  EXPECT_EQ(load(out), m);
  EXPECT_EQ(out.substr(0, 5), "a: 1\n");
  EXPECT_EQ(ye::quote("bad\xff"), "\"bad\uFFFD\"");
}

TEST(YamlSplice, PositionsCountCharactersAfterMultibyteTextBomAndCrlf) {
  // Character marks must be turned into byte offsets, or the edit lands in the wrong place.
  const std::string text = "\xEF\xBB\xBF# 說明：中文註解 🎉\r\n"
                           "document_title: 文件中心 # 標題\r\n"
                           "document1_file: 舊檔_v1.html\r\n"
                           "document1_title: 標題\r\n";
  json m = load(text);
  m["document1_file"] = "舊檔_v2.html";
  m.erase("document1_title");
  m["document2_file"] = "新檔.html";
  const std::string out = splice(text, m);
  EXPECT_EQ(out, "\xEF\xBB\xBF# 說明：中文註解 🎉\r\n"
                 "document_title: 文件中心 # 標題\r\n"
                 "document1_file: \"舊檔_v2.html\"\r\n"
                 "document2_file: \"新檔.html\"\r\n");
}

TEST(YamlSplice, EmptyBlockAndCollectionValuesAreReplacedInPlace) {
  const std::string text = "  empty:\n"
                           "  empty_commented: # note\n"
                           "  block: |\n"
                           "    line one\n"
                           "    line two\n"
                           "  seq:\n"
                           "    - a\n"
                           "    - {b: c}\n"
                           "  last: z";
  json m = load(text);
  m["empty"] = "v1";
  m["empty_commented"] = "v2";
  m["block"] = "one line";
  m["seq"] = "no longer a list";
  m["added"] = "new";
  const std::string out = splice(text, m);
  EXPECT_EQ(out, "  empty: \"v1\"\n"
                 "  empty_commented: \"v2\" # note\n"
                 "  block: \"one line\"\n"
                 "  seq:\n"
                 "    \"no longer a list\"\n"
                 "  last: z\n"
                 "  added: \"new\"\n");
  EXPECT_EQ(load(out), m);

  json without_seq = load(text);
  without_seq.erase("seq");
  without_seq.erase("block");
  EXPECT_EQ(splice(text, without_seq), "  empty:\n  empty_commented: # note\n  last: z");
}

TEST(YamlSplice, CommentOnlyTextGetsTheKeysAppended) {
  const std::string text = "# nothing configured yet\n";
  const json m = {{"document1_file", "a.html"}};
  EXPECT_EQ(splice(text, m), "# nothing configured yet\ndocument1_file: \"a.html\"\n");
}

// When every key goes, the file must still load as a mapping: a file that loads as nothing makes
// the next run end without doing anything.
TEST(YamlSplice, EveryKeyRemovedStillLoadsAsAnEmptyMapping) {
  const std::string text =
      "# my documents\r\ndocument1_title: A\r\ndocument1_file: gone.txt # old\r\n"
      "...\r\n# after the end\r\n";
  const std::string out = splice(text, json::object());
  EXPECT_EQ(vaskit::config::parse_yaml(out), json::object()) << out;
  EXPECT_EQ(out, "# my documents\r\n{}\r\n...\r\n# after the end\r\n");

  const auto whole = ye::dump_mapping(json::object());
  ASSERT_TRUE(whole.text.has_value()) << whole.reason;
  EXPECT_EQ(vaskit::config::parse_yaml(*whole.text), json::object()) << *whole.text;
}

// Files as editors save them and as people lay them out: each is edited in place, its comments
// and blank lines kept, and the untouched entries keep their text.
TEST(YamlSplice, EditsInPlaceWhatOrdinaryFilesHold) {
  // A byte-order mark before the first key stays, and new keys do not inherit it.
  const std::string bom = "\xEF\xBB\xBF"
                          "document_title: Docs # title\n"
                          "document1_file: a_v1.html\n";
  json m = load(bom.substr(3)); // as the configuration reader gives it
  m["document1_file"] = "a_v2.html";
  m["document2_file"] = "b.html";
  EXPECT_EQ(splice(bom, m), "\xEF\xBB\xBF"
                            "document_title: Docs # title\n"
                            "document1_file: \"a_v2.html\"\n"
                            "document2_file: \"b.html\"\n");

  // A last entry that keeps its final line breaks: the blank lines are part of its value, so
  // new keys go after them and no blank line of ours joins it.
  const std::string keep = "document_title: Docs\n"
                           "\n"
                           "document1_description: |+\n"
                           "  first group\n"
                           "\n"
                           "  second group\n"
                           "\n";
  m = load(keep);
  m["document2_title"] = "B";
  EXPECT_EQ(splice(keep, m), keep + "document2_title: \"B\"\n");

  // A last block scalar without a final line break: its value stays without one.
  const std::string open_end = "document_title: Docs\n"
                               "document1_description: |\n"
                               "  no line end";
  m = load(open_end);
  m["document2_title"] = "B";
  EXPECT_EQ(splice(open_end, m), "document_title: Docs\n"
                                 "document1_description: |-\n"
                                 "  no line end\n"
                                 "document2_title: \"B\"\n");

  // The indented comment of a removed entry goes with it instead of joining the block scalar
  // before it.
  const std::string indented = "document1_description: |\n"
                               "  keep this\n"
                               "document2_title: B\n"
                               "  # note on the second document\n"
                               "document_title: Docs\n";
  m = load(indented);
  m.erase("document2_title");
  EXPECT_EQ(splice(indented, m), "document1_description: |\n"
                                 "  keep this\n"
                                 "document_title: Docs\n");

  // A block sequence written at its key's column.
  const std::string seq = "extra_list: # the extras\n"
                          "- a\n"
                          "- b\n"
                          "last: z\n";
  m = load(seq);
  m["extra_list"] = "none";
  EXPECT_EQ(splice(seq, m), "extra_list: \"none\" # the extras\n"
                            "last: z\n");
}

TEST(YamlSplice, RefusesTextItCannotEditSafely) {
  const json m = {{"a", "2"}};
  for (const std::string text :
       {"{a: 1}\n", "a: &x 1\nb: *x\n", "a: 1\n---\nb: 2\n", "a: 1\na: 3\n", "? [k]\n: v\n",
        "--- a: 1\n", "- a\n", "a: [unclosed\n"}) {
    const auto r = ye::splice_mapping(text, m);
    EXPECT_FALSE(r.text.has_value()) << text;
    EXPECT_FALSE(r.reason.empty()) << text;
  }
}

TEST(YamlDump, WholeRewriteLoadsBack) {
  json m = json::object();
  m["plain_key"] = "text";
  m["yes"] = "key that is a boolean word";
  m["with space"] = 3;
  m["f"] = 1e100;
  m["g"] = 2.5;
  m["t"] = true;
  m["n"] = nullptr;
  m["list"] = json::array({"a", 1, json::array({"b"})});
  m["map"] = {{"k", "v: w"}};
  const auto r = ye::dump_mapping(m);
  ASSERT_TRUE(r.text.has_value()) << r.reason;
  EXPECT_EQ(load(*r.text), m);
  EXPECT_NE(r.text->find("plain_key: \"text\"\n"), std::string::npos);
}

class SaveYamlConfig : public ::testing::Test {
protected:
  TempDir dir;
  std::string path() const { return (dir / "config.yaml").string(); }
  std::string backup() const { return (dir / ".config.yaml.bak").string(); }
};

TEST_F(SaveYamlConfig, KeepsBackupAndPermissions) {
  write_file(path(), kUserFile);
  ::chmod(path().c_str(), 0640);
  json m = load(kUserFile);
  m["document1_file"] = "guide_v3.html";
  const auto r = vaskern::fileIO::save_yaml_config(path(), m);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(read_file(backup()), kUserFile);
  EXPECT_EQ(load(read_file(path())), m);
  EXPECT_NE(read_file(path()).find("# trailing comment\n"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(SaveYamlConfig, UnchangedTextKeepsFileAndOlderBackup) {
  write_file(path(), kUserFile);
  write_file(backup(), "the generation before\n");
  ::chmod(path().c_str(), 0640);
  struct stat before {};
  ASSERT_EQ(::stat(path().c_str(), &before), 0);
  const auto r = vaskern::fileIO::save_yaml_config(path(), load(kUserFile));
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(read_file(path()), kUserFile);
  EXPECT_EQ(read_file(backup()), "the generation before\n");
  struct stat after {};
  ASSERT_EQ(::stat(path().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino); // not replaced by a rewritten copy

  // A real change still moves the old text into the backup.
  json m = load(kUserFile);
  m["document1_file"] = "guide_v3.html";
  ASSERT_TRUE(vaskern::fileIO::save_yaml_config(path(), m).ok);
  EXPECT_EQ(read_file(backup()), kUserFile);
}

TEST_F(SaveYamlConfig, FlowStyleFileIsRewrittenWholeAndStillLoads) {
  write_file(path(), "{a: 1, b: two}  # flow\n");
  json m = load(read_file(path()));
  m["b"] = "three";
  testing::internal::CaptureStderr();
  const auto r = vaskern::fileIO::save_yaml_config(path(), m);
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_NE(err.find("⚠️"), std::string::npos);
  EXPECT_EQ(read_file(path()), "a: 1\nb: \"three\"\n");
  EXPECT_EQ(read_file(backup()), "{a: 1, b: two}  # flow\n");
}

TEST_F(SaveYamlConfig, FailedWriteLeavesTheFileAsItWas) {
  write_file(path(), "a: 1\n");
  ::chmod(path().c_str(), 0444); // the atomic writer does not replace read-only files
  testing::internal::CaptureStderr();
  const auto r = vaskern::fileIO::save_yaml_config(path(), json{{"a", "2"}});
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(r.ok);
  EXPECT_NE(err.find("❌"), std::string::npos);
  EXPECT_EQ(read_file(path()), "a: 1\n");

  write_file(dir / "other.yaml", "a: 1\n");
  vaskit::fs::WriteStage seen{};
  vaskit::Result r2;
  {
    const vaskit::fs::ScopedWriteHook hook([&](vaskit::fs::WriteStage stage, std::size_t) {
      seen = stage;
      if (stage == vaskit::fs::WriteStage::before_rename)
        throw std::runtime_error("disk full");
    });
    testing::internal::CaptureStderr();
    r2 = vaskern::fileIO::save_yaml_config((dir / "other.yaml").string(), json{{"a", "2"}});
    testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(seen, vaskit::fs::WriteStage::before_rename);
  EXPECT_FALSE(r2.ok);
  EXPECT_EQ(read_file(dir / "other.yaml"), "a: 1\n");
}

} // namespace
