// procly: system order data (CSV) matched against customer order data (a workbook) on purchase
// order and quantity, summed per month of the delivery dates, written to a result workbook.
//
// Error contract of a tool: cmd_procly returns the exit status, its reason printed. Without -c,
// or with a file the loader cannot use (it prints why), the command ends with status 1 before
// anything is read. Settings are never refused: an absent key takes its default, a subsection
// that is not a mapping counts as empty. Procly::run() reports a missing input, an empty
// extraction or an unwritable result as a failed run's Outcome with its message; cli::finish
// prints "Success: " or "Failed: " and the message on standard output, status 1 for a failed
// run. What the command does not catch reaches cli::run_main: one "❌" line,
// status 1.
#pragma once

#include "core/command.hpp"
#include "core/config.hpp"
#include "core/result.hpp"
#include "vaskern/app_logging.hpp"
#include "vaskern/excel/excelTools.hpp"

#include <optional>
#include <string>

namespace vaskit::procly {

using json = vaskit::config::json;
using Table = vaskern::excelTools::Table;

// The tool's logger ("Procly").
vaskern::app_logging::Logger &log();

// The command line of procly: one member per option, filled by cli::parse from
// procly_command().
struct Options {
  std::optional<std::string> config; // -c: an existing path
  bool generate_config = false;
};

// The command: name, help text, epilog and options, each option bound to its member.
const cli::Command<Options> &procly_command();

// Writes the template, or loads the -c file and runs a Procly on its "config" section, printing
// "Success: " or "Failed: " with the run's message. Returns 0 after a template written or a run
// that succeeded; 1 without -c, for a file the loader cannot use (the loader printed why), a
// template that could not be written, or a failed run.
int cmd_procly(const Options &options);

// The template --generate-config writes, built anew on each call.
json default_cfg_template();

class Procly {
public:
  // Reads the settings of a "config" section; absent keys take their defaults (a section that
  // is not a mapping counts as empty). Values that are not text are used as their text form.
  explicit Procly(const json &config);

  // One matching run; the message says what happened.
  vaskit::Outcome run();

  std::string system_data_path;
  std::string customer_data_path;
  std::string output_dir;
  std::string sys_po_cell, sys_so_cell, sys_so_pos_cell, sys_so_suffix_cell, sys_qty_cell,
      sys_rdd_cell;
  std::string po_cell, qty_cell, rdd_cell;

  // Set by run(), kept afterwards (nullopt before).
  std::optional<Table> system_df, customer_df, result_df;

private:
  vaskit::Outcome run_steps();
};

// The monthly summary of a joined table: rows "SYS_RDD" and "CUS_RDD", one column per month of
// "SYSTEM_RDD" / "CUSTOMER_RDD" ("24-Mar"), sums of "QTY". Throws when a column is missing or a
// quantity is no number.
Table monthly_summary(const Table &result);

} // namespace vaskit::procly
