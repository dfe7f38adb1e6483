// ledgrin: expense workbooks renamed after a name cell and an amount cell of their active sheet
// and moved into a "results" folder, with a backup copy in a "backup" folder; a dry run only
// reports.
//
// Error contract of a tool: cmd_ledgrin returns the exit status, its reason printed. Without -c
// it prints why and ends with status 1. A file that cannot be read or parsed, or a configuration
// the pass cannot use at all, is a config::ConfigError thrown before any workbook is touched; it
// reaches cli::run_main, which prints one "❌" line with status 1. The pass logs each workbook it
// skips or cannot move and goes on; its Outcome's failed items are the unmoved workbooks, which
// cli::finish turns into status 1 when there are any (skipped ones do not count).
#pragma once

#include "core/command.hpp"
#include "core/config.hpp"
#include "core/result.hpp"
#include "formats/xlsx/workbook.hpp"
#include "vaskern/app_logging.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vaskit::ledgrin {

using json = vaskit::config::json;
using CellValue = vaskit::xlsx::CellValue;

// The tool's logger ("Ledgrin").
vaskern::app_logging::Logger &log();

// The built-in configuration: what --generate-config writes and what the help shows.
extern const json DEFAULT_CONFIG;
// The command's help: the description, the parameter list and the template.
extern const std::string HELP_TEXT;

// The command line of ledgrin: one member per option, filled by cli::parse from
// ledgrin_command().
struct Options {
  std::optional<std::string> config; // -c: an existing path
  bool generate_config = false;
};

// The command: name, help text, epilog and options, each option bound to its member.
const cli::Command<Options> &ledgrin_command();

// Writes the template, or reads the JSON file named by -c and runs the renaming pass. Returns 1
// without a configuration or when the template cannot be written; a file that cannot be read
// or parsed throws (the command layer reports it, status 1); after a pass the status is 1 when a
// workbook could not be moved, else 0 (skipped workbooks do not count).
int cmd_ledgrin(const Options &options);

// Thrown for a configuration the pass cannot use at all (not a mapping, a section that is no
// mapping, a path that is no text or names no folder): the configuration layer's one error type,
// worded in the tool's own lines.
using ConfigError = config::ConfigError;

// The renaming pass over the workbooks directly in the configured folder. `config_dict` must be
// a mapping (ConfigError otherwise, before anything is done). Each workbook's failure is logged
// and the pass goes on. Its outcome's failed items are the workbooks that could not be moved (a
// skipped one is no failure); it prints nothing more.
Outcome process_expense_rename(const json &config_dict);

// The values of the cells named by `cell_locations` ("D6", "$p$56") on the workbook's active
// sheet, in the same order: the result cached for a formula, std::monostate for an empty cell.
// Any failure (no workbook, a damaged one, a coordinate that names no single cell) logs
// "Error reading excel <path>: <reason>" and gives as many std::monostate values.
std::vector<CellValue> get_excel_cell_value(const std::string &file_path,
                                            const std::vector<std::string> &cell_locations);

// A value made usable in a file name: its text form without \ / * ? : " < > |, then trimmed of
// white space at both ends; "Unknown" for no value.
std::string sanitize_filename(const CellValue &name);

// The 13-character time code of a new name: month, day, "_", hour, minute, second and the
// hundredths of a second ("1207_23165512"), in local time.
std::string datecode(std::chrono::system_clock::time_point now);

// Test seam: the clock the pass reads once per workbook (the system clock when empty).
using Clock = std::function<std::chrono::system_clock::time_point()>;
void set_clock(Clock clock);

} // namespace vaskit::ledgrin
