#include "formats/xlsx/quick_read.hpp"

#include "core/text.hpp"
#include "formats/xlsx/workbook_impl.hpp"
#include "formats/xlsx/xml_util.hpp"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <optional>

namespace vaskit::xlsx {

namespace {

std::string_view local_part(std::string_view name) {
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A character reference to no character a text can hold; the scan reports the part malformed,
// as the full parser's check does.
struct BadReference {
  std::string text;
};

// Resolves the five named entities and character references as the full parser does; what is
// no reference stays as written.
void append_unescaped(std::string &out, std::string_view raw) {
  for (std::size_t i = 0; i < raw.size();) {
    if (raw[i] != '&') {
      const std::size_t amp = raw.find('&', i);
      const std::size_t end = amp == std::string_view::npos ? raw.size() : amp;
      out.append(raw.substr(i, end - i));
      i = end;
      continue;
    }
    const auto ref = detail::reference_at(raw.substr(i));
    if (!ref) {
      out += raw[i++];
      continue;
    }
    if (!detail::referable(ref->code_point)) {
      throw BadReference{std::string(raw.substr(i, std::min<std::size_t>(ref->length, 24)))};
    }
    text::append_utf8(out, ref->code_point);
    i += ref->length;
  }
}

// XML line-end handling: CR LF and a lone CR read as LF.
std::string normalise_line_ends(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r') {
      out += '\n';
      if (i + 1 < raw.size() && raw[i + 1] == '\n') {
        ++i;
      }
    } else {
      out += raw[i];
    }
  }
  return out;
}

// The value of attribute `name` (unprefixed) in the text between an element's name and its
// closing bracket; nullopt when absent.
std::optional<std::string> attribute(std::string_view attrs, std::string_view name) {
  std::size_t i = 0;
  while (i < attrs.size()) {
    while (i < attrs.size() && (is_blank(attrs[i]) || attrs[i] == '/')) {
      ++i;
    }
    const std::size_t name_start = i;
    while (i < attrs.size() && attrs[i] != '=' && !is_blank(attrs[i])) {
      ++i;
    }
    const std::string_view found = attrs.substr(name_start, i - name_start);
    while (i < attrs.size() && is_blank(attrs[i])) {
      ++i;
    }
    if (i >= attrs.size() || attrs[i] != '=') {
      return std::nullopt;
    }
    ++i;
    while (i < attrs.size() && is_blank(attrs[i])) {
      ++i;
    }
    if (i >= attrs.size() || (attrs[i] != '"' && attrs[i] != '\'')) {
      return std::nullopt;
    }
    const char quote = attrs[i++];
    const std::size_t close = attrs.find(quote, i);
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    if (found == name) {
      std::string value;
      append_unescaped(value, attrs.substr(i, close - i));
      return value;
    }
    i = close + 1;
  }
  return std::nullopt;
}

// Whether the XML declaration at the start of `block`, if any, leaves the part in UTF-8 (it
// names no encoding, or UTF-8).
bool declared_utf8(std::string_view block) {
  if (block.substr(0, 3) == "\xEF\xBB\xBF") {
    block.remove_prefix(3);
  }
  if (block.substr(0, 5) != "<?xml") {
    return true;
  }
  const std::size_t end = block.find("?>");
  if (end == std::string_view::npos) {
    return true;
  }
  const std::string_view declaration = block.substr(5, end - 5);
  const std::size_t at = declaration.find("encoding");
  if (at == std::string_view::npos) {
    return true;
  }
  const auto value = attribute(declaration.substr(at), "encoding");
  return !value || text::iequals_ascii(*value, "UTF-8") || text::iequals_ascii(*value, "UTF8");
}

// What a scan reports to its reader; each callback returns false to stop the scan.
class ScanHandler {
public:
  virtual ~ScanHandler() = default;
  // `name` without its namespace prefix; `attrs` the raw text after the name.
  virtual bool start(std::string_view name, std::string_view attrs, bool self_closing) = 0;
  virtual bool end(std::string_view name) = 0;
  // Only asked for while wants_text() is true, so that skipped text is never decoded.
  virtual bool wants_text() const = 0;
  virtual bool text(std::string_view decoded) = 0;
};

// Scans one part of the package block by block, as far as the handler wants.
class Scanner {
public:
  static constexpr std::size_t max_token = std::size_t{16} << 20;

  Scanner(const detail::Package &package, std::string part, ScanHandler &handler)
      : package_(package), part_(std::move(part)), handler_(handler) {}

