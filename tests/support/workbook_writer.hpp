// Test support: workbooks written by an independent writer (libxlsxwriter), so that the readers
// are tested against files they did not make.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vaskit::testing {

struct BookDate {
  int year = 2024;
  int month = 1;
  int day = 1;
};

// What a fixture cell holds: text (a shared string), a number, a boolean, or a date (a number
// with a date format).
using BookValue = std::variant<std::string, double, bool, BookDate>;

struct BookSheet {
  std::string name;
  std::vector<std::pair<std::string, BookValue>> cells; // "A1"-style address -> value
};

struct BookPlan {
  std::vector<BookSheet> sheets;
  int active = 0; // index of the sheet selected when the file is opened
};

// Writes the workbook, creating missing parent folders; throws std::runtime_error when the writer
// fails.
void write_book(const std::filesystem::path &path, const BookPlan &plan);

} // namespace vaskit::testing
