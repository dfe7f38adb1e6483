#include "core/process.hpp"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace vaskit::process {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> child_environment(const Options &o) {
  std::vector<std::string> env;
  for (char **e = environ; e && *e; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('='));
    bool drop = false;
    for (const auto &u : o.unset_env)
      drop = drop || name == u;
    for (const auto &[k, v] : o.env)
      drop = drop || name == k;
    if (!drop)
      env.emplace_back(entry);
  }
  for (const auto &[k, v] : o.env)
    env.push_back(k + "=" + v);
  return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings) {
  std::vector<char *> p;
  p.reserve(strings.size() + 1);
  for (auto &s : strings)
    p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

// Owns the spawn attribute objects so that every exit path releases them.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup &) = delete;
  SpawnSetup &operator=(const SpawnSetup &) = delete;
};

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  ~Fd() { reset(); }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  void reset() {
    if (fd >= 0)
      ::close(fd);
    fd = -1;
  }
};

// Spawns the child; returns its pid or -errno.
pid_t spawn(const std::vector<std::string> &argv, const Options &o, bool new_session, int out_w,
            int err_w) {
  SpawnSetup s;
  auto redirect = [&](Stream st, int target, int capture_fd) {
    if (st == Stream::null)
      posix_spawn_file_actions_addopen(&s.actions, target, "/dev/null",
                                       target == 0 ? O_RDONLY : O_WRONLY, 0);
    else if (st == Stream::capture && capture_fd >= 0)
      posix_spawn_file_actions_adddup2(&s.actions, capture_fd, target);
  };
  redirect(o.in == Stream::capture ? Stream::null : o.in, 0, -1);
  redirect(o.out, 1, out_w);
  redirect(o.err, 2, err_w);
  if (!o.cwd.empty())
    posix_spawn_file_actions_addchdir_np(&s.actions, o.cwd.c_str());
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&s.attr, &none);
  posix_spawnattr_setsigdefault(&s.attr, &all);
  if (new_session) {
    flags |= POSIX_SPAWN_SETSID;
  } else if (o.own_process_group) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&s.attr, 0);
  }
  posix_spawnattr_setflags(&s.attr, flags);

  std::vector<std::string> args(argv);
  std::vector<std::string> env = child_environment(o);
  auto argp = pointers(args);
  auto envp = pointers(env);
  pid_t pid = -1;
  // posix_spawnp searches PATH in the caller's environment, which is where `which` looks too.
  const int rc = posix_spawnp(&pid, argv[0].c_str(), &s.actions, &s.attr, argp.data(), envp.data());
  return rc == 0 ? pid : -rc;
}

// Where a program name is looked for, in order: the name itself when it holds "/", else the
// name in each folder of PATH, as a shell searches (an empty entry is the current folder).
std::vector<std::string> path_candidates(std::string_view name) {
  if (name.find('/') != std::string_view::npos)
    return {std::string(name)};
  std::vector<std::string> out;
  const char *path = std::getenv("PATH");
  const std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string_view::npos)
      end = dirs.size();
    const std::string_view dir = end > start ? dirs.substr(start, end - start) : ".";
    std::string candidate;
    candidate.reserve(dir.size() + 1 + name.size());
    candidate.append(dir).append("/").append(name);
    out.push_back(std::move(candidate));
    start = end + 1;
  }
  return out;
}

