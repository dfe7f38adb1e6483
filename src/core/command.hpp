// The command layer every tool's main goes through. Each option is declared once, bound to a
// member of the tool's options struct: the parser, the help and the filled struct come from that
// one table, so a misspelt option cannot compile. Usage errors go to standard error with exit
// status 2 before the command body runs; `--help` prints the help text, the option list and the
// epilog (a paragraph starting with "\b" keeps its line breaks).
#pragma once

#include "core/result.hpp"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
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

// What the parser and the help need to know of one option, whatever struct it fills.
struct OptionSpec {
  std::vector<std::string> decls; // "-c", "--config", in declaration order
  bool is_flag = false;
  std::optional<PathCheck> path; // set for path options (metavar PATH, FILE or DIRECTORY)
  std::string help;
};

struct CommandSpec {
  std::string name;
  std::string help;
  std::string epilog;
  std::vector<OptionSpec> options;
};

// The member of the options struct `O` that an option fills; its type makes the option's kind:
// bool a flag, std::optional<std::string> a value (the last one given; nullopt when none was),
// std::vector<std::string> a value that may be given several times (every one, in command-line
// order).
template <class O>
using Field =
    std::variant<bool O::*, std::optional<std::string> O::*, std::vector<std::string> O::*>;

// One option, declared once: its names, the member it fills, its path check and its help.
template <class O> struct Option {
  std::vector<std::string> decls;
  Field<O> field;
  std::optional<PathCheck> path;
  std::string help;
};

// A command whose parsed options fill the struct `O`; options in declaration order (the order
// of the help listing and of the path checks).
template <class O> struct Command {
  std::string name{};
  std::string help{};
  std::string epilog{};
  std::vector<Option<O>> options{};
};

// ---- Options several tools share, each bound to the member of the same name ----

// -c/--config of a YAML tool: a path; given without a value it offers the configuration files of
// the current folder to choose from.
template <class O> Option<O> yaml_config_option() {
  return {{"-c", "--config"},
          &O::config,
          PathCheck{},
          "Specify the YAML config file path. If -c is provided without arguments, it will trigger "
          "interactive config selection."};
}

// -c/--config of a JSON tool: a file that must exist.
template <class O>
Option<O> json_config_option(std::string help = "Specify the JSON config file path") {
  return {{"--config", "-c"}, &O::config, PathCheck{true, true, true}, std::move(help)};
}

template <class O> Option<O> generate_config_option(std::string help) {
  return {{"--generate-config"}, &O::generate_config, std::nullopt, std::move(help)};
}

template <class O> Option<O> debug_option() {
  return {{"--debug"}, &O::debug, std::nullopt, "Enable debug mode"};
}

// One numbered example of an epilog: what it shows and its command lines.
struct Example {
  std::string title;
  std::vector<std::string> lines;
};

// The examples the YAML tools share, for the tool `tool`: writing the template, a run with a
// configuration file, and the choice among the current folder's files.
Example generate_config_example(std::string_view tool);
Example run_with_config_example(std::string_view tool);
Example choose_config_example(std::string_view tool);

// An "Examples:" epilog: "  <n>. <title>" and each command line indented by five, every example
// a paragraph that keeps its line breaks, `between` standing between two examples.
std::string examples_epilog(const std::vector<Example> &examples,
                            std::string_view between = "\b\n");

// Parses `args` (without the program name) into one list per option of `cmd`, in declaration
// order: every value given, or one empty entry per time a flag was given. `prog` is the name
// shown in usage lines. `--help` prints the help and throws Exit{0}; a usage error prints it and
// throws Exit{2}.
std::vector<std::vector<std::string>>
parse_args(const CommandSpec &cmd, const std::vector<std::string> &args, const std::string &prog);

// The full help text of a command, as `--help` prints it.
std::string help_text(const CommandSpec &cmd, const std::string &prog);

template <class O> CommandSpec spec_of(const Command<O> &cmd) {
  CommandSpec spec{cmd.name, cmd.help, cmd.epilog, {}};
  for (const auto &o : cmd.options)
    spec.options.push_back({o.decls, std::holds_alternative<bool O::*>(o.field), o.path, o.help});
  return spec;
}

template <class O> std::string help_text(const Command<O> &cmd, const std::string &prog) {
  return help_text(spec_of(cmd), prog);
}

// Parses `args` (without the program name) into a value-initialised `O`, each option's values
// in its member; members no option names keep their defaults. Usage errors and `--help` as in
// parse_args.
template <class O>
O parse(const Command<O> &cmd, const std::vector<std::string> &args, const std::string &prog) {
  const auto given = parse_args(spec_of(cmd), args, prog);
  O out{};
  for (std::size_t i = 0; i < cmd.options.size(); ++i) {
    const std::vector<std::string> &values = given[i];
    std::visit(
        [&](auto member) {
          auto &target = out.*member;
          using T = std::remove_reference_t<decltype(target)>;
          if constexpr (std::is_same_v<T, bool>)
            target = !values.empty();
          else if constexpr (std::is_same_v<T, std::optional<std::string>>)
            target = values.empty() ? std::nullopt : std::optional<std::string>(values.back());
          else
            target = values;
        },
        cmd.options[i].field);
  }
  return out;
}

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

// How a command prints the line of a finished pass: the outcome's message after `done` on
// standard output when nothing failed, else after `failed` on standard error (or standard output
// when `failed_to_stderr` is false).
struct OutcomeLines {
  std::string done = "Done: ";
  std::string failed = "Error: ";
  bool failed_to_stderr = true;
};

// Ends a command after its pass: prints the outcome's message (nothing when it is empty) as
// `lines` say and returns exit_status(outcome).
int finish(const Outcome &outcome, const OutcomeLines &lines = {});

// Ends a command that could not run: `line` on standard error, status 1 (finish with a run that
// failed).
int fail(std::string_view line);

// A tool's whole main: run_main with a body that parses the arguments by `command()` into the
// tool's options struct and returns what `run(options)` returns.
template <class O>
int run_tool(int argc, char **argv, const Command<O> &(*command)(), int (*run)(const O &)) {
  return run_main(argc, argv, [&](const std::string &prog, const std::vector<std::string> &args) {
    return run(parse(command(), args, prog));
  });
}

} // namespace vaskit::cli
