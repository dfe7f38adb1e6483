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

} // namespace vaskit::xlsx
