// The exact-match join: one hash table over the right side, so the work grows with the rows.
#include "vaskern/excel/excelTools.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace vaskern::excelTools {

namespace {

// A text that reads as a number for matching: decimal digits with an optional sign, fraction
// and exponent, no leading zeros (those are identifiers), blanks around allowed.
std::optional<double> key_number(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  std::string_view body = s;
  if (!body.empty() && (body.front() == '-' || body.front() == '+'))
    body.remove_prefix(1);
  if (body.size() > 1 && body[0] == '0' && body[1] >= '0' && body[1] <= '9')
    return std::nullopt;
  return numeric_value(Cell{std::string(s)});
}

// Appends the bytes that identify a key value; false for a missing value, which matches
// nothing.
bool append_key(std::string &out, const Cell &cell) {
  std::optional<double> number;
  if (const auto *n = std::get_if<double>(&cell))
    number = *n;
  else if (const auto *t = std::get_if<std::string>(&cell))
    number = key_number(*t);
  if (number) {
    double v = *number == 0 ? 0.0 : *number; // -0 matches 0
    char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    out += 'n';
    out.append(bytes, sizeof bytes);
    return true;
  }
  if (const auto *t = std::get_if<std::string>(&cell)) {
    out += 't';
    const auto size = static_cast<std::uint32_t>(t->size());
    out.append(reinterpret_cast<const char *>(&size), sizeof size);
    out += *t;
    return true;
  }
  if (const auto *d = std::get_if<Date>(&cell)) {
    out += 'd';
    out.append(reinterpret_cast<const char *>(&d->days), sizeof d->days);
    return true;
  }
  return false;
}

std::optional<std::string> row_key(const std::vector<const std::vector<Cell> *> &keys,
                                   std::size_t row) {
  std::string key;
  for (const auto *col : keys)
    if (!append_key(key, (*col)[row]))
      return std::nullopt;
  return key;
}

} // namespace

Table merge_exact_match(const Table &left, const Table &right, const std::vector<std::string> &keys,
                        const std::pair<std::string, std::string> &suffixes) {
  std::vector<const std::vector<Cell> *> left_keys, right_keys;
  for (const std::string &k : keys) {
    left_keys.push_back(&left.column(k));
    right_keys.push_back(&right.column(k));
  }
  // Right rows by key, each key's rows in their order (first row, then a chain).
  std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> first_last;
  first_last.reserve(right.rows());
  std::vector<std::size_t> next(right.rows(), SIZE_MAX);
  for (std::size_t r = 0; r < right.rows(); ++r) {
    auto key = row_key(right_keys, r);
    if (!key)
      continue;
    auto [it, inserted] = first_last.try_emplace(std::move(*key), r, r);
    if (!inserted) {
      next[it->second.second] = r;
      it->second.second = r;
    }
  }
  std::vector<std::size_t> left_rows, right_rows;
  for (std::size_t l = 0; l < left.rows(); ++l) {
    const auto key = row_key(left_keys, l);
    if (!key)
      continue;
    const auto it = first_last.find(*key);
    if (it == first_last.end())
      continue;
    for (std::size_t r = it->second.first; r != SIZE_MAX; r = next[r]) {
      left_rows.push_back(l);
      right_rows.push_back(r);
    }
  }

  auto is_key = [&](const std::string &name) {
    return std::find(keys.begin(), keys.end(), name) != keys.end();
  };
  Table out;
  const Table left_part = left.take(left_rows);
  const Table right_part = right.take(right_rows);
  for (std::size_t c = 0; c < left.cols(); ++c) {
    const std::string &name = left.names()[c];
    const bool shared = !is_key(name) && right.has(name);
    out.set_column(shared ? name + suffixes.first : name, left_part.column(c));
  }
  for (std::size_t c = 0; c < right.cols(); ++c) {
    const std::string &name = right.names()[c];
    if (is_key(name))
      continue;
    out.set_column(left.has(name) ? name + suffixes.second : name, right_part.column(c));
  }
  return out;
}

} // namespace vaskern::excelTools
