// Test support: fixture workbooks built at test time, and helpers to look inside saved packages.
#pragma once

#include "formats/xlsx/workbook.hpp"
#include "support/files.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vaskit::xlsx {
// Readable failure messages for the value types.
void PrintTo(const DateTime &value, std::ostream *out);
void PrintTo(const CellError &value, std::ostream *out);
void PrintTo(const BigInteger &value, std::ostream *out);
} // namespace vaskit::xlsx

namespace xlsx_test {

struct ZipEntry {
  std::string name;
  std::string data;
  bool stored = false; // STORE instead of DEFLATE
};

// Writes a zip archive with these entries in this order. Deflated entries use level 1, so that
// a copy re-deflated at the default level would not match their compressed bytes.
void write_zip(const std::filesystem::path &path, const std::vector<ZipEntry> &entries);

struct RawEntry {
  std::string name;
  std::string data;       // uncompressed
  std::string compressed; // the bytes as stored in the archive
  int method = 0;
  std::uint32_t crc = 0;
};
std::vector<RawEntry> read_zip(const std::filesystem::path &path);
const RawEntry &entry(const std::vector<RawEntry> &entries, const std::string &name);

using vaskit::testing::read_file;
using vaskit::testing::write_file;

struct RichOptions {
  bool date1904 = false;
  int active_tab = 1;
};
// A macro-enabled workbook: sheets "Data" and "Form" (the active one, with borders, fonts, a
// column style, formulas, a shared formula and a drawing whose shape runs a macro), a fake
// macro project, form-control and VML parts, a calculation chain and custom XML.
std::vector<ZipEntry> rich_entries(const RichOptions &options = {});
void write_rich_xlsm(const std::filesystem::path &path, const RichOptions &options = {});
// The rich workbook with these merged ranges ("L8:T9", ...) on its active sheet "Form".
void write_rich_xlsm_with_merges(const std::filesystem::path &path,
                                 const std::vector<std::string> &ranges);
// The macro project bytes of the rich fixture.
std::string fake_vba_project();

// A scratch folder removed after the test.
class TempDirTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  std::filesystem::path dir;
};

// Runs python3 with `script` and the arguments; returns its standard output. Fails the test
// when the exit status is not 0.
std::string run_python(const std::string &script, const std::vector<std::string> &args);
bool have_openpyxl();

} // namespace xlsx_test
