#include "formats/xlsx/workbook.hpp"
#include "support/xlsx_fixtures.hpp"

#include <gtest/gtest.h>

namespace xlsx = vaskit::xlsx;
using xlsx_test::TempDirTest;

namespace {

xlsx::DateTime date(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
  xlsx::DateTime out;
  out.year = y;
  out.month = m;
  out.day = d;
  out.hour = h;
  out.minute = mi;
  out.second = s;
  return out;
}

class XlsxReadTest : public TempDirTest {};

TEST_F(XlsxReadTest, SheetsAndActiveSheet) {
  auto path = dir / "tool.xlsm";
  xlsx_test::write_rich_xlsm(path);
  auto book = xlsx::Workbook::open(path);
  EXPECT_EQ(book.sheet_names(), (std::vector<std::string>{"Data", "Form"}));
  EXPECT_EQ(book.active_sheet().name(), "Form");
  EXPECT_EQ(book.sheet("Data").name(), "Data");
  EXPECT_THROW(book.sheet("data"), xlsx::Error);

  // An activeTab beyond the sheets falls back to the first sheet.
  xlsx_test::write_rich_xlsm(path, {.date1904 = false, .active_tab = 7});
  EXPECT_EQ(xlsx::Workbook::open(path).active_sheet().name(), "Data");
}

TEST_F(XlsxReadTest, CellValuesOfEveryKind) {
  auto path = dir / "tool.xlsm";
  xlsx_test::write_rich_xlsm(path);
  auto book = xlsx::Workbook::open(path);
  const xlsx::Worksheet &form = book.active_sheet();
  const std::vector<std::pair<std::string, xlsx::CellValue>> cases = {
      {"A1", std::string("Name")},           // shared string
      {"B1", std::string("Bold text")},      // rich text, phonetic run left out
      {"C1", std::string("inline")},         // inline string
      {"K2", std::string("line1\r\nline2")}, // escaped carriage return
      {"L2", std::string(" padded ")},       // preserved blanks
      {"A2", 120LL},                         // whole number
      {"B2", 120.5},                         // real number
      {"N2", 1000.0},                        // exponent form stays real
      {"C2", true},                          // boolean
      {"D2", xlsx::CellError{"#DIV/0!"}},    // error value
      {"E2", date(2023, 3, 15)},             // built-in date format 14
      {"F2", date(2023, 3, 15, 12)},         // custom "yyyy/mm/dd"
      {"G2", 0.25},                          // percent is no date
      {"H2", 1.5},                           // elapsed time is no date
      {"I2", std::string("ab")},             // cached string result of a formula
      {"J2", date(2024, 5, 3, 10, 20, 30)},  // ISO date cell
      {"M2", xlsx::CellValue{}},             // formula without cached value
      {"Q5", 121LL},                         // formula with cached value
      {"O5", 7LL},
      {"Z99", xlsx::CellValue{}}, // no such cell
      {"$M$5", std::string("Date")},
  };
  for (const auto &[address, expected] : cases) {
    EXPECT_EQ(form.value(address), expected) << address;
  }
  EXPECT_EQ(form.value(5, 13), form.value("M5"));
  EXPECT_EQ(book.sheet("Data").value("B3"), xlsx::CellValue{3LL});
}

TEST_F(XlsxReadTest, Date1904System) {
  auto path = dir / "mac.xlsm";
  xlsx_test::write_rich_xlsm(path, {.date1904 = true, .active_tab = 1});
  auto book = xlsx::Workbook::open(path);
  // 45000 days after 1904-01-01.
  EXPECT_EQ(book.active_sheet().value("E2"), xlsx::CellValue{date(2027, 3, 16)});
}

TEST_F(XlsxReadTest, BadAddressesAreRejected) {
  auto path = dir / "tool.xlsm";
  xlsx_test::write_rich_xlsm(path);
  auto book = xlsx::Workbook::open(path);
  for (const char *bad :
       {"", "A", "1", "A0", "A00", "XFE1", "A1:B2", "A1048577", "A01048577", "AAAA1", "A 1"}) {
    EXPECT_THROW(book.active_sheet().value(bad), std::invalid_argument) << bad;
  }
  // Leading zeros of the row are allowed, as in a row number attribute.
  EXPECT_EQ(xlsx::parse_address("$b$0012"), (xlsx::CellRef{12, 2}));
  EXPECT_THROW(book.active_sheet().value(0, 1), std::invalid_argument);
}

TEST_F(XlsxReadTest, FilesThatAreNotWorkbooksFailNamingTheFile) {
  struct Case {
    const char *name;
    std::function<void(const std::filesystem::path &)> make;
  };
  auto without = [](const std::string &skip) {
    return [skip](const std::filesystem::path &p) {
      auto entries = xlsx_test::rich_entries();
      std::erase_if(entries, [&](const auto &e) { return e.name == skip; });
      xlsx_test::write_zip(p, entries);
    };
  };
  auto replacing = [](const std::string &part, const std::string &data) {
    return [part, data](const std::filesystem::path &p) {
      auto entries = xlsx_test::rich_entries();
      for (auto &e : entries) {
        if (e.name == part) {
          e.data = data;
        }
      }
      xlsx_test::write_zip(p, entries);
    };
  };
  const std::vector<Case> cases = {
      {"text.xlsx", [](const auto &p) { xlsx_test::write_file(p, "just some text\n"); }},
      {"empty.xlsx", [](const auto &p) { xlsx_test::write_file(p, ""); }},
      {"truncated.xlsm",
       [](const auto &p) {
         xlsx_test::write_rich_xlsm(p);
         std::string bytes = xlsx_test::read_file(p);
         xlsx_test::write_file(p, bytes.substr(0, bytes.size() / 2));
       }},
      {"noworkbook.xlsx", without("xl/workbook.xml")},
      {"badxml.xlsm", replacing("xl/workbook.xml", "<workbook><sheets></workbook>")},
      {"notbook.xlsm", replacing("xl/workbook.xml", "<document/>")},
  };
  for (const Case &c : cases) {
    auto path = dir / c.name;
    c.make(path);
    const std::string before = xlsx_test::read_file(path);
    try {
      xlsx::Workbook::open(path);
      ADD_FAILURE() << c.name << " opened";
    } catch (const xlsx::Error &e) {
      EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
    }
    EXPECT_EQ(xlsx_test::read_file(path), before) << c.name;
  }
  EXPECT_THROW(xlsx::Workbook::open(dir / "missing.xlsx"), xlsx::Error);
  EXPECT_THROW(xlsx::Workbook::open(dir), xlsx::Error);
}

TEST_F(XlsxReadTest, DamagedPartsFailWhenNeeded) {
  auto entries = xlsx_test::rich_entries();
  for (auto &e : entries) {
    if (e.name == "xl/worksheets/sheet2.xml") {
      e.data = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"></row></sheetData></worksheet>";
    }
    if (e.name == "xl/sharedStrings.xml") {
      e.data = "<sst><si><t>only</t></si></sst>";
    }
  }
  auto path = dir / "damaged.xlsm";
  xlsx_test::write_zip(path, entries);
  auto book = xlsx::Workbook::open(path);
  EXPECT_THROW(book.active_sheet(), xlsx::Error);
  // A shared-string index the table does not hold is an error, not a crash.
  entries = xlsx_test::rich_entries();
  for (auto &e : entries) {
    if (e.name == "xl/sharedStrings.xml") {
      e.data = "<sst><si><t>only</t></si></sst>";
    }
  }
  xlsx_test::write_zip(path, entries);
  auto short_table = xlsx::Workbook::open(path);
  EXPECT_EQ(short_table.active_sheet().value("A1"), xlsx::CellValue{std::string("only")});
  EXPECT_THROW(short_table.active_sheet().value("B1"), xlsx::Error);
}

} // namespace

