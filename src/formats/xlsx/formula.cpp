#include "formats/xlsx/formula.hpp"

#include "formats/xlsx/workbook.hpp"

#include <cctype>

namespace vaskit::xlsx::detail {

namespace {

bool is_token_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$' ||
         c == '\\';
}

struct Part {
  bool absolute = false;
  std::string_view text;
};

// Splits "$AB$12" into its column and row parts; either may be empty.
bool split_ref(std::string_view token, Part &col, Part &row) {
  std::size_t i = 0;
  if (i < token.size() && token[i] == '$') {
    col.absolute = true;
    ++i;
  }
  std::size_t start = i;
  while (i < token.size() && std::isalpha(static_cast<unsigned char>(token[i]))) {
    ++i;
  }
  col.text = token.substr(start, i - start);
  if (col.text.size() > 3) {
    return false;
  }
  if (i < token.size() && token[i] == '$') {
    row.absolute = true;
    ++i;
  }
  start = i;
  while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]))) {
    ++i;
  }
  row.text = token.substr(start, i - start);
  if (i != token.size() || (col.text.empty() && row.text.empty())) {
    return false;
  }
  if (col.text.empty() && col.absolute) {
    // "$12": the "$" belongs to the row.
    row.absolute = true;
    col.absolute = false;
  }
  if (!col.text.empty() && row.absolute && row.text.empty()) {
    return false;
  }
  return row.text.size() <= 7;
}

int column_number(std::string_view letters) {
  int col = 0;
  for (char c : letters) {
    col = col * 26 + (std::toupper(static_cast<unsigned char>(c)) - 'A' + 1);
  }
  return col;
}

} // namespace

std::string shift_formula(std::string_view f, int rows, int cols) {
  std::string out;
  out.reserve(f.size() + 8);
  std::size_t i = 0;
  while (i < f.size()) {
    char c = f[i];
    if (c == '"' || c == '\'') {
      // A literal or a quoted sheet name; a doubled quote stands for one.
      std::size_t j = i + 1;
      while (j < f.size()) {
        if (f[j] == c) {
          if (j + 1 < f.size() && f[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      j = j < f.size() ? j + 1 : j;
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '[') {
      int depth = 0;
      std::size_t j = i;
      for (; j < f.size(); ++j) {
        depth += f[j] == '[' ? 1 : f[j] == ']' ? -1 : 0;
        if (depth == 0) {
          break;
        }
      }
      j = j < f.size() ? j + 1 : j;
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (!is_token_char(c)) {
      out += c;
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < f.size() && is_token_char(f[j])) {
      ++j;
    }
    std::string_view token = f.substr(i, j - i);
    const char prev = i > 0 ? f[i - 1] : '\0';
    const char next = j < f.size() ? f[j] : '\0';
    i = j;
    Part col, row;
    const bool in_range = prev == ':' || next == ':';
    if (next == '(' || next == '!' || !split_ref(token, col, row) ||
        ((col.text.empty() || row.text.empty()) && !in_range)) {
      out.append(token);
      continue;
    }
    std::string moved;
    bool off_sheet = false;
    if (!col.text.empty()) {
      int n = column_number(col.text);
      if (n > max_cols) {
        out.append(token); // a name such as "ABC1000000", not a reference
        continue;
      }
      if (!col.absolute) {
        n += cols;
      }
      off_sheet = n < 1 || n > max_cols;
      moved += col.absolute ? "$" : "";
      moved += off_sheet ? "" : column_name(n);
    }
    if (!row.text.empty()) {
      long n = std::stol(std::string(row.text));
      if (n < 1 || n > max_rows) {
        out.append(token);
        continue;
      }
      if (!row.absolute) {
        n += rows;
      }
      off_sheet = off_sheet || n < 1 || n > max_rows;
      moved += row.absolute ? "$" : "";
      moved += std::to_string(n);
    }
    out += off_sheet ? "#REF!" : moved;
  }
  return out;
}

} // namespace vaskit::xlsx::detail
