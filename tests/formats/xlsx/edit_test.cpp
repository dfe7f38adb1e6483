#include "formats/xlsx/package.hpp"
#include "formats/xlsx/workbook.hpp"
#include "support/xlsx_fixtures.hpp"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <zip.h>

#include <limits>
#include <set>

namespace xlsx = vaskit::xlsx;
namespace fs = std::filesystem;
using xlsx_test::TempDirTest;

namespace {

pugi::xml_document parse(const std::string &xml) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(xml.c_str()));
  return doc;
}

// The cell formats (<xf>) of a saved style sheet.
std::vector<pugi::xml_node> cell_formats(const pugi::xml_document &styles) {
  std::vector<pugi::xml_node> out;
  for (pugi::xml_node xf : styles.child("styleSheet").child("cellXfs").children("xf")) {
    out.push_back(xf);
  }
  return out;
}

class XlsxEditTest : public TempDirTest {
protected:
  void SetUp() override {
    TempDirTest::SetUp();
    path = dir / "payList_tool.xlsm";
    xlsx_test::write_rich_xlsm(path);
    original = xlsx_test::read_zip(path);
  }
  fs::path path;
  std::vector<xlsx_test::RawEntry> original;
};

// The four cells of one receipt row, as the expense export writes them.
void write_receipt_row(xlsx::Worksheet &ws, int row, const xlsx::CellInput &amount) {
  ws.set_value(row, 13, std::string("2024/05/03"));
  ws.set_alignment(row, 13, {"center", "center", false});
  ws.set_value(row, 14, std::string("Transportation_Taxi_Limo"));
  ws.set_alignment(row, 14, {"left", "center", false});
  ws.set_value(row, 16, std::string("Office -> Client A"));
  ws.set_alignment(row, 16, {"left", "center", true});
  ws.set_value(row, 17, amount);
  ws.set_alignment(row, 17, {"center", "center", false});
}

TEST_F(XlsxEditTest, UntouchedPartsStayByteIdentical) {
  {
    auto book = xlsx::Workbook::open(path);
    write_receipt_row(book.active_sheet(), 5, 120LL);
    write_receipt_row(book.active_sheet(), 8, std::string("NT$120"));
    book.set_full_calc_on_load();
    book.save();
  }
  auto saved = xlsx_test::read_zip(path);
  ASSERT_EQ(saved.size(), original.size());
  const std::set<std::string> rewritten = {"xl/worksheets/sheet2.xml", "xl/styles.xml",
                                           "xl/workbook.xml", "xl/calcChain.xml"};
  for (std::size_t i = 0; i < saved.size(); ++i) {
    EXPECT_EQ(saved[i].name, original[i].name) << "entry order changed at " << i;
    if (rewritten.count(saved[i].name) != 0) {
      EXPECT_NE(saved[i].data, original[i].data) << saved[i].name;
      continue;
    }
    // Same bytes, and the same compressed bytes: copied, not re-deflated.
    EXPECT_TRUE(saved[i].data == original[i].data) << saved[i].name;
    EXPECT_TRUE(saved[i].compressed == original[i].compressed) << saved[i].name;
    EXPECT_EQ(saved[i].method, original[i].method) << saved[i].name;
    EXPECT_EQ(saved[i].crc, original[i].crc) << saved[i].name;
  }
  EXPECT_EQ(xlsx_test::entry(saved, "xl/vbaProject.bin").data, xlsx_test::fake_vba_project());
  EXPECT_EQ(xlsx_test::entry(saved, "xl/drawings/drawing1.xml").method, ZIP_CM_STORE);
  EXPECT_NE(xlsx_test::entry(saved, "xl/drawings/drawing1.xml").data.find("macro=\"[0]!FillRows\""),
            std::string::npos);
  auto workbook = parse(xlsx_test::entry(saved, "xl/workbook.xml").data);
  pugi::xml_node calc = workbook.child("workbook").child("calcPr");
  EXPECT_STREQ(calc.attribute("fullCalcOnLoad").value(), "1");
  EXPECT_STREQ(calc.attribute("calcId").value(), "191029");
}

