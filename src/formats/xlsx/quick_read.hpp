// Reading a few cells of a workbook without loading its sheets.
#pragma once

#include "formats/xlsx/workbook.hpp"

#include <filesystem>
#include <vector>

namespace vaskit::xlsx {

// The values of `cells` on the active sheet of the workbook at `path`, in the order asked: the
// same values Workbook::open(path).active_sheet().value() gives (for a formula, the result
// cached in the file). The sheet's XML is inflated and scanned block by block only as far as
// the last row asked for, and the shared strings only as far as the highest string one of the
// cells refers to; no part is held in memory whole. Throws Error naming the file when the
// workbook cannot be read, its scanned part is malformed, or the active sheet is a chart sheet.
std::vector<CellValue> read_active_cells(const std::filesystem::path &path,
                                         const std::vector<CellRef> &cells);

// The values of whole columns of the active sheet, each read down from its start cell to the
// column's last cell: columns[i][k] is the cell at row starts[i].row + k of column
// starts[i].col (trailing empty cells are not included). The sheet's XML is scanned once,
// block by block, and only the wanted cells are kept. Values and errors as read_active_cells.
std::vector<std::vector<CellValue>> read_active_columns(const std::filesystem::path &path,
                                                        const std::vector<CellRef> &starts);

} // namespace vaskit::xlsx