  void run() {
    try {
      scan();
    } catch (const BadReference &bad) {
      fail("an unusable character reference (" + bad.text + ")");
    }
    if (!not_utf8_ && !stopped_ &&
        (open_ != 0 || (pos_ < buffer_.size() && buffer_.find('<', pos_) != std::string::npos))) {
      fail("unexpected end of part");
    }
  }
  bool not_utf8() const { return not_utf8_; }

private:
  void scan() {
    bool first = true;
    package_.read_blocks(part_, [&](std::string_view block) {
      if (first) {
        first = false;
        // The scanner reads UTF-8 only; a UTF-16 part, or one declared in another encoding,
        // is left to the full parser.
        if ((block.size() >= 2 && (block[0] == '\0' || block[1] == '\0' ||
                                   (static_cast<unsigned char>(block[0]) >= 0xFE))) ||
            !declared_utf8(block)) {
          not_utf8_ = true;
          return false;
        }
      }
      if (pos_ > 0) {
        buffer_.erase(0, pos_);
        pos_ = 0;
      }
      buffer_.append(block);
      // Every token the buffer may be waiting for ends at a '<' or a '>': a block without
      // either cannot complete one, and rescanning the wait would cost time for every block.
      if (block.find_first_of("<>") != std::string_view::npos && !consume()) {
        return false;
      }
      // Real markup never has a tag or a text run this long (a cell holds at most 32767
      // characters); a part that does is damaged or built to exhaust memory.
      if (buffer_.size() - pos_ > max_token) {
        fail("a tag or text longer than " + std::to_string(max_token >> 20) + " MiB");
      }
      return true;
    });
  }

  [[noreturn]] void fail(const std::string &why) const {
    throw Error(package_.path().string() + ": malformed XML in " + part_ + ": " + why);
  }

  // Handles every complete token in the buffer; false when the handler stopped the scan.
  bool consume() {
    while (pos_ < buffer_.size()) {
      const std::string_view rest = std::string_view(buffer_).substr(pos_);
      if (rest.front() != '<') {
        const std::size_t lt = rest.find('<');
        if (lt == std::string_view::npos) {
          return true; // the text may go on in the next block
        }
        if (handler_.wants_text() && !handler_.text(decode(rest.substr(0, lt), true))) {
          return stop();
        }
        pos_ += lt;
        continue;
      }
      if (rest.size() < 2) {
        return true;
      }
      std::size_t close = std::string_view::npos;
      if (rest.substr(0, 4) == "<!--") {
        close = rest.find("-->");
        if (close == std::string_view::npos) {
          return true;
        }
        pos_ += close + 3;
      } else if (rest.substr(0, 9) == "<![CDATA[") {
        close = rest.find("]]>");
        if (close == std::string_view::npos) {
          return true;
        }
        if (handler_.wants_text() && !handler_.text(decode(rest.substr(9, close - 9), false))) {
          return stop();
        }
        pos_ += close + 3;
      } else if (rest.size() < 9 && std::string_view("<![CDATA[").substr(0, rest.size()) == rest) {
        return true;
      } else if (rest[1] == '?' || rest[1] == '!') {
        close = rest.find('>');
        if (close == std::string_view::npos) {
          return true;
        }
        pos_ += close + 1;
      } else if (rest[1] == '/') {
        close = rest.find('>');
        if (close == std::string_view::npos) {
          return true;
        }
        std::string_view name = rest.substr(2, close - 2);
        while (!name.empty() && is_blank(name.back())) {
          name.remove_suffix(1);
        }
        pos_ += close + 1;
        --open_;
        if (!handler_.end(local_part(name))) {
          return stop();
        }
      } else {
        char quote = 0;
        for (std::size_t i = 1; i < rest.size(); ++i) {
          const char c = rest[i];
          if (quote != 0) {
            quote = c == quote ? 0 : quote;
          } else if (c == '"' || c == '\'') {
            quote = c;
          } else if (c == '>') {
            close = i;
            break;
          } else if (c == '<') {
            fail("'<' inside a tag");
          }
        }
        if (close == std::string_view::npos) {
          return true;
        }
        const bool self_closing = rest[close - 1] == '/';
        const std::string_view inner = rest.substr(1, close - 1 - (self_closing ? 1 : 0));
        std::size_t name_end = 0;
        while (name_end < inner.size() && !is_blank(inner[name_end])) {
          ++name_end;
        }
        if (name_end == 0) {
          fail("element without a name");
        }
        pos_ += close + 1;
        open_ += self_closing ? 0 : 1;
        if (!handler_.start(local_part(inner.substr(0, name_end)), inner.substr(name_end),
                            self_closing)) {
          return stop();
        }
      }
    }
    return true;
  }