TEST_F(XlsxEditTest, WrittenValuesReadBack) {
  const std::vector<std::tuple<std::string, xlsx::CellInput, xlsx::CellValue>> cases = {
      {"M5", std::string("2024/05/03"), std::string("2024/05/03")}, // was a shared string
      {"Q5", 120LL, 120LL},                                         // was a formula
      {"Q8", 99.5, 99.5},
      {"Q11", std::string("NT$120"), std::string("NT$120")},
      {"A1", std::string("=SUM(A2:A3)"), std::string("=SUM(A2:A3)")}, // text, not a formula
      {"B1", std::string("  lead and trail  "), std::string("  lead and trail  ")},
      {"C1",
       std::string("a\x01"
                   "b\xFF"
                   "c"),
       std::string("ab\xEF\xBF\xBD"
                   "c")},
      {"D1", std::string("_x0041_ & <tag> \"q\""), std::string("_x0041_ & <tag> \"q\"")},
      {"E1", std::string("two\r\nlines"), std::string("two\r\nlines")},
      {"O5", xlsx::CellInput{}, 7LL},             // no value: kept
      {"A2", std::string(""), xlsx::CellValue{}}, // empty text empties
      {"B2", -42LL, -42LL},
      {"C2", 1e20, 1e20},
      {"E2", 45001LL, xlsx::CellValue{}}, // checked below: date style
  };
  {
    auto book = xlsx::Workbook::open(path);
    auto &ws = book.active_sheet();
    for (const auto &[address, input, expected] : cases) {
      ws.set_value(address, input);
    }
    book.save();
  }
  auto book = xlsx::Workbook::open(path);
  auto &ws = book.active_sheet();
  for (const auto &[address, input, expected] : cases) {
    if (address == "E2") {
      continue;
    }
    EXPECT_EQ(ws.value(address), expected) << address;
  }
  // The cell keeps its date format, so the new number reads as a date.
  auto e2 = std::get<xlsx::DateTime>(ws.value("E2"));
  EXPECT_EQ(e2.day, 16);

  auto sheet = parse(xlsx_test::entry(xlsx_test::read_zip(path), "xl/worksheets/sheet2.xml").data);
  pugi::xml_node data = sheet.child("worksheet").child("sheetData");
  pugi::xml_node a1 =
      data.find_child_by_attribute("row", "r", "1").find_child_by_attribute("c", "r", "A1");
  EXPECT_FALSE(a1.child("f"));
  EXPECT_STREQ(a1.attribute("t").value(), "inlineStr");
  pugi::xml_node q5 =
      data.find_child_by_attribute("row", "r", "5").find_child_by_attribute("c", "r", "Q5");
  EXPECT_FALSE(q5.child("f"));
  EXPECT_STREQ(q5.attribute("s").value(), "6"); // style kept
  pugi::xml_node a2 =
      data.find_child_by_attribute("row", "r", "2").find_child_by_attribute("c", "r", "A2");
  EXPECT_TRUE(a2 && !a2.first_child());

  auto &other = book.sheet("Data");
  EXPECT_THROW(other.set_value(1, 1, std::numeric_limits<double>::quiet_NaN()),
               std::invalid_argument);
  EXPECT_THROW(other.set_value(1, 1, std::numeric_limits<double>::infinity()),
               std::invalid_argument);
  EXPECT_EQ(other.value("A1"), xlsx::CellValue{1LL});
}