// fork and exec by hand, for a child that the kernel ends with us: posix_spawn cannot ask for
// PR_SET_PDEATHSIG. Everything the child needs is made before the fork; after it the child makes
// only async-signal-safe calls. Returns its pid or -errno.
pid_t spawn_tied(const std::vector<std::string> &argv, const Options &o, int out_w, int err_w) {
  std::vector<std::string> args(argv);
  std::vector<std::string> env = child_environment(o);
  auto argp = pointers(args);
  auto envp = pointers(env);
  std::vector<std::string> programs = path_candidates(argv[0]);
  const auto programp = pointers(programs);

  Fd null_in, null_out;
  if (o.in != Stream::inherit && (null_in.fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) < 0)
    return -errno;
  if ((o.out == Stream::null || o.err == Stream::null) &&
      (null_out.fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC)) < 0)
    return -errno;
  auto target = [&](Stream st, int capture_fd) {
    return st == Stream::null ? null_out.fd : st == Stream::capture ? capture_fd : -1;
  };
  const int in = null_in.fd, out = target(o.out, out_w), err = target(o.err, err_w);
  // The child reports a failed exec through this pipe; a successful one closes it.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0)
    return -errno;
  Fd report_r(report[0]), report_w(report[1]);

  const pid_t parent = ::getpid();
  sigset_t all, saved;
  sigfillset(&all);
  // None of the caller's signal handlers may run in the child before its exec.
  ::pthread_sigmask(SIG_SETMASK, &all, &saved);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // The caller may have died before the request took effect: then nothing would send it.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
      ::_exit(127);
    int failed = 0;
    if (o.own_process_group && ::setpgid(0, 0) != 0)
      failed = errno;
    for (const auto &[from, to] : {std::pair{in, 0}, std::pair{out, 1}, std::pair{err, 2}})
      if (!failed && from >= 0 && ::dup2(from, to) < 0)
        failed = errno;
    if (!failed && !o.cwd.empty() && ::chdir(o.cwd.c_str()) != 0)
      failed = errno;
    if (!failed) {
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &dfl, nullptr);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      // As execvp: a folder where the program is not found or not allowed does not end the search.
      failed = ENOENT;
      for (char *const *p = programp.data(); *p; ++p) {
        ::execve(*p, argp.data(), envp.data());
        if (errno == EACCES)
          failed = EACCES;
        else if (errno != ENOENT && errno != ENOTDIR && errno != ESTALE && errno != ENODEV &&
                 errno != ETIMEDOUT) {
          failed = errno;
          break;
        }
      }
    }
    [[maybe_unused]] const ssize_t n = ::write(report_w.fd, &failed, sizeof failed);
    ::_exit(127);
  }
  const int fork_error = errno;
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (pid < 0)
    return -fork_error;
  report_w.reset();
  int child_error = 0;
  ssize_t got;
  do
    got = ::read(report_r.fd, &child_error, sizeof child_error);
  while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof child_error)) {
    ::waitpid(pid, nullptr, 0);
    return -child_error;
  }
  return pid;
}

// A child leading a group of its own does not get the terminal's Ctrl-C, and no child gets a
// signal sent to us alone (a SIGTERM from a service manager, a SIGHUP to our pid). While we wait
// for one, the signals that would end us are caught instead, passed on to the child (its group
// when it has one), and raised again once it has ended, so that no renderer, browser or agent
// outlives the run.
std::atomic<int> caught_signal{0};
extern "C" void note_signal(int sig) {
  caught_signal.store(sig);
}

class SignalRelay {
public:
  SignalRelay() {
    const std::lock_guard<std::mutex> lock(mutex());
    if (users()++ > 0)
      return;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
      struct sigaction now {};
      ::sigaction(kSignals[i], nullptr, &saved()[i]);
      // A signal the caller ignores (nohup, a background job) stays ignored.
      if (saved()[i].sa_handler == SIG_IGN)
        continue;
      now.sa_handler = note_signal;
      sigemptyset(&now.sa_mask);
      ::sigaction(kSignals[i], &now, nullptr);
    }
  }
  ~SignalRelay() {
    const std::lock_guard<std::mutex> lock(mutex());
    if (--users() > 0)
      return;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
      ::sigaction(kSignals[i], &saved()[i], nullptr);
  }
  SignalRelay(const SignalRelay &) = delete;
  SignalRelay &operator=(const SignalRelay &) = delete;

private:
  static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
  static std::mutex &mutex() {
    static std::mutex m;
    return m;
  }
  static int &users() {
    static int n = 0;
    return n;
  }
  static std::array<struct sigaction, 3> &saved() {
    static std::array<struct sigaction, 3> s{};
    return s;
  }
};

// --- The keeper -------------------------------------------------------------------------------
//
// A program such as a renderer starts a browser in a session of its own, so neither its process
// group nor its session holds everything it started. The keeper is a forked copy of the caller
// that becomes a "child subreaper": every process below it that loses its parent is adopted by
// it instead of by init. So once the program has ended, whatever it left behind is a child of
// the keeper, and the keeper ends those (and what they started, adopted in turn) until it has no
// child left. It also stops the program when the caller stops it (a signal) or dies
// (PR_SET_PDEATHSIG). It runs in a forked copy of a possibly multi-threaded process, so it only
// makes system calls: no allocation, no locks, no library state.

