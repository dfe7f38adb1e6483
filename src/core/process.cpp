#include "core/process.hpp"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

void kill_child(pid_t pid, bool group, int sig) {
  ::kill(group ? -pid : pid, sig);
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
  Outcome result;
  if (argv.empty() || argv[0].empty()) {
    result.error = "no program given";
    return result;
  }
  Fd out_r, out_w, err_r, err_w;
  auto make_pipe = [](Fd &r, Fd &w) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0)
      return false;
    r.fd = p[0];
    w.fd = p[1];
    return true;
  };
  if ((options.out == Stream::capture && !make_pipe(out_r, out_w)) ||
      (options.err == Stream::capture && !make_pipe(err_r, err_w))) {
    result.error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return result;
  }
  const pid_t pid = options.end_with_caller ? spawn_tied(argv, options, out_w.fd, err_w.fd)
                                            : spawn(argv, options, false, out_w.fd, err_w.fd);
  if (pid < 0) {
    result.error = argv[0] + ": " + std::strerror(-pid);
    return result;
  }
  result.started = true;
  out_w.reset();
  err_w.reset();

  const bool group = options.own_process_group;
  std::optional<SignalRelay> relay(std::in_place);
  int forwarded = 0;
  const auto deadline =
      options.timeout ? Clock::now() + *options.timeout : Clock::time_point::max();
  int wstatus = 0;
  bool reaped = false;
  bool term_sent = false;
  auto kill_at = Clock::time_point::max();
  auto reaped_at = Clock::time_point::max();
  char buf[65536];
  for (;;) {
    // Drain captured output while waiting, so a chatty child never blocks on a full pipe.
    pollfd fds[2];
    nfds_t n = 0;
    if (out_r.fd >= 0)
      fds[n++] = {out_r.fd, POLLIN, 0};
    if (err_r.fd >= 0)
      fds[n++] = {err_r.fd, POLLIN, 0};
    if (n > 0) {
      ::poll(fds, n, 5);
      for (nfds_t i = 0; i < n; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
          continue;
        const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
        const bool is_out = fds[i].fd == out_r.fd;
        if (got > 0)
          (is_out ? result.out : result.err).append(buf, static_cast<std::size_t>(got));
        else if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
          (is_out ? out_r : err_r).reset();
      }
    }
    if (!reaped) {
      const pid_t w = ::waitpid(pid, &wstatus, WNOHANG);
      if (w == pid || (w < 0 && errno != EINTR))
        reaped = true;
    }
    if (reaped && out_r.fd < 0 && err_r.fd < 0)
      break;
    if (reaped) {
      // The child is gone: read what it left in the pipes, but do not wait on a program it
      // started that keeps them open.
      if (reaped_at == Clock::time_point::max())
        reaped_at = Clock::now();
      if (Clock::now() - reaped_at > std::chrono::seconds(1))
        break;
      continue;
    }
    const auto now = Clock::now();
    if (const int sig = caught_signal.load(); sig != 0 && forwarded == 0) {
      forwarded = sig;
      kill_child(pid, group, sig);
      term_sent = true;
      kill_at = now + std::chrono::seconds(2);
    } else if (!reaped && now >= deadline && !term_sent) {
      result.timed_out = true;
      kill_child(pid, group, SIGTERM);
      term_sent = true;
      kill_at = now + std::chrono::seconds(2);
    } else if (!reaped && term_sent && now >= kill_at) {
      kill_child(pid, group, SIGKILL);
      kill_at = Clock::time_point::max();
    }
    if (n == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if ((result.timed_out || forwarded != 0) && group)
    kill_child(pid, true, SIGKILL); // helpers it left behind
  if (forwarded != 0) {
    // The interrupt was meant for us too: end the way it would have ended us.
    if (options.on_interrupt)
      options.on_interrupt();
    relay.reset();
    ::signal(forwarded, SIG_DFL);
    ::raise(forwarded);
  }
  if (WIFEXITED(wstatus)) {
    result.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    result.signal = WTERMSIG(wstatus);
  }
  return result;
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
