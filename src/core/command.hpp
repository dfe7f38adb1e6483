// A small command-line layer with the behaviour office users know from the tools' earlier
// incarnation: options declared once (parser and help come from the same table), usage errors
// on standard error with exit status 2 before the command body runs, `--help` with help text,
// option list and epilog (a paragraph starting with "\b" keeps its line breaks).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::cli {

// Thrown to end the process with a status; caught by run_main.
struct Exit {
  int code;
};

// End of input at a prompt (the user pressed Ctrl-D, or standard input is closed).
class Abort : public std::runtime_error {
public:
  Abort() : std::runtime_error("Aborted!") {}
};

struct PathCheck {
  bool exists = false;
  bool file_okay = true;
  bool dir_okay = true;
};

struct Option {
  std::vector<std::string> decls; // "-c", "--config", in declaration order
  std::string dest;               // parameter name
  bool is_flag = false;
  std::optional<PathCheck> path; // set for path options (metavar PATH, FILE or DIRECTORY)
  std::string help;
};

struct Command {
  std::string name;
  std::string help;
  std::string epilog;
  std::vector<Option> options;
};

class Params {
public:
  // Value of a value option (the last one when it was given several times); nullopt when it
  // was not given.
  std::optional<std::string> value(const std::string &dest) const;
  // Every value of an option that may be given several times, in command-line order.
  std::vector<std::string> values(const std::string &dest) const;
  bool flag(const std::string &dest) const;
  void set_value(const std::string &dest, std::string v) { values_[dest].push_back(std::move(v)); }
  void set_flag(const std::string &dest) { flags_[dest] = true; }

private:
  std::map<std::string, std::vector<std::string>> values_;
  std::map<std::string, bool> flags_;
};

// Parses `args` (without the program name). `prog` is the name shown in usage lines.
// `--help` prints the help and throws Exit{0}; a usage error prints it and throws Exit{2}.
Params parse(const Command &cmd, const std::vector<std::string> &args, const std::string &prog);

// The full help text of a command, as `--help` prints it.
std::string help_text(const Command &cmd, const std::string &prog);

// Gives an option that takes a value the empty value when it stands last or is followed by an
// argument starting with "-" (only whole arguments equal to one of `names` count).
std::vector<std::string> bare_option_prepass(const std::vector<std::string> &argv,
                                             const std::vector<std::string> &names);

// One line to standard output (or standard error).
void echo(std::string_view text, bool err = false);
// "text [Y/n]: " (or "[y/N]"); Enter gives the default; end of input throws Abort.
bool confirm(std::string_view text, bool default_yes);
// Reads one line from standard input without its line break; nullopt at end of input.
std::optional<std::string> read_line();

// The options that the bare-option pre-pass gives the empty value, for every tool alike: the
// YAML tools' rewrite of the argument list applied to whatever command was started.
extern const std::vector<std::string> BARE_OPTIONS;

// Runs a tool's main: `body` gets the program name (argv[0], "vas-kit <tool>" when started by
// the host) and the arguments after the bare-option pre-pass over BARE_OPTIONS, and returns the
// exit status. Exit (from parse) ends with its status; Abort prints "Aborted!" (status 1); any
// other error prints one "❌ " line on standard error and ends with status 1 — never a crash or
// a stack trace.
int run_main(
    int argc, char **argv,
    const std::function<int(const std::string &prog, const std::vector<std::string> &args)> &body);

} // namespace vaskit::cli