constexpr int kGraceSeconds = 2; // between SIGTERM and SIGKILL

// What the keeper tells the caller, each message one write (atomic on a pipe).
enum : int { kStarted = 1, kStartFailed = 2, kEnded = 3 };
struct KeeperMessage {
  int kind;
  int value; // the program's pid, the errno of the failed start, or its wait status
};

struct KeeperPlan {
  std::vector<const char *> programs; // paths to try, as a PATH search finds them
  char *const *argv = nullptr;
  char *const *envp = nullptr;
  const char *cwd = nullptr;
  Stream in = Stream::inherit, out = Stream::inherit, err = Stream::inherit;
  int out_w = -1, err_w = -1;
  int report_w = -1;
  pid_t caller = -1;
  const char *remove = nullptr; // a folder to remove at the end
};

void keeper_send(int fd, int kind, int value) {
  const KeeperMessage m{kind, value};
  while (::write(fd, &m, sizeof m) < 0 && errno == EINTR) {
  }
}

long monotonic_ms() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

void nap_ms(long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) < 0 && errno == EINTR) {
  }
}

// The parent pid in /proc/<pid>/stat, or -1. The name field may hold ")" and blanks, so the
// fields are read after the last ")".
pid_t parent_of(const char *pid_text) {
  char path[64] = "/proc/";
  std::size_t n = 6;
  for (const char *p = pid_text; *p && n < 40; ++p)
    path[n++] = *p;
  const char tail[] = "/stat";
  for (const char *p = tail; *p; ++p)
    path[n++] = *p;
  path[n] = '\0';
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return -1;
  char buf[1024];
  const ssize_t got = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (got <= 0)
    return -1;
  buf[got] = '\0';
  const char *close_paren = nullptr;
  for (const char *p = buf; *p; ++p)
    if (*p == ')')
      close_paren = p;
  // ") S 1234 ..."
  if (!close_paren || close_paren[1] != ' ' || !close_paren[2] || close_paren[3] != ' ')
    return -1;
  pid_t ppid = 0;
  for (const char *p = close_paren + 4; *p >= '0' && *p <= '9'; ++p)
    ppid = ppid * 10 + (*p - '0');
  return ppid;
}

struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

// Sends SIGKILL to every child of this process; true when there was one.
bool kill_own_children(pid_t self) {
  const int dir = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0)
    return false;
  bool found = false;
  alignas(LinuxDirent64) char buf[8192];
  for (;;) {
    const long got = ::syscall(SYS_getdents64, dir, buf, sizeof buf);
    if (got <= 0)
      break;
    for (long pos = 0; pos < got;) {
      const auto *d = reinterpret_cast<const LinuxDirent64 *>(buf + pos);
      pos += d->d_reclen;
      pid_t pid = 0;
      const char *p = d->d_name;
      for (; *p >= '0' && *p <= '9'; ++p)
        pid = pid * 10 + (*p - '0');
      if (*p != '\0' || pid <= 0 || pid == self)
        continue;
      if (parent_of(d->d_name) == self) {
        ::kill(pid, SIGKILL);
        found = true;
      }
    }
  }
  ::close(dir);
  return found;
}

// Reaps every child that has ended; notes the program's own status.
void reap(pid_t program, int &status, bool &ended) {
  int st = 0;
  for (pid_t w; (w = ::waitpid(-1, &st, WNOHANG)) > 0;) {
    if (w == program) {
      status = st;
      ended = true;
    }
  }
}

