// Child programs (renderers, office converters, agents, the desktop opener), always started from
// an argument vector: no shell ever reads a file name or a setting.
//
// Errors: nothing here throws for a program that fails; `run` reports how the child ended in its
// Outcome (a program that cannot be started is `started == false` with the reason). Only running
// out of memory throws.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vaskit::process {

enum class Stream {
  inherit, // the caller's own stream
  null,    // /dev/null
  capture, // collected into Outcome::out / Outcome::err (standard output and error only)
};

struct Options {
  // Variables set (or replaced) in the child's environment, and variables removed from it.
  std::vector<std::pair<std::string, std::string>> env;
  std::vector<std::string> unset_env;
  // The child's working folder; the caller's when empty.
  std::string cwd;
  Stream in = Stream::inherit;
  Stream out = Stream::inherit;
  Stream err = Stream::inherit;
  // Longest wait; after it the child (and its process group) gets SIGTERM, then SIGKILL.
  std::optional<std::chrono::milliseconds> timeout;
  // The child leads a process group of its own, so that a time-out also ends the programs it
  // started (a renderer's browser, an office suite's helpers).
  bool own_process_group = true;
  // After an interrupt has been passed on and the child has ended, this runs just before the
  // interrupt ends the caller too (temporary files go away).
  std::function<void()> on_interrupt;
  // The kernel kills the child (SIGKILL) when the caller dies without waiting for it, even by a
  // signal that no handler sees (kill -9). Tied to the thread that calls run, which waits for the
  // child anyway.
  bool end_with_caller = false;
};

struct Outcome {
  bool started = false;
  std::string error; // why the program could not be started
  bool timed_out = false;
  int status = -1; // exit status when the child exited
  int signal = 0;  // the signal that ended it, 0 when it exited
  std::string out; // with Stream::capture
  std::string err;

  bool ok() const { return started && !timed_out && signal == 0 && status == 0; }
  // "exit status 3", "signal 9", "timed out after 120 s", or the start error.
  std::string describe() const;
};

// Runs argv[0] (searched on PATH when it has no "/") with the arguments and waits for it. While
// it waits, SIGINT, SIGTERM and SIGHUP (unless the caller ignores them) are passed on to the
// child, or to its process group when it has one; once the child has ended (SIGKILL follows after
// two seconds) the signal ends the caller as it would have without a child.
Outcome run(const std::vector<std::string> &argv, const Options &options = {});

// Starts a program that outlives the caller (a new session, streams on /dev/null); returns the
// start error, or nullopt once the program has been started.
std::optional<std::string> start_detached(const std::vector<std::string> &argv,
                                          const Options &options = {});

// The first executable file named `name` in the folders of PATH (as a shell finds a command);
// a name holding "/" is checked as it stands. nullopt when there is none.
std::optional<std::string> which(std::string_view name);

} // namespace vaskit::process