TEST_F(XlsxEditTest, CellsAreInsertedInRowAndColumnOrder) {
  {
    auto book = xlsx::Workbook::open(path);
    auto &ws = book.active_sheet();
    // Out of order on purpose: new rows before, between and after existing ones; new cells
    // before, between and after existing ones in a row.
    for (const char *address : {"Q20", "P5", "A5", "N5", "S5", "C3", "B4", "Z2", "D8", "A6"}) {
      ws.set_value(address, std::string(address));
    }
    book.save();
  }
  auto sheet = parse(xlsx_test::entry(xlsx_test::read_zip(path), "xl/worksheets/sheet2.xml").data);
  std::vector<int> row_numbers;
  for (pugi::xml_node row : sheet.child("worksheet").child("sheetData").children("row")) {
    row_numbers.push_back(row.attribute("r").as_int());
    int last_col = 0;
    for (pugi::xml_node c : row.children("c")) {
      int col = xlsx::parse_address(c.attribute("r").value()).col;
      EXPECT_GT(col, last_col) << "row " << row_numbers.back();
      EXPECT_EQ(xlsx::parse_address(c.attribute("r").value()).row, row_numbers.back());
      last_col = col;
    }
  }
  EXPECT_EQ(row_numbers, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 20}));
  pugi::xml_node row5 =
      sheet.child("worksheet").child("sheetData").find_child_by_attribute("row", "r", "5");
  std::vector<std::string> row5_cells;
  for (pugi::xml_node c : row5.children("c")) {
    row5_cells.push_back(c.attribute("r").value());
  }
  EXPECT_EQ(row5_cells, (std::vector<std::string>{"A5", "M5", "N5", "O5", "P5", "Q5", "R5", "S5"}));
  // A cell outside the row's "spans" hint drops the hint; the sheet's extent grows.
  EXPECT_FALSE(row5.attribute("spans"));
  EXPECT_STREQ(sheet.child("worksheet").child("dimension").attribute("ref").value(), "A1:Z20");
  // New cells take the column's or the row's style, as the form shows them.
  EXPECT_STREQ(row5.find_child_by_attribute("c", "r", "P5").attribute("s").value(), "1");
  pugi::xml_node row8 =
      sheet.child("worksheet").child("sheetData").find_child_by_attribute("row", "r", "8");
  EXPECT_STREQ(row8.find_child_by_attribute("c", "r", "D8").attribute("s").value(), "6");
  // The rest of the sheet is where it was.
  EXPECT_TRUE(sheet.child("worksheet").child("drawing"));
  EXPECT_TRUE(sheet.child("worksheet").child("legacyDrawing"));
}