bool has_children() {
  siginfo_t info{};
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

[[noreturn]] void exec_failed(int error_w, int e) {
  while (::write(error_w, &e, sizeof e) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

[[noreturn]] void exec_program(const KeeperPlan &p, int error_w) {
  sigset_t none;
  sigemptyset(&none);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP)
      ::sigaction(sig, &dfl, nullptr);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::setpgid(0, 0);
  auto to_null = [&](int target) {
    const int fd = ::open("/dev/null", target == 0 ? O_RDONLY : O_WRONLY);
    if (fd < 0 || ::dup2(fd, target) < 0)
      exec_failed(error_w, errno);
    if (fd != target)
      ::close(fd);
  };
  if (p.in != Stream::inherit)
    to_null(0);
  if (p.out == Stream::null)
    to_null(1);
  else if (p.out == Stream::capture && ::dup2(p.out_w, 1) < 0)
    exec_failed(error_w, errno);
  if (p.err == Stream::null)
    to_null(2);
  else if (p.err == Stream::capture && ::dup2(p.err_w, 2) < 0)
    exec_failed(error_w, errno);
  if (p.cwd && ::chdir(p.cwd) != 0)
    exec_failed(error_w, errno);
  bool seen_access = false;
  for (const char *program : p.programs) {
    ::execve(program, p.argv, p.envp);
    // As a shell searches: a missing or unusable candidate lets the search go on.
    if (errno == EACCES)
      seen_access = true;
    else if (errno != ENOENT && errno != ENOTDIR && errno != ESTALE && errno != ELOOP &&
             errno != ENAMETOOLONG && errno != ENODEV && errno != ETIMEDOUT)
      exec_failed(error_w, errno);
  }
  exec_failed(error_w, seen_access ? EACCES : ENOENT);
}

[[noreturn]] void keeper_main(const KeeperPlan &p) {
  const pid_t self = ::getpid();
  sigset_t watched;
  sigemptyset(&watched);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD})
    sigaddset(&watched, sig);
  ::sigprocmask(SIG_BLOCK, &watched, nullptr);
  // Children must be waited for here, whatever the caller does with SIGCHLD; and a report to a
  // caller that has died must not end the keeper before it has ended the rest.
  struct sigaction act {};
  sigemptyset(&act.sa_mask);
  act.sa_handler = SIG_DFL;
  ::sigaction(SIGCHLD, &act, nullptr);
  act.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &act, nullptr);
  ::setpgid(0, 0);
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  int stop = ::getppid() != p.caller ? SIGTERM : 0; // the caller died before we got here

  int exec_pipe[2];
  if (::pipe2(exec_pipe, O_CLOEXEC) != 0) {
    keeper_send(p.report_w, kStartFailed, errno);
    ::_exit(127);
  }
  const pid_t program = ::fork();
  if (program < 0) {
    keeper_send(p.report_w, kStartFailed, errno);
    ::_exit(127);
  }
  if (program == 0) {
    ::close(exec_pipe[0]);
    exec_program(p, exec_pipe[1]);
  }
  ::setpgid(program, program); // also here, so that no signal to its group can miss it
  ::close(exec_pipe[1]);
  if (p.out_w >= 0)
    ::close(p.out_w);
  if (p.err_w >= 0)
    ::close(p.err_w);
  int start_error = 0;
  ssize_t got;
  while ((got = ::read(exec_pipe[0], &start_error, sizeof start_error)) < 0 && errno == EINTR) {
  }
  ::close(exec_pipe[0]);
  if (got == static_cast<ssize_t>(sizeof start_error)) {
    int st;
    ::waitpid(program, &st, 0);
    keeper_send(p.report_w, kStartFailed, start_error);
    ::_exit(127);
  }
  keeper_send(p.report_w, kStarted, program);

  int status = 0;
  bool ended = false;
  long sweep_at = stop != 0 ? monotonic_ms() + kGraceSeconds * 1000L : -1;
  if (stop != 0)
    ::kill(-program, stop);
  for (;;) {
    reap(program, status, ended);
    if (ended || (sweep_at >= 0 && monotonic_ms() >= sweep_at))
      break;
    const timespec tick{0, 50 * 1000000L};
    const int sig = ::sigtimedwait(&watched, nullptr, &tick);
    if (stop == 0 && (sig == SIGTERM || sig == SIGINT || sig == SIGHUP)) {
      // Passed on once: the program may end the way it ends on that signal, and gets SIGKILL
      // after the grace time.
      stop = sig;
      ::kill(-program, sig);
      sweep_at = monotonic_ms() + kGraceSeconds * 1000L;
    }
  }

  // Whatever is left ends now: the program's group first, then every child of ours, whose own
  // children become ours as their parents die, until none is left.
  ::kill(-program, SIGKILL);
  const long give_up = monotonic_ms() + 10000;
  while (monotonic_ms() < give_up) {
    kill_own_children(self);
    reap(program, status, ended);
    if (!has_children())
      break;
    nap_ms(2);
  }
  if (!ended)
    status = SIGKILL; // as waitpid reports a program killed by SIGKILL
  keeper_send(p.report_w, kEnded, status);
  if (p.remove) {
    // Nothing can write there any more. rm does the walk, so that no allocation happens here.
    const char *rm_argv[] = {"rm", "-rf", "--", p.remove, nullptr};
    const char *no_env[] = {nullptr};
    ::execve("/bin/rm", const_cast<char *const *>(rm_argv), const_cast<char *const *>(no_env));
  }
  ::_exit(0);
}

