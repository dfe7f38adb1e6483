// The download package: the newest file of every version family, in one zip archive.
#include "core/fs.hpp"
#include "core/text.hpp"
#include "tools/shelvic/shelvic.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <zip.h>

namespace vaskit::shelvic {
namespace {

// Why the archive library failed, for the error line.
std::string zip_error_text(int code) {
  zip_error_t err;
  zip_error_init_with_code(&err, code);
  std::string text = zip_error_strerror(&err);
  zip_error_fini(&err);
  return text;
}

bool is_zip_archive(const std::string &path) {
  int code = 0;
  zip_t *za = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (!za)
    return false;
  zip_discard(za);
  return true;
}

// 0 when the file can be opened for reading, else the system's error number.
int open_error(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  ::close(fd);
  return 0;
}

bool is_here(const std::string &dir) {
  return dir.empty() || dir == "." || dir == "./";
}

} // namespace

std::string package_file_name(const std::string &download_link) {
  const std::string fallback = "package.zip";
  std::string path = download_link;
  for (const char *scheme : {"http://", "https://"}) {
    if (text::starts_with(path, scheme)) {
      path.erase(0, std::string_view(scheme).size());
      const auto slash = path.find('/');
      // Only a host: there is no file name to take.
      path = slash == std::string::npos ? "" : path.substr(slash);
      path = path.substr(0, path.find_first_of("?#"));
      break;
    }
  }
  if (path.empty() || path == "#")
    return fallback;
  const std::string name = file_name_of(path);
  if (name.empty() || name == "." || name == "..")
    return fallback;
  return name;
}

PackResult zip_latest_version_files(const std::vector<std::string> &actual_files,
                                    const std::string &zip_name, const std::string &output_dir,
                                    const std::vector<std::string> &protected_paths) {
  // Families in the order of their first file; the newest is the first with the greatest key.
  struct Family {
    std::size_t index;
    VersionKey key;
  };
  std::vector<Family> families;
  std::unordered_map<std::string, std::size_t> family_at;
  for (std::size_t i = 0; i < actual_files.size(); ++i) {
    const std::string name = file_name_of(actual_files[i]);
    VersionKey key = get_version_key(name);
    auto [it, added] = family_at.try_emplace(clean_version(name), families.size());
    if (added)
      families.push_back({i, std::move(key)});
    else if (families[it->second].key < key)
      families[it->second] = {i, std::move(key)};
  }

  std::string zip_basename = file_name_of(zip_name);
  if (zip_basename.empty())
    zip_basename = "package.zip";
  const std::string zip_lower = text::lower(zip_basename);
  std::vector<std::string> files_to_zip;
  for (const auto &f : families) {
    const std::string &path = actual_files[f.index];
    const std::string name = file_name_of(path);
    if (name.empty() || name.front() == '.' || text::lower(name) == zip_lower)
      continue;
    files_to_zip.push_back(path);
  }
  if (files_to_zip.empty()) {
    log().warning("⚠️ 沒有任何需要打包的檔案。");
    return {PackResult::Status::nothing, ""};
  }

  const std::string zip_path =
      is_here(output_dir) ? zip_basename : fs::join(output_dir, zip_basename);
  const std::string shown = text::printable(zip_path);
  auto failed = [&](const std::string &why) {
    log().error("❌ 打包壓縮檔失敗: " + why);
    return PackResult{PackResult::Status::failed, ""};
  };

  // Only a file already there can be lost: a listed document that names the package before it
  // exists is simply pointed at it by the update.
  std::error_code ec;
  if (std::filesystem::exists(zip_path, ec)) {
    const std::string target = fs::abspath(zip_path);
    const std::string family = clean_version(zip_basename);
    // The update re-points a listed document at the newest member of its family: when that
    // member is the file at the package's place, it is that document's file too.
    const auto newest = family_at.find(family);
    const bool target_is_newest =
        newest != family_at.end() &&
        fs::abspath(actual_files[families[newest->second].index]) == target;
    for (const auto &p : protected_paths) {
      if (p.empty())
        continue;
      if (fs::abspath(p) == target)
        return failed(shown + " 是索引中列出的文件，不會被壓縮包覆寫。");
      if (target_is_newest && clean_version(file_name_of(p)) == family)
        return failed(shown + " 是索引中文件 " + text::printable(p) +
                      " 的最新版本，不會被壓縮包覆寫。");
    }
    if (!std::filesystem::is_regular_file(zip_path, ec) || !is_zip_archive(zip_path))
      return failed(shown + " 已存在且不是 zip 壓縮檔，不會覆寫。");
  }

  const std::string folder = fs::dirname(zip_path);
  if (!folder.empty()) {
    std::filesystem::create_directories(folder, ec);
    if (ec)
      return failed(text::printable(folder) + ": " + ec.message());
  }

  log().info("📦 正在打包最新檔案至壓縮檔：" + shown + " ...");
  // The archive is built under a hidden name and renamed into place once complete, so an earlier
  // package survives any failure, and a run that is interrupted leaves nothing that a later run
  // would list, offer or pack (hidden files never are). The library's own temporary file, beside
  // the name it is given, is hidden too.
  const std::string staging = fs::join(folder.empty() ? "." : folder, "." + zip_basename + ".part");
  std::filesystem::remove(staging, ec);
  int code = 0;
  zip_t *za = zip_open(staging.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!za)
    return failed(shown + ": " + zip_error_text(code));
  auto give_up = [&](const std::string &why) {
    zip_discard(za);
    return failed(why);
  };
  for (const auto &path : files_to_zip) {
    const std::string shown_path = text::printable(path);
    if (const int err = open_error(path))
      return give_up(shown_path + ": " + std::strerror(err));
    zip_source_t *src = zip_source_file(za, path.c_str(), 0, -1);
    if (!src)
      return give_up(shown_path + ": " + zip_strerror(za));
    const std::string member = file_name_of(path);
    const zip_flags_t enc = text::valid_utf8(member) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_RAW;
    const zip_int64_t idx = zip_file_add(za, member.c_str(), src, enc);
    if (idx < 0) {
      zip_source_free(src);
      return give_up(shown_path + ": " + zip_strerror(za));
    }
    if (zip_set_file_compression(za, static_cast<zip_uint64_t>(idx), ZIP_CM_DEFLATE, 0) != 0)
      return give_up(shown_path + ": " + zip_strerror(za));
    log().info("✅ 已加入壓縮包: " + shown_path);
  }
  if (zip_close(za) != 0)
    return give_up(shown + ": " + zip_strerror(za));
  // A package that was there keeps its permissions.
  struct stat before {};
  if (::stat(zip_path.c_str(), &before) == 0)
    ::chmod(staging.c_str(), before.st_mode & 07777);
  if (::rename(staging.c_str(), zip_path.c_str()) != 0) {
    const int err = errno;
    std::filesystem::remove(staging, ec);
    return failed(shown + ": " + std::strerror(err));
  }
  log().info("🎉 成功建立壓縮包，共打包 " + std::to_string(files_to_zip.size()) + " 個檔案！");
  return {PackResult::Status::packed, zip_path};
}

} // namespace vaskit::shelvic
