#include "support/workbook_writer.hpp"

#include <stdexcept>
#include <xlsxwriter.h>

namespace vaskit::testing {

void write_book(const std::filesystem::path &path, const BookPlan &plan) {
  if (path.has_parent_path())
    std::filesystem::create_directories(path.parent_path());
  lxw_workbook *book = workbook_new(path.c_str());
  if (book == nullptr)
    throw std::runtime_error("cannot create " + path.string());
  lxw_format *date_format = workbook_add_format(book);
  format_set_num_format(date_format, "yyyy-mm-dd");
  std::vector<lxw_worksheet *> sheets;
  for (const BookSheet &sheet : plan.sheets) {
    lxw_worksheet *ws = workbook_add_worksheet(book, sheet.name.c_str());
    sheets.push_back(ws);
    for (const auto &[address, value] : sheet.cells) {
      const lxw_row_t row = lxw_name_to_row(address.c_str());
      const lxw_col_t col = lxw_name_to_col(address.c_str());
      if (const auto *text = std::get_if<std::string>(&value)) {
        worksheet_write_string(ws, row, col, text->c_str(), nullptr);
      } else if (const auto *number = std::get_if<double>(&value)) {
        worksheet_write_number(ws, row, col, *number, nullptr);
      } else if (const auto *flag = std::get_if<bool>(&value)) {
        worksheet_write_boolean(ws, row, col, *flag ? 1 : 0, nullptr);
      } else {
        const BookDate &d = std::get<BookDate>(value);
        lxw_datetime when = {d.year, d.month, d.day, 0, 0, 0};
        worksheet_write_datetime(ws, row, col, &when, date_format);
      }
    }
  }
  if (plan.active >= 0 && static_cast<std::size_t>(plan.active) < sheets.size())
    worksheet_activate(sheets[static_cast<std::size_t>(plan.active)]);
  if (workbook_close(book) != LXW_NO_ERROR)
    throw std::runtime_error("cannot write " + path.string());
}

} // namespace vaskit::testing