// Starts argv under a keeper. Returns the keeper's pid (the program's in `program`) and the
// read end of the keeper's report pipe, or -errno when the program could not be started.
pid_t spawn_kept(const std::vector<std::string> &argv, const Options &o, int out_w, int err_w,
                 Fd &report_r, pid_t &program) {
  std::vector<std::string> candidates = path_candidates(argv[0]);
  std::vector<std::string> args(argv);
  std::vector<std::string> env = child_environment(o);
  auto argp = pointers(args);
  auto envp = pointers(env);
  KeeperPlan plan;
  for (const auto &c : candidates)
    plan.programs.push_back(c.c_str());
  plan.argv = argp.data();
  plan.envp = envp.data();
  plan.cwd = o.cwd.empty() ? nullptr : o.cwd.c_str();
  plan.in = o.in;
  plan.out = o.out;
  plan.err = o.err;
  plan.out_w = out_w;
  plan.err_w = err_w;
  plan.caller = ::getpid();
  if (!o.remove_when_done.empty())
    plan.remove = o.remove_when_done.c_str();
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0)
    return -errno;
  Fd report_w(report[1]);
  report_r.fd = report[0];
  plan.report_w = report[1];
  const pid_t keeper = ::fork();
  if (keeper < 0) {
    const int e = errno;
    report_r.reset();
    return -e;
  }
  if (keeper == 0)
    keeper_main(plan);
  report_w.reset();
  KeeperMessage m{};
  ssize_t got;
  while ((got = ::read(report_r.fd, &m, sizeof m)) < 0 && errno == EINTR) {
  }
  if (got == static_cast<ssize_t>(sizeof m) && m.kind == kStarted) {
    program = m.value;
    return keeper;
  }
  int st;
  while (::waitpid(keeper, &st, 0) < 0 && errno == EINTR) {
  }
  report_r.reset();
  if (got == static_cast<ssize_t>(sizeof m) && m.kind == kStartFailed)
    return -m.value;
  return -ECHILD;
}

// --- Running and waiting ----------------------------------------------------------------------

// One started job.
struct Running {
  std::size_t index = 0;
  const Options *options = nullptr;
  pid_t pid = -1;     // the program, or its keeper
  pid_t program = -1; // with a keeper: the program itself
  bool kept = false;
  bool group = false;
  Fd out_r, err_r, report_r;
  std::string report;
  Outcome result;
  Clock::time_point deadline = Clock::time_point::max();
  Clock::time_point kill_at = Clock::time_point::max();
  Clock::time_point reaped_at = Clock::time_point::max();
  bool term_sent = false;
  bool reaped = false;
  int wstatus = 0;

  // A signal meant for the program: the keeper passes it on and ends the rest.
  void signal(int sig) const {
    if (kept)
      ::kill(pid, sig);
    else
      ::kill(group ? -pid : pid, sig);
  }
  // SIGKILL to the program (and its group), now.
  void kill_now() const {
    if (kept) {
      ::kill(-program, SIGKILL);
      ::kill(pid, SIGTERM); // the keeper ends what is left and reports
    } else {
      ::kill(group ? -pid : pid, SIGKILL);
    }
  }
  bool pipes_open() const { return out_r.fd >= 0 || err_r.fd >= 0 || report_r.fd >= 0; }
};

// Starts job `index`; false (with result.error) when it could not be started.
bool start(const Job &job, Running &r) {
  const auto &argv = job.argv;
  const Options &o = job.options;
  r.options = &o;
  if (argv.empty() || argv[0].empty()) {
    r.result.error = "no program given";
    return false;
  }
  Fd out_w, err_w;
  auto make_pipe = [](Fd &rd, Fd &wr) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0)
      return false;
    rd.fd = p[0];
    wr.fd = p[1];
    return true;
  };
  if ((o.out == Stream::capture && !make_pipe(r.out_r, out_w)) ||
      (o.err == Stream::capture && !make_pipe(r.err_r, err_w))) {
    r.result.error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  r.kept = o.end_tree;
  r.group = o.own_process_group || o.end_tree;
  const pid_t pid = r.kept              ? spawn_kept(argv, o, out_w.fd, err_w.fd, r.report_r, r.program)
                    : o.end_with_caller ? spawn_tied(argv, o, out_w.fd, err_w.fd)
                                        : spawn(argv, o, false, out_w.fd, err_w.fd);
  if (pid < 0) {
    r.result.error = argv[0] + ": " + std::strerror(-pid);
    r.out_r.reset();
    r.err_r.reset();
    return false;
  }
  r.pid = pid;
  r.result.started = true;
  if (o.timeout)
    r.deadline = Clock::now() + *o.timeout;
  return true;
}

