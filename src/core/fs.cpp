#include "core/fs.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <random>
#include <system_error>
#include <unistd.h>

namespace vaskit::fs {
namespace {

std::function<void(const std::filesystem::path &)> g_write_hook;

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
  struct stat st{};
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
  const auto dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::random_device rd;
  const auto tmp =
      dir / ("." + path.filename().string() + ".tmp" + std::to_string(rd() % 1000000));
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0)
    throw_errno(errno, path.string());
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw_errno(err, path.string());
  };
  std::size_t off = 0;
  while (off < data.size()) {
    const ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      fail(errno);
    }
    off += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0)
    fail(errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw_errno(err, path.string());
  }
  try {
    if (g_write_hook)
      g_write_hook(tmp);
  } catch (...) {
    ::unlink(tmp.c_str());
    throw;
  }
  // Keep the permissions of the file being replaced.
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0)
    ::chmod(tmp.c_str(), st.st_mode & 07777);
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw_errno(err, path.string());
  }
}

void set_write_hook(std::function<void(const std::filesystem::path &)> hook) {
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
