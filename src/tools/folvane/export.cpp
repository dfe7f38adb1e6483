// The expense workbook: one row group per receipt in columns M, N, P and Q of the active sheet,
// written into the user's own workbook so that its form, formulas and macros stay as they are.
#include "tools/folvane/folvane.hpp"

#include "core/command.hpp"
#include "core/text.hpp"
#include "formats/xlsx/workbook.hpp"

#include <filesystem>
#include <limits>

namespace vaskit::folvane {

namespace fs = std::filesystem;

namespace {

constexpr int kFirstRow = 5;
constexpr int kRowStep = 3;
constexpr int kColDate = 13;        // M
constexpr int kColType = 14;        // N
constexpr int kColDescription = 16; // P
constexpr int kColAmount = 17;      // Q

// A configuration or amount value as a cell value; null keeps what the cell holds.
std::optional<xlsx::CellInput> cell_input(const json &v) {
  if (v.is_null())
    return xlsx::CellInput{};
  if (v.is_string())
    return xlsx::CellInput{v.get<std::string>()};
  if (v.is_number_unsigned()) {
    const auto u = v.get<unsigned long long>();
    if (u <= static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
      return xlsx::CellInput{static_cast<long long>(u)};
    return xlsx::CellInput{static_cast<double>(u)};
  }
  if (v.is_number_integer())
    return xlsx::CellInput{v.get<long long>()};
  if (v.is_number_float())
    return xlsx::CellInput{v.get<double>()};
  return std::nullopt;
}

const xlsx::Alignment kCentred{"center", "center", false};
const xlsx::Alignment kLeft{"left", "center", false};
const xlsx::Alignment kLeftWrapped{"left", "center", true};

} // namespace

bool Folvaner::export_receipts_to_excel(const std::vector<ReceiptInfo> &receipt_infos,
                                        const std::optional<std::string> &output_excel_path) {
  const std::string out_path =
      output_excel_path && !output_excel_path->empty() ? *output_excel_path : output_excel;
  const std::string shown_path = text::printable(out_path);

  // The constructor refuses such a value already; the field is public, so a boolean or a list
  // set later is still stopped before the workbook is opened rather than halfway through the rows.
  const auto expense_type = cell_input(default_expense_type);
  if (!expense_type && !receipt_infos.empty())
    throw ConfigError("default_expense_type", "text or a number", default_expense_type);

  const fs::path out_dir = fs::path(out_path).parent_path();
  if (!out_dir.empty() && !fs::exists(out_dir))
    fs::create_directories(out_dir);

  const bool is_xlsm = text::ends_with(text::lower(out_path), ".xlsm");

  std::optional<xlsx::Workbook> wb;
  xlsx::Worksheet *ws = nullptr;
  // Only a path that surely names nothing gets a new workbook; one that cannot be examined (a
  // link loop, a folder without search permission) is loaded and its failure reported.
  std::error_code status_error;
  const bool absent = fs::status(out_path, status_error).type() == fs::file_type::not_found;
  if (!absent) {
    try {
      wb.emplace(xlsx::Workbook::open(out_path));
      // Saved under a plain workbook name, a macro project would make the file unreadable to
      // the spreadsheet application.
      if (!is_xlsm)
        wb->remove_macro_project();
      ws = &wb->active_sheet();
      log().info("📖 已成功載入現有 Excel 工具: " + shown_path);
    } catch (const std::exception &e) {
      log().error("❌ 載入現有 Excel 失敗 " + shown_path + ": " +
                  reason_without_path(e.what(), out_path));
      return false;
    }
  } else {
    wb.emplace(xlsx::Workbook::create(out_path, "PayList"));
    ws = &wb->active_sheet();
    log().warning("⚠️ 找不到現有的 " + shown_path + "，已建立新活頁簿。");
  }

  int current_row = kFirstRow;
  try {
    for (const ReceiptInfo &info : receipt_infos) {
      const std::string date_val = format_date_slash(info.date);
      const std::string desc_val = build_description(info, conf, info.filename);
      const json amount_val = format_amount_num(to_json(info.total));

      ws->set_value(current_row, kColDate, date_val);
      ws->set_alignment(current_row, kColDate, kCentred);
      ws->set_value(current_row, kColType, *expense_type);
      ws->set_alignment(current_row, kColType, kLeft);
      ws->set_value(current_row, kColDescription, desc_val);
      ws->set_alignment(current_row, kColDescription, kLeftWrapped);
      // format_amount_num gives back text, a number or null, never anything else.
      ws->set_value(current_row, kColAmount, cell_input(amount_val).value_or(xlsx::CellInput{}));
      ws->set_alignment(current_row, kColAmount, kCentred);

      current_row += kRowStep;
    }
  } catch (const std::exception &e) {
    // A row the form cannot take (a cell inside a merged range of the form) fails the whole
    // export: half the rows saved would pass for a complete one.
    log().error("❌ 儲存 Excel 失敗 " + shown_path + ": " + text::printable(e.what()));
    return false;
  }

  // The form's totals depend on the cells just written; cached results would be stale.
  wb->set_full_calc_on_load();
  try {
    wb->save();
  } catch (const std::exception &e) {
    log().error("❌ 儲存 Excel 失敗 " + shown_path + ": " + reason_without_path(e.what(), out_path));
    return false;
  }
  log().info("🎉 [EXCEL] 成功更新 Excel 報表: " + shown_path);
  cli::echo("🎉 成功寫入 Excel 報表: " + shown_path + " (自 M5/N5/P5/Q5 依序寫入，間隔 3 列)");
  return true;
}

} // namespace vaskit::folvane
