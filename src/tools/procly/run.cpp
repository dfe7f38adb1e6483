// The matching run: read both sides, join on purchase order and quantity, order, summarise by
// month and write the result workbook.
#include "core/text.hpp"
#include "tools/procly/procly.hpp"
#include "vaskern/fileMg.hpp"

#include <cstdlib>

namespace vaskit::procly {

namespace excel = vaskern::excelTools;
namespace fileMg = vaskern::fileMg;

namespace {

// Delivery dates as "YYYY-MM-DD" text; a value that is no date becomes missing. Workbooks
// hold dates as day numbers; a CSV export holds text. Each side's column keeps its own order
// of day and month: an export and a customer's workbook need not agree.
void rewrite_dates(Table &table, bool serial_numbers) {
  if (table.has("RDD"))
    excel::dates_to_iso_text(table.column("RDD"), serial_numbers);
}

std::string shown(const std::string &s) {
  return text::printable(s);
}

} // namespace

Table monthly_summary(const Table &result) {
  return excel::monthly_sums(result.column("SYSTEM_RDD"), result.column("QTY"),
                             result.column("CUSTOMER_RDD"), result.column("QTY"),
                             {"SYS_RDD", "CUS_RDD"});
}

Outcome Procly::run() {
  log().info("Starting Procly process on system data: " + shown(system_data_path));
  if (!fileMg::check_file_exists(system_data_path, {".csv"}))
    return Outcome::run_failed("System data file not found at: " + system_data_path);
  log().info("Loading System data from: " + shown(system_data_path));
  try {
    return run_steps();
  } catch (const std::exception &e) {
    log().error("Error during data processing");
    return Outcome::run_failed(e.what());
  }
}

Outcome Procly::run_steps() {
  const excel::CellMapping sys_mapping = {
      {"PO", sys_po_cell},         {"SO", sys_so_cell},
      {"SO_POS", sys_so_pos_cell}, {"SO_SUFFIX", sys_so_suffix_cell},
      {"QTY", sys_qty_cell},       {"RDD", sys_rdd_cell}};
  system_df = excel::read_csv_by_cells(system_data_path, sys_mapping);
  rewrite_dates(*system_df, false);
  log().info("Successfully loaded system CSV with " + std::to_string(system_df->rows()) + " rows.");

  if (!fileMg::check_file_exists(customer_data_path, {".xlsx", ".xls"}))
    return Outcome::run_failed("Customer data file not found at: " + customer_data_path);
  log().info("Loading customer data from: " + shown(customer_data_path));
  const excel::CellMapping cell_mapping = {{"PO", po_cell}, {"QTY", qty_cell}, {"RDD", rdd_cell}};
  customer_df = excel::read_excel_by_cells(customer_data_path, cell_mapping);
  rewrite_dates(*customer_df, true);

  const char *vas = std::getenv("VAS");
  if (vas != nullptr && std::string_view(vas) == "1") {
    log().debug("Debug mode is ON. Saving intermediate System & Customer DataFrames...");
    const std::string debug_path = fileMg::get_output_file_path(output_dir, "debug_data.xlsx");
    excel::write_formatted_excel(
        debug_path,
        {{"SYS_DATA", {{&*system_df, false, 0}}}, {"CUS_DATA", {{&*customer_df, false, 0}}}},
        log());
    log().debug("✅ Debug files saved to " + shown(output_dir));
  }

  if (system_df->empty() || customer_df->empty()) {
    log().error("System or Customer data is missing/empty. Cannot proceed with matching.");
    return Outcome::run_failed("Data extraction failed or data is empty.");
  }

  log().info("Matching System and Customer data by PO and QTY...");
  result_df = excel::merge_exact_match(*system_df, *customer_df, {"PO", "QTY"}, {"_SYS", "_CUST"});
  if (result_df->empty()) {
    log().warning("Merge resulted in an empty dataframe. No matching records found.");
    return Outcome::done("Process completed, but no matching records found.");
  }
  result_df->rename({{"RDD_SYS", "SYSTEM_RDD"}, {"RDD_CUST", "CUSTOMER_RDD"}});
  result_df =
      result_df->select({"PO", "SO", "SO_POS", "SO_SUFFIX", "QTY", "SYSTEM_RDD", "CUSTOMER_RDD"});
  result_df = result_df->sort_by({"PO", "SO_POS", "QTY"});
  const Table result_by_rdd = result_df->sort_by({"SYSTEM_RDD", "PO"});
  log().info("Matching complete. Found " + std::to_string(result_df->rows()) + " matched records.");

  std::optional<Table> summary_df;
  try {
    summary_df = monthly_summary(*result_df);
  } catch (const std::exception &e) {
    log().warning(std::string("Failed to create summary table: ") + e.what());
  }

  const std::string result_path = fileMg::get_output_file_path(output_dir, "result.xlsx");
  std::vector<excel::Block> bypo_config = {{&*result_df, false, 0}};
  if (summary_df && !summary_df->empty())
    bypo_config.push_back({&*summary_df, true, static_cast<int>(result_df->cols()) + 2});
  const excel::Sheets sheets_data = {{"byPO", bypo_config},
                                     {"byRDD_SYS", {{&result_by_rdd, false, 0}}}};
  if (excel::write_formatted_excel(result_path, sheets_data, log())) {
    log().info("✅ Result Excel saved and formatted at: " + shown(result_path));
    return Outcome::done("Processed System & Customer Data and generated Result successfully.");
  }
  return Outcome::run_failed("Failed to save result excel file.");
}

} // namespace vaskit::procly
