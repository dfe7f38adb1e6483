#include "core/fs.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <signal.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vaskit::fs {

// Calls the hook of the newest ScopedWriteHook, if any.
void call_write_hook(WriteStage stage, std::size_t written);

namespace {

ScopedWriteHook *g_write_hook = nullptr;

[[noreturn]] void throw_errno(int err, const std::string &what) {
  throw std::system_error(err, std::generic_category(), what);
}

// Temporary names are "<prefix><pid>-<six letters or digits>"; the prefix leaves room for the
// rest within the 255 bytes a file name may have.
std::string temp_prefix(const std::string &filename) {
  std::string prefix(1, '.');
  prefix.append(filename, 0, 200);
  prefix += ".tmp-";
  return prefix;
}

constexpr std::size_t kRandomLength = 6;

std::string random_suffix() {
  static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static thread_local std::mt19937_64 gen{std::random_device{}() ^
                                          static_cast<std::uint64_t>(::getpid())};
  std::string out(kRandomLength, 'x');
  for (char &c : out)
    c = letters[gen() % (sizeof letters - 1)];
  return out;
}

// Removes the temporaries of earlier saves whose process has died (killed in the middle of a
// save): those of one file (`prefix`, as temp_prefix gives it), or every one in the folder when
// `prefix` is empty. Those of running processes, this one included, may still be in use.
// Failures are ignored: the save itself does not depend on this.
void remove_stale_temporaries(const std::filesystem::path &folder, const std::string &prefix) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec)
    return;
  const pid_t self = ::getpid();
  // increment(ec), not ++: a folder that changes under us ends the clean-up, not the save.
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const auto &entry = *it;
    const std::string name = entry.path().filename().string();
    std::string_view rest;
    if (!prefix.empty()) {
      if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        continue;
      rest = std::string_view(name).substr(prefix.size());
    } else {
      const std::size_t tag = name.rfind(".tmp-");
      if (name.front() != '.' || tag == std::string::npos || tag == 0)
        continue;
      rest = std::string_view(name).substr(tag + 5);
    }
    pid_t pid = 0;
    const auto [end, err] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (err != std::errc() || pid <= 0 || pid == self)
      continue;
    const std::string_view tail(end, rest.data() + rest.size() - end);
    if (tail.size() != kRandomLength + 1 || tail.front() != '-' ||
        !std::all_of(tail.begin() + 1, tail.end(), [](char c) {
          return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        }))
      continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH)
      continue;
    struct stat st {};
    if (::lstat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
      ::unlink(entry.path().c_str());
  }
}

// Gives the unnamed file `fd` the name `name`; 0, or the errno of the failure (EEXIST when the
// name is taken).
int link_fd(int fd, const std::string &name) {
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
    return 0;
  // Without /proc, linking by descriptor needs a privilege that root usually has.
  if (errno == ENOENT && ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
    return 0;
  return errno;
}

// Gives the unnamed file `fd` a free name "<base><random>" in its folder.
std::string link_unnamed(int fd, const std::string &base, const std::string &what) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = base + random_suffix();
    const int err = link_fd(fd, name);
    if (err == 0)
      return name;
    if (err != EEXIST)
      throw_errno(err, what);
  }
  throw_errno(EEXIST, what);
}

// Opens a new file for reading and writing in `folder`: unnamed where the file system allows
// (`name` stays empty), else as "<base><random>" (`name` holds it).
int open_temporary(const std::filesystem::path &folder, const std::string &base, std::string &name,
                   const std::string &what) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0)
    return fd;
  // Older kernels and some file systems (network ones, mostly) cannot make unnamed files.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
    throw_errno(errno, what);
  std::string pattern = base + std::string(kRandomLength, 'X');
  fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0)
    throw_errno(errno, what);
  name = pattern;
  return fd;
}

