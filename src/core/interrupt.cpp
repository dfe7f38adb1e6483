#include "core/interrupt.hpp"

#include "core/fs.hpp"

#include <array>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace vaskit::interrupt {

// One registration: immutable once linked, so the handler can read it at any moment.
struct RemoveOnInterrupt::Entry {
  Removal how;
  std::vector<std::string> paths;
  Entry *next = nullptr;
};

namespace {

constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};

// The list and its owner. Only the owner changes the list, inside a Hold, and the handler reads
// it only on the owner: it never sees the list in the middle of a change.
std::atomic<RemoveOnInterrupt::Entry *> g_head{nullptr};
std::atomic<pid_t> g_owner{0};
std::array<struct sigaction, kSignals.size()> g_saved{};
std::array<bool, kSignals.size()> g_installed{};

sigset_t interrupt_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kSignals)
    sigaddset(&set, sig);
  return set;
}

constexpr int kMaxDepth = 48;

// Removes `name` below `dir_fd`, a folder with everything in it; true when it is gone. Only
// async-signal-safe calls: no allocation, the listing read into a buffer on the stack.
bool remove_tree_at(int dir_fd, const char *name, int depth) {
  if (::unlinkat(dir_fd, name, 0) == 0 || errno == ENOENT)
    return true;
  if ((errno != EISDIR && errno != EPERM) || depth >= kMaxDepth)
    return false;
  const int fd = ::openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT;
  // Removing entries while the folder is listed may hide others from that listing: it is listed
  // again until a listing finds nothing, or finds only what cannot be removed.
  for (;;) {
    bool seen = false, removed = false;
    if (::lseek(fd, 0, SEEK_SET) != 0)
      break;
    alignas(struct dirent64) char buf[2048];
    ssize_t n;
    while ((n = ::getdents64(fd, buf, sizeof buf)) > 0) {
      for (ssize_t off = 0; off < n;) {
        const auto *d = reinterpret_cast<const struct dirent64 *>(buf + off);
        off += d->d_reclen;
        const char *e = d->d_name;
        if (e[0] == '.' && (e[1] == '\0' || (e[1] == '.' && e[2] == '\0')))
          continue;
        seen = true;
        removed = remove_tree_at(fd, e, depth + 1) || removed;
      }
    }
    if (!seen || !removed)
      break;
  }
  ::close(fd);
  return ::unlinkat(dir_fd, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

// Folders last: an empty folder may hold registered files until then.
void remove_all() noexcept {
  for (const Removal pass : {Removal::file, Removal::tree, Removal::empty_folder})
    for (const RemoveOnInterrupt::Entry *e = g_head.load(); e; e = e->next) {
      if (e->how != pass)
        continue;
      for (const std::string &p : e->paths) {
        if (pass == Removal::file)
          ::unlink(p.c_str());
        else if (pass == Removal::tree)
          remove_tree_at(AT_FDCWD, p.c_str(), 0);
        else
          ::rmdir(p.c_str());
      }
    }
}

extern "C" void on_interrupt_signal(int sig) {
  const int saved_errno = errno;
  const pid_t owner = g_owner.load();
  if (owner != 0 && ::gettid() != owner) {
    // The owner may be inside a Hold: the signal waits there until the file is in place.
    ::tgkill(::getpid(), owner, sig);
    errno = saved_errno;
    return;
  }
  remove_all();
  // End the way the signal would have ended the process.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
  errno = saved_errno;
}

void install_handlers() {
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    ::sigaction(kSignals[i], nullptr, &g_saved[i]);
    g_installed[i] = g_saved[i].sa_handler != SIG_IGN;
    if (!g_installed[i])
      continue;
    struct sigaction now {};
    now.sa_handler = on_interrupt_signal;
    now.sa_mask = interrupt_signals(); // one clean-up at a time
    now.sa_flags = SA_RESTART;
    ::sigaction(kSignals[i], &now, nullptr);
  }
}

void restore_handlers() {
  for (std::size_t i = 0; i < kSignals.size(); ++i)
    if (g_installed[i])
      ::sigaction(kSignals[i], &g_saved[i], nullptr);
}

void check_owner() {
  const pid_t owner = g_owner.load();
  if (owner != 0 && owner != ::gettid())
    throw std::logic_error("interrupt clean-up registered from a second thread");
}

} // namespace

RemoveOnInterrupt::RemoveOnInterrupt(const std::vector<std::filesystem::path> &paths, Removal how) {
  auto entry = std::make_unique<Entry>();
  entry->how = how;
  for (const auto &p : paths)
    entry->paths.push_back(std::filesystem::absolute(p).string());
  const Hold hold;
  check_owner();
  entry->next = g_head.load();
  if (!entry->next) {
    g_owner.store(::gettid());
    install_handlers();
  }
  entry_ = entry.release();
  g_head.store(entry_);
}

RemoveOnInterrupt::~RemoveOnInterrupt() {
  const Hold hold;
  // Unlinked from the list before it is freed; the handler cannot run on this thread meanwhile.
  Entry *e = g_head.load();
  if (e == entry_) {
    g_head.store(entry_->next);
  } else {
    while (e && e->next != entry_)
      e = e->next;
    if (e)
      e->next = entry_->next;
  }
  delete entry_;
  if (!g_head.load()) {
    restore_handlers();
    g_owner.store(0);
  }
}

void remove_registered() {
  const Hold hold;
  remove_all();
}

Hold::Hold() {
  const sigset_t set = interrupt_signals();
  ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

Hold::~Hold() {
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

RunTempDir::RunTempDir(const std::string &prefix, const std::filesystem::path &root) {
  const Hold hold;
  path_ = fs::make_run_temp_dir(prefix, root);
  try {
    on_interrupt_.emplace(std::vector<std::filesystem::path>{path_}, Removal::tree);
  } catch (...) {
    remove();
    throw;
  }
}

RunTempDir::~RunTempDir() {
  remove();
}

void RunTempDir::remove() noexcept {
  const Hold hold;
  if (!path_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    path_.clear();
  }
  on_interrupt_.reset();
}

} // namespace vaskit::interrupt
