// The download package.
#include "core/fs.hpp"
#include "support.hpp"
#include "support/stopped_write.hpp"
#include "tools/shelvic/shelvic.hpp"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

namespace {

using namespace vaskit::shelvic;

// The names in the working folder, sorted.
std::vector<std::string> listing() {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator("."))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
using test_support::InTempDir;
using test_support::LogCapture;
using vaskit::testing::read_file;
using Strings = std::vector<std::string>;

struct Member {
  std::string name; // raw bytes
  std::string data;
  int method;
  bool operator==(const Member &) const = default;
};

std::vector<Member> members(const std::string &path) {
  int err = 0;
  zip_t *za = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (!za)
    throw std::runtime_error("not a zip: " + path);
  std::vector<Member> out;
  for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st);
    std::string data(st.size, '\0');
    zip_file_t *f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
    zip_fread(f, data.data(), st.size);
    zip_fclose(f);
    out.push_back(
        {zip_get_name(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW), data, st.comp_method});
  }
  zip_discard(za);
  return out;
}

TEST(DownloadPackage, NewestOfEachFamilyUnderItsNameDeflated) {
  InTempDir dir;
  const Strings files = {"guide_v1.2.html", "guide_v1.10.html", "notes_v1.md",  "notes_v2.md",
                         "logo.png",        "package.zip",      "./tie_v1.txt", "tie_v01.txt"};
  for (const auto &f : files)
    if (f != "package.zip")
      dir.file(f, "content of " + f);
  // The package of an earlier run is skipped and replaced.
  ASSERT_EQ(zip_latest_version_files({"logo.png"}, "package.zip").status,
            PackResult::Status::packed);
  LogCapture logs;
  const PackResult r = zip_latest_version_files(files, "package.zip");
  ASSERT_EQ(r.status, PackResult::Status::packed);
  EXPECT_EQ(r.path, "package.zip");
  EXPECT_EQ(
      members("package.zip"),
      (std::vector<Member>{{"guide_v1.10.html", "content of guide_v1.10.html", ZIP_CM_DEFLATE},
                           {"notes_v2.md", "content of notes_v2.md", ZIP_CM_DEFLATE},
                           {"logo.png", "content of logo.png", ZIP_CM_DEFLATE},
                           {"tie_v1.txt", "content of ./tie_v1.txt", ZIP_CM_DEFLATE}}));
  const Strings infos = logs.texts("INFO");
  ASSERT_EQ(infos.size(), 6u);
  EXPECT_EQ(infos[0], "📦 正在打包最新檔案至壓縮檔：package.zip ...");
  EXPECT_EQ(infos[4], "✅ 已加入壓縮包: ./tie_v1.txt");
  EXPECT_EQ(infos[5], "🎉 成功建立壓縮包，共打包 4 個檔案！");
}

TEST(DownloadPackage, NothingToPackLeavesTheOldPackage) {
  InTempDir dir;
  dir.file("package.zip", "old");
  LogCapture logs;
  EXPECT_EQ(zip_latest_version_files({"package.zip"}, "Package.ZIP").status,
            PackResult::Status::nothing);
  EXPECT_EQ(zip_latest_version_files({}, "package.zip").status, PackResult::Status::nothing);
  EXPECT_EQ(read_file("package.zip"), "old");
  EXPECT_EQ(logs.texts("WARNING"), (Strings{"⚠️ 沒有任何需要打包的檔案。",
                                            "⚠️ 沒有任何需要打包的檔案。"}));
}

TEST(DownloadPackage, FolderPartsAndOutputFolder) {
  InTempDir dir;
  dir.file("a.txt");
  const PackResult here = zip_latest_version_files({"a.txt"}, "dist/pkg.zip", "./");
  EXPECT_EQ(here.path, "pkg.zip");
  EXPECT_TRUE(std::filesystem::exists("pkg.zip"));
  EXPECT_FALSE(std::filesystem::exists("dist"));
  const PackResult out = zip_latest_version_files({"a.txt"}, "pkg.zip", "out");
  EXPECT_EQ(out.path, "out/pkg.zip");
  EXPECT_EQ(members("out/pkg.zip").size(), 1u);
}

