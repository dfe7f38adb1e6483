// The download package: the newest file of every version family, in one zip archive.
#include "core/fs.hpp"
#include "core/text.hpp"
#include "tools/shelvic/shelvic.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <system_error>
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

// Families in the order of their first file, each with its newest file: the first with the
// greatest version key.
struct Families {
  struct Newest {
    std::size_t index; // in the listed files
    VersionKey key;
  };
  std::vector<Newest> newest;
  std::unordered_map<std::string, std::size_t> at; // family name -> its place in `newest`
};

Families group_families(const std::vector<std::string> &actual_files) {
  Families out;
  for (std::size_t i = 0; i < actual_files.size(); ++i) {
    const std::string name = file_name_of(actual_files[i]);
    VersionKey key = get_version_key(name);
    auto [it, added] = out.at.try_emplace(clean_version(name), out.newest.size());
    if (added)
      out.newest.push_back({i, std::move(key)});
    else if (out.newest[it->second].key < key)
      out.newest[it->second] = {i, std::move(key)};
  }
  return out;
}

// The newest file of every family, but the package itself and hidden files.
std::vector<std::string> files_to_pack(const std::vector<std::string> &actual_files,
                                       const Families &families, const std::string &zip_basename) {
  const std::string zip_lower = text::lower(zip_basename);
  std::vector<std::string> out;
  for (const auto &f : families.newest) {
    const std::string &path = actual_files[f.index];
    const std::string name = file_name_of(path);
    if (name.empty() || name.front() == '.' || text::lower(name) == zip_lower)
      continue;
    out.push_back(path);
  }
  return out;
}

// Why the file at the package's place must not be replaced, or nothing. Only a file already
// there can be lost: a listed document that names the package before it exists is simply
// pointed at it by the update.
std::optional<std::string> replacement_refused(const std::string &zip_path,
                                               const std::string &zip_basename,
                                               const std::vector<std::string> &actual_files,
                                               const Families &families,
                                               const std::vector<std::string> &protected_paths) {
  std::error_code ec;
  if (!std::filesystem::exists(zip_path, ec))
    return std::nullopt;
  const std::string shown = text::printable(zip_path);
  const std::string target = fs::abspath(zip_path);
  const std::string family = clean_version(zip_basename);
  // The update re-points a listed document at the newest member of its family: when that
  // member is the file at the package's place, it is that document's file too.
  const auto newest = families.at.find(family);
  const bool target_is_newest =
      newest != families.at.end() &&
      fs::abspath(actual_files[families.newest[newest->second].index]) == target;
  for (const auto &p : protected_paths) {
    if (p.empty())
      continue;
    if (fs::abspath(p) == target)
      return shown + " 是索引中列出的文件，不會被壓縮包覆寫。";
    if (target_is_newest && clean_version(file_name_of(p)) == family)
      return shown + " 是索引中文件 " + text::printable(p) + " 的最新版本，不會被壓縮包覆寫。";
  }
  if (!std::filesystem::is_regular_file(zip_path, ec) || !is_zip_archive(zip_path))
    return shown + " 已存在且不是 zip 壓縮檔，不會覆寫。";
  return std::nullopt;
}

// Where the archive library writes the package: a file that takes the package's place only
// once it is complete, and that has no name before, so that neither a failure nor a process
// killed while packing leaves a temporary file or half a package behind.
class PackageSink {
public:
  explicit PackageSink(std::string path) : path_(std::move(path)) { zip_error_init(&error_); }
  ~PackageSink() { zip_error_fini(&error_); }
  PackageSink(const PackageSink &) = delete;
  PackageSink &operator=(const PackageSink &) = delete;

  // What went wrong with the package file itself (it names the file), or "".
  const std::string &failure() const { return failure_; }

  // A source for zip_open_from_source; the sink must outlive the archive.
  zip_source_t *source() {
    return zip_source_function_create(&PackageSink::callback, this, &error_);
  }

private:
  static zip_int64_t callback(void *self, void *data, zip_uint64_t len, zip_source_cmd_t cmd) {
    return static_cast<PackageSink *>(self)->handle(data, len, cmd);
  }

  zip_int64_t fail(int zip_code, int system_code) {
    zip_error_set(&error_, zip_code, system_code);
    return -1;
  }

  // No exception may pass through the archive library: each becomes its error.
  zip_int64_t handle(void *data, zip_uint64_t len, zip_source_cmd_t cmd) noexcept {
    try {
      return command(data, len, cmd);
    } catch (const std::system_error &e) {
      failure_ = e.what();
      return fail(cmd == ZIP_SOURCE_BEGIN_WRITE ? ZIP_ER_TMPOPEN : ZIP_ER_WRITE, e.code().value());
    } catch (const std::exception &e) {
      failure_ = e.what();
      return fail(ZIP_ER_WRITE, EIO);
    }
  }

