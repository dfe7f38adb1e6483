#include "core/command.hpp"

#include "core/re.hpp"
#include "core/text.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sys/stat.h>

namespace vaskit::cli {
namespace {

constexpr std::size_t kWidth = 78; // help text fits an 80-column terminal

std::size_t term_len(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80)
      ++n;
  return n;
}

// Help text wrapped at word boundaries: hyphenated words may break after a hyphen, blanks
// inside a line are kept as written, blanks at the ends of wrapped lines are dropped, a word
// longer than the line is cut.
std::vector<std::string> wrap_words(std::string_view text, std::size_t width) {
  // The chunks a line is filled with: runs of blanks, and words that may end after a hyphen or
  // before "--".
  static const re::Pattern chunk_re(
      R"(([\t\n\x0b\x0c\r ]+|(?<=[\w!"'&.,?])-{2,}(?=\w)|[^\t\n\x0b\x0c\r ]+?(?:-(?:(?<=[^\d\W]{2}-)|(?<=[^\d\W]-[^\d\W]-))(?=[^\d\W]-?[^\d\W])|(?=[\t\n\x0b\x0c\r ]|\Z)|(?<=[\w!"'&.,?])(?=-{2,}\w))))");
  std::vector<std::u32string> chunks; // reversed: the next chunk is at the back
  for (const auto &c : chunk_re.split(text))
    if (!c.empty())
      chunks.push_back(text::to_u32(c));
  std::reverse(chunks.begin(), chunks.end());
  auto is_blank = [](const std::u32string &c) {
    return c.find_first_not_of(U"\t\n\x0b\x0c\r ") == std::u32string::npos;
  };
  if (width == 0)
    width = 1;

  std::vector<std::string> lines;
  while (!chunks.empty()) {
    std::vector<std::u32string> line;
    std::size_t len = 0;
    if (!lines.empty() && is_blank(chunks.back()))
      chunks.pop_back();
    while (!chunks.empty() && len + chunks.back().size() <= width) {
      len += chunks.back().size();
      line.push_back(std::move(chunks.back()));
      chunks.pop_back();
    }
    if (!chunks.empty() && chunks.back().size() > width) {
      const std::size_t room = std::max<std::size_t>(width > len ? width - len : 0, 1);
      line.push_back(chunks.back().substr(0, room));
      chunks.back().erase(0, room);
    }
    if (!line.empty() && is_blank(line.back()))
      line.pop_back();
    if (!line.empty()) {
      std::u32string joined;
      for (const auto &c : line)
        joined += c;
      lines.push_back(text::from_u32(joined));
    }
  }
  return lines;
}

// Paragraph-preserving wrap: blank lines separate paragraphs; a paragraph whose first line is
// "\b" keeps its lines as written (only indented).
std::string wrap_text(std::string_view text, std::size_t width, const std::string &indent) {
  struct Par {
    std::size_t indent;
    bool raw;
    std::string text;
  };
  std::vector<Par> pars;
  std::vector<std::string> buf;
  std::optional<std::size_t> par_indent;
  auto flush = [&] {
    if (buf.empty())
      return;
    std::string first = buf.front();
    first.erase(0, first.find_first_not_of(" \t"));
    if (!first.empty() && first.find_last_not_of(" \t") == 0 && first[0] == '\b') {
      std::string joined;
      for (std::size_t i = 1; i < buf.size(); ++i)
        joined += (i > 1 ? "\n" : "") + buf[i];
      pars.push_back({par_indent.value_or(0), true, joined});
    } else {
      std::string joined;
      for (std::size_t i = 0; i < buf.size(); ++i)
        joined += (i ? " " : "") + buf[i];
      pars.push_back({par_indent.value_or(0), false, joined});
    }
    buf.clear();
  };
  std::size_t pos = 0;
  while (pos <= text.size()) {
    auto nl = text.find('\n', pos);
    std::string line(text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos));
    if (line.empty()) {
      flush();
      par_indent.reset();
    } else {
      if (!par_indent) {
        const auto stripped = line.find_first_not_of(" \t");
        par_indent = stripped == std::string::npos ? line.size() : stripped;
        line.erase(0, *par_indent);
      }
      buf.push_back(line);
    }
    if (nl == std::string_view::npos)
      break;
    pos = nl + 1;
  }
  flush();

  std::string out;
  for (std::size_t p = 0; p < pars.size(); ++p) {
    if (p)
      out += "\n\n";
    const std::string ind = indent + std::string(pars[p].indent, ' ');
    std::vector<std::string> lines;
    if (pars[p].raw) {
      std::size_t s = 0;
      const auto &t = pars[p].text;
      while (true) {
        auto e = t.find('\n', s);
        lines.push_back(t.substr(s, e == std::string::npos ? std::string::npos : e - s));
        if (e == std::string::npos)
          break;
        s = e + 1;
      }
    } else {
      lines = wrap_words(pars[p].text, width > ind.size() ? width - ind.size() : 10);
    }
    for (std::size_t i = 0; i < lines.size(); ++i)
      out += (i ? "\n" : "") + ind + lines[i];
  }
  return out;
}

