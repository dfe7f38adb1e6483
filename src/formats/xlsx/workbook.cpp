#include "formats/xlsx/workbook_impl.hpp"

#include "core/text.hpp"
#include "formats/xlsx/xml_util.hpp"

#include <algorithm>

namespace vaskit::xlsx {

namespace {

using detail::attr_by_local;
using detail::child;
using detail::local_name;

constexpr std::string_view rel_ns = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view office_rel =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr std::string_view styles_type =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

void check_sheet_title(std::string_view title) {
  auto bad = [&](const std::string &why) {
    return std::invalid_argument("invalid sheet title '" + std::string(title) + "': " + why);
  };
  if (title.empty()) {
    throw bad("empty");
  }
  if (detail::clean_text(title) != title || title.find_first_of("\t\r\n") != std::string::npos) {
    throw bad("control characters or invalid UTF-8");
  }
  if (title.find_first_of("[]:*?/\\") != std::string_view::npos) {
    throw bad("contains one of []:*?/\\");
  }
  if (title.front() == '\'' || title.back() == '\'') {
    throw bad("begins or ends with an apostrophe");
  }
  std::size_t units = 0; // the limit counts UTF-16 code units
  for (unsigned char c : title) {
    units += (c & 0xC0) != 0x80 ? 1 : 0;
    units += (c & 0xF8) == 0xF0 ? 1 : 0;
  }
  if (units > 31) {
    throw bad("longer than 31 characters");
  }
}

int percent_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  c = static_cast<char>(c | 0x20);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

namespace detail {

std::string rels_part_of(const std::string &part) {
  std::size_t slash = part.rfind('/');
  std::string folder = slash == std::string::npos ? "" : part.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
  return folder + "_rels/" + file + ".rels";
}

std::string resolve_target(const std::string &source_part, std::string_view target) {
  std::string decoded;
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size() && percent_value(target[i + 1]) >= 0 &&
        percent_value(target[i + 2]) >= 0) {
      decoded +=
          static_cast<char>(percent_value(target[i + 1]) * 16 + percent_value(target[i + 2]));
      i += 2;
    } else {
      decoded += target[i];
    }
  }
  std::string joined;
  if (!decoded.empty() && decoded.front() == '/') {
    joined = decoded.substr(1);
  } else {
    std::size_t slash = source_part.rfind('/');
    joined = (slash == std::string::npos ? "" : source_part.substr(0, slash + 1)) + decoded;
  }
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find('/', start);
    if (end == std::string::npos) {
      end = joined.size();
    }
    std::string segment = joined.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) {
        segments.pop_back();
      }
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string &segment : segments) {
    out += (out.empty() ? "" : "/") + segment;
  }
  return out;
}

} // namespace detail

std::vector<Workbook::Impl::Relationship>
Workbook::Impl::relationships(const std::string &part) const {
  const std::string rels = part.empty() ? "_rels/.rels" : detail::rels_part_of(part);
  std::vector<Relationship> out;
  if (!package.contains(rels)) {
    return out;
  }
  pugi::xml_document doc;
  detail::parse_part(package, rels, doc);
  for (pugi::xml_node node : doc.document_element().children()) {
    if (node.type() != pugi::node_element || local_name(node) != "Relationship") {
      continue;
    }
    Relationship rel;
    rel.id = node.attribute("Id").value();
    rel.type = node.attribute("Type").value();
    rel.external = std::string_view(node.attribute("TargetMode").value()) == "External";
    rel.target = rel.external ? node.attribute("Target").value()
                              : detail::resolve_target(part, node.attribute("Target").value());
    out.push_back(std::move(rel));
  }
  return out;
}

