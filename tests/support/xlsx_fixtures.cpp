#include "support/xlsx_fixtures.hpp"

#include <zip.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/wait.h>

namespace vaskit::xlsx {
void PrintTo(const DateTime &v, std::ostream *out) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06d%s", v.year, v.month, v.day,
                v.hour, v.minute, v.second, v.microsecond, v.time_only ? " (time)" : "");
  *out << text;
}
void PrintTo(const CellError &v, std::ostream *out) {
  *out << "error " << v.code;
}
void PrintTo(const BigInteger &v, std::ostream *out) {
  *out << "integer " << v.digits;
}
} // namespace vaskit::xlsx

namespace xlsx_test {

namespace fs = std::filesystem;

void write_zip(const fs::path &path, const std::vector<ZipEntry> &entries) {
  int error = 0;
  zip_t *archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr) << "zip_open " << error;
  for (const ZipEntry &e : entries) {
    zip_source_t *source = zip_source_buffer(archive, e.data.data(), e.data.size(), 0);
    ASSERT_NE(source, nullptr);
    zip_int64_t index = zip_file_add(archive, e.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    ASSERT_GE(index, 0) << e.name;
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                             e.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, e.stored ? 0 : 1);
  }
  ASSERT_EQ(zip_close(archive), 0) << zip_strerror(archive);
}

std::vector<RawEntry> read_zip(const fs::path &path) {
  std::vector<RawEntry> out;
  int error = 0;
  zip_t *archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (archive == nullptr) {
    ADD_FAILURE() << "cannot open " << path << " as zip: " << error;
    return out;
  }
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    RawEntry e;
    zip_stat_t st;
    zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
    e.name = st.name;
    e.method = st.comp_method;
    e.crc = st.crc;
    for (zip_flags_t flags : {zip_flags_t{0}, zip_flags_t{ZIP_FL_COMPRESSED}}) {
      zip_file_t *file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), flags);
      std::string &target = flags == 0 ? e.data : e.compressed;
      if (file == nullptr) {
        ADD_FAILURE() << "cannot read " << e.name;
        continue;
      }
      char buffer[8192];
      zip_int64_t n;
      while ((n = zip_fread(file, buffer, sizeof buffer)) > 0) {
        target.append(buffer, static_cast<std::size_t>(n));
      }
      EXPECT_EQ(n, 0) << "read error in " << e.name;
      zip_fclose(file);
    }
    out.push_back(std::move(e));
  }
  zip_discard(archive);
  return out;
}

const RawEntry &entry(const std::vector<RawEntry> &entries, const std::string &name) {
  for (const RawEntry &e : entries) {
    if (e.name == name) {
      return e;
    }
  }
  throw std::runtime_error("no entry " + name);
}

std::string fake_vba_project() {
  // A compound-file signature followed by bytes that do not compress to anything short, so
  // that a re-deflated copy would differ from the original compressed bytes.
  std::string bytes = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
  std::mt19937 gen(1234);
  for (int i = 0; i < 6000; ++i) {
    bytes += static_cast<char>(gen() % 7 == 0 ? 0 : gen() & 0xFF);
  }
  bytes += "Attribute VB_Name = \"Module1\"\nSub FillRows()\nEnd Sub\n";
  return bytes;
}

namespace {

const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string main_ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string pkg_rel_ns = "http://schemas.openxmlformats.org/package/2006/relationships";

} // namespace

