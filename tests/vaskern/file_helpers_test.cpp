#include "support/fifo.hpp"
#include "support/files.hpp"
#include "vaskern/fileIO.hpp"
#include "vaskern/fileMg.hpp"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using vaskit::testing::read_file;
using vaskit::testing::write_file;

using namespace vaskern;
using vaskit::testing::TempDir;
namespace fs = std::filesystem;

// Runs `fn` with `input` as standard input and returns what it printed on standard output.
template <class F> std::string with_stdin(const std::string &input, F &&fn) {
  TempDir dir;
  write_file(dir / "in", input);
  std::FILE *f = std::freopen((dir / "in").c_str(), "r", stdin);
  EXPECT_NE(f, nullptr);
  std::cin.clear();
  testing::internal::CaptureStdout();
  fn();
  return testing::internal::GetCapturedStdout();
}

std::vector<std::string> names_of(const fileIO::FileList &files) {
  std::vector<std::string> out;
  for (const auto &f : files)
    out.push_back(f.name);
  return out;
}

TEST(FileSearch, FiltersByExtensionPrefixAndExcludedFolders) {
  TempDir dir;
  for (const char *name : {"b.md", "a.MD", "c.txt", "config_x.yaml", "config_y.yml", "x.yaml",
                           "build/d.md", "sub/e.md", ".md"})
    write_file(dir / name, "x");
  const auto flat = fileIO::find_files_with_extensions(dir.path(), {".md"}, false);
  EXPECT_EQ(names_of(flat), (std::vector<std::string>{"a.MD", "b.md"}));
  EXPECT_EQ(flat.front().path, (dir / "a.MD").string());
  EXPECT_EQ(flat.back().path, (dir / "b.md").string());

  const auto deep =
      fileIO::find_files_with_extensions(dir.path(), {"md"}, true, "", {"build"});
  EXPECT_EQ(names_of(deep), (std::vector<std::string>{"a.MD", "b.md", "e.md"}));
  EXPECT_EQ(deep.back().path, (dir / "sub" / "e.md").string());

  const auto configs =
      fileIO::find_files_with_extensions(dir.path(), {".yaml", ".yml"}, false, "config");
  EXPECT_EQ(names_of(configs), (std::vector<std::string>{"config_x.yaml", "config_y.yml"}));
  EXPECT_TRUE(fileIO::find_files_with_extensions(dir / "missing", {".md"}, false).empty());
}

TEST(FileSearch, EmptyExtensionListFindsEveryFileButExcludedNames) {
  TempDir dir;
  for (const char *name : {"b.md", "index.html", "noext", "sub/c.txt", "z.tar.gz"})
    write_file(dir / name, "x");
  const auto all = fileIO::find_files_with_extensions(dir.path(), {}, false, "", {"index.html"});
  EXPECT_EQ(names_of(all), (std::vector<std::string>{"b.md", "noext", "z.tar.gz"}));
}

TEST(InteractiveChoice, AcceptsNumbersListsRangesAndCancels) {
  const fileIO::FileList files{{"/p/a", "a"}, {"/p/b", "b"}, {"/p/c", "c"}};
  struct Case {
    std::string input;
    std::vector<std::string> chosen;
  };
  const Case cases[] = {
      {"2\n", {"b"}},        {"1,3\n", {"a", "c"}}, {"2-3\n", {"b", "c"}},
      {"all\n", {"a", "b", "c"}}, {"\n", {}},       {"", {}},
      {"9\n2\n", {"b"}}, // an invalid answer asks again
      // Digits of other scripts and stray bytes are not numbers here: asked again.
      {"\xEF\xBC\x92\n3\n", {"c"}}, {"\xD9\xA3\n1\n", {"a"}},
      {"\xFF\x80\n2\n", {"b"}}, {"2\xB2\n1\n", {"a"}},
  };
  for (const auto &c : cases) {
    fileIO::Selection got;
    testing::internal::CaptureStderr();
    const std::string out =
        with_stdin(c.input, [&] { got = fileIO::interactive_select_files(files, ""); });
    testing::internal::GetCapturedStderr();
    std::vector<std::string> chosen;
    for (const auto &[path, name] : got) {
      EXPECT_EQ(path, "/p/" + name);
      chosen.push_back(name);
    }
    EXPECT_EQ(chosen, c.chosen) << c.input;
    EXPECT_NE(out.find("[3] c"), std::string::npos);
  }
}

TEST(ConfigFiles, ParseFailuresNameTheFileAndPosition) {
  TempDir dir;
  write_file(dir / "bad.yaml", "config:\n  a: [1, 2\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(fileIO::load_yaml_config(dir / "bad.yaml"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("❌", 0), 0u);
  EXPECT_NE(err.find("bad.yaml"), std::string::npos);
  EXPECT_NE(err.find("line "), std::string::npos);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

  testing::internal::CaptureStderr();
  EXPECT_FALSE(fileIO::load_yaml_config(dir.path()));
  EXPECT_FALSE(fileIO::load_yaml_config(dir / "none.yaml"));
  testing::internal::GetCapturedStderr();

  write_file(dir / "bad.json", "{\"config\": {\"a\": 1,}}");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(fileMg::load_json_file(dir / "bad.json"));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("bad.json (line 1, column "), std::string::npos) << out;

  write_file(dir / "nokey.json", "{\"other\": {}}");
  write_file(dir / "good.json", "{\"config\": {\"b\": 2, \"a\": 1}}");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(fileMg::load_json_file(dir / "nokey.json"));
  const auto good = fileMg::load_json_file(dir / "good.json");
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(good);
  EXPECT_EQ(good->dump(), "{\"b\":2,\"a\":1}");
}

TEST(TextFiles, ReadsRejectBadBytesAndWritesAreWhole) {
  TempDir dir;
  write_file(dir / "bom.md", "\xEF\xBB\xBF# T\n");
  write_file(dir / "bad.md", "ok \xC3\x28");
  EXPECT_EQ(fileIO::load_local_file_content(dir / "bom.md", "label"), "# T\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(fileIO::load_local_file_content(dir / "bad.md", "label"), "");
  EXPECT_EQ(fileIO::load_local_file_content(dir / "none.md", "label"), "");
  {
    vaskit::testing::Fifo fifo(dir / "pipe.md");
    EXPECT_EQ(fileIO::load_local_file_content(dir / "pipe.md", "label"), "");
    EXPECT_FALSE(fifo.waited_on());
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("UTF-8"), std::string::npos);
  EXPECT_NE(err.find("❌ 無法讀取 label: " + (dir / "pipe.md").string() + ": is not a regular file"),
            std::string::npos)
      << err;

  const auto ok = fileIO::save_local_file_content(dir / "out.html", "<p>x</p>", "HTML");
  EXPECT_TRUE(ok.ok);
  testing::internal::CaptureStderr();
  const auto failed = fileIO::save_local_file_content(dir / "no" / "dir" / "x.html", "x", "HTML");
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(fileMg::checkFileOrDir(dir / "out.html"), 0);
  EXPECT_EQ(fileMg::checkFileOrDir(dir / "no"), 1);

  const std::string tmpl = fileMg::generate_json_template(
      vaskit::config::json::parse(R"({"config":{"z":1,"名稱":"值"}})", nullptr, true, false),
      (dir / "t.json").string());
  std::ifstream in(dir / "t.json");
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(text, "{\n    \"config\": {\n        \"z\": 1,\n        \"名稱\": \"值\"\n    }\n}\n");
  EXPECT_EQ(tmpl, (dir / "t.json").string());
}

} // namespace
