#include "core/process.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char **environ;

namespace vaskit::process {

namespace {

using Clock = std::chrono::steady_clock;

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0)
      ::close(fd);
    fd = -1;
  }
};

void make_pipe(Fd &read_end, Fd &write_end) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe");
  read_end.fd = p[0];
  write_end.fd = p[1];
}

bool executable_file(const std::filesystem::path &p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

std::vector<std::string> child_environment(const Options &options) {
  std::vector<std::string> env;
  for (char **e = environ; e && *e; ++e)
    env.emplace_back(*e);
  for (const auto &[name, value] : options.env) {
    const std::string key = name + "=";
    std::erase_if(env, [&](const std::string &entry) { return entry.starts_with(key); });
    if (value)
      env.push_back(key + *value);
  }
  return env;
}

// Reaps the child; blocks. Returns the wait status.
int reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

} // namespace

std::string Status::describe() const {
  if (timed_out)
    return "timed out";
  if (signal != 0)
    return "killed by signal " + std::to_string(signal);
  return "exit status " + std::to_string(exit_code);
}

std::optional<std::filesystem::path> find_program(const std::string &name) {
  if (name.empty())
    return std::nullopt;
  if (name.find('/') != std::string::npos)
    return executable_file(name) ? std::optional<std::filesystem::path>(name) : std::nullopt;
  const char *path_env = std::getenv("PATH");
  const std::string path = path_env ? path_env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find(':', start), path.size());
    const std::string dir = path.substr(start, end - start);
    const std::filesystem::path candidate = std::filesystem::path(dir.empty() ? "." : dir) / name;
    if (executable_file(candidate))
      return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

Status run(const std::vector<std::string> &argv, const Options &options) {
  if (argv.empty())
    throw std::invalid_argument("process::run: empty argument vector");
  const auto program = find_program(argv[0]);
  if (!program)
    throw std::system_error(ENOENT, std::generic_category(), "cannot start " + argv[0]);

  // Everything the child needs is prepared before fork: between fork and exec only
  // async-signal-safe calls are allowed.
  const std::string exe = program->string();
  std::vector<char *> args;
  for (const auto &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  const auto env_strings = child_environment(options);
  std::vector<char *> envp;
  for (const auto &e : env_strings)
    envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  const std::string cwd = options.cwd ? options.cwd->string() : std::string();

  Fd in_r, in_w, out_r, out_w, err_r, err_w, exec_r, exec_w;
  make_pipe(in_r, in_w);
  make_pipe(out_r, out_w);
  make_pipe(err_r, err_w);
  make_pipe(exec_r, exec_w); // carries errno when exec fails; closed by a successful exec

  const pid_t pid = ::fork();
  if (pid < 0)
    throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) {
    ::setpgid(0, 0);
    ::signal(SIGPIPE, SIG_DFL);
    int err = 0;
    if (::dup2(in_r.fd, 0) < 0 || ::dup2(out_w.fd, 1) < 0 || ::dup2(err_w.fd, 2) < 0)
      err = errno;
    else if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
      err = errno;
    else {
      ::execve(exe.c_str(), args.data(), envp.data());
      err = errno;
    }
    [[maybe_unused]] auto w = ::write(exec_w.fd, &err, sizeof err);
    ::_exit(127);
  }
  in_r.reset();
  out_w.reset();
  err_w.reset();
  exec_w.reset();

  int exec_errno = 0;
  ssize_t got;
  while ((got = ::read(exec_r.fd, &exec_errno, sizeof exec_errno)) < 0 && errno == EINTR) {
  }
  if (got == static_cast<ssize_t>(sizeof exec_errno)) {
    reap(pid);
    const std::string what = cwd.empty() || exec_errno != ENOENT
                                 ? "cannot start " + argv[0]
                                 : "cannot start " + argv[0] + " in " + cwd;
    throw std::system_error(exec_errno, std::generic_category(), what);
  }

  // A child that stops reading its input must not kill us with SIGPIPE.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);

  Status st;
  const bool limited = options.timeout.count() > 0;
  const auto deadline = Clock::now() + options.timeout;
  std::size_t written = 0;
  if (options.input.empty())
    in_w.reset();
  else
    ::fcntl(in_w.fd, F_SETFL, O_NONBLOCK);

  bool exited = false;
  int wait_status = 0;
  char buf[65536];
  std::array<std::string *, 2> sinks{&st.out, &st.err};
  std::array<Fd *, 2> reads{&out_r, &err_r};
  auto drain = [&](int i) {
    const ssize_t n = ::read(reads[i]->fd, buf, sizeof buf);
    if (n > 0) {
      const std::size_t room =
          options.max_output > sinks[i]->size() ? options.max_output - sinks[i]->size() : 0;
      sinks[i]->append(buf, std::min(room, static_cast<std::size_t>(n)));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      reads[i]->reset();
    }
  };

  while (true) {
    if (!exited) {
      const pid_t r = ::waitpid(pid, &wait_status, WNOHANG);
      if (r == pid)
        exited = true;
    }
    if (exited) {
      // Helpers of the child may still hold the pipes open: take what is there and stop.
      for (int i = 0; i < 2; ++i) {
        if (reads[i]->fd < 0)
          continue;
        ::fcntl(reads[i]->fd, F_SETFL, O_NONBLOCK);
        while (reads[i]->fd >= 0) {
          const ssize_t n = ::read(reads[i]->fd, buf, sizeof buf);
          if (n <= 0)
            break;
          const std::size_t room =
              options.max_output > sinks[i]->size() ? options.max_output - sinks[i]->size() : 0;
          sinks[i]->append(buf, std::min(room, static_cast<std::size_t>(n)));
        }
      }
      break;
    }
    if (limited && Clock::now() >= deadline) {
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      wait_status = reap(pid);
      exited = true;
      st.timed_out = true;
      break;
    }
    std::array<pollfd, 3> fds{pollfd{out_r.fd, POLLIN, 0}, pollfd{err_r.fd, POLLIN, 0},
                              pollfd{in_w.fd, POLLOUT, 0}};
    // Once both streams are closed only the exit is awaited: poll briefly.
    int wait_ms = out_r.fd < 0 && err_r.fd < 0 ? 2 : 50;
    if (limited) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait_ms = static_cast<int>(std::max<long long>(0, std::min<long long>(wait_ms, left)));
    }
    // Closed descriptors are -1, which poll skips.
    const int ready = ::poll(fds.data(), fds.size(), wait_ms);
    if (ready <= 0)
      continue;
    for (int i = 0; i < 2; ++i)
      if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
        drain(i);
    if (in_w.fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t w =
          ::write(in_w.fd, options.input.data() + written, options.input.size() - written);
      if (w > 0)
        written += static_cast<std::size_t>(w);
      if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == options.input.size())
        in_w.reset();
    }
  }
  ::sigaction(SIGPIPE, &previous, nullptr);

  if (WIFEXITED(wait_status)) {
    st.exit_code = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    st.signal = WTERMSIG(wait_status);
  }
  if (st.timed_out)
    st.exit_code = -1;
  return st;
}

} // namespace vaskit::process