std::vector<ZipEntry> rich_entries(const RichOptions &options) {
  std::vector<ZipEntry> e;
  e.push_back(
      {"[Content_Types].xml",
       decl +
           R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
           R"(<Default Extension="bin" ContentType="application/vnd.ms-office.vbaProject"/>)"
           R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
           R"(<Default Extension="xml" ContentType="application/xml"/>)"
           R"(<Default Extension="vml" ContentType="application/vnd.openxmlformats-officedocument.vmlDrawing"/>)"
           R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.ms-excel.sheet.macroEnabled.main+xml"/>)"
           R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
           R"(<Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
           R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)"
           R"(<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>)"
           R"(<Override PartName="/xl/calcChain.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/>)"
           R"(<Override PartName="/xl/drawings/drawing1.xml" ContentType="application/vnd.openxmlformats-officedocument.drawing+xml"/>)"
           R"(<Override PartName="/xl/ctrlProps/ctrlProp1.xml" ContentType="application/vnd.ms-excel.controlproperties+xml"/>)"
           R"(<Override PartName="/docProps/core.xml" ContentType="application/vnd.openxmlformats-package.core-properties+xml"/>)"
           R"(</Types>)"});
  e.push_back(
      {"_rels/.rels",
       decl + "<Relationships xmlns=\"" + pkg_rel_ns + "\">" +
           R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties" Target="docProps/core.xml"/>)"
           R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)"
           "</Relationships>"});
  e.push_back(
      {"docProps/core.xml",
       decl +
           R"(<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:creator>tester</dc:creator></cp:coreProperties>)"});
  e.push_back(
      {"xl/workbook.xml",
       decl + "<workbook xmlns=\"" + main_ns + "\" xmlns:r=\"" + rel_ns + "\">" +
           R"(<fileVersion appName="xl" lastEdited="7" codeName="{00000000-0000-0000-0000-000000000000}"/>)"
           R"(<workbookPr codeName="ThisWorkbook")" +
           (options.date1904 ? std::string(R"( date1904="1")") : std::string()) +
           R"(/><bookViews><workbookView xWindow="0" yWindow="0" windowWidth="20000" windowHeight="10000" activeTab=")" +
           std::to_string(options.active_tab) +
           R"("/></bookViews><sheets><sheet name="Data" sheetId="1" r:id="rId1"/>)"
           R"(<sheet name="Form" sheetId="2" r:id="rId2"/></sheets>)"
           R"(<definedNames><definedName name="_xlnm.Print_Area" localSheetId="1">Form!$A$1:$R$20</definedName></definedNames>)"
           R"(<calcPr calcId="191029"/></workbook>)"});
  e.push_back({"xl/_rels/workbook.xml.rels",
               decl + "<Relationships xmlns=\"" + pkg_rel_ns + "\">" +
                   "<Relationship Id=\"rId1\" Type=\"" + rel_ns +
                   "/worksheet\" Target=\"worksheets/sheet1.xml\"/>" +
                   "<Relationship Id=\"rId2\" Type=\"" + rel_ns +
                   "/worksheet\" Target=\"/xl/worksheets/sheet2.xml\"/>" +
                   "<Relationship Id=\"rId3\" Type=\"" + rel_ns +
                   "/styles\" Target=\"styles.xml\"/>" + "<Relationship Id=\"rId4\" Type=\"" +
                   rel_ns + "/sharedStrings\" Target=\"sharedStrings.xml\"/>" +
                   "<Relationship Id=\"rId5\" "
                   "Type=\"http://schemas.microsoft.com/office/2006/relationships/vbaProject\" "
                   "Target=\"vbaProject.bin\"/>" +
                   "<Relationship Id=\"rId6\" Type=\"" + rel_ns +
                   "/calcChain\" Target=\"calcChain.xml\"/>" + "</Relationships>"});
  e.push_back(
      {"xl/worksheets/sheet1.xml", decl + "<worksheet xmlns=\"" + main_ns + "\">" +
                                       R"(<dimension ref="A1:B3"/><sheetData>)"
                                       R"(<row r="1"><c r="A1"><v>1</v></c></row>)"
                                       R"(<row r="3"><c r="B3"><f>A1*3</f><v>3</v></c></row>)"
                                       R"(</sheetData></worksheet>)"});
  e.push_back(
      {"xl/worksheets/sheet2.xml",
       decl + "<worksheet xmlns=\"" + main_ns + "\" xmlns:r=\"" + rel_ns + "\">\n" +
           R"(<sheetPr codeName="Sheet2"/><dimension ref="A1:R8"/>)"
           R"(<sheetViews><sheetView tabSelected="1" workbookViewId="0"/></sheetViews>)"
           R"(<sheetFormatPr defaultRowHeight="15"/>)"
           R"(<cols><col min="16" max="16" width="40" style="1" customWidth="1"/></cols>)"
           "\n<sheetData>\n"
           R"(<row r="1" spans="1:3"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="inlineStr"><is><t>inline</t></is></c></row>)"
           "\n"
           R"(<row r="2"><c r="A2"><v>120</v></c><c r="B2"><v>120.5</v></c><c r="C2" t="b"><v>1</v></c>)"
           R"(<c r="D2" t="e"><v>#DIV/0!</v></c><c r="E2" s="2"><v>45000</v></c><c r="F2" s="3"><v>45000.5</v></c>)"
           R"(<c r="G2" s="4"><v>0.25</v></c><c r="H2" s="5"><v>1.5</v></c>)"
           R"(<c r="I2" t="str"><f>"a"&amp;"b"</f><v>ab</v></c><c r="J2" t="d"><v>2024-05-03T10:20:30</v></c>)"
           R"(<c r="K2" t="s"><v>2</v></c><c r="L2" t="s"><v>3</v></c><c r="M2"><f>A2*2</f></c>)"
           R"(<c r="N2"><v>1E3</v></c></row>)"
           "\n"
           R"(<row r="5" spans="13:18"><c r="M5" s="1" t="s"><v>4</v></c><c r="O5" s="1"><v>7</v></c>)"
           R"(<c r="Q5" s="6"><f>A2+1</f><v>121</v></c>)"
           R"(<c r="R5"><f t="shared" ref="R5:R7" si="0">A5+$B$5+SUM(C5:D5)</f><v>0</v></c></row>)"
           "\n"
           R"(<row r="6"><c r="R6"><f t="shared" si="0"/><v>0</v></c></row>)"
           R"(<row r="7"><c r="R7"><f t="shared" si="0"/><v>0</v></c></row>)"
           R"(<row r="8" spans="1:2" s="6" customFormat="1"><c r="A8" s="1"><v>9</v></c></row>)"
           "\n</sheetData>\n"
           R"(<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>)"
           R"(<drawing r:id="rId1"/><legacyDrawing r:id="rId2"/></worksheet>)"});
  e.push_back({"xl/worksheets/_rels/sheet2.xml.rels",
               decl + "<Relationships xmlns=\"" + pkg_rel_ns + "\">" +
                   "<Relationship Id=\"rId1\" Type=\"" + rel_ns +
                   "/drawing\" Target=\"../drawings/drawing1.xml\"/>" +
                   "<Relationship Id=\"rId2\" Type=\"" + rel_ns +
                   "/vmlDrawing\" Target=\"../drawings/vmlDrawing1.vml\"/>" +
                   "<Relationship Id=\"rId3\" Type=\"" + rel_ns +
                   "/ctrlProp\" Target=\"../ctrlProps/ctrlProp1.xml\"/>" + "</Relationships>"});
  // Stored uncompressed, as some producers do, to check that the method survives a save.
  e.push_back(
      {"xl/drawings/drawing1.xml",
       decl +
           R"(<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main">)"
           R"(<xdr:twoCellAnchor><xdr:from><xdr:col>1</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>10</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from>)"
           R"(<xdr:to><xdr:col>3</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>12</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:to>)"
           R"(<xdr:sp macro="[0]!FillRows" textlink=""><xdr:nvSpPr><xdr:cNvPr id="2" name="Run"/><xdr:cNvSpPr/></xdr:nvSpPr>)"
           R"(<xdr:spPr><a:prstGeom prst="roundRect"><a:avLst/></a:prstGeom></xdr:spPr>)"
           R"(<xdr:txBody><a:bodyPr/><a:p><a:r><a:t>Fill</a:t></a:r></a:p></xdr:txBody></xdr:sp><xdr:clientData/></xdr:twoCellAnchor></xdr:wsDr>)",
       true});
  e.push_back(
      {"xl/drawings/vmlDrawing1.vml",
       R"(<xml xmlns:v="urn:schemas-microsoft-com:vml" xmlns:x="urn:schemas-microsoft-com:office:excel">)"
       R"(<v:shape id="_x0000_s1025" type="#_x0000_t201"><x:ClientData ObjectType="Button"><x:FmlaMacro>[0]!FillRows</x:FmlaMacro></x:ClientData></v:shape></xml>)"});
  e.push_back(
      {"xl/ctrlProps/ctrlProp1.xml",
       decl +
           R"(<formControlPr xmlns="http://schemas.microsoft.com/office/spreadsheetml/2009/9/main" objectType="Button" lockText="1"/>)"});
  e.push_back({"xl/vbaProject.bin", fake_vba_project()});
  e.push_back(
      {"xl/styles.xml",
       decl + "<styleSheet xmlns=\"" + main_ns + "\">" +
           R"(<numFmts count="3"><numFmt numFmtId="164" formatCode="yyyy/mm/dd"/>)"
           R"(<numFmt numFmtId="165" formatCode="0.00%"/><numFmt numFmtId="166" formatCode="[h]:mm"/></numFmts>)"
           R"(<fonts count="2"><font><sz val="11"/><name val="Calibri"/></font><font><b/><sz val="12"/><name val="Arial"/></font></fonts>)"
           R"(<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>)"
           R"(<borders count="2"><border><left/><right/><top/><bottom/><diagonal/></border>)"
           R"(<border><left style="thin"><color auto="1"/></left><right style="thin"><color auto="1"/></right>)"
           R"(<top style="thin"><color auto="1"/></top><bottom style="thin"><color auto="1"/></bottom><diagonal/></border></borders>)"
           R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
           R"(<cellXfs count="7"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>)"
           R"(<xf numFmtId="0" fontId="1" fillId="0" borderId="1" xfId="0" applyFont="1" applyBorder="1" applyAlignment="1" applyProtection="1">)"
           R"(<alignment horizontal="right" wrapText="1" indent="1"/><protection locked="0"/></xf>)"
           R"(<xf numFmtId="14" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>)"
           R"(<xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>)"
           R"(<xf numFmtId="165" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>)"
           R"(<xf numFmtId="166" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>)"
           R"(<xf numFmtId="3" fontId="1" fillId="0" borderId="1" xfId="0" applyNumberFormat="1" applyFont="1" applyBorder="1"/>)"
           R"(</cellXfs><cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles></styleSheet>)"});
  e.push_back(
      {"xl/sharedStrings.xml",
       decl + "<sst xmlns=\"" + main_ns + "\" count=\"5\" uniqueCount=\"5\">" +
           R"(<si><t>Name</t></si>)"
           R"(<si><r><rPr><b/></rPr><t>Bold</t></r><r><t xml:space="preserve"> text</t></r><rPh sb="0" eb="1"><t>PH</t></rPh></si>)"
           "<si><t>line1_x000D_\nline2</t></si>"
           R"(<si><t xml:space="preserve"> padded </t></si>)"
           R"(<si><t>Date</t></si></sst>)"});
  e.push_back(
      {"xl/calcChain.xml",
       decl + "<calcChain xmlns=\"" + main_ns + "\">" +
           R"(<c r="Q5" i="2"/><c r="R5"/><c r="R6"/><c r="R7"/><c r="I2"/><c r="M2"/><c r="B3" i="1"/></calcChain>)"});
  e.push_back({"customXml/item1.xml", R"(<root xmlns="urn:example">custom</root>)"});
  return e;
}

void write_rich_xlsm(const fs::path &path, const RichOptions &options) {
  write_zip(path, rich_entries(options));
}

void write_rich_xlsm_with_merges(const fs::path &path, const std::vector<std::string> &ranges) {
  auto entries = rich_entries();
  for (auto &e : entries) {
    if (e.name != "xl/worksheets/sheet2.xml")
      continue;
    std::string merges = "<mergeCells count=\"" + std::to_string(ranges.size()) + "\">";
    for (const auto &r : ranges)
      merges += "<mergeCell ref=\"" + r + "\"/>";
    merges += "</mergeCells>";
    const std::string end = "</sheetData>\n";
    e.data.insert(e.data.find(end) + end.size(), merges);
  }
  write_zip(path, entries);
}

void TempDirTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "xlsx_test_XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir = pattern;
}

void TempDirTest::TearDown() {
  std::error_code ec;
  fs::remove_all(dir, ec);
}

namespace {
// The system interpreter, where the Debian openpyxl package lives.
std::string python() {
  return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}
} // namespace

std::string run_python(const std::string &script, const std::vector<std::string> &args) {
  // Arguments are paths made by the test; single quotes keep them literal for the shell.
  std::string command = python() + " -c '" + script + "'";
  for (const std::string &arg : args) {
    command += " '" + arg + "'";
  }
  command += " 2>&1";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run python3";
    return {};
  }
  std::string out;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    out.append(buffer.data(), n);
  }
  int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  return out;
}

bool have_openpyxl() {
  return std::system((python() + " -c 'import openpyxl' >/dev/null 2>&1").c_str()) == 0;
}

} // namespace xlsx_test