void Workbook::Impl::init() {
  const std::string where = package.path().string() + ": ";
  for (const Relationship &rel : relationships("")) {
    if (ends_with(rel.type, "/officeDocument") && !rel.external) {
      workbook_part = rel.target;
      break;
    }
  }
  if (workbook_part.empty() || !package.contains(workbook_part)) {
    if (!package.contains("xl/workbook.xml")) {
      throw Error(where + "not a workbook (it has no workbook part)");
    }
    workbook_part = "xl/workbook.xml";
  }
  detail::parse_part(package, workbook_part, workbook_doc);
  pugi::xml_node root = workbook_doc.document_element();
  if (local_name(root) != "workbook") {
    throw Error(where + "not a workbook (" + workbook_part + " holds no workbook)");
  }
  std::string_view date1904_flag = child(root, "workbookPr").attribute("date1904").value();
  date1904 = date1904_flag == "1" || date1904_flag == "true";

  std::vector<Relationship> rels = relationships(workbook_part);
  for (pugi::xml_node node : child(root, "sheets").children()) {
    if (node.type() != pugi::node_element || local_name(node) != "sheet") {
      continue;
    }
    SheetEntry entry;
    entry.name = node.attribute("name").value();
    entry.sheet_id = node.attribute("sheetId").value();
    std::string_view rid = attr_by_local(node, "id");
    auto rel = std::find_if(rels.begin(), rels.end(),
                            [&](const Relationship &r) { return r.id == rid && !r.external; });
    if (rel != rels.end()) {
      entry.part = rel->target;
      entry.is_worksheet = ends_with(rel->type, "/worksheet") && package.contains(entry.part);
    }
    sheets.push_back(std::move(entry));
  }
  const unsigned active =
      child(child(root, "bookViews"), "workbookView").attribute("activeTab").as_uint(0);
  active_index = active < sheets.size() ? active : 0;

  for (const Relationship &rel : rels) {
    if (rel.external) {
      continue;
    }
    if (ends_with(rel.type, "/sharedStrings")) {
      strings_part = rel.target;
    } else if (ends_with(rel.type, "/styles")) {
      styles_part = rel.target;
    } else if (ends_with(rel.type, "/calcChain")) {
      calc_chain_part = rel.target;
    }
  }
}

Worksheet &Workbook::Impl::worksheet(std::size_t index) {
  SheetEntry &entry = sheets.at(index);
  if (!entry.is_worksheet) {
    throw Error(package.path().string() + ": sheet '" + entry.name + "' is not a worksheet");
  }
  if (!entry.sheet) {
    auto impl = std::make_unique<Worksheet::Impl>();
    impl->book = this;
    impl->name = entry.name;
    impl->part = entry.part;
    impl->sheet_id = entry.sheet_id;
    impl->load();
    entry.sheet.reset(new Worksheet(std::move(impl)));
  }
  return *entry.sheet;
}

const std::string &Workbook::Impl::shared_string(long long index) {
  const std::string where = package.path().string() + ": ";
  if (!strings_loaded) {
    strings_loaded = true;
    if (!strings_part.empty() && package.contains(strings_part)) {
      pugi::xml_document doc;
      detail::parse_part(package, strings_part, doc);
      for (pugi::xml_node si : doc.document_element().children()) {
        if (si.type() != pugi::node_element || local_name(si) != "si") {
          continue;
        }
        // Plain text sits in <t>; rich text in runs <r><t>. Phonetic runs (<rPh>) are not
        // part of the text.
        shared_strings.push_back(detail::unescape_cell_text(detail::rich_text(si)));
      }
    }
  }
  if (index < 0 || static_cast<std::size_t>(index) >= shared_strings.size()) {
    throw Error(where + "a cell refers to shared string " + std::to_string(index) +
                ", which the workbook does not hold");
  }
  return shared_strings[static_cast<std::size_t>(index)];
}

detail::Styles &Workbook::Impl::style_sheet() {
  if (!styles) {
    pugi::xml_document doc;
    if (!styles_part.empty() && package.contains(styles_part)) {
      detail::parse_part(package, styles_part, doc);
    } else {
      doc.load_string(detail::default_styles_xml);
    }
    styles = std::make_unique<detail::Styles>(std::move(doc));
  }
  return *styles;
}