  bool stop() {
    stopped_ = true;
    return false;
  }

  static std::string decode(std::string_view raw, bool entities) {
    std::string text = normalise_line_ends(raw);
    if (!entities || text.find('&') == std::string::npos) {
      return text;
    }
    std::string out;
    append_unescaped(out, text);
    return out;
  }

  const detail::Package &package_;
  std::string part_;
  ScanHandler &handler_;
  std::string buffer_;
  std::size_t pos_ = 0;
  bool stopped_ = false;
  bool not_utf8_ = false;
  long open_ = 0; // elements opened and not yet closed
};

// Hands the raw cells a reader wants from a worksheet part to `found`, stopping after row
// `last_row` or when `found` returns false. Row and cell positions may be implicit (one after
// the previous), as the full reader allows.
class SheetCells : public ScanHandler {
public:
  using Wanted = std::function<bool(int row, int col)>;
  using Found = std::function<bool(int row, int col, detail::RawCell &&cell)>;

  SheetCells(int last_row, Wanted wanted, Found found)
      : last_row_(last_row), wanted_(std::move(wanted)), found_(std::move(found)) {}

  bool start(std::string_view name, std::string_view attrs, bool self_closing) override {
    if (!saw_root_) {
      saw_root_ = true;
      bad_root_ = name != "worksheet";
      return !bad_root_;
    }
    if (!in_data_) {
      // The sheet data is a child of the root; the same name deeper down is something else.
      if (outer_depth_ == 0 && name == "sheetData") {
        in_data_ = !self_closing;
        return !self_closing;
      }
      outer_depth_ += self_closing ? 0 : 1;
      return true;
    }
    if (capturing_) {
      if (!self_closing) {
        stack_.emplace_back(name);
      }
      // Only the first <v> and the first <is> of a cell count, as for the full reader.
      if (stack_.size() <= 1 && name == "v" && !v_seen_) {
        v_seen_ = true;
        raw_.has_v = true;
        in_v_ = !self_closing;
      } else if (stack_.size() <= 1 && name == "is" && !is_seen_) {
        is_seen_ = true;
        raw_.has_inline = true;
        in_is_ = !self_closing;
      }
      return true;
    }
    if (level_ == 0) {
      in_row_ = name == "row";
      if (in_row_) {
        // As the full reader: a row numbered at or below one before it is not read.
        int r = static_cast<int>(
            detail::unsigned_attribute(attribute(attrs, "r").value_or(""), max_rows).value_or(0));
        if (r < 1) {
          r = row_ + 1;
        } else if (r <= row_) {
          in_row_ = false;
        }
        if (in_row_) {
          row_ = r;
          col_ = 0;
          if (row_ > last_row_) {
            return false;
          }
        }
      }
    } else if (level_ == 1 && in_row_ && name == "c") {
      int col = 0;
      if (auto ref = attribute(attrs, "r")) {
        try {
          col = parse_address(*ref).col;
        } catch (const std::invalid_argument &) {
          col = 0;
        }
      }
      if (col == 0) {
        col = col_ + 1;
      }
      col_ = col;
      if (wanted_(row_, col)) {
        raw_ = detail::RawCell{};
        raw_.type = attribute(attrs, "t").value_or("");
        raw_.style = detail::style_index(attribute(attrs, "s").value_or(""));
        if (self_closing) {
          return found_(row_, col_, std::move(raw_));
        }
        capturing_ = true;
        stack_.clear();
        v_seen_ = is_seen_ = in_v_ = in_is_ = false;
        return true; // level is counted again after the cell
      }
    }
    if (!self_closing) {
      ++level_;
    }
    return true;
  }

  bool end(std::string_view) override {
    if (capturing_) {
      if (stack_.empty()) {
        capturing_ = false;
        return found_(row_, col_, std::move(raw_));
      }
      if (stack_.size() == 1) {
        in_v_ = in_is_ = false;
      }
      stack_.pop_back();
      return true;
    }
    if (!in_data_) {
      --outer_depth_;
      return true;
    }
    if (level_ == 0) {
      return false; // end of the sheet data
    }
    --level_;
    return true;
  }

  bool wants_text() const override { return capturing_; }

