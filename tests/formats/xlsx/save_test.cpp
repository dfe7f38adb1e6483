#include "core/fs.hpp"
#include "formats/xlsx/package.hpp"
#include "formats/xlsx/workbook.hpp"
#include "support/xlsx_fixtures.hpp"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <optional>
#include <random>
#include <sys/stat.h>

namespace xlsx = vaskit::xlsx;
namespace detail = vaskit::xlsx::detail;
namespace fs = std::filesystem;
using xlsx_test::TempDirTest;

namespace {

std::vector<std::string> folder_listing(const fs::path &dir) {
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

using XlsxSaveTest = TempDirTest;
using vaskit::fs::ScopedWriteHook;
using vaskit::fs::WriteStage;

TEST_F(XlsxSaveTest, FailedSaveLeavesTheOriginalAndNoTemporaryFile) {
  struct Case {
    const char *what;
    WriteStage stage;
    std::size_t after_bytes;
  };
  for (const Case &c : {Case{"first block", WriteStage::wrote_block, 0},
                        Case{"after 64 KiB", WriteStage::wrote_block, 65536},
                        Case{"before rename", WriteStage::before_rename, 0}}) {
    auto path = dir / "tool.xlsm";
    xlsx_test::write_rich_xlsm(path);
    const std::string before = xlsx_test::read_file(path);
    auto book = xlsx::Workbook::open(path);
    // Enough data, hard to compress, that the package spans several blocks.
    std::mt19937 gen(7);
    std::string last;
    for (int row = 1; row <= 3000; ++row) {
      last.clear();
      for (int i = 0; i < 40; ++i) {
        last += static_cast<char>('a' + gen() % 26);
      }
      book.active_sheet().set_value(row, 20, last);
    }
    std::optional<ScopedWriteHook> fault;
    fault.emplace([&](WriteStage stage, std::size_t written) {
      if (stage == c.stage && written >= c.after_bytes) {
        throw std::runtime_error("No space left on device");
      }
    });
    try {
      book.save();
      ADD_FAILURE() << c.what << ": save succeeded";
    } catch (const xlsx::Error &e) {
      EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos);
    }
    EXPECT_EQ(xlsx_test::read_file(path), before) << c.what;
    EXPECT_EQ(folder_listing(dir), std::vector<std::string>{"tool.xlsm"}) << c.what;

    // The same workbook saves once the fault is gone.
    fault.reset();
    book.save();
    EXPECT_EQ(xlsx::Workbook::open(path).active_sheet().value(3000, 20), xlsx::CellValue{last});
    fs::remove(path);
  }
}

TEST_F(XlsxSaveTest, SaveIntoAMissingFolderFailsCleanly) {
  auto book = xlsx::Workbook::create(dir / "missing" / "new.xlsx", "PayList");
  EXPECT_THROW(book.save(), xlsx::Error);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(XlsxSaveTest, SaveKeepsPermissionBitsAndReplacesLinkTarget) {
  auto path = dir / "tool.xlsm";
  xlsx_test::write_rich_xlsm(path);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  auto link = dir / "link.xlsm";
  fs::create_symlink(path, link);
  auto book = xlsx::Workbook::open(link);
  book.active_sheet().set_value("A1", std::string("changed"));
  book.save();
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(xlsx::Workbook::open(path).active_sheet().value("A1"),
            xlsx::CellValue{std::string("changed")});
}

// Links are followed to the file they name, through chains and relative targets, and a link
// whose file does not exist yet gets that file rather than being replaced by it.
TEST_F(XlsxSaveTest, SaveWritesThroughLinkChainsAndDanglingLinks) {
  fs::create_directory(dir / "real");
  auto path = dir / "real" / "tool.xlsm";
  xlsx_test::write_rich_xlsm(path);
  fs::create_symlink("real/tool.xlsm", dir / "first.xlsm");
  fs::create_symlink("first.xlsm", dir / "second.xlsm");
  {
    auto book = xlsx::Workbook::open(dir / "second.xlsm");
    book.active_sheet().set_value("A1", std::string("through"));
    book.save();
  }
  EXPECT_TRUE(fs::is_symlink(dir / "first.xlsm"));
  EXPECT_TRUE(fs::is_symlink(dir / "second.xlsm"));
  EXPECT_EQ(xlsx::Workbook::open(path).active_sheet().value("A1"),
            xlsx::CellValue{std::string("through")});

  fs::create_symlink("real/later.xlsx", dir / "dangling.xlsx");
  {
    auto book = xlsx::Workbook::create(dir / "dangling.xlsx", "PayList");
    book.active_sheet().set_value("M5", std::string("new"));
    book.save();
  }
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.xlsx"));
  ASSERT_TRUE(fs::is_regular_file(dir / "real" / "later.xlsx"));
  EXPECT_EQ(xlsx::Workbook::open(dir / "real" / "later.xlsx").active_sheet().value("M5"),
            xlsx::CellValue{std::string("new")});

  fs::create_symlink("loop_b.xlsx", dir / "loop_a.xlsx");
  fs::create_symlink("loop_a.xlsx", dir / "loop_b.xlsx");
  auto book = xlsx::Workbook::create(dir / "loop_a.xlsx", "PayList");
  EXPECT_THROW(book.save(), xlsx::Error);
  EXPECT_TRUE(fs::is_symlink(dir / "loop_a.xlsx"));
}

TEST_F(XlsxSaveTest, NewWorkbooks) {
  struct Case {
    const char *file;
    const char *main_type;
  };
  for (const Case &c :
       {Case{"payList_tool.xlsm", "application/vnd.ms-excel.sheet.macroEnabled.main+xml"},
        Case{"PAYLIST.XLSM", "application/vnd.ms-excel.sheet.macroEnabled.main+xml"},
        Case{"report.xlsx",
             "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"}}) {
    auto path = dir / c.file;
    {
      auto book = xlsx::Workbook::create(path, "PayList");
      EXPECT_FALSE(fs::exists(path)); // nothing is written before save
      book.active_sheet().set_value(5, 13, std::string("2024/05/03"));
      book.active_sheet().set_alignment(5, 16, {"left", "center", true});
      book.active_sheet().set_value(5, 17, 120LL);
      book.save();
    }
    auto entries = xlsx_test::read_zip(path);
    std::vector<std::string> names;
    for (const auto &e : entries) {
      names.push_back(e.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"[Content_Types].xml", "_rels/.rels",
                                               "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                                               "xl/worksheets/sheet1.xml", "xl/styles.xml"}));
    EXPECT_NE(xlsx_test::entry(entries, "[Content_Types].xml").data.find(c.main_type),
              std::string::npos)
        << c.file;
    auto book = xlsx::Workbook::open(path);
    EXPECT_EQ(book.sheet_names(), std::vector<std::string>{"PayList"});
    EXPECT_EQ(book.active_sheet().value("M5"), xlsx::CellValue{std::string("2024/05/03")});
    EXPECT_EQ(book.active_sheet().value("Q5"), xlsx::CellValue{120LL});
    EXPECT_EQ(book.active_sheet().value("P5"), xlsx::CellValue{});
  }
  // Same content, same bytes.
  auto a = xlsx::Workbook::create(dir / "a.xlsx", "PayList");
  auto b = xlsx::Workbook::create(dir / "b.xlsx", "PayList");
  a.save();
  b.save();
  EXPECT_EQ(xlsx_test::read_file(dir / "a.xlsx"), xlsx_test::read_file(dir / "b.xlsx"));

  for (const char *bad :
       {"", "a/b", "a:b", "[x]", "'quoted'", "1234567890123456789012345678901x"}) {
    EXPECT_THROW(xlsx::Workbook::create(dir / "x.xlsx", bad), std::invalid_argument) << bad;
  }
  EXPECT_NO_THROW(xlsx::Workbook::create(dir / "x.xlsx", "費用 & <明細>"));
}

TEST_F(XlsxSaveTest, WorkbookWithoutStyleSheetGetsOne) {
  auto entries = xlsx_test::rich_entries();
  std::erase_if(entries, [](const auto &e) { return e.name == "xl/styles.xml"; });
  for (auto &e : entries) {
    if (e.name == "xl/_rels/workbook.xml.rels") {
      auto at = e.data.find("<Relationship Id=\"rId3\"");
      e.data.erase(at, e.data.find("/>", at) + 2 - at);
    }
  }
  auto path = dir / "nostyles.xlsm";
  xlsx_test::write_zip(path, entries);
  {
    auto book = xlsx::Workbook::open(path);
    EXPECT_EQ(book.active_sheet().value("E2"), xlsx::CellValue{45000LL}); // no formats: a number
    book.active_sheet().set_alignment("A1", {"center", std::nullopt, false});
    book.save();
  }
  auto saved = xlsx_test::read_zip(path);
  EXPECT_NE(xlsx_test::entry(saved, "xl/_rels/workbook.xml.rels").data.find("styles.xml"),
            std::string::npos);
  EXPECT_NE(xlsx_test::entry(saved, "[Content_Types].xml").data.find("/xl/styles.xml"),
            std::string::npos);
  EXPECT_NE(xlsx_test::entry(saved, "xl/styles.xml").data.find("horizontal=\"center\""),
            std::string::npos);
}

// A style sheet named by the workbook's relationships and content types but absent from the
// package is added under that name, without a second relationship or content type entry.
TEST_F(XlsxSaveTest, MissingStyleSheetPartIsAddedWhereItIsNamed) {
  auto entries = xlsx_test::rich_entries();
  std::erase_if(entries, [](const auto &e) { return e.name == "xl/styles.xml"; });
  auto path = dir / "lost_styles.xlsm";
  xlsx_test::write_zip(path, entries);
  {
    auto book = xlsx::Workbook::open(path);
    book.active_sheet().set_alignment("A1", {"center", std::nullopt, false});
    book.save();
  }
  auto saved = xlsx_test::read_zip(path);
  auto count = [](const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
      ++n;
    }
    return n;
  };
  EXPECT_EQ(count(xlsx_test::entry(saved, "xl/_rels/workbook.xml.rels").data, "/styles\""), 1u);
  EXPECT_EQ(count(xlsx_test::entry(saved, "[Content_Types].xml").data, "\"/xl/styles.xml\""), 1u);
  EXPECT_NE(xlsx_test::entry(saved, "xl/styles.xml").data.find("horizontal=\"center\""),
            std::string::npos);
  EXPECT_EQ(xlsx::Workbook::open(path).active_sheet().value("A1"),
            xlsx::CellValue{std::string("Name")});
}

// Format 0 is the look of every unstyled cell; a style sheet without cell formats must not
// have its first added, aligned format take that place.
TEST_F(XlsxSaveTest, StyleSheetWithoutCellFormatsKeepsFormatZeroPlain) {
  for (const std::string replacement : {"", "<cellXfs count=\"0\"/>"}) {
    auto entries = xlsx_test::rich_entries();
    for (auto &e : entries) {
      if (e.name == "xl/styles.xml") {
        auto at = e.data.find("<cellXfs");
        e.data.replace(at, e.data.find("</cellXfs>") + 10 - at, replacement);
      }
    }
    auto path = dir / "noxfs.xlsm";
    xlsx_test::write_zip(path, entries);
    {
      auto book = xlsx::Workbook::open(path);
      book.active_sheet().set_value("M5", std::string("x"));
      book.active_sheet().set_alignment("M5", {"center", "center", false});
      book.save();
    }
    pugi::xml_document styles;
    ASSERT_TRUE(styles.load_string(
        xlsx_test::entry(xlsx_test::read_zip(path), "xl/styles.xml").data.c_str()));
    pugi::xml_node xfs = styles.child("styleSheet").child("cellXfs");
    std::vector<pugi::xml_node> formats;
    for (pugi::xml_node xf : xfs.children("xf")) {
      formats.push_back(xf);
    }
    ASSERT_EQ(formats.size(), 2u) << replacement;
    EXPECT_FALSE(formats[0].child("alignment")) << replacement;
    EXPECT_STREQ(formats[1].child("alignment").attribute("horizontal").value(), "center");
    EXPECT_EQ(xfs.attribute("count").as_int(), 2);
    const std::string sheet =
        xlsx_test::entry(xlsx_test::read_zip(path), "xl/worksheets/sheet2.xml").data;
    EXPECT_NE(sheet.find("<c r=\"M5\" s=\"1\""), std::string::npos) << sheet;
  }
}

// An independent reader must see the values, alignments and macro project we wrote.
TEST_F(XlsxSaveTest, OpenpyxlReadsEditedAndNewWorkbooks) {
  if (!xlsx_test::have_openpyxl()) {
    GTEST_SKIP() << "python3-openpyxl is not installed";
  }
  auto path = dir / "tool.xlsm";
  xlsx_test::write_rich_xlsm(path);
  {
    auto book = xlsx::Workbook::open(path);
    auto &ws = book.active_sheet();
    ws.set_value("M5", std::string("2024/05/03"));
    ws.set_alignment("M5", {"center", "center", false});
    ws.set_value("P5", std::string("=not a formula"));
    ws.set_alignment("P5", {"left", "center", true});
    ws.set_value("Q5", 120LL);
    ws.set_value("Q8", 99.5);
    ws.set_value("M8", std::string("  中文 "));
    book.set_full_calc_on_load();
    book.save();
  }
  const std::string script =
      "import sys, openpyxl\n"
      "wb = openpyxl.load_workbook(sys.argv[1], keep_vba=True)\n"
      "ws = wb.active\n"
      "print(ws.title)\n"
      "for a in [\"M5\", \"P5\", \"Q5\", \"Q8\", \"M8\", \"O5\", \"E2\"]:\n"
      "    print(a, repr(ws[a].value))\n"
      "c = ws[\"M5\"]\n"
      "print(c.alignment.horizontal, c.alignment.vertical, c.alignment.wrap_text, c.font.b,"
      " c.border.left.style)\n"
      "p = ws[\"P5\"]\n"
      "print(p.alignment.horizontal, p.alignment.wrap_text, p.data_type)\n"
      "print(wb.vba_archive is not None, wb.calculation.fullCalcOnLoad)\n";
  const std::string out = xlsx_test::run_python(script, {path.string()});
  EXPECT_EQ(out, "Form\n"
                 "M5 '2024/05/03'\n"
                 "P5 '=not a formula'\n"
                 "Q5 120\n"
                 "Q8 99.5\n"
                 "M8 '  中文 '\n"
                 "O5 7\n"
                 "E2 datetime.datetime(2023, 3, 15, 0, 0)\n"
                 "center center None True thin\n"
                 "left True s\n"
                 "True True\n");

  auto fresh = dir / "new.xlsm";
  auto book = xlsx::Workbook::create(fresh, "PayList");
  book.active_sheet().set_value("Q5", 7.25);
  book.save();
  EXPECT_EQ(
      xlsx_test::run_python("import sys, openpyxl\n"
                            "wb = openpyxl.load_workbook(sys.argv[1], keep_vba=True)\n"
                            "print(wb.sheetnames, wb.active.title, wb.active[\"Q5\"].value)\n",
                            {fresh.string()}),
      "['PayList'] PayList 7.25\n");
}

} // namespace

namespace {

TEST_F(XlsxSaveTest, RemovingTheMacroProject) {
  auto entries = xlsx_test::rich_entries();
  entries.push_back({"xl/_rels/vbaProject.bin.rels",
                     "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                     "relationships\"><Relationship Id=\"rId1\" "
                     "Type=\"http://schemas.microsoft.com/office/2006/relationships/"
                     "vbaProjectSignature\" Target=\"vbaProjectSignature.bin\"/></Relationships>"});
  entries.push_back({"xl/vbaProjectSignature.bin", "signature"});
  for (auto &e : entries) {
    if (e.name == "[Content_Types].xml") {
      e.data.insert(e.data.find("</Types>"),
                    "<Override PartName=\"/xl/vbaProjectSignature.bin\" "
                    "ContentType=\"application/vnd.ms-office.vbaProjectSignature\"/>");
    }
  }
  auto path = dir / "renamed.xlsx";
  xlsx_test::write_zip(path, entries);
  {
    auto book = xlsx::Workbook::open(path);
    EXPECT_TRUE(book.has_macro_project());
    book.remove_macro_project();
    EXPECT_FALSE(book.has_macro_project());
    book.active_sheet().set_value("M5", std::string("kept"));
    book.save();
  }
  auto saved = xlsx_test::read_zip(path);
  for (const auto &e : saved) {
    EXPECT_EQ(e.name.find("vbaProject"), std::string::npos) << e.name;
  }
  const std::string types = xlsx_test::entry(saved, "[Content_Types].xml").data;
  EXPECT_EQ(types.find("macroEnabled"), std::string::npos) << types;
  EXPECT_EQ(types.find("vbaProject"), std::string::npos) << types;
  EXPECT_NE(types.find("spreadsheetml.sheet.main+xml"), std::string::npos) << types;
  EXPECT_EQ(xlsx_test::entry(saved, "xl/_rels/workbook.xml.rels").data.find("vbaProject"),
            std::string::npos);
  // Everything else is still there.
  EXPECT_EQ(saved.size(), entries.size() - 3);
  auto book = xlsx::Workbook::open(path);
  EXPECT_FALSE(book.has_macro_project());
  EXPECT_EQ(book.active_sheet().value("M5"), xlsx::CellValue{std::string("kept")});
  // A workbook without a project is left alone.
  auto fresh = xlsx::Workbook::create(dir / "plain.xlsx", "PayList");
  fresh.remove_macro_project();
  fresh.save();
  EXPECT_EQ(xlsx_test::read_zip(dir / "plain.xlsx").size(), 6u);
}

} // namespace