std::string metavar(const OptionSpec &o) {
  if (o.is_flag)
    return "";
  if (!o.path)
    return "TEXT";
  if (o.path->file_okay && !o.path->dir_okay)
    return "FILE";
  if (o.path->dir_okay && !o.path->file_okay)
    return "DIRECTORY";
  return "PATH";
}

// Short names first, as the help listing shows them ("-c, --config").
std::string joined_decls(const OptionSpec &o) {
  auto decls = o.decls;
  std::stable_sort(decls.begin(), decls.end(), [](const std::string &a, const std::string &b) {
    auto prefix = [](const std::string &s) { return s.rfind("--", 0) == 0 ? 2 : 1; };
    return prefix(a) < prefix(b);
  });
  std::string out;
  for (std::size_t i = 0; i < decls.size(); ++i)
    out += (i ? ", " : "") + decls[i];
  const auto mv = metavar(o);
  if (!mv.empty())
    out += " " + mv;
  return out;
}

std::string error_hint(const OptionSpec &o) {
  std::string out;
  for (std::size_t i = 0; i < o.decls.size(); ++i)
    out += (i ? " / " : "") + text::py_repr(o.decls[i]);
  return out;
}

[[noreturn]] void usage_error(const CommandSpec &cmd, const std::string &prog,
                              const std::string &msg) {
  (void)cmd;
  std::cout.flush();
  std::cerr << "Usage: " << prog << " [OPTIONS]\n"
            << "Try '" << prog << " --help' for help.\n\n"
            << "Error: " << msg << "\n";
  std::cerr.flush();
  throw Exit{2};
}

// The index of the option that has `name` among its declarations, or nullopt.
std::optional<std::size_t> find_option(const CommandSpec &cmd, std::string_view name) {
  for (std::size_t i = 0; i < cmd.options.size(); ++i)
    for (const auto &d : cmd.options[i].decls)
      if (d == name)
        return i;
  return std::nullopt;
}

void check_path(const CommandSpec &cmd, const std::string &prog, const OptionSpec &o,
                const std::string &value) {
  const auto &pc = *o.path;
  const char *kind = pc.file_okay && !pc.dir_okay   ? "File"
                     : pc.dir_okay && !pc.file_okay ? "Directory"
                                                    : "Path";
  struct stat st{};
  const bool exists = !value.empty() && ::stat(value.c_str(), &st) == 0;
  if (!exists) {
    if (pc.exists)
      usage_error(cmd, prog,
                  "Invalid value for " + error_hint(o) + ": " + kind + " " + text::py_repr(value) +
                      " does not exist.");
    return;
  }
  if (!pc.dir_okay && S_ISDIR(st.st_mode))
    usage_error(cmd, prog,
                "Invalid value for " + error_hint(o) + ": " + kind + " " + text::py_repr(value) +
                    " is a directory.");
  if (!pc.file_okay && !S_ISDIR(st.st_mode))
    usage_error(cmd, prog,
                "Invalid value for " + error_hint(o) + ": " + kind + " " + text::py_repr(value) +
                    " is a file.");
}

} // namespace

