// Output paths, existence checks and the forced move of the JSON tools.
#include "core/fs.hpp"
#include "core/text.hpp"
#include "vaskern/fileMg.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vaskern::fileMg {
namespace stdfs = std::filesystem;

namespace {

MoveHook g_move_hook;

void step(std::string_view name) {
  if (g_move_hook)
    g_move_hook(name);
}

[[noreturn]] void fail(int err, const std::string &what) {
  throw std::system_error(err, std::generic_category(), what);
}

std::string in_quotes(const std::string &path) {
  return "'" + path + "'";
}

// "a.xlsx", then "a (1).xlsx", "a (2).xlsx", ...
std::string numbered(const std::string &path, int n) {
  if (n == 0)
    return path;
  const std::string folder = vaskit::fs::dirname(path);
  const auto [stem, ext] = vaskit::fs::splitext(vaskit::fs::basename(path));
  const std::string name = stem + " (" + std::to_string(n) + ")" + ext;
  return folder.empty() ? name : vaskit::fs::join(folder, name);
}

constexpr int kMaxNumbered = 10000;

void sync_folder_of(const std::string &path) {
  std::string folder = vaskit::fs::dirname(path);
  if (folder.empty())
    folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

void make_folder_of(const std::string &path) {
  const std::string folder = vaskit::fs::dirname(path);
  if (folder.empty())
    return;
  std::error_code ec;
  stdfs::create_directories(folder, ec);
  if (ec)
    throw std::system_error(ec, "cannot create folder " + in_quotes(folder));
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0)
      ::close(fd);
  }
};

// Copies `src`, with its permission bits and times, to the first free name among `target`,
// "target (1)", ...; returns that name. The copy gets its name only when it is whole and flushed
// to disk (fs::NewFile), so no name ever shows part of a copy, even after a crash. `whole` names
// the step called between the two (none when empty). Throws after removing what it wrote.
std::string copy_to_free_name(const std::string &src, const std::string &target,
                              std::string_view whole) {
  Fd in;
  in.fd = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0)
    fail(errno, "cannot read " + in_quotes(src));
  struct stat st {};
  if (::fstat(in.fd, &st) != 0)
    fail(errno, "cannot read " + in_quotes(src));
  // The new file's own errors name the file; the message says what was being done.
  auto writing = [](const std::string &name, const auto &action) {
    try {
      return action();
    } catch (const std::system_error &e) {
      throw std::system_error(e.code(), "cannot write " + in_quotes(name));
    }
  };
  std::optional<vaskit::fs::NewFile> out;
  writing(target, [&] { out.emplace(target, st.st_mode & 0777); });
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(in.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      fail(errno, "cannot read " + in_quotes(src));
    }
    if (n == 0)
      break;
    writing(target, [&] { out->write(std::string_view(buf, static_cast<std::size_t>(n))); });
  }
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(out->fd(), times);
  if (!whole.empty())
    step(whole);
  for (int n = 0; n < kMaxNumbered; ++n) {
    const std::string candidate = numbered(target, n);
    if (writing(candidate, [&] { return out->publish(candidate); }))
      return candidate;
  }
  fail(EEXIST, "no free name for " + in_quotes(target));
}

// Across file systems: a flushed copy gets its final name before the source is removed, so there
// is never a half-written file under either name. Returns the final name.
std::string move_across(const std::string &src, const std::string &dest) {
  const std::string final_name = copy_to_free_name(src, dest, "temporary copy written");
  sync_folder_of(final_name);
  try {
    step("before removing the source");
    if (::unlink(src.c_str()) != 0)
      fail(errno,
           "cannot remove " + in_quotes(src) + " after copying it to " + in_quotes(final_name));
  } catch (...) {
    // The source stays; the copy would be a second whole file the user did not ask for.
    ::unlink(final_name.c_str());
    throw;
  }
  sync_folder_of(src);
  return final_name;
}

