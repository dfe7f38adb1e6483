#include "formats/xlsx/quick_read.hpp"
#include "support/xlsx_fixtures.hpp"

#include <gtest/gtest.h>

namespace xlsx = vaskit::xlsx;
using xlsx_test::TempDirTest;

namespace {

class XlsxQuickReadTest : public TempDirTest {
protected:
  // The rich fixture with the active sheet ("Form", sheet2) and the shared strings replaced.
  std::filesystem::path write_with(const std::string &sheet_xml, const std::string &strings = "") {
    auto entries = xlsx_test::rich_entries();
    for (auto &e : entries) {
      if (e.name == "xl/worksheets/sheet2.xml") {
        e.data = sheet_xml;
      }
      if (e.name == "xl/sharedStrings.xml" && !strings.empty()) {
        e.data = strings;
      }
    }
    auto path = dir / ("book" + std::to_string(++count_) + ".xlsm");
    xlsx_test::write_zip(path, entries);
    return path;
  }
  int count_ = 0;
};

const std::string ws_open =
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
const std::string ws_close = "</sheetData></worksheet>";

TEST_F(XlsxQuickReadTest, SameValuesAsTheFullReaderForEveryCell) {
  for (bool date1904 : {false, true}) {
    auto path = dir / "rich.xlsm";
    xlsx_test::write_rich_xlsm(path, {.date1904 = date1904, .active_tab = 1});
    auto book = xlsx::Workbook::open(path);
    const xlsx::Worksheet &sheet = book.active_sheet();
    std::vector<xlsx::CellRef> refs;
    for (int row = 1; row <= 9; ++row) {
      for (int col = 1; col <= 19; ++col) {
        refs.push_back({row, col});
      }
    }
    const auto quick = xlsx::read_active_cells(path, refs);
    ASSERT_EQ(quick.size(), refs.size());
    int filled = 0;
    for (std::size_t i = 0; i < refs.size(); ++i) {
      EXPECT_EQ(quick[i], sheet.value(refs[i].row, refs[i].col))
          << xlsx::format_address(refs[i].row, refs[i].col) << " date1904=" << date1904;
      filled += std::holds_alternative<std::monostate>(quick[i]) ? 0 : 1;
    }
    EXPECT_GT(filled, 20); // the comparison covered real values, not only blanks
  }
}

TEST_F(XlsxQuickReadTest, WholeColumnsFromTheirStartRows) {
  auto path = dir / "rich.xlsm";
  xlsx_test::write_rich_xlsm(path);
  auto book = xlsx::Workbook::open(path);
  const xlsx::Worksheet &sheet = book.active_sheet();
  // Column R from row 5, column A from row 1 and again from row 2, column Z (empty).
  const std::vector<xlsx::CellRef> starts = {{5, 18}, {1, 1}, {2, 1}, {1, 26}};
  const auto columns = xlsx::read_active_columns(path, starts);
  ASSERT_EQ(columns.size(), starts.size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::vector<xlsx::CellValue> expected;
    for (int row = starts[i].row; row <= sheet.max_row(); ++row) {
      expected.push_back(sheet.value(row, starts[i].col));
    }
    while (!expected.empty() && std::holds_alternative<std::monostate>(expected.back())) {
      expected.pop_back();
    }
    EXPECT_EQ(columns[i], expected) << i;
  }
  EXPECT_EQ(columns[1].size(), 8u); // A1 .. A8
  EXPECT_TRUE(columns[3].empty());
}

TEST_F(XlsxQuickReadTest, OrderOfTheRequestAndRepeatedCellsAreKept) {
  auto path = dir / "rich.xlsm";
  xlsx_test::write_rich_xlsm(path);
  const auto values = xlsx::read_active_cells(path, {{2, 1}, {1, 1}, {2, 1}, {40, 3}});
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0], xlsx::CellValue{120LL});
  EXPECT_EQ(values[1], xlsx::CellValue{std::string("Name")});
  EXPECT_EQ(values[2], xlsx::CellValue{120LL});
  EXPECT_EQ(values[3], xlsx::CellValue{});
}

