// folvane: ride receipts (PDF) renamed after their date, time and amount, merged several to an A4
// page into one report PDF, and entered into the expense workbook.
//
// Error contract of a tool: cmd_folvane returns the exit status, its reason printed. Folvaner's
// constructor throws ConfigError for a value the pass cannot use, before anything is touched;
// the pass (run) reports through its own lines and returns an Outcome whose failed items are the
// outputs (report, workbook) it could not write; a receipt that fails is logged and the pass goes
// on with the next one. What the pass does not catch reaches cli::run_main: one "❌" line,
// status 1. The tool's other headers (numbers, receipt_text) serve its own sources and its unit
// tests.
#pragma once

#include "core/command.hpp"
#include "core/config.hpp"
#include "core/result.hpp"
#include "formats/pdf/nup.hpp"
#include "vaskern/app_logging.hpp"
#include "vaskern/fileMg.hpp"

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vaskit::folvane {

using json = vaskit::config::json;

// The tool's logger ("Folvane").
vaskern::app_logging::Logger &log();

// The built-in configuration: {"config": {...}}; what --generate-config writes and what -i uses
// for the expense description.
extern const json DEFAULT_CONFIG;

// A configuration value that the pass cannot work with, named by its key path in the message
// (e.g. "layout.cols must be a positive integer, got 0").
using config::ConfigError;

// What one receipt says. Every value is text as found on the receipt, or absent.
struct ReceiptInfo {
  std::optional<std::string> date;
  std::optional<std::string> time;
  std::optional<std::string> datetime;
  std::optional<std::string> total;
  std::optional<std::string> pickup_address;
  std::optional<std::string> dropoff_address;
  std::optional<std::string> address;
  std::vector<std::string> addresses;  // every address line, in text order, each once
  std::optional<std::string> filename; // set by the report pass: the file's base name
};

// A value's printed form: the text, or "None" when absent.
std::string text_or_none(const std::optional<std::string> &v);
// True when the text is there and not empty: what counts as a value in the report lines.
bool present(const std::optional<std::string> &v);
// A configuration value as it appears in an error message: compact JSON, safe for a terminal.
using config::shown;
// The reason of an error about `path`, safe for a terminal: the libraries often begin their
// messages with the path, which the tool's own line already names, so a leading "<path>: " goes.
std::string reason_without_path(std::string_view what, std::string_view path);
// An optional text as a configuration value (null when absent), e.g. for format_amount_num.
json to_json(const std::optional<std::string> &v);

// Where and how large one receipt page is drawn in its cell.
struct LayoutParams {
  double scale = 0;
  double tx = 0;
  double ty = 0;
  double rot = 0; // the page's /Rotate as stored (a real such as 90.5 must not pass for 90)
  double x0 = 0;
  double y0 = 0;
  double src_w = 0;
  double src_h = 0;
};

// The transformation that draws a receipt page into its cell: crop box corner to the origin,
// the page turned upright by its /Rotate (only 90, 180 and 270 turn it), scaled, moved to
// (tx, ty).
pdf::Matrix placement(const LayoutParams &p);

// (ok, path): the new path when a file got (or, in a dry run, would get) its standard name;
// the given path when it keeps its name.
struct RenameResult {
  bool ok = false;
  std::string path;
};

// The application: the receipts of one folder renamed, their pages merged several to an A4 page
// into the report PDF, and their values entered into the expense workbook.
class Folvaner {
public:
  // `conf` is the "config" section. Throws ConfigError, before anything touches the disk, when
  // a value is of a kind the pass cannot use: a folder that is not text, cols or rows that are
  // not positive integers, a margin that is not a number or not smaller than half the page's
  // shorter side, a layout or address table that is not a mapping.
  explicit Folvaner(json conf);

  // The receipts of the input folder: full paths and file names, sorted by name (code-point
  // order), without the report's own output files. Empty lists when the folder is missing.
  vaskern::fileMg::FileList get_file_list() const;

  // Reads one receipt's date, time, total and addresses. Never throws: a file that cannot be
  // read is logged and what was found so far is returned.
  static ReceiptInfo extract_receipt_info(const std::string &pdf_path);

  // "receipt_<mmdd>_<hhmm>_<amount>.pdf"; `fallback_name` does not change the result.
  static std::string
  generate_receipt_filename(const ReceiptInfo &info,
                            const std::optional<std::string> &fallback_name = std::nullopt);
  // Renames one receipt to its standard name in its folder; never replaces an existing file.
  static RenameResult rename_receipt_file(const std::string &pdf_path, bool dry_run = false);
  // Renames every receipt of the input folder, one console line per file.
  void rename_input_folder_files(bool dry_run = false) const;

  // The company label of the first entry whose keyword occurs in the address (spaces ignored);
  // the address itself when none matches; "" for an empty address.
  static std::string map_address(const std::optional<std::string> &addr_str,
                                 const json &mapping_dict);
  static bool check_address_match(const std::optional<std::string> &addr_str,
                                  const json &mapping_dict);
  // "<pickup>-><dropoff> <suffix>" with places mapped to company labels; logs the receipts whose
  // places are missing or unknown. `conf_dict` null or empty means DEFAULT_CONFIG's section.
  static std::string build_description(const ReceiptInfo &info, const json &conf_dict = json(),
                                       const std::optional<std::string> &filename = std::nullopt);
  // "YYYY/MM/DD" from a written or numeric date; the input unchanged when it holds no date;
  // "" for an empty input.
  static std::string format_date_slash(const std::optional<std::string> &date_str);
  // An integer or real number from an amount text ("1,280" -> 1280, "$ 75.50" -> 75.5); the
  // input unchanged when it is empty or not a number.
  static json format_amount_num(const json &amount_str);

  // Writes one row group per receipt into the expense workbook; true when it was saved.
  bool export_receipts_to_excel(const std::vector<ReceiptInfo> &receipt_infos,
                                const std::optional<std::string> &output_excel_path = std::nullopt);

  // (cell_w, cell_h) of the grid inside the margin.
  std::pair<double, double> calculate_cell_layout() const;
  // An output-size page of `writer` that strokes a red frame round the rectangle.
  pdf::Page _create_red_frame_page(double x, double y, double w, double h);
  // Scale and position of `source_page` centred in the cell (x, y, width, height); nothing for
  // a page whose box has no area.
  std::optional<LayoutParams> _get_layout_params(const pdf::SourcePage &source_page,
                                                 const std::array<double, 4> &target_rect) const;

  // The report pass: rename, list, read, lay out, save, export. Both the report and the
  // workbook are attempted; the outcome counts those that could not be written (each failure has
  // logged its line) and has no message of its own. Nothing to write is no failure.
  Outcome run();
  // Writes `writer` to `output_file`; false (after its error line) when that failed.
  bool _save_file();

  json conf;
  std::string input_folder;
  std::string output_folder;
  std::string output_file;
  std::string output_excel;
  long long cols = 2;
  long long rows = 1;
  bool is_landscape = false;
  double margin = 20;
  bool draw_grid = false;
  double page_width = 595;
  double page_height = 842;
  json default_expense_type;
  pdf::Writer writer; // the report being built; starts empty

private:
  // Renames every receipt of the input folder, one console line per file, and hands back what
  // was read from each receipt, keyed by its absolute path after renaming, so that the report
  // pass reads no receipt twice. Receipts that could not be read are left out: the report pass
  // reads (and reports) them again.
  std::map<std::string, ReceiptInfo> rename_and_read(bool dry_run) const;
  // rename_receipt_file, also handing back what was read; `read_ok` is false when the file was
  // missing or its text could not be read.
  static RenameResult rename_read_receipt(const std::string &pdf_path, bool dry_run,
                                          ReceiptInfo &info, bool &read_ok);
  // extract_receipt_info, telling whether the text could be read.
  static bool read_receipt(const std::string &pdf_path, ReceiptInfo &info);
};

// Checks the values of a "config" section; throws ConfigError naming the first bad key.
void validate_config(const json &conf);

// The command line of folvane: one member per option, filled by cli::parse from
// folvane_command().
struct Options {
  std::optional<std::string> config; // -c: an existing path
  bool generate_config = false;
  std::optional<std::string> extract_info; // -i: an existing path
};

// The command: name, help text, epilog and options, each option bound to its member.
const cli::Command<Options> &folvane_command();

// The command: -i inspection, --generate-config, or the report pass from the -c file. Returns
// the exit status (its reason printed): 1 also when the pass could not write the report or the
// workbook.
int cmd_folvane(const Options &options);

} // namespace vaskit::folvane
