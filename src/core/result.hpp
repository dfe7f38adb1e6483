// The (success flag, message) pair that passes and steps return.
//
// Error contract of core, the layer every other builds on: calls throw when their input is bad
// or the system fails them. config::parse_yaml/parse_json throw config::ParseError (with line and
// column); fs reads and writes std::system_error naming the path; re::Pattern throws re::error for
// a bad pattern or a subject that is not UTF-8; cli::parse throws cli::Exit after printing a usage
// error or the help, cli::confirm cli::Abort at end of input. Text helpers accept any text
// (invalid UTF-8 becomes U+FFFD), and process::run returns how the child ended instead of
// throwing. Only the command layer (cli) prints. Result is for steps above core that report an
// expected failure to their caller; whatever reaches cli::run_main is printed as one "❌" line
// with status 1.
#pragma once

#include <string>

namespace vaskit {

struct Result {
  bool ok = false;
  std::string message;
};

} // namespace vaskit