TEST_F(XlsxQuickReadTest, NumbersReadAsIntAndFloatReadThem) {
  // Text without "." or an exponent is a whole number of any size; one leading "+" is fine.
  const char *stored[] = {"123456789012345678901234567890",
                          "-00098765432109876543210",
                          "9223372036854775807",
                          "9223372036854775808",
                          "-9223372036854775809",
                          "+42",
                          " +7 ",
                          "+1.5",
                          "1E+30",
                          "+-4"};
  const std::vector<xlsx::CellValue> expected = {xlsx::BigInteger{"123456789012345678901234567890"},
                                                 xlsx::BigInteger{"-98765432109876543210"},
                                                 9223372036854775807LL,
                                                 xlsx::BigInteger{"9223372036854775808"},
                                                 xlsx::BigInteger{"-9223372036854775809"},
                                                 42LL,
                                                 7LL,
                                                 1.5,
                                                 1e30,
                                                 std::string("+-4")};
  const char *shown[] = {"123456789012345678901234567890",
                         "-98765432109876543210",
                         "9223372036854775807",
                         "9223372036854775808",
                         "-9223372036854775809",
                         "42",
                         "7",
                         "1.5",
                         "1e+30",
                         "+-4"};
  std::string xml = ws_open + "<row r=\"1\">";
  std::vector<xlsx::CellRef> refs;
  for (int i = 0; i < static_cast<int>(std::size(stored)); ++i) {
    xml += "<c r=\"" + xlsx::format_address(1, i + 1) + "\"><v>" + stored[i] + "</v></c>";
    refs.push_back({1, i + 1});
  }
  const auto path = write_with(xml + "</row>" + ws_close);
  const auto quick = xlsx::read_active_cells(path, refs);
  auto book = xlsx::Workbook::open(path);
  ASSERT_EQ(quick.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(quick[i], expected[i]) << stored[i];
    EXPECT_EQ(book.active_sheet().value(refs[i].row, refs[i].col), expected[i]) << stored[i];
    EXPECT_EQ(xlsx::to_text(quick[i]), shown[i]);
  }
}

TEST_F(XlsxQuickReadTest, MarkupVariantsReadLikeTheFullParser) {
  // Prefixes, implicit positions, comments, CDATA, character references, line ends, a
  // self-closing value and rich inline text with a phonetic run.
  const std::string sheet =
      "<?xml version=\"1.0\"?>\r\n<x:worksheet "
      "xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData>"
      "<!-- <row r=\"1\"><c r=\"A1\"><v>99</v></c></row> -->"
      "<x:row r='2'><x:c><x:v>1</x:v></x:c><x:c r=\"D2\" t=\"inlineStr\"><x:is><x:r><x:t>a&amp;"
      "</x:t></x:r><x:r><x:t xml:space=\"preserve\"> b&#x4E2D;&#25991;</x:t></x:r><x:rPh><x:t>"
      "ignored</x:t></x:rPh></x:is></x:c><x:c t=\"str\"><x:v><![CDATA[<raw> &amp;]]></x:v></x:c>"
      "</x:row><x:row><x:c t=\"str\"><x:v>l1\r\nl2\rl3</x:v></x:c><x:c><x:v/></x:c>"
      "<x:c r=\"C3\" t=\"e\" ><x:v >#N/A</x:v ></x:c></x:row></x:sheetData></x:worksheet>";
  auto path = write_with(sheet);
  const std::vector<xlsx::CellRef> refs = {{1, 1}, {2, 1}, {2, 4}, {2, 5}, {3, 1}, {3, 2}, {3, 3}};
  const auto quick = xlsx::read_active_cells(path, refs);
  auto book = xlsx::Workbook::open(path);
  const std::vector<xlsx::CellValue> expected = {
      xlsx::CellValue{},         1LL,
      std::string("a& b中文"),   std::string("<raw> &amp;"),
      std::string("l1\nl2\nl3"), xlsx::CellValue{}, // an empty <v/> holds no value
      xlsx::CellError{"#N/A"}};
  for (std::size_t i = 0; i < refs.size(); ++i) {
    EXPECT_EQ(quick[i], expected[i]) << i;
    EXPECT_EQ(book.active_sheet().value(refs[i].row, refs[i].col), expected[i]) << i;
  }
}

TEST_F(XlsxQuickReadTest, AReferenceToNoTextCharacterIsMalformedForBothReaders) {
  // NUL, a surrogate, a number past Unicode: in a value, in inline text, in an attribute the
  // quick reader reads.
  for (const std::string cell :
       {"<c r=\"A1\"><v>1&#0;</v></c>", "<c r=\"A1\" t=\"inlineStr\"><is><t>a&#x0;b</t></is></c>",
        "<c r=\"A1\" s=\"&#xD800;\"><v>1</v></c>", "<c r=\"A1\"><v>&#4294967345;</v></c>"}) {
    const auto path = write_with(ws_open + "<row r=\"1\">" + cell + "</row>" + ws_close);
    for (bool quick : {true, false}) {
      try {
        if (quick)
          xlsx::read_active_cells(path, {{1, 1}});
        else
          xlsx::Workbook::open(path).active_sheet();
        ADD_FAILURE() << "no error for " << cell << (quick ? " (quick)" : " (full)");
      } catch (const xlsx::Error &e) {
        EXPECT_NE(std::string(e.what()).find("malformed XML"), std::string::npos) << e.what();
      }
    }
  }
  // Other control characters read as they would unescaped; in a comment or a CDATA section a
  // reference is only text.
  const auto path = write_with(ws_open +
                               "<row r=\"1\"><c r=\"A1\" t=\"str\"><v>a&#x1;b<![CDATA[&#0;]]><!-- "
                               "&#0; --></v></c></row>" +
                               ws_close);
  const xlsx::CellValue expected{std::string("a\x01"
                                             "b&#0;")};
  EXPECT_EQ(xlsx::read_active_cells(path, {{1, 1}})[0], expected);
  EXPECT_EQ(xlsx::Workbook::open(path).active_sheet().value(1, 1), expected);
}

