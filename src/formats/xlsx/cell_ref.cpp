#include "formats/xlsx/workbook.hpp"

#include "core/text.hpp"

#include <charconv>

namespace vaskit::xlsx {

CellRef parse_address(std::string_view address) {
  auto bad = [&]() {
    return std::invalid_argument("invalid cell address '" + std::string(address) + "'");
  };
  std::size_t i = 0;
  if (i < address.size() && address[i] == '$') {
    ++i;
  }
  int col = 0;
  std::size_t letters = 0;
  for (; i < address.size(); ++i, ++letters) {
    const char c = text::ascii_upper(address[i]);
    if (c < 'A' || c > 'Z' || letters == 3) {
      break;
    }
    col = col * 26 + (c - 'A' + 1);
  }
  if (letters == 0 || col > max_cols) {
    throw bad();
  }
  if (i < address.size() && address[i] == '$') {
    ++i;
  }
  std::string_view digits = address.substr(i);
  if (digits.empty()) {
    throw bad();
  }
  // "D06" is D6, as a row number attribute "06" is row 6.
  while (digits.size() > 1 && digits.front() == '0') {
    digits.remove_prefix(1);
  }
  if (digits.front() == '0' || digits.size() > 7) {
    throw bad();
  }
  int row = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), row);
  if (ec != std::errc() || end != digits.data() + digits.size() || row > max_rows) {
    throw bad();
  }
  return CellRef{row, col};
}

std::string column_name(int col) {
  if (col < 1 || col > max_cols) {
    throw std::invalid_argument("invalid column number " + std::to_string(col));
  }
  std::string name;
  while (col > 0) {
    int rem = (col - 1) % 26;
    name.insert(name.begin(), static_cast<char>('A' + rem));
    col = (col - 1) / 26;
  }
  return name;
}

std::string format_address(int row, int col) {
  if (row < 1 || row > max_rows) {
    throw std::invalid_argument("invalid row number " + std::to_string(row));
  }
  return column_name(col) + std::to_string(row);
}

} // namespace vaskit::xlsx