Example generate_config_example(std::string_view tool) {
  return {"Generate config template:", {"vas-kit " + std::string(tool) + " --generate-config"}};
}

Example run_with_config_example(std::string_view tool) {
  return {"Run with configuration:", {"vas-kit " + std::string(tool) + " -c config.yaml"}};
}

Example choose_config_example(std::string_view tool) {
  return {"Interactive config selection (when -c is provided without arguments):",
          {"vas-kit " + std::string(tool) + " -c"}};
}

std::string examples_epilog(const std::vector<Example> &examples, std::string_view between) {
  std::string out = "\b\nExamples:\n";
  for (std::size_t k = 0; k < examples.size(); ++k) {
    if (k)
      out += between;
    out += "  " + std::to_string(k + 1) + ". " + examples[k].title + "\n";
    for (const auto &line : examples[k].lines)
      out += "     " + line + "\n";
  }
  return out;
}

std::string help_text(const CommandSpec &cmd, const std::string &prog) {
  std::string out = "Usage: " + prog + " [OPTIONS]\n";
  if (!cmd.help.empty())
    out += "\n" + wrap_text(cmd.help, kWidth, "  ") + "\n";

  std::vector<std::pair<std::string, std::string>> rows;
  for (const auto &o : cmd.options)
    rows.emplace_back(joined_decls(o), o.help);
  rows.emplace_back("--help", "Show this message and exit.");
  std::size_t first_col = 0;
  for (const auto &r : rows)
    first_col = std::max(first_col, term_len(r.first));
  first_col = std::min<std::size_t>(first_col, 30) + 2;
  const std::size_t text_width = std::max<std::size_t>(kWidth > first_col + 2 ? kWidth - first_col - 2 : 10, 10);

  out += "\nOptions:\n";
  for (const auto &[first, second] : rows) {
    out += "  " + first;
    if (second.empty()) {
      out += "\n";
      continue;
    }
    if (term_len(first) <= first_col - 2) {
      out += std::string(first_col - term_len(first), ' ');
    } else {
      out += '\n';
      out.append(first_col + 2, ' ');
    }
    const auto lines = wrap_words(second, text_width);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i)
        out += std::string(first_col + 2, ' ');
      out += lines[i] + "\n";
    }
  }
  if (!cmd.epilog.empty())
    out += "\n" + wrap_text(cmd.epilog, kWidth, "  ") + "\n";
  return out;
}

std::vector<std::vector<std::string>>
parse_args(const CommandSpec &cmd, const std::vector<std::string> &args, const std::string &prog) {
  std::vector<std::vector<std::string>> given(cmd.options.size());
  std::vector<std::string> extras;
  bool only_args = false;

  auto take_value = [&](std::size_t o, std::size_t &i, const std::string &name) {
    if (i + 1 >= args.size())
      usage_error(cmd, prog, "Option " + text::py_repr(name) + " requires an argument.");
    given[o].push_back(args[++i]);
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (only_args || a.size() < 2 || a[0] != '-') {
      extras.push_back(a);
      continue;
    }
    if (a == "--") {
      only_args = true;
      continue;
    }
    if (a == "--help") {
      std::cout << help_text(cmd, prog);
      std::cout.flush();
      throw Exit{0};
    }
    if (a.rfind("--", 0) == 0) {
      const auto eq = a.find('=');
      const std::string name = a.substr(0, eq);
      const auto o = find_option(cmd, name);
      if (!o)
        usage_error(cmd, prog, "No such option: " + name);
      if (cmd.options[*o].is_flag) {
        if (eq != std::string::npos)
          usage_error(cmd, prog, "Option " + text::py_repr(name) + " does not take a value.");
        given[*o].emplace_back();
      } else if (eq != std::string::npos) {
        given[*o].push_back(a.substr(eq + 1));
      } else {
        take_value(*o, i, name);
      }
      continue;
    }
    // Short options: flags may be grouped; a value option takes the rest of the argument.
    for (std::size_t k = 1; k < a.size(); ++k) {
      const std::string name = std::string("-") + a[k];
      const auto o = find_option(cmd, name);
      if (!o)
        usage_error(cmd, prog, "No such option: " + name);
      if (cmd.options[*o].is_flag) {
        given[*o].emplace_back();
        continue;
      }
      if (k + 1 < a.size())
        given[*o].push_back(a.substr(k + 1));
      else
        take_value(*o, i, name);
      break;
    }
  }
  // Path checks run in declaration order, before leftover arguments are reported.
  for (std::size_t o = 0; o < cmd.options.size(); ++o)
    if (cmd.options[o].path)
      for (const auto &v : given[o])
        check_path(cmd, prog, cmd.options[o], v);
  if (!extras.empty()) {
    std::string joined;
    for (std::size_t i = 0; i < extras.size(); ++i)
      joined += (i ? " " : "") + extras[i];
    usage_error(cmd, prog,
                std::string("Got unexpected extra argument") + (extras.size() > 1 ? "s" : "") +
                    " (" + joined + ")");
  }
  return given;
}