TEST_F(XlsxQuickReadTest, ScanStopsAfterTheLastRowAskedFor) {
  // Everything after row 3 of the sheet and after the second shared string is damaged: the
  // full reader refuses the file, the quick read never gets there.
  const std::string sheet = ws_open + "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c></row>"
                                      "<row r=\"3\"><c r=\"B3\"><v>7.5</v></c></row>"
                                      "<row r=\"4\"><c r=\"A4\"><v>1</v><<<< not xml";
  const std::string strings =
      "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<si><t>zero</t></si><si><r><t>o</t></r><r><t>ne</t></r></si><si><t>two<<< broken";
  auto path = write_with(sheet, strings);
  EXPECT_THROW(xlsx::Workbook::open(path).active_sheet(), xlsx::Error);
  const auto values = xlsx::read_active_cells(path, {{1, 1}, {3, 2}, {2, 2}});
  EXPECT_EQ(values[0], xlsx::CellValue{std::string("one")});
  EXPECT_EQ(values[1], xlsx::CellValue{7.5});
  EXPECT_EQ(values[2], xlsx::CellValue{});
  // Asking for a row in the damaged part reaches it and fails, naming the file.
  try {
    xlsx::read_active_cells(path, {{5, 1}});
    ADD_FAILURE() << "no error";
  } catch (const xlsx::Error &e) {
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
  }
}

TEST_F(XlsxQuickReadTest, BadFilesAndPartsFailNamingTheFile) {
  auto expect_error = [&](const std::filesystem::path &path, const std::string &part_of_message) {
    try {
      xlsx::read_active_cells(path, {{1, 1}});
      ADD_FAILURE() << "no error for " << path;
    } catch (const xlsx::Error &e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(path.string()), std::string::npos) << what;
      EXPECT_NE(what.find(part_of_message), std::string::npos) << what;
    }
  };
  const auto text_file = dir / "text.xlsx";
  xlsx_test::write_file(text_file, "just some text");
  expect_error(text_file, "zip");
  expect_error(write_with("no markup at all"), "holds no worksheet");
  expect_error(write_with("<chartsheet/>"), "holds no worksheet");
  expect_error(write_with(ws_open + "<row r=\"1\"><c r=\"A1\"><v>1"), "malformed XML");
  expect_error(
      write_with(ws_open + "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>9</v></c></row>" + ws_close),
      "shared string 9");
  EXPECT_THROW(xlsx::read_active_cells(text_file, {{0, 1}}), std::invalid_argument);
}

TEST_F(XlsxQuickReadTest, AnEndlessTextRunIsRefusedInsteadOfHeldInMemory) {
  // 17 MiB of text without markup deflates to a few dozen kilobytes; a bomb of the same kind
  // could inflate to gigabytes, so the scanner stops long before.
  std::string run(std::size_t{17} << 20, 'a');
  const auto path = write_with(ws_open + "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>" + run +
                               "</t></is></c></row>" + ws_close);
  run = std::string();
  try {
    xlsx::read_active_cells(path, {{1, 1}});
    ADD_FAILURE() << "no error";
  } catch (const xlsx::Error &e) {
    EXPECT_NE(std::string(e.what()).find("longer than 16 MiB"), std::string::npos) << e.what();
  }
  EXPECT_THROW(xlsx::read_active_columns(path, {{1, 2}}), xlsx::Error);
}

TEST_F(XlsxQuickReadTest, Utf16SheetIsReadByTheFullParser) {
  const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + ws_open +
                          "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>utf16</t></is></c>"
                          "</row>" +
                          ws_close;
  std::string data = "\xFF\xFE";
  for (char c : xml) {
    data += c;
    data += '\0';
  }
  const auto values = xlsx::read_active_cells(write_with(data), {{1, 1}});
  EXPECT_EQ(values[0], xlsx::CellValue{std::string("utf16")});
}

} // namespace
