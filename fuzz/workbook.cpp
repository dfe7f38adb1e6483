// The workbook reader and its in-place edit. The input is a zip package, or the text form of one
// (harness.hpp). A workbook that cannot be read ends in xlsx::Error. What opens is read by the
// workbook and by the quick cell and column readers, which must agree; one cell is then written
// and the workbook saved and read back: the cell holds what was written and every other cell
// what it held.
#include "formats/xlsx/workbook.hpp"
#include "formats/xlsx/quick_read.hpp"
#include "formats/xlsx/styles.hpp"
#include "harness.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace xlsx = vaskit::xlsx;

namespace {

constexpr int kRows = 24;
constexpr int kCols = 12;

bool same(const xlsx::CellValue &a, const xlsx::CellValue &b) {
  if (std::holds_alternative<double>(a) && std::holds_alternative<double>(b) &&
      std::isnan(std::get<double>(a)) && std::isnan(std::get<double>(b)))
    return true;
  return a == b;
}

std::string shown(const xlsx::CellValue &v) {
  if (const auto *s = std::get_if<std::string>(&v))
    return "\"" + *s + "\"";
  if (const auto *i = std::get_if<long long>(&v))
    return std::to_string(*i);
  if (const auto *d = std::get_if<double>(&v))
    return std::to_string(*d);
  return "value of kind " + std::to_string(v.index());
}

// A written value as it reads back: a number in a cell whose kept format shows dates reads as
// that date (in either date system).
bool reads_as_written(const xlsx::CellValue &read, const xlsx::CellValue &written) {
  if (const auto *date = std::get_if<xlsx::DateTime>(&read)) {
    const auto *number = std::get_if<long long>(&written);
    if (!number)
      return false;
    const auto serial = static_cast<double>(*number);
    return xlsx::date_from_serial(serial, false) == *date ||
           xlsx::date_from_serial(serial, true) == *date;
  }
  return same(read, written);
}

// The cells of the top-left corner; nullopt for a cell whose reading fails.
using Grid = std::vector<std::optional<xlsx::CellValue>>;

Grid read_grid(const xlsx::Worksheet &sheet) {
  Grid grid;
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      try {
        grid.emplace_back(sheet.value(r, c));
      } catch (const xlsx::Error &) {
        grid.emplace_back();
      }
    }
  return grid;
}

bool same_grid(const Grid &a, const Grid &b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].has_value() != b[i].has_value() || (a[i] && !same(*a[i], *b[i])))
      return false;
  return true;
}

std::vector<xlsx::CellRef> grid_refs() {
  std::vector<xlsx::CellRef> refs;
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c)
      refs.push_back({r, c});
  return refs;
}