const std::vector<std::string> BARE_OPTIONS = {"-c", "--config", "-o", "--output-dir"};

std::vector<std::string> bare_option_prepass(const std::vector<std::string> &argv,
                                             const std::vector<std::string> &names) {
  std::vector<std::string> out;
  out.reserve(argv.size() + 2);
  for (std::size_t i = 0; i < argv.size(); ++i) {
    out.push_back(argv[i]);
    const bool named = std::find(names.begin(), names.end(), argv[i]) != names.end();
    if (named && (i + 1 >= argv.size() || argv[i + 1].rfind('-', 0) == 0))
      out.emplace_back();
  }
  return out;
}

void echo(std::string_view text, bool err) {
  if (err) {
    std::cout.flush();
    std::cerr << text << '\n';
    std::cerr.flush();
  } else {
    std::cout << text << '\n';
    std::cout.flush();
  }
}

std::optional<std::string> read_line() {
  std::string line;
  if (!std::getline(std::cin, line))
    return std::nullopt;
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  return line;
}

bool confirm(std::string_view text, bool default_yes) {
  while (true) {
    std::cout << text << (default_yes ? " [Y/n]: " : " [y/N]: ");
    std::cout.flush();
    auto answer = read_line();
    if (!answer)
      throw Abort();
    std::string a;
    for (char c : *answer)
      if (c != ' ' && c != '\t')
        a.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (a.empty())
      return default_yes;
    if (a == "y" || a == "yes")
      return true;
    if (a == "n" || a == "no")
      return false;
    std::cout << "Error: invalid input\n";
  }
}

int finish(const Outcome &outcome, const OutcomeLines &lines) {
  if (!outcome.message.empty()) {
    if (outcome.ok())
      echo(lines.done + outcome.message);
    else
      echo(lines.failed + outcome.message, lines.failed_to_stderr);
  }
  return exit_status(outcome);
}

int fail(std::string_view line) {
  return finish(Outcome::run_failed(std::string(line)), {"", "", true});
}

int run_main(int argc, char **argv,
             const std::function<int(const std::string &prog, const std::vector<std::string> &args)> &body) {
  std::string prog = argc > 0 ? argv[0] : "vaskit";
  // Started directly, the program is named by its file name.
  if (prog.find(' ') == std::string::npos) {
    const auto slash = prog.rfind('/');
    if (slash != std::string::npos)
      prog = prog.substr(slash + 1);
  }
  // The pre-pass looks at the whole argument list, the program name included.
  std::vector<std::string> args(argv, argv + argc);
  args = bare_option_prepass(args, BARE_OPTIONS);
  if (!args.empty())
    args.erase(args.begin());
  int status = 0;
  try {
    status = body(prog, args);
  } catch (const Exit &e) {
    std::cout.flush();
    return e.code;
  } catch (const Abort &) {
    std::cout.flush();
    std::cerr << "Aborted!\n";
    return 1;
  } catch (const std::exception &e) {
    std::cout.flush();
    // Error texts may carry names from files; control characters never reach the terminal.
    std::cerr << "❌ " << text::printable(e.what()) << "\n";
    return 1;
  }
  std::cout.flush();
  return status;
}

} // namespace vaskit::cli