detail::Styles &Workbook::Impl::style_sheet_for_edit() {
  detail::Styles &sheet = style_sheet();
  if (styles_created || (!styles_part.empty() && package.contains(styles_part))) {
    return sheet;
  }
  // The package has no style sheet: add one next to the workbook part, with its relationship
  // and content type. A relationship that names a missing part is reused: a second one, or a
  // second content type for one part, would make the package invalid.
  const bool have_relationship = !styles_part.empty();
  std::size_t slash = workbook_part.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : workbook_part.substr(0, slash + 1);
  if (!have_relationship) {
    styles_part = folder + "styles.xml";
    for (int n = 1; package.contains(styles_part); ++n) {
      styles_part = folder + "styles" + std::to_string(n) + ".xml";
    }
  }
  const std::string part_name = text::ascii_lower("/" + styles_part);
  edit_part("[Content_Types].xml", [&](pugi::xml_node types) {
    for (pugi::xml_node type = types.first_child(); type;) {
      pugi::xml_node next = type.next_sibling();
      if (type.type() == pugi::node_element && local_name(type) == "Override" &&
          text::ascii_lower(type.attribute("PartName").value()) == part_name) {
        types.remove_child(type);
      }
      type = next;
    }
    pugi::xml_node override = types.append_child(detail::same_prefix(types, "Override").c_str());
    override.append_attribute("PartName") = ("/" + styles_part).c_str();
    override.append_attribute("ContentType") = std::string(styles_type).c_str();
  });
  styles_created = true;
  if (have_relationship) {
    return sheet;
  }
  const std::string rels_part = detail::rels_part_of(workbook_part);
  pugi::xml_document rels;
  if (package.contains(rels_part)) {
    detail::parse_part(package, rels_part, rels);
  } else {
    rels.append_child("Relationships").append_attribute("xmlns") = std::string(rel_ns).c_str();
  }
  pugi::xml_node rels_root = rels.document_element();
  std::string id;
  for (int n = 1;; ++n) {
    id = "rId" + std::to_string(n);
    bool taken = false;
    for (pugi::xml_node rel : rels_root.children()) {
      taken = taken || id == rel.attribute("Id").value();
    }
    if (!taken) {
      break;
    }
  }
  pugi::xml_node rel =
      rels_root.append_child(detail::same_prefix(rels_root, "Relationship").c_str());
  rel.append_attribute("Id") = id.c_str();
  rel.append_attribute("Type") = (std::string(office_rel) + "styles").c_str();
  rel.append_attribute("Target") = styles_part.substr(folder.size()).c_str();
  package.write(rels_part, detail::serialize(rels));
  return sheet;
}

void Workbook::Impl::write_calc_chain() {
  if (removed_formulas.empty() || calc_chain_part.empty() || !package.contains(calc_chain_part)) {
    return;
  }
  pugi::xml_document doc;
  detail::parse_part(package, calc_chain_part, doc);
  pugi::xml_node root = doc.document_element();
  // An entry without "i" belongs to the sheet of the entry before it, so an entry that
  // follows a removed one may need its sheet spelled out.
  std::string current, last_kept;
  bool kept_any = false;
  std::vector<pugi::xml_node> drop;
  for (pugi::xml_node c : root.children()) {
    if (c.type() != pugi::node_element || local_name(c) != "c") {
      continue;
    }
    pugi::xml_attribute i = c.attribute("i");
    if (i) {
      current = i.value();
    }
    if (removed_formulas.count({current, c.attribute("r").value()}) != 0) {
      drop.push_back(c);
      continue;
    }
    if (!i && kept_any && current != last_kept) {
      c.append_attribute("i") = current.c_str();
    } else if (!i && !kept_any && !current.empty()) {
      c.append_attribute("i") = current.c_str();
    }
    kept_any = true;
    last_kept = current;
  }
  if (drop.empty()) {
    return;
  }
  for (pugi::xml_node node : drop) {
    root.remove_child(node);
  }
  if (kept_any) {
    package.write(calc_chain_part, detail::serialize(doc));
    return;
  }
  // An empty chain is not allowed; without one the application rebuilds it.
  package.remove(calc_chain_part);
  remove_workbook_relationship("/calcChain");
  const std::string part_name = text::ascii_lower("/" + calc_chain_part);
  edit_part("[Content_Types].xml", [&](pugi::xml_node types) {
    for (pugi::xml_node type : types.children()) {
      if (text::ascii_lower(type.attribute("PartName").value()) == part_name) {
        types.remove_child(type);
        break;
      }
    }
  });
  calc_chain_part.clear();
}

