#include "core/fs.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vaskit::fs {
namespace {

WriteHook g_write_hook;

[[noreturn]] void throw_errno(int err, const std::string &what) {
  throw std::system_error(err, std::generic_category(), what);
}

} // namespace

std::string read_file(const std::filesystem::path &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw_errno(errno, path.string());
  std::string data;
  // One allocation of the right size for regular files; the loop still handles growth and pipes.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    data.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  while (true) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      const int err = errno;
      ::close(fd);
      throw_errno(err, path.string());
    }
    if (n == 0)
      break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

void write_file_atomic(const std::filesystem::path &path, std::string_view data) {
  namespace stdfs = std::filesystem;
  const std::string what = path.string();
  // Replace the file a link points at, not the link, even when that file does not exist yet (a
  // dangling link is written through, as opening it for writing would).
  stdfs::path target = path;
  for (int hops = 0;; ++hops) {
    std::error_code ec;
    if (!stdfs::is_symlink(target, ec))
      break;
    if (hops == 40)
      throw_errno(ELOOP, what);
    const stdfs::path next = stdfs::read_symlink(target, ec);
    if (ec)
      throw std::system_error(ec, what);
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  stdfs::path folder = target.parent_path();
  if (folder.empty())
    folder = ".";

  mode_t mode = 0;
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0) {
    // A file the user marked read-only stays as it is, as an in-place write would.
    if ((existing.st_mode & 0222) == 0)
      throw_errno(EACCES, what);
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }

  std::string temp = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  int fd = ::mkstemp(temp.data());
  if (fd < 0)
    throw_errno(errno, what);
  auto abandon = [&](int err) {
    if (fd >= 0)
      ::close(fd);
    ::unlink(temp.c_str());
    throw_errno(err, what);
  };
  try {
    if (::fchmod(fd, mode) != 0)
      abandon(errno);
    constexpr std::size_t block = 65536;
    std::size_t written = 0;
    while (written < data.size()) {
      const std::size_t chunk = std::min(block, data.size() - written);
      const ssize_t n = ::write(fd, data.data() + written, chunk);
      if (n < 0) {
        if (errno == EINTR)
          continue;
        abandon(errno);
      }
      written += static_cast<std::size_t>(n);
      if (g_write_hook)
        g_write_hook(WriteStage::wrote_block, written);
    }
    if (::fsync(fd) != 0)
      abandon(errno);
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0)
      abandon(errno);
    if (g_write_hook)
      g_write_hook(WriteStage::before_rename, written);
    if (::rename(temp.c_str(), target.c_str()) != 0)
      abandon(errno);
  } catch (const std::system_error &) {
    throw;
  } catch (...) {
    if (fd >= 0)
      ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  // Make the rename itself durable.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void set_write_hook(WriteHook hook) {
  g_write_hook = std::move(hook);
}

std::pair<std::string, std::string> splitext(std::string_view name) {
  const auto slash = name.rfind('/');
  const std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot < base)
    return {std::string(name), ""};
  // Leading dots of the last component do not start an extension.
  std::size_t first_non_dot = base;
  while (first_non_dot < name.size() && name[first_non_dot] == '.')
    ++first_non_dot;
  if (dot < first_non_dot)
    return {std::string(name), ""};
  return {std::string(name.substr(0, dot)), std::string(name.substr(dot))};
}

std::string basename(std::string_view path) {
  const auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string dirname(std::string_view path) {
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos)
    return "";
  std::string head(path.substr(0, slash + 1));
  // Trailing separators go, except for a lone root.
  if (head.find_first_not_of('/') != std::string::npos)
    while (!head.empty() && head.back() == '/')
      head.pop_back();
  return head;
}

std::string join(std::string_view a, std::string_view b) {
  if (!b.empty() && b.front() == '/')
    return std::string(b);
  if (a.empty())
    return std::string(b);
  std::string out(a);
  if (out.back() != '/')
    out.push_back('/');
  out.append(b);
  return out;
}

std::string abspath(std::string_view path) {
  std::error_code ec;
  auto p = std::filesystem::absolute(std::filesystem::path(path), ec);
  auto s = p.lexically_normal().string();
  if (s.size() > 1 && s.back() == '/')
    s.pop_back();
  return s;
}

} // namespace vaskit::fs