// A symbolic link goes as a link to the same file: renamed as it is, a relative target would
// point from the new folder into nothing. Never replaces an existing name. Returns the new name.
std::string move_link(const std::string &src, const std::string &dest) {
  std::error_code ec;
  stdfs::path target = stdfs::read_symlink(src, ec);
  if (!ec && target.is_relative()) {
    // The system reads a relative target from the real folder that holds the link.
    const stdfs::path link = stdfs::absolute(src, ec);
    if (!ec)
      target = stdfs::canonical(link.parent_path(), ec) / target;
  }
  if (ec)
    throw std::system_error(ec, "cannot move " + in_quotes(src));
  for (int n = 0;; ++n) {
    if (n == kMaxNumbered)
      fail(EEXIST, "no free name for " + in_quotes(dest));
    const std::string candidate = numbered(dest, n);
    if (::symlink(target.c_str(), candidate.c_str()) == 0) {
      if (::unlink(src.c_str()) != 0) {
        const int err = errno;
        ::unlink(candidate.c_str());
        fail(err, "cannot remove " + in_quotes(src));
      }
      return candidate;
    }
    if (errno != EEXIST)
      fail(errno, "cannot move " + in_quotes(src) + " to " + in_quotes(candidate));
  }
}

} // namespace

std::string get_folder_from_path(const std::string &path) {
  std::error_code ec;
  if (stdfs::is_regular_file(path, ec)) {
    const std::string folder = vaskit::fs::dirname(path);
    return folder.empty() ? "." : folder;
  }
  return path;
}

std::string generate_output_path(const std::string &folder, const std::string &name) {
  return vaskit::fs::join(folder, name);
}

bool check_file_exists(const std::string &path,
                       const std::vector<std::string> &allowed_extensions) {
  std::error_code ec;
  if (path.empty() || !stdfs::is_regular_file(path, ec))
    return false;
  if (allowed_extensions.empty())
    return true;
  const std::string ext = vaskit::text::lower(vaskit::fs::splitext(path).second);
  for (const std::string &allowed : allowed_extensions)
    if (vaskit::text::lower(allowed) == ext)
      return true;
  return false;
}

MovedFile move_file_force(const std::string &src, const std::string &dest,
                          const std::string &backup) {
  // The system would cut a name at a NUL character and use what comes before it.
  for (const std::string *path : {&src, &dest, &backup})
    if (path->find('\0') != std::string::npos)
      fail(EINVAL, "cannot move " + in_quotes(vaskit::text::printable(src)) + " to " +
                       in_quotes(vaskit::text::printable(*path)) +
                       ": the name holds a NUL character");
  struct stat st {};
  if (::stat(src.c_str(), &st) != 0)
    fail(errno, "cannot move " + in_quotes(src));
  if (S_ISDIR(st.st_mode))
    fail(EISDIR, "cannot move " + in_quotes(src));
  if (!S_ISREG(st.st_mode))
    fail(EINVAL, "cannot move " + in_quotes(src) + ", which is not a regular file");
  struct stat link_st {};
  const bool is_link = ::lstat(src.c_str(), &link_st) == 0 && S_ISLNK(link_st.st_mode);
  make_folder_of(dest);
  make_folder_of(backup);

  MovedFile moved;
  moved.backup = copy_to_free_name(src, backup, {});
  try {
    step("backup copied");
    if (is_link)
      moved.dest = move_link(src, dest);
    for (int n = 0; moved.dest.empty(); ++n) {
      if (n == kMaxNumbered)
        fail(EEXIST, "no free name for " + in_quotes(dest));
      const std::string candidate = numbered(dest, n);
      const int err = vaskit::fs::rename_no_replace(src, candidate);
      if (err == 0) {
        moved.dest = candidate;
      } else if (err == EXDEV) {
        moved.dest = move_across(src, dest);
      } else if (err != EEXIST) {
        fail(err, "cannot move " + in_quotes(src) + " to " + in_quotes(candidate));
      }
    }
  } catch (...) {
    // The source is where it was; the backup copy of this call goes, so a failed move leaves no
    // stray copy behind.
    ::unlink(moved.backup.c_str());
    throw;
  }
  return moved;
}

void set_move_hook(MoveHook hook) {
  g_move_hook = std::move(hook);
}

} // namespace vaskern::fileMg
