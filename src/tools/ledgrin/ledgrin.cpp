#include "tools/ledgrin/ledgrin.hpp"

#include "core/fs.hpp"
#include "core/text.hpp"
#include "tools/ledgrin/tool_help.hpp"
#include "vaskern/fileMg.hpp"

namespace vaskit::ledgrin {

vaskern::app_logging::Logger &log() {
  static vaskern::app_logging::Logger &logger = vaskern::app_logging::lazy_logger("Ledgrin");
  return logger;
}

const json DEFAULT_CONFIG = config::parse_json(R"json({
  "config": {"path": "./data_ledgrin", "dry_run": false},
  "excel_in": {"name_cell": "D6", "amount_cell": "P56"}
})json");

namespace {

std::string make_help_text() {
  struct Param {
    const char *key;
    const char *description;
  };
  static const Param params[] = {
      {"config.path", "(String) Directory path containing the target Excel files."},
      {"config.dry_run",
       "(Boolean) Set to True to preview renamed files without actually moving them."},
      {"excel_in.name_cell", "(String) The exact cell coordinate for the Name (e.g., \"D6\")."},
      {"excel_in.amount_cell",
       "(String) The exact cell coordinate for the Amount (e.g., \"P56\")."},
  };
  // "\b" alone on a line keeps the next paragraph's line breaks in the help output.
  // The first line is the one the host lists.
  std::string text = "\n" + std::string(TOOL_HELP) +
                     " \n"
                     "This tool relies entirely on a JSON configuration file.\n\n"
                     "\b\n[JSON Parameter Description]:\n";
  for (const Param &p : params) {
    std::string key = p.key;
    key.resize(std::max<std::size_t>(key.size(), 20), ' ');
    text += "* " + key + ": " + p.description + "\n";
  }
  text += "\n\b\n[Default config.json Template]:\n";
  return text + DEFAULT_CONFIG.dump(4) + "\n";
}

// The file's text as the configuration: UTF-8 JSON, without a byte-order mark.
json load_config(const std::string &path) {
  const std::string data = fs::read_file(path);
  if (!text::valid_utf8(data))
    throw config::ConfigError::worded("", path + ": not UTF-8 text");
  if (text::starts_with(data, "\xEF\xBB\xBF"))
    throw config::ConfigError::worded("", path + ": invalid JSON (line 1, column 1): unexpected "
                                                 "UTF-8 byte-order mark; save the file as UTF-8 "
                                                 "without one");
  try {
    return config::parse_json(data);
  } catch (const config::ParseError &e) {
    throw config::ConfigError::worded("", path + ": invalid JSON (line " + std::to_string(e.line) +
                                              ", column " + std::to_string(e.column) +
                                              "): " + e.what());
  }
}

} // namespace

const std::string HELP_TEXT = make_help_text();

const cli::Command<Options> &ledgrin_command() {
  static const cli::Command<Options> cmd{
      .name = "ledgrin",
      .help = HELP_TEXT,
      .options = {cli::json_config_option<Options>(),
                  cli::generate_config_option<Options>(
                      "Generate a config_expense_template.json in the current directory")}};
  return cmd;
}

int cmd_ledgrin(const Options &options) {
  // ledgrin reads its file itself: a file it cannot parse ends the command with the reason.
  const auto resolved = vaskern::fileMg::start_json_command(
      options.generate_config, options.config,
      {.template_mapping = DEFAULT_CONFIG,
       .template_file = "config_expense_template.json",
       .missing_hint = "Hint: Run 'vas-kit ledgrin --help' to see the template.",
       .read = load_config});
  if (!resolved.section)
    return resolved.status;
  // A workbook left unmoved is a failure the caller's script must see.
  return cli::finish(process_expense_rename(*resolved.section));
}

} // namespace vaskit::ledgrin
