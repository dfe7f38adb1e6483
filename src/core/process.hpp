// Child programs (renderers, office converters, agents, the desktop opener), always started from
// an argument vector: no shell ever reads a file name or a setting.
//
// Errors: nothing here throws for a program that fails; `run` reports how the child ended in its
// Outcome (a program that cannot be started is `started == false` with the reason). Only running
// out of memory throws.
#pragma once

#include <chrono>
#include <cstddef>
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
  // The child runs under a small keeper process that adopts every process the child starts,
  // however it detaches (a new process group or session, a double fork), and ends them all when
  // the child ends (whether it exits, times out or is interrupted) and when the caller dies. The
  // child still leads a process group of its own. Without it only that group is ended.
  bool end_tree = false;
  // With end_tree: a folder given to the child (its own temporary folder, say) that is removed,
  // with everything in it, once the child and everything it started have ended, whatever way
  // they end, and also when the caller dies first.
  std::string remove_when_done;
  // With out == Stream::capture: each piece of standard output is handed here, in the calling
  // thread, as it arrives, instead of being kept in Outcome::out. What it throws stops the child
  // (as a time-out would, without the wait) and passes on to the caller of run or run_all.
  std::function<void(std::string_view)> on_output;
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

struct Job {
  std::vector<std::string> argv;
  Options options; // its on_interrupt is not used: run_all takes one for all jobs
};

// Runs the jobs, started in list order with at most `parallel` (at least 1) running at a time,
// and calls done(index, outcome) in the calling thread as each one ends, in the order they end.
// An interrupt is passed on to every running job that has a process group of its own; once they
// have all ended, `on_interrupt` runs and the interrupt ends the caller, as with run. What `done`
// or an on_output throws stops every running job and passes on.
void run_all(const std::vector<Job> &jobs, std::size_t parallel,
             const std::function<void(std::size_t index, const Outcome &outcome)> &done,
             const std::function<void()> &on_interrupt = {});

// Starts a program that outlives the caller (a new session, streams on /dev/null); returns the
// start error, or nullopt once the program has been started.
std::optional<std::string> start_detached(const std::vector<std::string> &argv,
                                          const Options &options = {});

// The first executable file named `name` in the folders of PATH (as a shell finds a command);
// a name holding "/" is checked as it stands. nullopt when there is none.
std::optional<std::string> which(std::string_view name);

} // namespace vaskit::process