TEST(DownloadPackage, NeverReplacesAFileThatIsNotAZipNorAListedDocument) {
  InTempDir dir;
  dir.file("a.txt");
  dir.file("package.zip", "my notes, not an archive");
  LogCapture logs;
  EXPECT_EQ(zip_latest_version_files({"a.txt", "package.zip"}, "package.zip").status,
            PackResult::Status::failed);
  EXPECT_EQ(read_file("package.zip"), "my notes, not an archive");
  ASSERT_EQ(logs.texts("ERROR").size(), 1u);
  EXPECT_EQ(logs.texts("ERROR")[0].rfind("❌ 打包壓縮檔失敗: ", 0), 0u);

  // A real archive that a document lists is the user's document, not the package.
  ASSERT_EQ(zip_latest_version_files({"a.txt"}, "manual.zip").status, PackResult::Status::packed);
  const std::string before = read_file("manual.zip");
  dir.file("b.txt");
  EXPECT_EQ(
      zip_latest_version_files({"a.txt", "b.txt"}, "manual.zip", "./", {"./manual.zip"}).status,
      PackResult::Status::failed);
  EXPECT_EQ(read_file("manual.zip"), before);

  // Nor the newest version of a listed file, which the update would point the document at.
  ASSERT_EQ(zip_latest_version_files({"a.txt"}, "manual_v2.zip").status,
            PackResult::Status::packed);
  const std::string v2 = read_file("manual_v2.zip");
  dir.file("manual_v1.zip");
  const Strings folder = {"a.txt", "b.txt", "manual_v1.zip", "manual_v2.zip"};
  EXPECT_EQ(zip_latest_version_files(folder, "manual_v2.zip", "./", {"manual_v1.zip"}).status,
            PackResult::Status::failed);
  EXPECT_EQ(read_file("manual_v2.zip"), v2);
  // An older member of that family is the package's own place, and is rewritten.
  ASSERT_EQ(zip_latest_version_files({"a.txt"}, "manual.zip").status, PackResult::Status::packed);
  EXPECT_EQ(zip_latest_version_files({"a.txt", "b.txt", "manual_v1.zip", "manual.zip"},
                                     "manual.zip", "./", {"manual_v1.zip"})
                .status,
            PackResult::Status::packed);
  EXPECT_EQ(members("manual.zip").size(), 3u);

  // A document may name the package before it exists: nothing is replaced then.
  EXPECT_EQ(
      zip_latest_version_files({"a.txt"}, "fresh.zip", "./", {"fresh.zip", "fresh_v1.zip"}).status,
      PackResult::Status::packed);
  EXPECT_EQ(members("fresh.zip").size(), 1u);

  std::filesystem::create_directory("folder.zip");
  EXPECT_EQ(zip_latest_version_files({"a.txt"}, "folder.zip").status, PackResult::Status::failed);
}

TEST(DownloadPackage, AFailureLeavesThePreviousPackageIntact) {
  InTempDir dir;
  dir.file("a.txt", "first");
  ASSERT_EQ(zip_latest_version_files({"a.txt"}, "package.zip").status, PackResult::Status::packed);
  const std::string before = read_file("package.zip");
  LogCapture logs;
  EXPECT_EQ(zip_latest_version_files({"a.txt", "vanished.txt"}, "package.zip").status,
            PackResult::Status::failed);
  EXPECT_EQ(read_file("package.zip"), before);
  for (const auto &entry : std::filesystem::directory_iterator("."))
    EXPECT_TRUE(entry.path().filename() == "a.txt" || entry.path().filename() == "package.zip")
        << entry.path() << " left behind";
}

// A run stopped while the archive is being written (Ctrl-C, a kill) must leave nothing visible
// behind: the next run would list such a file, pack the broken archive and offer it as a document.
TEST(DownloadPackage, AnInterruptedPackLeavesNoVisibleFileBehind) {
  InTempDir dir;
  // Random bytes deflate slowly, which keeps the archive in the making long enough to watch.
  std::mt19937_64 rng(7);
  std::string big(48u << 20, '\0');
  for (std::size_t i = 0; i + 8 <= big.size(); i += 8) {
    const std::uint64_t v = rng();
    std::memcpy(big.data() + i, &v, 8);
  }
  dir.file("big.bin", big);
  big.clear();

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    zip_latest_version_files({"big.bin"}, "package.zip");
    ::_exit(0);
  }
  // Stop the packer as soon as anything but the input shows up in the folder.
  bool seen = false;
  for (int i = 0; i < 20000 && !seen; ++i) {
    for (const auto &entry : std::filesystem::directory_iterator("."))
      seen = seen || entry.path().filename() != "big.bin";
    if (!seen)
      ::usleep(500);
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(seen) << "the packer never started writing";

  for (const auto &entry : std::filesystem::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "big.bin" || name == "package.zip" || name.front() == '.')
        << name << " left behind where the next run lists files";
  }
  // The next run packs only the input, and no temporary file of the killed one stays.
  ASSERT_EQ(zip_latest_version_files({"big.bin"}, "package.zip").status,
            PackResult::Status::packed);
  const auto packed = members("package.zip");
  ASSERT_EQ(packed.size(), 1u);
  EXPECT_EQ(packed[0].name, "big.bin");
  EXPECT_EQ(listing(), (Strings{"big.bin", "package.zip"}));
}

