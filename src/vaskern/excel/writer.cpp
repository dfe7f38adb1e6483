// The formatted workbook writer, on libxlsxwriter.
#include "core/fs.hpp"
#include "core/interrupt.hpp"
#include "core/text.hpp"
#include "formats/xlsx/workbook.hpp"
#include "vaskern/excel/excelTools.hpp"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unistd.h>

namespace vaskern::excelTools {

namespace {

namespace stdfs = std::filesystem;
namespace interrupt = vaskit::interrupt;

// How wide a text shows: East Asian wide characters take two columns.
std::size_t display_width(std::string_view s) {
  std::size_t width = 0;
  for (const char32_t cp : vaskit::text::to_u32(s))
    width += (cp >= 0x1100 &&
              (cp <= 0x115F || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
               (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
               (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000))
                 ? 2
                 : 1;
  return width;
}

// The text a number shows with the General format, near enough for a column width.
std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

std::size_t cell_width(const Cell &c) {
  if (const auto *n = std::get_if<double>(&c))
    return number_text(*n).size();
  if (const auto *t = std::get_if<std::string>(&c))
    return display_width(*t);
  if (std::holds_alternative<Date>(c))
    return 10;
  return 0;
}

// Excel's character-based column width: the content plus a little room, within limits.
double fitted(std::size_t chars) {
  return static_cast<double>(std::clamp<std::size_t>(chars + 2, 8, 60));
}

// A text as the workbook stores it: readers turn "_xHHHH_" into the character HHHH, so a
// text that holds such a sequence has its underscore escaped ("_x005F_"); a NUL character,
// which would end the text early, is stored as its escape.
std::string stored_text(std::string_view s) {
  auto is_hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  };
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\0') {
      out += "_x0000_";
      continue;
    }
    if (s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && is_hex(s[i + 2]) &&
        is_hex(s[i + 3]) && is_hex(s[i + 4]) && is_hex(s[i + 5]) && s[i + 6] == '_')
      out += "_x005F";
    out += s[i];
  }
  return out;
}

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void check(lxw_error status, const std::string &what) {
  if (status != LXW_NO_ERROR)
    throw Failure(what + ": " + lxw_strerror(status));
}

// The most characters a cell holds.
constexpr std::size_t cell_chars = 32767;

// Where the texts of one sheet go, and who hears of a text cut to fit its cell.
struct SheetOut {
  lxw_worksheet *ws;
  const std::string &name;
  const app_logging::Logger &logger;
};

// A text longer than a cell holds loses its end, with one warning naming the cell; the rest
// of the workbook is written as usual.
void write_text(const SheetOut &out, lxw_row_t row, lxw_col_t col, std::string_view text,
                lxw_format *format, const std::string &what) {
  std::string stored = stored_text(text);
  if (vaskit::text::length(stored) > cell_chars) {
    // The longest start of the text whose stored form fits: an escaped character takes more
    // room than it shows, and a longer start never takes less.
    std::size_t fits = 0, over = std::min(vaskit::text::length(text), cell_chars) + 1;
    while (over - fits > 1) {
      const std::size_t mid = fits + (over - fits) / 2;
      if (vaskit::text::length(stored_text(vaskit::text::prefix(text, mid))) <= cell_chars)
        fits = mid;
      else
        over = mid;
    }
    stored = stored_text(vaskit::text::prefix(text, fits));
    out.logger.warning("Sheet '" + vaskit::text::printable(out.name) + "', row " +
                       std::to_string(row + 1) + ", column " +
                       vaskit::xlsx::column_name(static_cast<int>(col) + 1) +
                       ": the text is longer than the 32,767 characters a cell holds and was "
                       "cut to fit.");
  }
  check(worksheet_write_string(out.ws, row, col, stored.c_str(), format), what);
}

void write_sheet(lxw_workbook *book, lxw_format *bold, const std::string &name,
                 const std::vector<Block> &blocks, const app_logging::Logger &logger) {
  for (const Block &b : blocks)
    if (b.df == nullptr)
      throw Failure("sheet '" + name + "' has a block without a table");
  lxw_worksheet *ws = workbook_add_worksheet(book, name.c_str());
  if (ws == nullptr)
    throw Failure("cannot add sheet '" + name + "'");
  const SheetOut out{ws, name, logger};
  // Widths first: in the row-by-row mode the column settings must precede the rows.
  std::size_t rows = 0;
  for (const Block &b : blocks) {
    rows = std::max(rows, b.df->rows());
    int col = b.startcol;
    if (b.index) {
      std::size_t w = 0;
      for (const std::string &label : b.df->index())
        w = std::max(w, display_width(label));
      check(worksheet_set_column(ws, static_cast<lxw_col_t>(col), static_cast<lxw_col_t>(col),
                                 fitted(w), nullptr),
            "column width");
      ++col;
    }
    for (std::size_t c = 0; c < b.df->cols(); ++c, ++col) {
      std::size_t w = display_width(b.df->names()[c]);
      for (const Cell &cell : b.df->column(c))
        w = std::max(w, cell_width(cell));
      check(worksheet_set_column(ws, static_cast<lxw_col_t>(col), static_cast<lxw_col_t>(col),
                                 fitted(w), nullptr),
            "column width");
    }
  }
  // Row 0 holds the headers, rows 1.. the values; each row is written across all blocks.
  for (std::size_t r = 0; r <= rows; ++r) {
    for (const Block &b : blocks) {
      if (r > b.df->rows())
        continue;
      auto col = static_cast<lxw_col_t>(b.startcol);
      const auto row = static_cast<lxw_row_t>(r);
      if (b.index) {
        if (r > 0 && !b.df->index().empty())
          write_text(out, row, col, b.df->index()[r - 1], nullptr, "row label");
        ++col;
      }
      for (std::size_t c = 0; c < b.df->cols(); ++c, ++col) {
        if (r == 0) {
          write_text(out, row, col, b.df->names()[c], bold, "header");
          continue;
        }
        const Cell &cell = b.df->at(r - 1, c);
        if (const auto *n = std::get_if<double>(&cell)) {
          if (std::isfinite(*n))
            check(worksheet_write_number(ws, row, col, *n, nullptr), "number");
        } else if (const auto *t = std::get_if<std::string>(&cell)) {
          write_text(out, row, col, *t, nullptr, "text");
        } else if (const auto *d = std::get_if<Date>(&cell)) {
          check(worksheet_write_string(ws, row, col, iso_text(*d).c_str(), nullptr), "date");
        }
      }
    }
  }
}

// The library writes to a file of its own choosing, here one that has no name in the
// temporary folder (O_TMPFILE), reached through /proc: a run that is killed leaves nothing
// there. Where the folder cannot hold unnamed files, a named one that an interrupt removes.
class WorkFile {
public:
  WorkFile() {
    const std::string tmpdir = stdfs::temp_directory_path().string();
    fd_ = ::open(tmpdir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      path_ = "/proc/self/fd/" + std::to_string(fd_);
      return;
    }
    std::string tmpl = (stdfs::path(tmpdir) / "vaskit-xlsx.XXXXXX").string();
    const interrupt::Hold hold; // the name is registered before an interrupt can see it
    fd_ = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd_ < 0)
      throw Failure(std::string("cannot create a temporary file: ") + std::strerror(errno));
    path_ = tmpl;
    named_.emplace(std::vector<stdfs::path>{path_}, interrupt::Removal::file);
  }
  ~WorkFile() {
    if (named_)
      ::unlink(path_.c_str());
    ::close(fd_);
  }
  WorkFile(const WorkFile &) = delete;
  WorkFile &operator=(const WorkFile &) = delete;