namespace {

class XlsxReadExtentTest : public TempDirTest {};

TEST_F(XlsxReadExtentTest, MaxRowAndColumn) {
  auto path = dir / "tool.xlsm";
  xlsx_test::write_rich_xlsm(path);
  auto book = xlsx::Workbook::open(path);
  EXPECT_EQ(book.active_sheet().max_row(), 8);
  EXPECT_EQ(book.active_sheet().max_column(), 18);
  EXPECT_EQ(book.sheet("Data").max_row(), 3);
  EXPECT_EQ(book.sheet("Data").max_column(), 2);
  book.sheet("Data").set_value("C40", 1LL);
  EXPECT_EQ(book.sheet("Data").max_row(), 40);
  EXPECT_EQ(book.sheet("Data").max_column(), 3);
  auto fresh = xlsx::Workbook::create(dir / "new.xlsx", "PayList");
  EXPECT_EQ(fresh.active_sheet().max_row(), 0);
  EXPECT_EQ(fresh.active_sheet().max_column(), 0);
}

TEST_F(XlsxReadExtentTest, ImplicitPositionsAndPrefixedNames) {
  // Rows and cells without "r" follow the one before; elements may carry a namespace prefix.
  auto entries = xlsx_test::rich_entries();
  for (auto &e : entries) {
    if (e.name == "xl/worksheets/sheet1.xml") {
      e.data = "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
               "<x:sheetData><x:row r=\"2\"><x:c><x:v>1</x:v></x:c><x:c r=\"D2\"><x:v>4</x:v></x:c>"
               "<x:c><x:v>5</x:v></x:c></x:row><x:row><x:c><x:v>6</x:v></x:c></x:row>"
               "</x:sheetData></x:worksheet>";
    }
  }
  auto path = dir / "implicit.xlsm";
  xlsx_test::write_zip(path, entries);
  {
    auto book = xlsx::Workbook::open(path);
    auto &ws = book.sheet("Data");
    EXPECT_EQ(ws.value("A2"), xlsx::CellValue{1LL});
    EXPECT_EQ(ws.value("D2"), xlsx::CellValue{4LL});
    EXPECT_EQ(ws.value("E2"), xlsx::CellValue{5LL});
    EXPECT_EQ(ws.value("A3"), xlsx::CellValue{6LL});
    ws.set_value("B2", std::string("new"));
    book.save();
  }
  auto book = xlsx::Workbook::open(path);
  auto &ws = book.sheet("Data");
  EXPECT_EQ(ws.value("A2"), xlsx::CellValue{1LL});
  EXPECT_EQ(ws.value("B2"), xlsx::CellValue{std::string("new")});
  EXPECT_EQ(ws.value("E2"), xlsx::CellValue{5LL});
  EXPECT_EQ(ws.value("A3"), xlsx::CellValue{6LL});
  const std::string xml =
      xlsx_test::entry(xlsx_test::read_zip(path), "xl/worksheets/sheet1.xml").data;
  EXPECT_NE(xml.find("<x:c r=\"B2\" t=\"inlineStr\"><x:is><x:t>new</x:t></x:is></x:c>"),
            std::string::npos)
      << xml;
}

TEST_F(XlsxReadExtentTest, Utf16PartIsRewrittenAsUtf8) {
  auto entries = xlsx_test::rich_entries();
  for (auto &e : entries) {
    if (e.name == "xl/worksheets/sheet1.xml") {
      const std::string xml =
          "<?xml version=\"1.0\" encoding=\"UTF-16\"?><worksheet "
          "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
          "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>utf16</t></is></c></row></sheetData>"
          "</worksheet>";
      e.data = "\xFF\xFE";
      for (char c : xml) {
        e.data += c;
        e.data += '\0';
      }
    }
  }
  auto path = dir / "utf16.xlsm";
  xlsx_test::write_zip(path, entries);
  {
    auto book = xlsx::Workbook::open(path);
    EXPECT_EQ(book.sheet("Data").value("A1"), xlsx::CellValue{std::string("utf16")});
    book.sheet("Data").set_value("B1", 2LL);
    book.save();
  }
  const std::string xml =
      xlsx_test::entry(xlsx_test::read_zip(path), "xl/worksheets/sheet1.xml").data;
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << xml;
  auto book = xlsx::Workbook::open(path);
  EXPECT_EQ(book.sheet("Data").value("A1"), xlsx::CellValue{std::string("utf16")});
  EXPECT_EQ(book.sheet("Data").value("B1"), xlsx::CellValue{2LL});
}

} // namespace
