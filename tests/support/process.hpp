// Test support: run a built executable in a folder, feed its standard input and collect
// standard output, standard error and exit status. Header-only, for the end-to-end tests.
#pragma once

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vaskit::testing {

struct ProcessResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `exe` with `args` in `cwd`; `env` entries ("NAME=value") are added to the environment.
inline ProcessResult run_process(const std::string &exe, const std::vector<std::string> &args,
                                 const std::filesystem::path &cwd, const std::string &input = "",
                                 const std::vector<std::string> &env = {}) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe))
    throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      close(fd);
    if (chdir(cwd.c_str()) != 0)
      _exit(127);
    for (const auto &e : env)
      putenv(const_cast<char *>(e.c_str()));
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(exe.c_str()));
    for (const auto &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::size_t written = 0;
  if (input.empty()) {
    close(in_pipe[1]);
    in_pipe[1] = -1;
  } else {
    fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  }
  ProcessResult r;
  std::array<pollfd, 3> fds{pollfd{out_pipe[0], POLLIN, 0}, pollfd{err_pipe[0], POLLIN, 0},
                            pollfd{in_pipe[1], POLLOUT, 0}};
  int open_reads = 2;
  int status = 0;
  bool reaped = false;
  char buf[8192];
  while (open_reads > 0) {
    const nfds_t n = in_pipe[1] >= 0 ? 3 : 2;
    const int ready = poll(fds.data(), n, 1000);
    if (ready < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    if (ready == 0) {
      // Silence: a program may say nothing for long (an office suite converting a deck on a busy
      // machine) and what it prints later must not be lost. Once it has ended, whatever it left
      // holding the pipes open is not waited for.
      if (reaped)
        break;
      reaped = waitpid(pid, &status, WNOHANG) == pid;
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
        const ssize_t got = read(fds[i].fd, buf, sizeof buf);
        if (got <= 0) {
          close(fds[i].fd);
          fds[i].fd = -1;
          --open_reads;
        } else {
          (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(got));
        }
      }
    }
    if (in_pipe[1] >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t w = write(in_pipe[1], input.data() + written, input.size() - written);
      if (w > 0)
        written += static_cast<std::size_t>(w);
      if (w < 0 || written == input.size()) {
        close(in_pipe[1]);
        in_pipe[1] = -1;
      }
    }
  }
  if (in_pipe[1] >= 0)
    close(in_pipe[1]);
  for (int i = 0; i < 2; ++i)
    if (fds[i].fd >= 0)
      close(fds[i].fd);
  if (!reaped)
    waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

// A fresh temporary folder, removed with the object.
class TempDir {
public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vaskit-test.XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
      throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

// The process id a program writes to `file`, once it is there (0 after about 30 s without).
inline pid_t wait_for_pid_file(const std::filesystem::path &file) {
  pid_t pid = 0;
  for (int i = 0; i < 3000 && pid <= 0; ++i) {
    std::ifstream in(file);
    in >> pid;
    if (pid <= 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pid;
}

// Whether `pid` is gone, or a zombie no longer running, within about 3 s.
inline bool process_gone(pid_t pid) {
  for (int i = 0; i < 300; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string p, comm, state;
    stat >> p >> comm >> state;
    if (!stat || state == "Z")
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The id of a process that surely ran and has ended: a child already reaped. The names of
// temporaries "left by a killed run" are made with it.
inline pid_t ended_process_id() {
  const pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0)
    _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

} // namespace vaskit::testing
