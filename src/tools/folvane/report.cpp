// The report pass: old report removed, receipts renamed and listed, every receipt page laid into
// the next cell of the grid, and the merged report saved.
#include "tools/folvane/folvane.hpp"

#include "core/command.hpp"
#include "core/fs.hpp"
#include "core/text.hpp"
#include "formats/pdf/text.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace vaskit::folvane {

namespace fs = std::filesystem;

Outcome Folvaner::run() {
  // The report's path comes from the configuration file: no control sequences to the terminal.
  const std::string shown_output = text::printable(output_file);
  // A path that cannot be examined (a link loop) holds no old report; the save reports it.
  std::error_code exists_error;
  if (fs::exists(output_file, exists_error)) {
    // unlink, not remove: a folder in the report's place is not ours to delete.
    if (::unlink(output_file.c_str()) == 0) {
      log().info("🗑️ 已先移除舊有的合併檔案: " + shown_output);
    } else {
      log().warning("⚠️ 移除舊檔案失敗 " + shown_output + ": " + std::strerror(errno));
    }
  }

  // One session for the whole pass; each receipt's text is read once, by the renaming.
  const pdf::TextSession text_session;
  auto already_read = rename_and_read(false);

  const auto files = get_file_list();
  if (files.empty()) {
    log().warning("No PDF files found to merge.");
    return Outcome::done();
  }

  const auto [cell_w, cell_h] = calculate_cell_layout();
  std::optional<pdf::Page> current_output_page;
  long long item_index = 0;
  const long long items_per_page = cols * rows;
  log().info("[STEP 1] Processing " + std::to_string(files.size()) + " files...");

  std::vector<ReceiptInfo> receipt_infos;
  std::size_t placed = 0;
  for (const auto &[f_path, f_name] : files) {
    // File names and receipt text go to the terminal: no control sequences from them.
    const std::string shown_name = text::printable(f_name);
    try {
      const auto found = already_read.find(vaskit::fs::abspath(f_path));
      ReceiptInfo info =
          found != already_read.end() ? std::move(found->second) : extract_receipt_info(f_path);
      info.filename = f_name;
      receipt_infos.push_back(info);

      std::string dt_text = present(info.datetime) ? *info.datetime
                            : present(info.date)   ? *info.date
                                                   : "未知";
      std::string addr_text = present(info.address) ? " | 地址: " + *info.address : "";
      std::string tail = text::printable("檔案: " + f_name + " | 日期時間: " + dt_text +
                                         " | 總計: $" + text_or_none(info.total) + addr_text);
      log().info("✅ " + tail);
      cli::echo("[收據資訊] " + tail);

      pdf::Reader reader(f_path);
      for (const auto &source_page : reader.pages()) {
        if (item_index % items_per_page == 0) {
          if (current_output_page) {
            writer.add_page(*current_output_page);
          }
          current_output_page = writer.create_blank_page(page_width, page_height);
          item_index = 0;
        }
        const long long col = item_index % cols;
        const long long row = item_index / cols;
        const double x_pos = margin + static_cast<double>(col) * cell_w;
        const double y_pos = page_height - margin - static_cast<double>(row + 1) * cell_h;

        if (auto params = _get_layout_params(source_page, {x_pos, y_pos, cell_w, cell_h})) {
          current_output_page->merge_transformed_page(source_page, placement(*params));
          ++placed;
        }
        if (draw_grid) {
          current_output_page->merge_page(_create_red_frame_page(x_pos, y_pos, cell_w, cell_h));
        }
        ++item_index;
      }
    } catch (const std::exception &e) {
      log().error("Failed " + shown_name + ": " + text::printable(e.what()));
    }
  }

  if (current_output_page) {
    writer.add_page(*current_output_page);
  }
  std::size_t unwritten = 0; // outputs that could not be written
  // Pages of blank cells only are no report; the old one is gone, so nothing stale is left.
  if (placed == 0) {
    log().warning("No receipt pages could be placed; merged report not written: " + shown_output);
  } else if (!_save_file()) {
    ++unwritten;
  }
  // After the report, and even when its save failed: the workbook reports its own outcome.
  if (!receipt_infos.empty() && !export_receipts_to_excel(receipt_infos)) {
    ++unwritten;
  }
  return Outcome::items_failed(unwritten);
}

bool Folvaner::_save_file() {
  const fs::path out(output_file);
  const fs::path output_dir = out.parent_path();
  if (!output_dir.empty() && !fs::exists(output_dir)) {
    fs::create_directories(output_dir);
  }
  try {
    // Written beside the target and renamed over it: a failed save leaves no truncated report.
    writer.write(output_file);
    const std::string shown_output = text::printable(output_file);
    log().info("[DONE] Successfully saved merged report: " + shown_output);
    cli::echo("Success: " + shown_output);
    return true;
  } catch (const std::exception &e) {
    log().error("Save failed: " + text::printable(e.what()));
    return false;
  }
}

} // namespace vaskit::folvane