// Writes `data` to `fd` in blocks, calling the write hook after each.
void write_blocks(int fd, std::string_view data, std::size_t &written, const std::string &what) {
  constexpr std::size_t block = 65536;
  std::size_t done = 0;
  while (done < data.size()) {
    const std::size_t chunk = std::min(block, data.size() - done);
    const ssize_t n = ::write(fd, data.data() + done, chunk);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw_errno(errno, what);
    }
    done += static_cast<std::size_t>(n);
    written += static_cast<std::size_t>(n);
    call_write_hook(WriteStage::wrote_block, written);
  }
}

void sync_folder(const std::filesystem::path &folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

} // namespace

ScopedWriteHook::ScopedWriteHook(WriteHook hook) : hook_(std::move(hook)), previous_(g_write_hook) {
  g_write_hook = this;
}

ScopedWriteHook::~ScopedWriteHook() {
  g_write_hook = previous_;
}

void call_write_hook(WriteStage stage, std::size_t written) {
  if (g_write_hook && g_write_hook->hook_)
    g_write_hook->hook_(stage, written);
}

namespace {

// Reads `fd` to its end and closes it.
std::string read_all(int fd, const std::string &what) {
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
      throw_errno(err, what);
    }
    if (n == 0)
      break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

} // namespace

std::string read_file(const std::filesystem::path &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw_errno(errno, path.string());
  return read_all(fd, path.string());
}

int open_regular_file(const std::filesystem::path &path, bool &not_regular) {
  not_regular = false;
  // Without O_NONBLOCK the open of a FIFO waits for a writer that may never come.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    return -1;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    not_regular = true;
    ok = false;
  }
  if (ok) {
    const int flags = ::fcntl(fd, F_GETFL);
    ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
  }
  if (!ok) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

std::string read_regular_file(const std::filesystem::path &path) {
  bool not_regular = false;
  const int fd = open_regular_file(path, not_regular);
  if (not_regular)
    throw std::runtime_error(path.string() + ": is not a regular file");
  if (fd < 0)
    throw_errno(errno, path.string());
  return read_all(fd, path.string());
}

mode_t new_file_mode() {
  // umask() can only be read by setting it; set it straight back.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

void write_file_atomic(const std::filesystem::path &path, std::string_view data) {
  NewFile file(path, NewFile::replacing);
  file.write(data);
  file.replace();
}

void NewFile::open(const std::filesystem::path &folder, const std::string &prefix, mode_t mode,
                   bool every_stale) {
  folder_ = folder.string();
  remove_stale_temporaries(folder, every_stale ? std::string() : prefix);
  base_ = (folder / prefix).string() + std::to_string(::getpid()) + "-";
  fd_ = open_temporary(folder, base_, temp_, what_);
  if (::fchmod(fd_, mode) != 0) {
    // A constructor that throws gets no destructor: undo here.
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    if (!temp_.empty())
      ::unlink(temp_.c_str());
    temp_.clear();
    throw_errno(err, what_);
  }
}

NewFile::NewFile(const std::filesystem::path &path, mode_t mode)
    : what_(path.string()), target_(path.string()) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty())
    folder = ".";
  open(folder, temp_prefix(path.filename().string()), mode, true);
}

NewFile::NewFile(const std::filesystem::path &path, Replacing) : what_(path.string()) {
  namespace stdfs = std::filesystem;
  stdfs::path target = path;
  for (int hops = 0;; ++hops) {
    std::error_code ec;
    if (!stdfs::is_symlink(target, ec))
      break;
    if (hops == 40)
      throw_errno(ELOOP, what_);
    const stdfs::path next = stdfs::read_symlink(target, ec);
    if (ec)
      throw std::system_error(ec, what_);
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  stdfs::path folder = target.parent_path();
  if (folder.empty())
    folder = ".";
  target_ = target.string();

  mode_t mode = 0;
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0) {
    // A file the user marked read-only stays as it is, as an in-place write would.
    if ((existing.st_mode & 0222) == 0)
      throw_errno(EACCES, what_);
    mode = existing.st_mode & 07777;
  } else {
    mode = new_file_mode();
  }
  open(folder, temp_prefix(target.filename().string()), mode, false);
}