  bool text(std::string_view decoded) override {
    if (in_v_ && stack_.size() == 1) {
      raw_.v.append(decoded);
    } else if (in_is_ && stack_.back() == "t" &&
               (stack_.size() == 2 || (stack_.size() == 3 && stack_[1] == "r"))) {
      raw_.inline_text.append(decoded);
    }
    return true;
  }

  // Whether the part's root element is no worksheet (or it has none).
  bool not_a_worksheet() const { return !saw_root_ || bad_root_; }

private:
  int last_row_;
  Wanted wanted_;
  Found found_;
  bool saw_root_ = false;
  bool bad_root_ = false;
  bool in_data_ = false;
  int outer_depth_ = 0; // open elements below the root before the sheet data
  int level_ = 0;       // open elements inside the sheet data
  bool in_row_ = false; // inside a <row> of the sheet data
  int row_ = 0;         // the last row read
  int col_ = 0;
  bool capturing_ = false;
  detail::RawCell raw_;
  std::vector<std::string> stack_; // open elements inside the captured cell
  bool v_seen_ = false;
  bool is_seen_ = false;
  bool in_v_ = false;
  bool in_is_ = false;
};

// Collects the text of the first `count` shared strings: plain <t>, or the <t> of each
// rich-text run; phonetic runs are not part of the text.
class SharedStrings : public ScanHandler {
public:
  SharedStrings(std::size_t count, std::vector<std::string> &out) : count_(count), out_(out) {}

  bool start(std::string_view name, std::string_view, bool self_closing) override {
    if (depth_ == 1 && name == "si") {
      out_.emplace_back();
      in_si_ = !self_closing;
      if (self_closing) {
        return out_.size() < count_;
      }
    } else if (in_si_) {
      stack_.emplace_back(name);
      if (self_closing) {
        stack_.pop_back();
      }
    }
    if (!self_closing) {
      ++depth_;
    }
    return true;
  }

  bool end(std::string_view) override {
    --depth_;
    if (in_si_) {
      if (stack_.empty()) {
        in_si_ = false;
        return out_.size() < count_;
      }
      stack_.pop_back();
    }
    return true;
  }

  bool wants_text() const override {
    return in_si_ && !stack_.empty() && stack_.back() == "t" &&
           (stack_.size() == 1 || (stack_.size() == 2 && stack_[0] == "r"));
  }

  bool text(std::string_view decoded) override {
    out_.back().append(decoded);
    return true;
  }

private:
  std::size_t count_;
  std::vector<std::string> &out_;
  int depth_ = 0;
  bool in_si_ = false;
  std::vector<std::string> stack_; // open elements inside the current string item
};

} // namespace

void Workbook::Impl::load_shared_strings_prefix(std::size_t count) {
  strings_loaded = true;
  shared_strings.clear();
  if (count == 0 || strings_part.empty() || !package.contains(strings_part)) {
    return;
  }
  std::vector<std::string> raw;
  SharedStrings handler(count, raw);
  Scanner scanner(package, strings_part, handler);
  scanner.run();
  if (scanner.not_utf8()) {
    strings_loaded = false; // the full parser reads it on first use
    return;
  }
  for (const std::string &text : raw) {
    shared_strings.push_back(detail::unescape_cell_text(text));
  }
}

namespace {

// The workbook with its active worksheet's part; throws as the readers promise.
const Workbook::Impl::SheetEntry &active_worksheet(Workbook::Impl &book,
                                                   const std::filesystem::path &path) {
  book.init();
  if (book.sheets.empty()) {
    throw Error(path.string() + ": the workbook has no sheets");
  }
  const Workbook::Impl::SheetEntry &entry = book.sheets.at(book.active_index);
  if (!entry.is_worksheet) {
    throw Error(path.string() + ": sheet '" + entry.name + "' is not a worksheet");
  }
  return entry;
}

void check_positions(const std::vector<CellRef> &cells) {
  for (const CellRef &ref : cells) {
    if (ref.row < 1 || ref.row > max_rows || ref.col < 1 || ref.col > max_cols) {
      throw std::invalid_argument("invalid cell position (" + std::to_string(ref.row) + ", " +
                                  std::to_string(ref.col) + ")");
    }
  }
}

} // namespace