// Killed while the archive is written, a packer leaves nothing at all, hidden files included;
// killed once the archive is complete and named, just before it takes the package's place, it
// leaves a temporary file that the next pack removes, its process being gone.
TEST(DownloadPackage, AKilledPackLeavesNoTemporaryFile) {
  InTempDir dir;
  std::mt19937_64 rng(3);
  std::string noise(300000, '\0');
  for (auto &c : noise)
    c = static_cast<char>(rng());
  dir.file("a.bin", noise);
  dir.file("b.txt", "b");
  for (const auto stage :
       {vaskit::fs::WriteStage::wrote_block, vaskit::fs::WriteStage::before_rename}) {
    const pid_t pid = vaskit::testing::child_stopped_in_write(stage, 0, [] {
      zip_latest_version_files({"a.bin", "b.txt"}, "package.zip");
    });
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    if (stage == vaskit::fs::WriteStage::wrote_block) {
      EXPECT_EQ(listing(), (Strings{"a.bin", "b.txt"}));
    }
  }
  ASSERT_EQ(zip_latest_version_files({"a.bin", "b.txt"}, "package.zip").status,
            PackResult::Status::packed);
  EXPECT_EQ(listing(), (Strings{"a.bin", "b.txt", "package.zip"}));
  EXPECT_EQ(members("package.zip").size(), 2u);
}

TEST(DownloadPackage, AFinishedPackageKeepsThePermissionsOfTheOneItReplaces) {
  InTempDir dir;
  dir.file("a.txt", "a");
  ASSERT_EQ(zip_latest_version_files({"a.txt"}, "package.zip").status, PackResult::Status::packed);
  ASSERT_EQ(::chmod("package.zip", 0640), 0);
  dir.file("a.txt", "changed");
  ASSERT_EQ(zip_latest_version_files({"a.txt"}, "package.zip").status, PackResult::Status::packed);
  EXPECT_EQ(members("package.zip").at(0).data, "changed");
  struct stat st {};
  ASSERT_EQ(::stat("package.zip", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(DownloadPackage, NameThatIsNotUtf8IsPackedUnderItsOwnBytes) {
  InTempDir dir;
  dir.file("caf\xe9.txt", "latin-1 name");
  dir.file("caf\xe8.txt", "another latin-1 name");
  LogCapture logs;
  ASSERT_EQ(zip_latest_version_files({"caf\xe9.txt", ".env", "caf\xe8.txt"}, "package.zip").status,
            PackResult::Status::packed);
  const auto got = members("package.zip");
  ASSERT_EQ(got.size(), 2u); // hidden files are never packed; the two names stay two files
  EXPECT_EQ(got[0].name, "caf\xe9.txt");
  EXPECT_EQ(got[0].data, "latin-1 name");
  EXPECT_EQ(got[1].name, "caf\xe8.txt");
  EXPECT_EQ(logs.texts("INFO")[1], "✅ 已加入壓縮包: caf\uFFFD.txt");
}

TEST(DownloadPackage, FileNameOfTheDownloadLink) {
  const std::pair<const char *, const char *> cases[] = {
      {"", "package.zip"},
      {"#", "package.zip"},
      {"dist/site.zip", "site.zip"},
      {"dist/", "package.zip"},
      {"https://example.com", "package.zip"},
      {"https://example.com/", "package.zip"},
      {"https://example.com/files/docs.zip?dl=1#top", "docs.zip"},
      {"http://example.com/a/b/", "package.zip"},
      {"..", "package.zip"},
  };
  for (const auto &[link, name] : cases)
    EXPECT_EQ(package_file_name(link), name) << link;
}

} // namespace