void Workbook::Impl::edit_part(const std::string &part,
                               const std::function<void(pugi::xml_node root)> &edit) {
  pugi::xml_document doc;
  detail::parse_part(package, part, doc);
  edit(doc.document_element());
  package.write(part, detail::serialize(doc));
}

void Workbook::Impl::remove_workbook_relationship(std::string_view type_suffix) {
  const std::string rels_part = detail::rels_part_of(workbook_part);
  if (!package.contains(rels_part)) {
    return;
  }
  edit_part(rels_part, [&](pugi::xml_node rels) {
    for (pugi::xml_node rel = rels.first_child(); rel;) {
      pugi::xml_node next = rel.next_sibling();
      if (ends_with(rel.attribute("Type").value(), type_suffix)) {
        rels.remove_child(rel);
      }
      rel = next;
    }
  });
}

void Workbook::Impl::save_to(const std::filesystem::path &target) {
  for (SheetEntry &entry : sheets) {
    if (entry.sheet && entry.sheet->impl_->dirty) {
      package.write(entry.part, detail::serialize(entry.sheet->impl_->doc));
    }
  }
  if (styles && (styles->dirty() || styles_created)) {
    package.write(styles_part, detail::serialize(styles->document()));
  }
  if (workbook_dirty) {
    package.write(workbook_part, detail::serialize(workbook_doc));
  }
  write_calc_chain();
  removed_formulas.clear();
  detail::write_file_atomically(target, package.serialize());
}

