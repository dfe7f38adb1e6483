// The style sheet part: which cell formats show dates, and alignment-only variants of formats.
#pragma once

#include "formats/xlsx/workbook.hpp"

#include <pugixml.hpp>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::xlsx::detail {

// Whether a number format code shows a date or time: a date or time token (d, m, h, y, s)
// outside quoted text, escapes and bracketed locale or colour tags, in its first section.
bool is_date_format_code(std::string_view code);
// Elapsed-time formats ("[h]:mm") show durations, not points in time.
bool is_duration_format_code(std::string_view code);
// Built-in number formats 14-22 and 45-47 are dates and times.
bool is_builtin_date_format(int id);

// An ISO 8601 date, date-time or time as stored in cells of type "d"; a date without a time is
// marked date_only.
std::optional<DateTime> parse_iso_datetime(std::string_view text);

// Throws std::invalid_argument for a horizontal or vertical value outside the allowed sets.
void check_alignment(const Alignment &alignment);

// The minimal style sheet of a new workbook: one font, the two required fills, one border and
// one cell format.
extern const char *const default_styles_xml;

class Styles {
public:
  // Takes over a parsed style sheet.
  explicit Styles(pugi::xml_document &&doc);

  // Whether cells with format index `xf` show a date (durations do not count).
  bool shows_date(int xf);
  // The index of a cell format equal to `xf` (or the default format when out of range) except
  // for its alignment, which is `alignment`. An identical existing format is reused.
  int with_alignment(int xf, const Alignment &alignment);

  bool dirty() const { return dirty_; }
  const pugi::xml_document &document() const { return doc_; }

private:
  pugi::xml_node ensure_cell_xfs();

  pugi::xml_document doc_;
  std::map<int, std::string> custom_formats_;
  std::vector<pugi::xml_node> xfs_;
  std::vector<signed char> date_cache_; // -1 unknown, 0 no, 1 yes
  std::map<std::string, int> xf_index_by_text_;
  bool indexed_ = false;
  bool dirty_ = false;
};

} // namespace vaskit::xlsx::detail