// How a program that was asked to stop is given up on: a plain child gets SIGKILL after the
// grace time; a keeper does that itself, and is only killed when it has not reported well after.
Clock::duration give_up_after(const Running &r) {
  return r.kept ? std::chrono::seconds(kGraceSeconds + 10) : std::chrono::seconds(kGraceSeconds);
}

void finish(Running &r) {
  if (r.kept) {
    // The keeper's report carries the program's own wait status.
    int status = r.wstatus;
    for (std::size_t at = 0; at + sizeof(KeeperMessage) <= r.report.size();
         at += sizeof(KeeperMessage)) {
      KeeperMessage m{};
      std::memcpy(&m, r.report.data() + at, sizeof m);
      if (m.kind == kEnded)
        status = m.value;
    }
    r.wstatus = status;
  }
  if (WIFEXITED(r.wstatus))
    r.result.status = WEXITSTATUS(r.wstatus);
  else if (WIFSIGNALED(r.wstatus))
    r.result.signal = WTERMSIG(r.wstatus);
}

class Runner {
public:
  Runner(const std::vector<Job> &jobs, std::size_t parallel,
         const std::function<void(std::size_t, const Outcome &)> &done,
         const std::function<void()> &on_interrupt)
      : jobs_(jobs), parallel_(parallel == 0 ? 1 : parallel), done_(done),
        on_interrupt_(on_interrupt) {}
  Runner(const Runner &) = delete;
  Runner &operator=(const Runner &) = delete;

  // Whatever ends the wait early (a throwing callback) ends every running program.
  ~Runner() {
    for (auto &r : running_)
      r->kill_now();
    for (auto &r : running_) {
      int st;
      while (!r->reaped && ::waitpid(r->pid, &st, 0) < 0 && errno == EINTR) {
      }
      if (r->kept && !r->options->remove_when_done.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(r->options->remove_when_done, ec);
      }
    }
  }