NewFile::~NewFile() {
  if (fd_ >= 0)
    ::close(fd_);
  if (!temp_.empty())
    ::unlink(temp_.c_str());
}

void NewFile::write(std::string_view data) {
  if (fd_ < 0 || finished_)
    throw_errno(EBADF, what_);
  write_blocks(fd_, data, written_, what_);
}

void NewFile::flush() {
  if (fd_ < 0 || finished_)
    throw std::logic_error(what_ + ": finished twice");
  if (!flushed_) {
    if (::fsync(fd_) != 0)
      throw_errno(errno, what_);
    flushed_ = true;
  }
}

bool NewFile::publish(const std::filesystem::path &target) {
  const bool first = !flushed_;
  flush();
  if (first)
    call_write_hook(WriteStage::before_rename, written_);
  const int err = temp_.empty() ? link_fd(fd_, target.string()) : rename_no_replace(temp_, target);
  if (err == EEXIST)
    return false;
  if (err != 0)
    throw_errno(err, target.string());
  temp_.clear(); // it is the target now
  finished_ = true;
  return true;
}

void NewFile::replace() {
  flush();
  // A name of its own first: only a named file can be renamed over another.
  if (temp_.empty())
    temp_ = link_unnamed(fd_, base_, what_);
  const int closing = fd_;
  fd_ = -1;
  if (::close(closing) != 0)
    throw_errno(errno, what_);
  call_write_hook(WriteStage::before_rename, written_);
  if (::rename(temp_.c_str(), target_.c_str()) != 0)
    throw_errno(errno, what_);
  temp_.clear(); // it is the target now
  finished_ = true;
  // Make the rename itself durable.
  sync_folder(folder_);
}

int rename_no_replace(const std::string &from, const std::string &to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
    return errno;
  // A file system without the no-replace flag: a hard link fails on a taken name.
  if (::link(from.c_str(), to.c_str()) == 0) {
    if (::unlink(from.c_str()) != 0) {
      const int err = errno;
      ::unlink(to.c_str());
      return err;
    }
    return 0;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
    return errno;
  // Neither is offered (some shared folders): check, then rename.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0)
    return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::filesystem::path make_run_temp_dir(const std::string &prefix,
                                        const std::filesystem::path &given_root) {
  namespace stdfs = std::filesystem;
  std::error_code ec;
  stdfs::path root = given_root.empty() ? stdfs::temp_directory_path(ec) : given_root;
  if (ec)
    root = "/tmp";
  stdfs::directory_iterator it(root, ec);
  for (; !ec && it != stdfs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
      continue;
    const char *first = name.data() + prefix.size();
    const char *last = name.data() + name.size();
    pid_t pid = 0;
    const auto [end, err] = std::from_chars(first, last, pid);
    if (err != std::errc() || pid <= 0 || last - end != 7 || *end != '-')
      continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH)
      continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
      continue;
    std::error_code ignored;
    stdfs::remove_all(it->path(), ignored);
  }
  std::string tmpl = (root / (prefix + std::to_string(::getpid()) + "-XXXXXX")).string();
  if (!::mkdtemp(tmpl.data()))
    throw_errno(errno, tmpl);
  return tmpl;
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

std::string path_text(std::string_view path) {
  std::string out;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (!part.empty() && part != ".") {
      if (!out.empty())
        out.push_back('/');
      out.append(part);
    }
    start = end + 1;
  }
  if (!path.empty() && path.front() == '/')
    return "/" + out;
  return out.empty() ? "." : out;
}

std::vector<std::filesystem::path> missing_folders(const std::filesystem::path &folder) {
  std::vector<std::filesystem::path> missing;
  if (folder.empty())
    return missing;
  std::filesystem::path p = std::filesystem::absolute(folder).lexically_normal();
  if (!p.has_filename()) // "a/b/" names the folder b
    p = p.parent_path();
  std::error_code ec;
  while (!p.empty() && !std::filesystem::exists(std::filesystem::symlink_status(p, ec)) &&
         p != p.root_path()) {
    missing.push_back(p);
    p = p.parent_path();
  }
  return missing;
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