  zip_int64_t command(void *data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
    case ZIP_SOURCE_SUPPORTS:
      return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_STAT:
      // The package is a new archive: there is nothing to read.
      return fail(ZIP_ER_READ, ENOENT);
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&error_, data, len);
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_BEGIN_WRITE:
      file_.emplace(path_, fs::NewFile::replacing);
      return 0;
    case ZIP_SOURCE_WRITE:
      if (!file_)
        return fail(ZIP_ER_INTERNAL, 0);
      file_->write(std::string_view(static_cast<const char *>(data), len));
      return static_cast<zip_int64_t>(len);
    case ZIP_SOURCE_SEEK_WRITE: {
      const auto *args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &error_);
      if (!args)
        return -1;
      if (!file_ || ::lseek(file_->fd(), args->offset, args->whence) < 0)
        return fail(ZIP_ER_SEEK, file_ ? errno : 0);
      return 0;
    }
    case ZIP_SOURCE_TELL_WRITE: {
      const off_t at = file_ ? ::lseek(file_->fd(), 0, SEEK_CUR) : -1;
      if (at < 0)
        return fail(ZIP_ER_TELL, file_ ? errno : 0);
      return at;
    }
    case ZIP_SOURCE_COMMIT_WRITE:
      if (!file_)
        return fail(ZIP_ER_INTERNAL, 0);
      file_->replace();
      file_.reset();
      return 0;
    case ZIP_SOURCE_ROLLBACK_WRITE:
      file_.reset();
      return 0;
    case ZIP_SOURCE_REMOVE:
      // An archive left empty is not written at all.
      return 0;
    default:
      return fail(ZIP_ER_OPNOTSUPP, 0);
    }
  }

  std::string path_;
  std::string failure_;
  zip_error_t error_;
  std::optional<fs::NewFile> file_;
};

// Writes the package: each file under its own file name (its bytes, even when they are not
// UTF-8), deflated, in order. The error line's text on failure.
std::optional<std::string> write_package(const std::string &zip_path,
                                         const std::vector<std::string> &files) {
  const std::string shown = text::printable(zip_path);
  PackageSink sink(zip_path);
  zip_source_t *src = sink.source();
  if (!src)
    return shown + ": " + zip_error_text(ZIP_ER_MEMORY);
  zip_error_t error;
  zip_error_init(&error);
  zip_t *za = zip_open_from_source(src, ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!za) {
    std::string why = shown + ": " + zip_error_strerror(&error);
    zip_error_fini(&error);
    zip_source_free(src);
    return why;
  }
  zip_error_fini(&error);
  auto give_up = [&](const std::string &why) {
    zip_discard(za);
    return why;
  };
  for (const auto &path : files) {
    const std::string shown_path = text::printable(path);
    if (const int err = open_error(path))
      return give_up(shown_path + ": " + std::strerror(err));
    zip_source_t *member_src = zip_source_file(za, path.c_str(), 0, -1);
    if (!member_src)
      return give_up(shown_path + ": " + zip_strerror(za));
    const std::string member = file_name_of(path);
    const zip_flags_t enc = text::valid_utf8(member) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_RAW;
    const zip_int64_t idx = zip_file_add(za, member.c_str(), member_src, enc);
    if (idx < 0) {
      zip_source_free(member_src);
      return give_up(shown_path + ": " + zip_strerror(za));
    }
    if (zip_set_file_compression(za, static_cast<zip_uint64_t>(idx), ZIP_CM_DEFLATE, 0) != 0)
      return give_up(shown_path + ": " + zip_strerror(za));
    log().info("✅ 已加入壓縮包: " + shown_path);
  }
  if (zip_close(za) != 0)
    return give_up(sink.failure().empty() ? shown + ": " + zip_strerror(za)
                                          : text::printable(sink.failure()));
  return std::nullopt;
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
  const Families families = group_families(actual_files);
  std::string zip_basename = file_name_of(zip_name);
  if (zip_basename.empty())
    zip_basename = "package.zip";
  const std::vector<std::string> files_to_zip = files_to_pack(actual_files, families, zip_basename);
  if (files_to_zip.empty()) {
    log().warning("⚠️ 沒有任何需要打包的檔案。");
    return {PackResult::Status::nothing, ""};
  }

  const std::string zip_path =
      is_here(output_dir) ? zip_basename : fs::join(output_dir, zip_basename);
  auto failed = [&](const std::string &why) {
    log().error("❌ 打包壓縮檔失敗: " + why);
    return PackResult{PackResult::Status::failed, ""};
  };
  if (const auto refused =
          replacement_refused(zip_path, zip_basename, actual_files, families, protected_paths))
    return failed(*refused);
  const std::string folder = fs::dirname(zip_path);
  if (!folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
      return failed(text::printable(folder) + ": " + ec.message());
  }

  log().info("📦 正在打包最新檔案至壓縮檔：" + text::printable(zip_path) + " ...");
  if (const auto error = write_package(zip_path, files_to_zip))
    return failed(*error);
  log().info("🎉 成功建立壓縮包，共打包 " + std::to_string(files_to_zip.size()) + " 個檔案！");
  return {PackResult::Status::packed, zip_path};
}

} // namespace vaskit::shelvic
