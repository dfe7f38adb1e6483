// The exact-match join: one hash table over the right side, so the work grows with the rows.
#include "vaskern/excel/excelTools.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <unordered_map>

namespace vaskern::excelTools {

namespace {

// Whole numbers up to this size are exact in a double; longer digit runs are not.
constexpr std::uint64_t kExactWhole = std::uint64_t{1} << 53;

// A text that reads as a number for matching: decimal digits with an optional sign, fraction
// and exponent, no leading zeros (those are identifiers), blanks around allowed. Only texts
// that a double holds exactly qualify: two long identifiers that differ in their last digits
// would otherwise round to the same number and match.
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
  const auto value = numeric_value(Cell{std::string(s)});
  if (!value)
    return std::nullopt;
  if (body.find_first_not_of("0123456789") == std::string_view::npos) {
    std::uint64_t whole = 0;
    const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), whole);
    const bool exact =
        ec == std::errc() && end == body.data() + body.size() && whole <= kExactWhole;
    return exact ? value : std::nullopt;
  }
  // A fraction or an exponent: up to 15 significant digits survive the round trip.
  std::size_t significant = 0;
  bool leading = true;
  for (const char c : body.substr(0, body.find_first_of("eE"))) {
    if (c < '0' || c > '9' || (leading && c == '0'))
      continue;
    leading = false;
    ++significant;
  }
  return significant <= 15 ? value : std::nullopt;
}

// One key value as a token: its kind and 64 bits that identify it within the kind (a number's
// bits, a date's day, a text's number in the dictionary of texts seen on the right side).
struct Token {
  std::uint8_t kind = 0; // 0: missing or unmatchable
  std::uint64_t bits = 0;
  bool operator==(const Token &) const = default;
};

class Tokens {
public:
  // Right-side values enter the dictionary; left-side texts it does not hold match nothing.
  Token of(const Cell &cell, bool add) {
    std::optional<double> number;
    if (const auto *n = std::get_if<double>(&cell))
      number = *n;
    else if (const auto *t = std::get_if<std::string>(&cell))
      number = key_number(*t);
    if (number) {
      const double v = *number == 0 ? 0.0 : *number; // -0 matches 0
      std::uint64_t bits = 0;
      std::memcpy(&bits, &v, sizeof bits);
      return {1, bits};
    }
    if (const auto *t = std::get_if<std::string>(&cell)) {
      if (add)
        return {2, texts_.try_emplace(*t, texts_.size()).first->second};
      const auto it = texts_.find(*t);
      return it == texts_.end() ? Token{} : Token{2, it->second};
    }
    if (const auto *d = std::get_if<Date>(&cell))
      return {3, static_cast<std::uint64_t>(static_cast<std::uint32_t>(d->days))};
    return {};
  }

private:
  std::unordered_map<std::string_view, std::uint64_t> texts_;
};

// The tokens of one row's keys (false when one is missing or unmatchable) and their hash.
bool row_tokens(Tokens &tokens, const std::vector<const std::vector<Cell> *> &keys, std::size_t row,
                bool add, std::vector<Token> &out, std::uint64_t &hash) {
  out.clear();
  hash = 1469598103934665603ULL;
  for (const auto *col : keys) {
    const Token t = tokens.of((*col)[row], add);
    if (t.kind == 0)
      return false;
    out.push_back(t);
    hash = (hash ^ t.kind) * 1099511628211ULL;
    hash = (hash ^ (t.bits * 0x9E3779B97F4A7C15ULL)) * 1099511628211ULL;
  }
  return true;
}

} // namespace

Table merge_exact_match(const Table &left, const Table &right, const std::vector<std::string> &keys,
                        const std::pair<std::string, std::string> &suffixes) {
  std::vector<const std::vector<Cell> *> left_keys, right_keys;
  for (const std::string &k : keys) {
    left_keys.push_back(&left.column(k));
    right_keys.push_back(&right.column(k));
  }
  // Right rows by the hash of their keys, each hash's rows chained in row order; a probe
  // compares the tokens themselves, so two keys that share a hash never match.
  const std::size_t width = keys.size();
  Tokens tokens;
  std::vector<Token> right_tokens(right.rows() * width);
  std::unordered_map<std::uint64_t, std::pair<std::size_t, std::size_t>> first_last;
  first_last.reserve(right.rows());
  std::vector<std::size_t> next(right.rows(), SIZE_MAX);
  std::vector<Token> row;
  std::uint64_t hash = 0;
  for (std::size_t r = 0; r < right.rows(); ++r) {
    if (!row_tokens(tokens, right_keys, r, true, row, hash))
      continue;
    std::copy(row.begin(), row.end(),
              right_tokens.begin() + static_cast<std::ptrdiff_t>(r * width));
    auto [it, inserted] = first_last.try_emplace(hash, r, r);
    if (!inserted) {
      next[it->second.second] = r;
      it->second.second = r;
    }
  }
  std::vector<std::size_t> left_rows, right_rows;
  for (std::size_t l = 0; l < left.rows(); ++l) {
    if (!row_tokens(tokens, left_keys, l, false, row, hash))
      continue;
    const auto it = first_last.find(hash);
    if (it == first_last.end())
      continue;
    for (std::size_t r = it->second.first; r != SIZE_MAX; r = next[r]) {
      if (std::equal(row.begin(), row.end(),
                     right_tokens.begin() + static_cast<std::ptrdiff_t>(r * width))) {
        left_rows.push_back(l);
        right_rows.push_back(r);
      }
    }
  }

  auto is_key = [&](const std::string &name) {
    return std::find(keys.begin(), keys.end(), name) != keys.end();
  };
  Table out;
  Table left_part = left.take(left_rows);
  Table right_part = right.take(right_rows);
  for (std::size_t c = 0; c < left.cols(); ++c) {
    const std::string &name = left.names()[c];
    const bool shared = !is_key(name) && right.has(name);
    out.set_column(shared ? name + suffixes.first : name, std::move(left_part.column(name)));
  }
  for (std::size_t c = 0; c < right.cols(); ++c) {
    const std::string &name = right.names()[c];
    if (is_key(name))
      continue;
    out.set_column(left.has(name) ? name + suffixes.second : name,
                   std::move(right_part.column(name)));
  }
  return out;
}

} // namespace vaskern::excelTools
