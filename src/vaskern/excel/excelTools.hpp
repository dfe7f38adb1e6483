// Cell-mapped readers of order files (CSV and workbooks), the exact-match join and the
// formatted workbook writer.
#pragma once

#include "vaskern/app_logging.hpp"
#include "vaskern/excel/table.hpp"

#include <string>
#include <utility>
#include <vector>

namespace vaskern::excelTools {

// Column name -> cell address ("H2"), in the order the columns are wanted.
using CellMapping = std::vector<std::pair<std::string, std::string>>;

// How a mapping is read, for both readers: the address names the first value of its column
// (the header above it is not read); each column reads down from its own row; the table ends
// at the last row where any mapped column holds a value, and rows whose mapped cells are all
// empty are left out. An address that is not one cell ("H", "2H", "H0", "H2:H9") throws
// std::invalid_argument naming the column.

// A CSV file in two steps: its UTF-8 text (a byte-order mark is dropped) split into records of
// fields by csv_records (csv.hpp), then each mapped field typed. A field that reads wholly as a
// decimal number (blanks around it allowed) becomes a number, except a text with leading zeros
// ("0045") or with more digits than a number keeps exactly, which stays text as written; an
// empty field is missing; a row too short for a column gives a missing value there. Throws
// std::runtime_error naming the file and the line for text that is not UTF-8 or a quoted field
// that never ends.
Table read_csv_by_cells(const std::string &path, const CellMapping &mapping);

// The active sheet of a workbook (.xlsx, .xlsm): texts, numbers, and dates from date-formatted
// cells; an empty text is missing; an error value is its text ("#N/A"). A .xls file is refused
// (std::runtime_error: there is no reader for that format); a damaged workbook throws the
// workbook layer's error.
Table read_excel_by_cells(const std::string &path, const CellMapping &mapping);

// The inner join of `left` and `right` on `keys`: for each left row in order, each right row
// that agrees on every key, in order. Keys agree when both read as numbers of equal value
// (numbers, and texts that read wholly as a number without leading zeros: "10" matches 10.0)
// or as equal texts otherwise; a missing key never matches. Key columns appear once (the left
// values); other columns present on both sides get `suffixes` (left, right). Throws
// MissingColumn when a side lacks a key.
Table merge_exact_match(const Table &left, const Table &right, const std::vector<std::string> &keys,
                        const std::pair<std::string, std::string> &suffixes);

// One block of a sheet: a table whose header row is the sheet's first row (bold) with its
// values below, starting at column `startcol` (0 = A); with `index`, the table's row labels
// fill the block's first column under an empty header cell. The table is not copied: it must
// outlive the call that writes it.
struct Block {
  const Table *df = nullptr;
  bool index = false;
  int startcol = 0;
};
// Sheets in order: name and blocks.
using Sheets = std::vector<std::pair<std::string, std::vector<Block>>>;

// Writes a new workbook at `path`, atomically (the file is whole or absent), creating its
// folder when missing: column widths fitted to the content, missing values as blank cells,
// texts always as text (never a formula), numbers as numbers, dates as "YYYY-MM-DD" text.
// Returns whether the workbook was written; a failure is logged on `logger` first.
bool write_formatted_excel(const std::string &path, const Sheets &sheets,
                           const app_logging::Logger &logger);

} // namespace vaskern::excelTools