  void go() {
    char buf[65536];
    for (;;) {
      while (forwarded_ == 0 && running_.size() < parallel_ && next_ < jobs_.size())
        start_next();
      if (running_.empty())
        break;

      // Drain captured output while waiting, so a chatty child never blocks on a full pipe.
      std::vector<pollfd> fds;
      std::vector<std::pair<Running *, Fd *>> owners;
      for (auto &r : running_)
        for (Fd *f : {&r->out_r, &r->err_r, &r->report_r})
          if (f->fd >= 0) {
            fds.push_back({f->fd, POLLIN, 0});
            owners.emplace_back(r.get(), f);
          }
      if (!fds.empty())
        ::poll(fds.data(), fds.size(), 5);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
          continue;
        auto [r, f] = owners[i];
        const ssize_t got = ::read(f->fd, buf, sizeof buf);
        if (got > 0) {
          const std::string_view piece(buf, static_cast<std::size_t>(got));
          if (f == &r->report_r)
            r->report.append(piece);
          else if (f == &r->err_r)
            r->result.err.append(piece);
          else if (r->options->on_output)
            r->options->on_output(piece);
          else
            r->result.out.append(piece);
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
          f->reset();
        }
      }

      const auto now = Clock::now();
      const int sig = relay_ ? caught_signal.load() : 0;
      if (sig != 0 && forwarded_ == 0) {
        forwarded_ = sig;
        for (auto &r : running_)
          if (!r->reaped) {
            r->signal(sig);
            r->term_sent = true;
            r->kill_at = now + give_up_after(*r);
          }
      }
      for (auto &r : running_) {
        if (!r->reaped) {
          const pid_t w = ::waitpid(r->pid, &r->wstatus, WNOHANG);
          if (w == r->pid || (w < 0 && errno != EINTR))
            r->reaped = true;
        }
        if (r->reaped)
          continue;
        if (now >= r->deadline && !r->term_sent) {
          r->result.timed_out = true;
          r->signal(SIGTERM);
          r->term_sent = true;
          r->kill_at = now + give_up_after(*r);
        } else if (r->term_sent && now >= r->kill_at) {
          if (r->kept)
            ::kill(-r->program, SIGKILL);
          ::kill(r->group ? -r->pid : r->pid, SIGKILL);
          r->kill_at = Clock::time_point::max();
        }
      }
      for (std::size_t i = 0; i < running_.size();) {
        Running &r = *running_[i];
        bool over = false;
        if (r.reaped) {
          // The child is gone: read what it left in the pipes, but do not wait on a program it
          // started that keeps them open.
          if (r.reaped_at == Clock::time_point::max())
            r.reaped_at = now;
          over = !r.pipes_open() || now - r.reaped_at > std::chrono::seconds(1);
        }
        if (!over) {
          ++i;
          continue;
        }
        std::unique_ptr<Running> ended = std::move(running_[i]);
        running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(i));
        if (!ended->kept && (ended->result.timed_out || forwarded_ != 0) && ended->group)
          ::kill(-ended->pid, SIGKILL); // helpers it left behind
        finish(*ended);
        if (ended->kept && !ended->options->remove_when_done.empty()) {
          // Already done by the keeper, unless it was killed before it could.
          std::error_code ec;
          std::filesystem::remove_all(ended->options->remove_when_done, ec);
        }
        if (forwarded_ == 0)
          done_(ended->index, ended->result);
      }
    }
    if (forwarded_ != 0) {
      // The interrupt was meant for us too: end the way it would have ended us.
      if (on_interrupt_)
        on_interrupt_();
      relay_.reset();
      ::signal(forwarded_, SIG_DFL);
      ::raise(forwarded_);
    }
  }

private:
  void start_next() {
    const std::size_t index = next_++;
    auto r = std::make_unique<Running>();
    r->index = index;
    if (!start(jobs_[index], *r)) {
      done_(index, r->result);
      return;
    }
    if (!relay_)
      relay_.emplace();
    running_.push_back(std::move(r));
  }

  const std::vector<Job> &jobs_;
  std::size_t parallel_;
  std::function<void(std::size_t, const Outcome &)> done_;
  std::function<void()> on_interrupt_;
  std::vector<std::unique_ptr<Running>> running_;
  std::size_t next_ = 0;
  std::optional<SignalRelay> relay_;
  int forwarded_ = 0;
};

} // namespace

std::string Outcome::describe() const {
  if (!started)
    return error;
  if (timed_out)
    return "timed out";
  if (signal != 0)
    return "signal " + std::to_string(signal);
  return "exit status " + std::to_string(status);
}

Outcome run(const std::vector<std::string> &argv, const Options &options) {
  const std::vector<Job> jobs{Job{argv, options}};
  Outcome result;
  Runner runner(
      jobs, 1, [&](std::size_t, const Outcome &o) { result = o; }, options.on_interrupt);
  runner.go();
  return result;
}

void run_all(const std::vector<Job> &jobs, std::size_t parallel,
             const std::function<void(std::size_t index, const Outcome &outcome)> &done,
             const std::function<void()> &on_interrupt) {
  Runner runner(jobs, parallel, done, on_interrupt);
  runner.go();
}

std::optional<std::string> start_detached(const std::vector<std::string> &argv,
                                          const Options &options) {
  if (argv.empty() || argv[0].empty())
    return std::string("no program given");
  Options o = options;
  o.in = Stream::null;
  o.out = Stream::null;
  o.err = Stream::null;
  const pid_t pid = spawn(argv, o, true, -1, -1);
  if (pid < 0)
    return argv[0] + ": " + std::strerror(-pid);
  // Reap it in the background once it ends, so it never lingers as a zombie while we run.
  std::thread([pid] {
    int st;
    ::waitpid(pid, &st, 0);
  }).detach();
  return std::nullopt;
}

std::optional<std::string> which(std::string_view name) {
  if (name.empty())
    return std::nullopt;
  for (auto &candidate : path_candidates(name)) {
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return std::move(candidate);
  }
  return std::nullopt;
}

} // namespace vaskit::process