  const std::string &path() const { return path_; }

private:
  int fd_ = -1;
  std::string path_;
  std::optional<interrupt::RemoveOnInterrupt> named_;
};

} // namespace

bool write_formatted_excel(const std::string &path, const Sheets &sheets,
                           const app_logging::Logger &logger) {
  try {
    // Folders this write creates go again if an interrupt ends the run before the workbook
    // is in them.
    const std::string folder = vaskit::fs::dirname(path);
    std::optional<interrupt::RemoveOnInterrupt> new_folders;
    if (!folder.empty()) {
      if (auto missing = vaskit::fs::missing_folders(folder); !missing.empty())
        new_folders.emplace(missing, interrupt::Removal::empty_folder);
      std::error_code ec;
      stdfs::create_directories(folder, ec);
      if (ec)
        throw Failure("cannot create folder " + folder + ": " + ec.message());
    }
    // The finished bytes then replace the target in one step, so no reader ever sees half a
    // workbook.
    const WorkFile work;
    const std::string tmpdir = stdfs::temp_directory_path().string();
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char *>(tmpdir.c_str());
    lxw_workbook *book = workbook_new_opt(work.path().c_str(), &options);
    if (book == nullptr)
      throw Failure("cannot start the workbook");
    try {
      lxw_format *bold = workbook_add_format(book);
      format_set_bold(bold);
      for (const auto &[name, blocks] : sheets)
        write_sheet(book, bold, name, blocks, logger);
    } catch (...) {
      workbook_close(book);
      throw;
    }
    check(workbook_close(book), "cannot finish the workbook");
    const std::string bytes = vaskit::fs::read_file(work.path());
    const interrupt::Hold hold; // the workbook's temporary name never outlives the run
    vaskit::fs::write_file_atomic(path, bytes);
    return true;
  } catch (const std::exception &e) {
    logger.error("Failed to write workbook " + vaskit::text::printable(path) + ": " +
                 vaskit::text::printable(e.what()));
    return false;
  }
}

} // namespace vaskern::excelTools
