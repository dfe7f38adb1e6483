// The (success flag, message) pair that steps return, and the outcome of a tool's pass.
//
// Error contract of core, the layer every other builds on: calls throw when their input is bad
// or the system fails them. config::parse_yaml/parse_json throw config::ParseError (with line and
// column), config::require_mapping config::ConfigError (naming the key path); fs reads and writes
// std::system_error naming the path; re::Pattern throws re::error for a bad pattern or a subject
// that is not UTF-8; cli::parse throws cli::Exit after printing a usage error or the help,
// cli::confirm cli::Abort at end of input. Text helpers accept any text (invalid UTF-8 becomes
// U+FFFD), and process::run returns how the child ended instead of throwing. Only the command
// layer (cli) prints. Result is for steps above core that report an expected failure to their
// caller; a tool's pass reports an Outcome, which cli::finish prints and turns into the exit
// status; whatever reaches cli::run_main is printed as one "❌" line with status 1.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace vaskit {

struct Result {
  bool ok = false;
  std::string message;
};

// What a tool's pass reports to its command: what failed, how many items, and the line that
// sums the run up.
struct Outcome {
  enum class Failed {
    nothing, // everything the run set out to do was done
    run,     // the run as a whole: it could not start, was cancelled, or its result not written
    items,   // some of its items (files, workbooks, outputs); the others were done
  };
  Failed failed = Failed::nothing;
  std::size_t count = 0; // the items that failed (Failed::items), else 0
  std::string message;   // the summary line, as the tool words it; "" prints nothing

  bool ok() const { return failed == Failed::nothing; }

  static Outcome done(std::string message = {}) { return {Failed::nothing, 0, std::move(message)}; }
  static Outcome run_failed(std::string message = {}) {
    return {Failed::run, 0, std::move(message)};
  }
  // A step's Result as the whole run: done, or the run failed, with its message.
  static Outcome of(const Result &result) {
    return result.ok ? done(result.message) : run_failed(result.message);
  }
  // `count` items failed; none failing is a run where nothing failed.
  static Outcome items_failed(std::size_t count, std::string message = {}) {
    return {count ? Failed::items : Failed::nothing, count, std::move(message)};
  }
};

// The exit status of a finished run, the same rule for every tool: 1 when anything failed,
// 0 otherwise.
inline int exit_status(const Outcome &outcome) {
  return outcome.ok() ? 0 : 1;
}

} // namespace vaskit
