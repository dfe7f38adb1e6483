// Internal state of Workbook and Worksheet, shared by their source files.
#pragma once

#include "formats/xlsx/package.hpp"
#include "formats/xlsx/styles.hpp"
#include "formats/xlsx/workbook.hpp"

#include <pugixml.hpp>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vaskit::xlsx {

namespace detail {
// What a cell element holds, before it is turned into a value: its type and style attributes,
// the text of its <v> and, for an inline string, the text of its <is> (both with XML escapes
// resolved, cell-text escapes still in place).
struct RawCell {
  std::string type;
  int style = 0;
  bool has_v = false;
  std::string v;
  bool has_inline = false;
  std::string inline_text;
};
} // namespace detail

struct Worksheet::Impl {
  struct Row {
    pugi::xml_node node;
    std::map<int, pugi::xml_node> cells; // by column
  };

  Workbook::Impl *book = nullptr;
  std::string name;
  std::string part;
  std::string sheet_id; // the workbook's sheetId, which the calculation chain refers to
  pugi::xml_document doc;
  pugi::xml_node sheet_data;
  std::map<int, Row> rows;
  // Merged ranges: only the first (top-left) cell of each holds the range's value.
  struct Merge {
    CellRef first;
    CellRef last;
    std::string text; // "L8:T9"
  };
  std::vector<Merge> merges;
  bool dirty = false;

  void load();
  pugi::xml_node find_cell(int row, int col) const;
  pugi::xml_node ensure_cell(int row, int col);
  // The style a new cell at this position shows: the row's, else the column's, else 0.
  int inherited_style(int row, int col) const;
  void extend_dimension(int row, int col);
  void remove_formula(pugi::xml_node cell, int row, int col);
  CellValue read(pugi::xml_node cell) const;
  // The merged range that covers the cell without starting at it, if any.
  const Merge *covering_merge(int row, int col) const;
};

struct Workbook::Impl {
  struct Relationship {
    std::string id;
    std::string type;
    std::string target; // resolved part name, or the raw target when external
    bool external = false;
  };
  struct SheetEntry {
    std::string name;
    std::string part;
    std::string sheet_id;
    bool is_worksheet = false;
    std::unique_ptr<Worksheet> sheet;
  };

  explicit Impl(detail::Package &&pkg) : package(std::move(pkg)) {}

  detail::Package package;
  std::string workbook_part;
  pugi::xml_document workbook_doc;
  bool workbook_dirty = false;
  std::vector<SheetEntry> sheets;
  std::size_t active_index = 0;
  bool date1904 = false;

  std::string strings_part;
  bool strings_loaded = false;
  std::vector<std::string> shared_strings;

  std::string styles_part;
  std::unique_ptr<detail::Styles> styles;
  bool styles_created = false;

  std::string calc_chain_part;
  // (sheetId, cell address) of formulas removed by edits, dropped from the chain on save.
  std::set<std::pair<std::string, std::string>> removed_formulas;

  void init();
  std::vector<Relationship> relationships(const std::string &part) const;
  Worksheet &worksheet(std::size_t index);
  const std::string &shared_string(long long index);
  // Loads only the first `count` shared strings (fewer when the part holds fewer), scanning
  // the part no further; later calls of shared_string() see only those.
  void load_shared_strings_prefix(std::size_t count);
  // The value of a cell as the sheet shows it (shared strings, dates by number format).
  CellValue decode(const detail::RawCell &cell);
  detail::Styles &style_sheet();
  // The style sheet exists after this, created with its relationship and content type when
  // the package had none.
  detail::Styles &style_sheet_for_edit();
  void write_calc_chain();
  // Parses a part, lets `edit` change it and stores the result.
  void edit_part(const std::string &part, const std::function<void(pugi::xml_node root)> &edit);
  // Drops the workbook relationship(s) whose type ends with `type_suffix`.
  void remove_workbook_relationship(std::string_view type_suffix);
  void save_to(const std::filesystem::path &target);
};

namespace detail {
// "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels".
std::string rels_part_of(const std::string &part);
// Resolves a relationship target against the folder of the part that holds it.
std::string resolve_target(const std::string &source_part, std::string_view target);
} // namespace detail

} // namespace vaskit::xlsx
