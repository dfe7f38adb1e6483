// The CSV reader. The input is the file's text. Tokenizing either fails with the line a quote
// opened on, or gives records whose fields come back unchanged when they are written again,
// every field quoted or only those that need it. The cell-mapped reader gives the same table for
// the text as given and as written again, and fails only for text that is not UTF-8 or does not
// tokenize, naming the file and the line. The delivery dates of the table are then rewritten as
// the run does it (date_checks.hpp).
#include "vaskern/excel/csv.hpp"
#include "date_checks.hpp"
#include "harness.hpp"
#include "vaskern/excel/excelTools.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace excel = vaskern::excelTools;

namespace {

using Records = std::vector<std::vector<std::string>>;

std::optional<Records> tokenize(std::string_view text) {
  Records records;
  try {
    excel::csv_records(text, [&](const std::vector<std::string> &f) { records.push_back(f); });
  } catch (const excel::CsvError &e) {
    // Lines end at CR LF, LF or a lone CR, as records do.
    std::size_t lines = 1;
    for (std::size_t i = 0; i < text.size(); ++i)
      lines += text[i] == '\n' || (text[i] == '\r' && text.substr(i + 1, 1) != "\n");
    FUZZ_CHECK(e.line >= 1 && e.line <= lines,
               std::to_string(e.line) + " of " + std::to_string(lines) + " lines");
    return std::nullopt;
  }
  return records;
}

std::string quoted(const std::string &field) {
  std::string out = "\"";
  for (const char c : field) {
    if (c == '"')
      out += '"';
    out += c;
  }
  return out + "\"";
}

// The records as CSV text: every field quoted, or only those holding a separator, a quote or a
// line end; records ended by `eol`.
std::string written(const Records &records, bool quote_all, std::string_view eol) {
  std::string out;
  for (const auto &fields : records) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0)
        out += ',';
      const bool needs = fields[i].find_first_of(",\"\r\n") != std::string::npos;
      out += quote_all || needs ? quoted(fields[i]) : fields[i];
    }
    out += eol;
  }
  return out;
}

const excel::CellMapping kMapping = {
    {"PO", "A2"}, {"QTY", "B1"}, {"RDD", "C2"}, {"LATER", "C3"}, {"FAR", "F2"}};

// The table read from `text` as a file, or nullopt when the reader refuses it with a message
// naming the file and a line.
std::optional<excel::Table> read_as_file(std::string_view text, const char *name) {
  const auto path = vaskit::fuzz::scratch_dir() / name;
  vaskit::fuzz::write_file(path, text);
  try {
    return excel::read_csv_by_cells(path.string(), kMapping);
  } catch (const std::runtime_error &e) {
    const std::string message = e.what();
    FUZZ_CHECK(message.rfind(path.string() + ", line ", 0) == 0, message);
    return std::nullopt;
  }
}

void check_dates(const excel::Table &table) {
  for (const char *name : {"RDD", "LATER"}) {
    std::vector<excel::Cell> rewritten = table.column(name);
    excel::dates_to_iso_text(rewritten, false);
    vaskit::fuzz::check_date_rewrite(table.column(name), rewritten, false);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  // The reader drops a byte-order mark before it tokenizes.
  std::string_view body = input;
  if (body.substr(0, 3) == "\xEF\xBB\xBF")
    body.remove_prefix(3);
  const auto records = tokenize(body);
  if (records) {
    for (const bool quote_all : {true, false}) {
      const std::string again = written(*records, quote_all, quote_all ? "\r\n" : "\n");
      const auto back = tokenize(again);
      FUZZ_CHECK(back.has_value(), "written records do not tokenize: " + again);
      FUZZ_CHECK(*back == *records, "written records read back otherwise: " + again);
    }
  }

  const bool utf8 = vaskit::fuzz::valid_utf8(body);
  const auto table = read_as_file(input, "given.csv");
  FUZZ_CHECK(table.has_value() == (utf8 && records.has_value()),
             table ? "read text that is not UTF-8 or does not tokenize" : "refused a good file");
  if (!table)
    return 0;
  const auto again = read_as_file(written(*records, true, "\r\n"), "written.csv");
  FUZZ_CHECK(again.has_value(), "the written records were refused");
  FUZZ_CHECK(again->names() == table->names() && again->rows() == table->rows(), "table shape");
  for (std::size_t c = 0; c < table->cols(); ++c)
    for (std::size_t r = 0; r < table->rows(); ++r)
      FUZZ_CHECK(again->at(r, c) == table->at(r, c),
                 table->names()[c] + " row " + std::to_string(r) + ": " +
                     vaskit::fuzz::shown_cell(table->at(r, c)) + " became " +
                     vaskit::fuzz::shown_cell(again->at(r, c)));
  check_dates(*table);
  return 0;
}