TEST_F(XlsxEditTest, AlignmentReplacesOnlyTheAlignment) {
  {
    auto book = xlsx::Workbook::open(path);
    auto &ws = book.active_sheet();
    ws.set_alignment("M5", {"center", "center", false}); // style 1: bold, border, protection
    ws.set_alignment("Q5", {"center", "center", false}); // style 6: number format 3
    ws.set_alignment("O5", {"center", "center", false}); // same as M5: reuses its new format
    ws.set_alignment("P9", {"left", "center", true});    // new cell in a styled column
    ws.set_alignment("A9", {std::nullopt, std::nullopt, true});
    EXPECT_THROW(ws.set_alignment("B9", {"middle", std::nullopt, false}), std::invalid_argument);
    EXPECT_THROW(ws.set_alignment("B9", {std::nullopt, "centre", false}), std::invalid_argument);
    book.save();
  }
  auto saved = xlsx_test::read_zip(path);
  auto styles = parse(xlsx_test::entry(saved, "xl/styles.xml").data);
  auto xfs = cell_formats(styles);
  ASSERT_EQ(xfs.size(), 7u + 4u);
  EXPECT_STREQ(styles.child("styleSheet").child("cellXfs").attribute("count").value(), "11");
  // The original formats are unchanged.
  EXPECT_STREQ(xfs[1].child("alignment").attribute("horizontal").value(), "right");

  auto book = xlsx::Workbook::open(path);
  auto sheet = parse(xlsx_test::entry(saved, "xl/worksheets/sheet2.xml").data);
  auto style_of = [&](const char *address) {
    auto ref = xlsx::parse_address(address);
    pugi::xml_node row = sheet.child("worksheet")
                             .child("sheetData")
                             .find_child_by_attribute("row", "r", std::to_string(ref.row).c_str());
    return row.find_child_by_attribute("c", "r", address).attribute("s").as_int(-1);
  };
  const int m5 = style_of("M5"), q5 = style_of("Q5"), o5 = style_of("O5"), p9 = style_of("P9");
  EXPECT_EQ(m5, o5);
  EXPECT_NE(m5, q5);
  struct Expect {
    int index;
    int base;
    const char *horizontal;
    const char *vertical;
    bool wrap;
  };
  for (const Expect &e :
       {Expect{m5, 1, "center", "center", false}, Expect{q5, 6, "center", "center", false},
        Expect{p9, 1, "left", "center", true}}) {
    ASSERT_GE(e.index, 7);
    pugi::xml_node xf = xfs[static_cast<std::size_t>(e.index)];
    pugi::xml_node base = xfs[static_cast<std::size_t>(e.base)];
    for (const char *id : {"numFmtId", "fontId", "fillId", "borderId", "xfId", "applyFont",
                           "applyBorder", "applyNumberFormat", "applyProtection"}) {
      EXPECT_STREQ(xf.attribute(id).value(), base.attribute(id).value()) << id;
    }
    EXPECT_STREQ(xf.attribute("applyAlignment").value(), "1");
    pugi::xml_node alignment = xf.child("alignment");
    EXPECT_STREQ(alignment.attribute("horizontal").value(), e.horizontal);
    EXPECT_STREQ(alignment.attribute("vertical").value(), e.vertical);
    EXPECT_EQ(alignment.attribute("wrapText").as_bool(), e.wrap);
    // The old indent does not survive: only the given settings are in the new alignment.
    EXPECT_FALSE(alignment.attribute("indent"));
    EXPECT_EQ(std::string(xf.child("protection").attribute("locked").value()),
              std::string(base.child("protection").attribute("locked").value()));
    EXPECT_EQ(xf.first_child(), alignment); // alignment comes before protection
  }
  // Values are untouched by alignment changes.
  EXPECT_EQ(book.active_sheet().value("M5"), xlsx::CellValue{std::string("Date")});
  EXPECT_EQ(book.active_sheet().value("Q5"), xlsx::CellValue{121LL});
}

TEST_F(XlsxEditTest, OverwritingASharedFormulaKeepsItsDependents) {
  {
    auto book = xlsx::Workbook::open(path);
    book.active_sheet().set_value("R5", 5LL);
    book.save();
  }
  auto saved = xlsx_test::read_zip(path);
  auto sheet = parse(xlsx_test::entry(saved, "xl/worksheets/sheet2.xml").data);
  pugi::xml_node data = sheet.child("worksheet").child("sheetData");
  auto formula = [&](const char *row, const char *cell) {
    return data.find_child_by_attribute("row", "r", row)
        .find_child_by_attribute("c", "r", cell)
        .child("f");
  };
  EXPECT_FALSE(formula("5", "R5"));
  EXPECT_STREQ(formula("6", "R6").child_value(), "A6+$B$5+SUM(C6:D6)");
  EXPECT_STREQ(formula("7", "R7").child_value(), "A7+$B$5+SUM(C7:D7)");
  EXPECT_FALSE(formula("7", "R7").attribute("t"));
  EXPECT_FALSE(formula("7", "R7").attribute("si"));

  // The calculation chain no longer names the cell that lost its formula; the entry after it
  // keeps its sheet.
  auto chain = parse(xlsx_test::entry(saved, "xl/calcChain.xml").data);
  std::vector<std::string> entries;
  for (pugi::xml_node c : chain.child("calcChain").children("c")) {
    entries.push_back(std::string(c.attribute("r").value()) + "@" + c.attribute("i").value());
  }
  EXPECT_EQ(entries, (std::vector<std::string>{"Q5@2", "R6@", "R7@", "I2@", "M2@", "B3@1"}));
}