std::vector<CellValue> read_active_cells(const std::filesystem::path &path,
                                         const std::vector<CellRef> &cells) {
  check_positions(cells);
  Workbook::Impl book(detail::Package::load(path));
  const Workbook::Impl::SheetEntry &entry = active_worksheet(book, path);

  int last_row = 0;
  for (const CellRef &ref : cells) {
    last_row = std::max(last_row, ref.row);
  }
  std::vector<std::optional<detail::RawCell>> found(cells.size());
  std::size_t missing = cells.size();
  SheetCells handler(
      last_row,
      [&](int row, int col) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
          if (cells[i].row == row && cells[i].col == col && !found[i]) {
            return true;
          }
        }
        return false;
      },
      [&](int row, int col, detail::RawCell &&raw) {
        // A position asked for twice gets the same value.
        for (std::size_t i = 0; i < cells.size(); ++i) {
          if (cells[i].row == row && cells[i].col == col && !found[i]) {
            found[i] = raw;
            --missing;
          }
        }
        return missing > 0;
      });
  Scanner scanner(book.package, entry.part, handler);
  scanner.run();
  std::vector<CellValue> values;
  if (scanner.not_utf8()) {
    Worksheet &sheet = book.worksheet(book.active_index);
    for (const CellRef &ref : cells) {
      values.push_back(sheet.value(ref.row, ref.col));
    }
    return values;
  }
  if (handler.not_a_worksheet()) {
    throw Error(path.string() + ": " + entry.part + " holds no worksheet");
  }

  long long strings_needed = 0;
  for (const auto &raw : found) {
    if (raw && raw->type == "s" && raw->has_v) {
      std::string_view digits = raw->v;
      while (!digits.empty() && is_blank(digits.front())) {
        digits.remove_prefix(1);
      }
      long long index = -1;
      std::from_chars(digits.data(), digits.data() + digits.size(), index);
      strings_needed = std::max(strings_needed, index + 1);
    }
  }
  if (strings_needed > 0) {
    book.load_shared_strings_prefix(static_cast<std::size_t>(strings_needed));
  }
  for (const auto &raw : found) {
    values.push_back(raw ? book.decode(*raw) : CellValue{});
  }
  return values;
}

std::vector<std::vector<CellValue>> read_active_columns(const std::filesystem::path &path,
                                                        const std::vector<CellRef> &starts) {
  check_positions(starts);
  Workbook::Impl book(detail::Package::load(path));
  const Workbook::Impl::SheetEntry &entry = active_worksheet(book, path);
  std::vector<std::vector<CellValue>> columns(starts.size());
  // The columns read by each sheet column, so that a cell is looked up once.
  std::map<int, std::vector<std::size_t>> by_col;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    by_col[starts[i].col].push_back(i);
  }
  // The rows of each wanted column that have been read.
  std::map<int, std::vector<bool>> seen_rows;
  SheetCells handler(
      max_rows,
      [&](int row, int col) {
        const auto it = by_col.find(col);
        if (it == by_col.end()) {
          return false;
        }
        for (std::size_t i : it->second) {
          if (row >= starts[i].row) {
            return true;
          }
        }
        return false;
      },
      [&](int row, int col, detail::RawCell &&raw) {
        // A cell written twice holds what its first element says.
        std::vector<bool> &seen = seen_rows[col];
        const auto at_row = static_cast<std::size_t>(row);
        if (seen.size() <= at_row) {
          seen.resize(at_row + 1);
        } else if (seen[at_row]) {
          return true;
        }
        seen[at_row] = true;
        const CellValue value = book.decode(raw);
        if (std::holds_alternative<std::monostate>(value)) {
          return true; // styled blanks do not lengthen a column
        }
        for (std::size_t i : by_col.at(col)) {
          if (row < starts[i].row) {
            continue;
          }
          auto &column = columns[i];
          const auto at = static_cast<std::size_t>(row - starts[i].row);
          if (column.size() <= at) {
            column.resize(at + 1);
          }
          column[at] = value;
        }
        return true;
      });
  Scanner scanner(book.package, entry.part, handler);
  scanner.run();
  if (scanner.not_utf8()) {
    Worksheet &sheet = book.worksheet(book.active_index);
    const int last = sheet.max_row();
    for (std::size_t i = 0; i < starts.size(); ++i) {
      for (int row = starts[i].row; row <= last; ++row) {
        columns[i].push_back(sheet.value(row, starts[i].col));
      }
      while (!columns[i].empty() && std::holds_alternative<std::monostate>(columns[i].back())) {
        columns[i].pop_back();
      }
    }
    return columns;
  }
  if (handler.not_a_worksheet()) {
    throw Error(path.string() + ": " + entry.part + " holds no worksheet");
  }
  return columns;
}

} // namespace vaskit::xlsx
