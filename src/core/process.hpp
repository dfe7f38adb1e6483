// Child processes started from an argument vector, never through a shell: no quoting rules, no
// word splitting, no expansion of what the user's file names contain.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vaskit::process {

struct Options {
  // Working folder of the child; the caller's current folder when absent.
  std::optional<std::filesystem::path> cwd;
  // Changes to the inherited environment, applied in order: a value sets the variable, nullopt
  // removes it.
  std::vector<std::pair<std::string, std::optional<std::string>>> env;
  // The child (with everything it started in its process group) is killed once this much time
  // has passed; zero waits without limit.
  std::chrono::milliseconds timeout{0};
  // Written to the child's standard input, which is then closed (an empty input closes it at
  // once, so a child that asks for input sees end of input instead of waiting).
  std::string input;
  // Output beyond this many bytes per stream is read and dropped, so a chatty child can neither
  // block on a full pipe nor exhaust our memory.
  std::size_t max_output = 16u << 20;
};

struct Status {
  int exit_code = -1;     // the exit status when the child ended normally, else -1
  int signal = 0;         // the signal that ended the child, else 0
  bool timed_out = false; // the timeout ended it (then `signal` is SIGKILL)
  std::string out;        // captured standard output
  std::string err;        // captured standard error
  bool ok() const { return exit_code == 0 && !timed_out; }
  // "exit status 3", "killed by signal 9", "timed out after 5 s": for error messages.
  std::string describe() const;
};

// Runs `argv` (argv[0] is looked up in PATH when it holds no "/") and waits for it. The child
// runs in a process group of its own, so a timeout also ends the helpers it started. Throws
// std::system_error when the program cannot be started (not found, not executable) and
// std::invalid_argument for an empty `argv`.
Status run(const std::vector<std::string> &argv, const Options &options = {});

// The first executable named `name` in PATH (or `name` itself when it holds a "/" and is
// executable); nullopt when there is none.
std::optional<std::filesystem::path> find_program(const std::string &name);

} // namespace vaskit::process