TEST_F(XlsxEditTest, CalcChainEntriesFollowRemovedFormulas) {
  {
    auto book = xlsx::Workbook::open(path);
    book.active_sheet().set_value("Q5", 1LL); // the first entry, which names the sheet
    book.save();
  }
  auto chain = parse(xlsx_test::entry(xlsx_test::read_zip(path), "xl/calcChain.xml").data);
  pugi::xml_node first = chain.child("calcChain").child("c");
  EXPECT_STREQ(first.attribute("r").value(), "R5");
  EXPECT_STREQ(first.attribute("i").value(), "2");

  // Removing every formula removes the chain, its relationship and its content type.
  {
    auto book = xlsx::Workbook::open(path);
    for (const char *cell : {"R5", "R6", "R7", "I2", "M2"}) {
      book.active_sheet().set_value(cell, 0LL);
    }
    book.sheet("Data").set_value("B3", 0LL);
    book.save();
  }
  auto saved = xlsx_test::read_zip(path);
  for (const auto &e : saved) {
    EXPECT_NE(e.name, "xl/calcChain.xml");
  }
  EXPECT_EQ(xlsx_test::entry(saved, "xl/_rels/workbook.xml.rels").data.find("calcChain"),
            std::string::npos);
  EXPECT_EQ(xlsx_test::entry(saved, "[Content_Types].xml").data.find("calcChain"),
            std::string::npos);
  EXPECT_NO_THROW(xlsx::Workbook::open(path).active_sheet().value("R7"));
}

TEST_F(XlsxEditTest, CellsCoveredByAMergedRangeRefuseValues) {
  xlsx_test::write_rich_xlsm_with_merges(path, {"L8:T9", "L11:T11", "B20", "D22:C21"});
  auto book = xlsx::Workbook::open(path);
  auto &form = book.active_sheet();
  for (const char *covered : {"M8", "T9", "L9", "Q11", "C22", "D21"}) {
    try {
      form.set_value(covered, std::string("hidden"));
      ADD_FAILURE() << covered << " was written";
    } catch (const xlsx::Error &e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(std::string("cell ") + covered + " "), std::string::npos) << what;
      EXPECT_TRUE(what.find("L8:T9") != std::string::npos ||
                  what.find("L11:T11") != std::string::npos ||
                  what.find("D22:C21") != std::string::npos)
          << what;
    }
    EXPECT_EQ(form.value(covered), xlsx::CellValue{}) << covered;
    // No value to write is no write.
    EXPECT_NO_THROW(form.set_value(covered, xlsx::CellInput{}));
  }
  // The first cell of a range holds its value; cells next to a range are free.
  form.set_value("L8", std::string("shown"));
  form.set_value("C21", 7LL);
  form.set_value("B20", 1LL);
  form.set_value("K8", 2LL);
  form.set_value("U9", 3LL);
  form.set_value("M10", 4LL);
  book.save();
  auto again = xlsx::Workbook::open(path);
  EXPECT_EQ(again.active_sheet().value("L8"), xlsx::CellValue{std::string("shown")});
  EXPECT_EQ(again.active_sheet().value("C21"), xlsx::CellValue{7LL});
  EXPECT_EQ(again.active_sheet().value("M10"), xlsx::CellValue{4LL});
  EXPECT_EQ(again.active_sheet().value("M8"), xlsx::CellValue{});
}

TEST_F(XlsxEditTest, SavingTwiceGivesTheSameBytes) {
  std::vector<std::string> outputs;
  for (const char *name : {"one.xlsm", "two.xlsm"}) {
    auto book = xlsx::Workbook::open(path);
    write_receipt_row(book.active_sheet(), 5, 1LL);
    book.set_full_calc_on_load();
    book.save_as(dir / name);
    outputs.push_back(xlsx_test::read_file(dir / name));
  }
  EXPECT_EQ(outputs[0], outputs[1]);
  // save_as leaves the source alone.
  EXPECT_EQ(xlsx_test::read_zip(path).size(), original.size());
  EXPECT_EQ(xlsx_test::entry(xlsx_test::read_zip(path), "xl/styles.xml").data,
            xlsx_test::entry(original, "xl/styles.xml").data);
}

} // namespace
