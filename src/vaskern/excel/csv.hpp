// The CSV tokenizer under read_csv_by_cells: text to records of fields, nothing typed yet.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vaskern::excelTools {

// A quoted field that never ends; `line` (1-based) is where it opened, counting CR LF, LF and a
// lone CR as one line end each. The message reads "line 3: a quoted field is never closed".
class CsvError : public std::runtime_error {
public:
  CsvError(std::size_t line, const std::string &reason)
      : std::runtime_error("line " + std::to_string(line) + ": " + reason), line(line) {}
  std::size_t line;
};

// Splits CSV text into records and hands each record's fields to `record`, in order. Fields are
// separated by ',' and quoted as RFC 4180 has it: in a quoted field a doubled quote is one
// quote, and commas and line ends belong to the field; text after the closing quote belongs to
// the field too, as spreadsheet programs read it. A record ends at CR LF, LF or a lone CR; an
// empty line is a record of one empty field; the last record needs no line end. The vector
// handed over is reused for the next record. Throws CsvError.
void csv_records(std::string_view text,
                 const std::function<void(const std::vector<std::string> &fields)> &record);

} // namespace vaskern::excelTools