Workbook::Workbook(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Workbook::Workbook(Workbook &&) noexcept = default;
Workbook &Workbook::operator=(Workbook &&) noexcept = default;
Workbook::~Workbook() = default;

Workbook Workbook::open(const std::filesystem::path &path) {
  auto impl = std::make_unique<Impl>(detail::Package::load(path));
  impl->init();
  return Workbook(std::move(impl));
}

Workbook Workbook::create(const std::filesystem::path &path, std::string_view sheet_title) {
  check_sheet_title(sheet_title);
  const bool macro_enabled = text::ascii_lower(path.extension().string()) == ".xlsm";
  const std::string main_type =
      macro_enabled ? "application/vnd.ms-excel.sheet.macroEnabled.main+xml"
                    : "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  const std::string rel = std::string(office_rel);
  detail::Package package(path);
  package.write(
      "[Content_Types].xml",
      decl +
          "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Default Extension=\"rels\" "
          "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
          "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" +
          main_type +
          "\"/>"
          "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+"
          "xml\"/>"
          "<Override PartName=\"/xl/styles.xml\" ContentType=\"" +
          std::string(styles_type) + "\"/></Types>");
  package.write("_rels/.rels", decl + "<Relationships xmlns=\"" + std::string(rel_ns) +
                                   "\"><Relationship Id=\"rId1\" Type=\"" + rel +
                                   "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
  package.write("xl/workbook.xml",
                decl +
                    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                    "xmlns:r=\"" +
                    rel.substr(0, rel.size() - 1) +
                    "\"><bookViews><workbookView activeTab=\"0\"/></bookViews>"
                    "<sheets><sheet name=\"" +
                    text::html_escape(sheet_title, true) +
                    "\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
  package.write("xl/_rels/workbook.xml.rels",
                decl + "<Relationships xmlns=\"" + std::string(rel_ns) +
                    "\"><Relationship Id=\"rId1\" Type=\"" + rel +
                    "worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" "
                    "Type=\"" +
                    rel + "styles\" Target=\"styles.xml\"/></Relationships>");
  package.write("xl/worksheets/sheet1.xml",
                decl + "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
                       "main\"><sheetData/></worksheet>");
  package.write("xl/styles.xml", detail::default_styles_xml);
  auto impl = std::make_unique<Impl>(std::move(package));
  impl->init();
  return Workbook(std::move(impl));
}

const std::filesystem::path &Workbook::path() const {
  return impl_->package.path();
}

std::vector<std::string> Workbook::sheet_names() const {
  std::vector<std::string> names;
  for (const Impl::SheetEntry &entry : impl_->sheets) {
    names.push_back(entry.name);
  }
  return names;
}

Worksheet &Workbook::active_sheet() {
  if (impl_->sheets.empty()) {
    throw Error(impl_->package.path().string() + ": the workbook has no sheets");
  }
  return impl_->worksheet(impl_->active_index);
}

Worksheet &Workbook::sheet(std::string_view title) {
  for (std::size_t i = 0; i < impl_->sheets.size(); ++i) {
    if (impl_->sheets[i].name == title) {
      return impl_->worksheet(i);
    }
  }
  throw Error(impl_->package.path().string() + ": no sheet named '" + std::string(title) + "'");
}

bool Workbook::has_macro_project() const {
  for (const Impl::Relationship &rel : impl_->relationships(impl_->workbook_part)) {
    if (ends_with(rel.type, "/vbaProject") && !rel.external &&
        impl_->package.contains(rel.target)) {
      return true;
    }
  }
  return false;
}

void Workbook::remove_macro_project() {
  Impl &impl = *impl_;
  std::vector<std::string> removed;
  for (const Impl::Relationship &rel : impl.relationships(impl.workbook_part)) {
    if (!ends_with(rel.type, "/vbaProject") || rel.external) {
      continue;
    }
    // The project's own relationships lead to its signatures.
    for (const Impl::Relationship &inner : impl.relationships(rel.target)) {
      if (!inner.external) {
        removed.push_back(inner.target);
      }
    }
    removed.push_back(detail::rels_part_of(rel.target));
    removed.push_back(rel.target);
  }
  if (removed.empty()) {
    return;
  }
  for (const std::string &part : removed) {
    impl.package.remove(part);
  }
  impl.remove_workbook_relationship("/vbaProject");

  static const std::vector<std::pair<std::string_view, std::string_view>> plain_types = {
      {"application/vnd.ms-excel.sheet.macroEnabled.main+xml",
       "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"},
      {"application/vnd.ms-excel.template.macroEnabled.main+xml",
       "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"},
      {"application/vnd.ms-excel.addin.macroEnabled.main+xml",
       "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"},
  };
  bool other_bin_parts = false;
  for (const std::string &name : impl.package.names()) {
    other_bin_parts = other_bin_parts || ends_with(text::ascii_lower(name), ".bin");
  }
  impl.edit_part("[Content_Types].xml", [&](pugi::xml_node types) {
    for (pugi::xml_node type = types.first_child(); type;) {
      pugi::xml_node next = type.next_sibling();
      const std::string part = text::ascii_lower(type.attribute("PartName").value());
      bool drop = false;
      for (const std::string &gone : removed) {
        drop = drop || part == text::ascii_lower("/" + gone);
      }
      if (std::string_view(type.attribute("ContentType").value()) ==
              "application/vnd.ms-office.vbaProject" &&
          local_name(type) == "Default" && !other_bin_parts) {
        drop = true;
      }
      if (drop) {
        types.remove_child(type);
      } else if (part == text::ascii_lower("/" + impl.workbook_part)) {
        for (const auto &[macro, plain] : plain_types) {
          if (macro == type.attribute("ContentType").value()) {
            type.attribute("ContentType") = std::string(plain).c_str();
          }
        }
      }
      type = next;
    }
  });
}

void Workbook::set_full_calc_on_load() {
  pugi::xml_node root = impl_->workbook_doc.document_element();
  pugi::xml_node calc = child(root, "calcPr");
  if (!calc) {
    // Elements that come after calcPr in a workbook part.
    pugi::xml_node before;
    for (std::string_view name :
         {"oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes",
          "webPublishing", "fileRecoveryPr", "webPublishObjects", "extLst"}) {
      if ((before = child(root, name))) {
        break;
      }
    }
    const std::string name = detail::same_prefix(root, "calcPr");
    calc =
        before ? root.insert_child_before(name.c_str(), before) : root.append_child(name.c_str());
  }
  pugi::xml_attribute full = calc.attribute("fullCalcOnLoad");
  if (!full) {
    full = calc.append_attribute("fullCalcOnLoad");
  }
  full = "1";
  impl_->workbook_dirty = true;
}

void Workbook::save() {
  impl_->save_to(impl_->package.path());
}

void Workbook::save_as(const std::filesystem::path &target) {
  impl_->save_to(target);
}

} // namespace vaskit::xlsx