// The quick readers give the workbook's values wherever the workbook could read them: the cell
// reader for every cell of the corner, the column reader for every column of it from row 1 and
// for one column from a later row.
void check_quick_read(const std::filesystem::path &path, const Grid &grid, std::size_t pick) {
  auto where = [](std::size_t i) {
    return xlsx::format_address(static_cast<int>(i) / kCols + 1, static_cast<int>(i) % kCols + 1);
  };
  std::vector<xlsx::CellValue> quick;
  try {
    quick = xlsx::read_active_cells(path, grid_refs());
  } catch (const xlsx::Error &) {
    return;
  }
  FUZZ_CHECK(quick.size() == grid.size(), "quick reader cell count");
  for (std::size_t i = 0; i < grid.size(); ++i)
    if (grid[i])
      FUZZ_CHECK(same(*grid[i], quick[i]),
                 where(i) + ": workbook " + shown(*grid[i]) + ", quick reader " + shown(quick[i]));

  std::vector<xlsx::CellRef> starts;
  for (int c = 1; c <= kCols; ++c)
    starts.push_back({1, c});
  starts.push_back(
      {1 + static_cast<int>(pick % kRows), 1 + static_cast<int>(pick / kRows % kCols)});
  std::vector<std::vector<xlsx::CellValue>> columns;
  try {
    columns = xlsx::read_active_columns(path, starts);
  } catch (const xlsx::Error &) {
    return;
  }
  FUZZ_CHECK(columns.size() == starts.size(), "column reader column count");
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const auto &column = columns[k];
    FUZZ_CHECK(column.empty() || !std::holds_alternative<std::monostate>(column.back()),
               "column " + std::to_string(k) + " ends with an empty cell");
    for (int r = starts[k].row; r <= kRows; ++r) {
      const auto i = static_cast<std::size_t>((r - 1) * kCols + (starts[k].col - 1));
      const auto at = static_cast<std::size_t>(r - starts[k].row);
      const xlsx::CellValue got = at < column.size() ? column[at] : xlsx::CellValue{};
      if (grid[i])
        FUZZ_CHECK(same(*grid[i], got),
                   where(i) + ": workbook " + shown(*grid[i]) + ", column reader " + shown(got));
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const auto path = vaskit::fuzz::scratch_dir() / "book.xlsx";
  const auto saved = vaskit::fuzz::scratch_dir() / "saved.xlsx";
  if (!vaskit::fuzz::write_package(path, input))
    return 0;

  std::optional<xlsx::Workbook> book;
  xlsx::Worksheet *sheet = nullptr;
  try {
    book.emplace(xlsx::Workbook::open(path));
    (void)book->sheet_names();
    sheet = &book->active_sheet();
  } catch (const xlsx::Error &) {
    return 0;
  }
  const Grid before = read_grid(*sheet);
  check_quick_read(path, before, size);

  // The edit: one cell inside the corner, a text or a number, picked by the input.
  const int row = 1 + static_cast<int>(size % kRows);
  const int col = 1 + static_cast<int>((size / kRows) % kCols);
  xlsx::CellInput written;
  if (size % 2)
    written = std::string("fuzz ✓ ") + std::to_string(size);
  else
    written = static_cast<long long>(size) * 7 - 1000;
  try {
    sheet->set_value(row, col, written);
  } catch (const xlsx::Error &) {
    // A cell covered by a merged range: nothing was changed.
    FUZZ_CHECK(same_grid(read_grid(*sheet), before), "a refused edit changed the sheet");
    return 0;
  }
  // In memory: the cell holds what was written (unless no number or text of this workbook can be
  // read, as with a broken style sheet), every other cell what it held.
  const Grid edited = read_grid(*sheet);
  const std::size_t target = static_cast<std::size_t>((row - 1) * kCols + (col - 1));
  const xlsx::CellValue expect = std::holds_alternative<std::string>(written)
                                     ? xlsx::CellValue(std::get<std::string>(written))
                                     : xlsx::CellValue(std::get<long long>(written));
  for (std::size_t i = 0; i < edited.size(); ++i) {
    const auto where =
        xlsx::format_address(static_cast<int>(i) / kCols + 1, static_cast<int>(i) % kCols + 1);
    if (i == target) {
      if (edited[i])
        FUZZ_CHECK(reads_as_written(*edited[i], expect),
                   where + ": wrote " + shown(expect) + ", read " + shown(*edited[i]));
    } else {
      FUZZ_CHECK(before[i].has_value() == edited[i].has_value() &&
                     (!before[i] || same(*before[i], *edited[i])),
                 where + ": changed by an edit of another cell");
    }
  }

  // Saved and read back, the sheet reads as it did in memory.
  std::filesystem::remove(saved);
  try {
    book->save_as(saved);
  } catch (const xlsx::Error &) {
    // A part that cannot be copied (damaged compressed data): the save fails as a whole, with
    // nothing written and no temporary file left behind.
    for (const auto &entry : std::filesystem::directory_iterator(vaskit::fuzz::scratch_dir()))
      FUZZ_CHECK(entry.path() == path, "a failed save left " + entry.path().string());
    return 0;
  }
  book.reset();
  auto reread = xlsx::Workbook::open(saved);
  const Grid after = read_grid(reread.active_sheet());
  for (std::size_t i = 0; i < after.size(); ++i) {
    const auto where =
        xlsx::format_address(static_cast<int>(i) / kCols + 1, static_cast<int>(i) % kCols + 1);
    if (edited[i] && !after[i]) {
      try {
        (void)reread.active_sheet().value(static_cast<int>(i) / kCols + 1,
                                          static_cast<int>(i) % kCols + 1);
      } catch (const xlsx::Error &e) {
        FUZZ_CHECK(false, where + ": unreadable after saving: " + e.what());
      }
    }
    FUZZ_CHECK(edited[i].has_value() == after[i].has_value() &&
                   (!edited[i] || same(*edited[i], *after[i])),
               where + ": held " + (edited[i] ? shown(*edited[i]) : std::string("unreadable")) +
                   ", after saving " + (after[i] ? shown(*after[i]) : std::string("unreadable")));
  }
  check_quick_read(saved, after, size / 7);
  return 0;
}
