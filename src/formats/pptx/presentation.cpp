#include "formats/pptx/presentation.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <pugixml.hpp>
#include <string_view>
#include <zip.h>

namespace vaskit::pptx {

namespace {

// Parts are small XML files; anything this large is a damaged or hostile package.
constexpr zip_uint64_t kMaxPartSize = 256u << 20;
// Each element or attribute costs the parsed tree tens of bytes: a part packed with tiny
// elements would take gigabytes of memory even within the size limit.
constexpr std::size_t kMaxPartMarkup = 4'000'000;

std::string_view local_name(std::string_view name) {
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node &parent, std::string_view name) {
  for (auto c = parent.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && local_name(c.name()) == name)
      return c;
  return {};
}

// The attribute `name` without a namespace prefix (the r:id kind must not match a plain id).
std::string_view plain_attr(const pugi::xml_node &node, const char *name) {
  return node.attribute(name).value();
}

std::optional<std::int64_t> to_int64(std::string_view text) {
  std::int64_t v = 0;
  const auto *end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || p != end)
    return std::nullopt;
  return v;
}

// "ppt/slides/../slideLayouts/x.xml" -> "ppt/slideLayouts/x.xml".
std::string normalize(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view seg = path.substr(start, end - start);
    if (seg == "..") {
      if (!parts.empty())
        parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.emplace_back(seg);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto &p : parts) {
    if (!out.empty())
      out += '/';
    out += p;
  }
  return out;
}

std::string rels_name(const std::string &part) {
  const auto slash = part.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : part.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
  return dir + "_rels/" + file + ".rels";
}

std::string resolve_target(const std::string &source_part, std::string_view target) {
  if (!target.empty() && target.front() == '/')
    return normalize(target);
  const auto slash = source_part.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : source_part.substr(0, slash + 1);
  return normalize(dir + std::string(target));
}

bool type_is(std::string_view type, std::string_view last) {
  return type.size() > last.size() && type.ends_with(last) &&
         type[type.size() - last.size() - 1] == '/';
}

struct Placeholder {
  std::string type; // "obj" when the file leaves it out
  std::string idx;  // "0" when the file leaves it out
};

std::optional<Placeholder> placeholder_of(const pugi::xml_node &shape) {
  for (auto nv = shape.first_child(); nv; nv = nv.next_sibling()) {
    const auto n = local_name(nv.name());
    if (!(n.starts_with("nv") && n.ends_with("Pr")))
      continue;
    const auto ph = child(child(nv, "nvPr"), "ph");
    if (!ph)
      return std::nullopt;
    Placeholder p;
    p.type = ph.attribute("type") ? ph.attribute("type").value() : "obj";
    p.idx = ph.attribute("idx") ? ph.attribute("idx").value() : "0";
    // idx is a number: "01" and "1" name the same placeholder.
    if (const auto n = to_int64(p.idx); n && *n >= 0)
      p.idx = std::to_string(*n);
    return p;
  }
  return std::nullopt;
}

// The master placeholder type a layout placeholder takes its place from.
std::string master_type(const std::string &type) {
  if (type == "title" || type == "ctrTitle")
    return "title";
  if (type == "dt" || type == "ftr" || type == "sldNum")
    return type;
  return "body";
}

struct PartialBox {
  std::optional<std::int64_t> left, top, width, height;
  void fill_from(const PartialBox &base) {
    if (!left)
      left = base.left;
    if (!top)
      top = base.top;
    if (!width)
      width = base.width;
    if (!height)
      height = base.height;
  }
  std::optional<Box> complete() const {
    if (!left || !top || !width || !height)
      return std::nullopt;
    return Box{*left, *top, *width, *height};
  }
};

PartialBox own_box(const pugi::xml_node &shape) {
  const auto kind = local_name(shape.name());
  pugi::xml_node xfrm;
  if (kind == "graphicFrame")
    xfrm = child(shape, "xfrm");
  else if (kind == "grpSp")
    xfrm = child(child(shape, "grpSpPr"), "xfrm");
  else if (kind == "contentPart")
    xfrm = child(shape, "xfrm");
  else
    xfrm = child(child(shape, "spPr"), "xfrm");
  PartialBox b;
  if (const auto off = child(xfrm, "off")) {
    b.left = to_int64(plain_attr(off, "x"));
    b.top = to_int64(plain_attr(off, "y"));
  }
  if (const auto ext = child(xfrm, "ext")) {
    b.width = to_int64(plain_attr(ext, "cx"));
    b.height = to_int64(plain_attr(ext, "cy"));
  }
  return b;
}

std::string frame_text(const pugi::xml_node &tx_body) {
  std::string text;
  bool first = true;
  for (auto p = tx_body.first_child(); p; p = p.next_sibling()) {
    if (p.type() != pugi::node_element || local_name(p.name()) != "p")
      continue;
    if (!first)
      text += '\n';
    first = false;
    for (auto r = p.first_child(); r; r = r.next_sibling()) {
      const auto n = local_name(r.name());
      if (n == "r" || n == "fld")
        text += child(r, "t").child_value();
      else if (n == "br")
        text += '\v';
    }
  }
  return text;
}

std::optional<ShapeKind> kind_of(std::string_view name) {
  if (name == "sp")
    return ShapeKind::shape;
  if (name == "grpSp")
    return ShapeKind::group;
  if (name == "graphicFrame")
    return ShapeKind::graphic_frame;
  if (name == "cxnSp")
    return ShapeKind::connector;
  if (name == "pic")
    return ShapeKind::picture;
  if (name == "contentPart")
    return ShapeKind::content_part;
  return std::nullopt;
}

pugi::xml_node shape_tree(const pugi::xml_document &doc) {
  return child(child(doc.document_element(), "cSld"), "spTree");
}

} // namespace

struct Presentation::Impl {
  std::string label; // the file name for messages
  zip_t *archive = nullptr;
  std::string presentation_part;
  std::vector<std::string> slide_parts;
  std::optional<Size> size;
  std::vector<bool> hidden;

  ~Impl() {
    if (archive)
      zip_discard(archive);
  }

  bool has(const std::string &name) const {
    return zip_name_locate(archive, name.c_str(), ZIP_FL_NOCASE) >= 0;
  }

  std::string read(const std::string &name) const {
    const zip_int64_t index = zip_name_locate(archive, name.c_str(), ZIP_FL_NOCASE);
    if (index < 0)
      throw Error(label + ": missing part " + name);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_SIZE))
      throw Error(label + ": unreadable part " + name);
    if (st.size > kMaxPartSize)
      throw Error(label + ": part " + name + " is too large (" + std::to_string(st.size) +
                  " bytes)");
    zip_file_t *f = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (!f)
      throw Error(label + ": unreadable part " + name + ": " +
                  zip_error_strerror(zip_get_error(archive)));
    std::string data(static_cast<std::size_t>(st.size), '\0');
    zip_uint64_t got = 0;
    while (got < st.size) {
      const zip_int64_t n = zip_fread(f, data.data() + got, st.size - got);
      if (n <= 0) {
        const std::string why = n < 0 ? zip_error_strerror(zip_file_get_error(f)) : "truncated";
        zip_fclose(f);
        throw Error(label + ": unreadable part " + name + ": " + why);
      }
      got += static_cast<zip_uint64_t>(n);
    }
    zip_fclose(f);
    return data;
  }

  void parse(const std::string &name, pugi::xml_document &doc) const {
    const std::string data = read(name);
    const std::size_t markup = static_cast<std::size_t>(std::count(data.begin(), data.end(), '<')) +
                               static_cast<std::size_t>(std::count(data.begin(), data.end(), '='));
    if (markup > kMaxPartMarkup)
      throw Error(label + ": part " + name + " holds too many elements");
    // Whitespace-only text is kept where it is an element's only content: a run of one space.
    const auto r = doc.load_buffer(data.data(), data.size(),
                                   pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (!r)
      throw Error(label + ": malformed XML in " + name + ": " + r.description());
  }

  // Relationship id -> target part, and type of each, for `part`.
  struct Rel {
    std::string type;
    std::string target;
  };
  std::map<std::string, Rel> rels(const std::string &part) const {
    std::map<std::string, Rel> out;
    const std::string name = rels_name(part);
    if (!has(name))
      return out;
    pugi::xml_document doc;
    parse(name, doc);
    for (auto r = doc.document_element().first_child(); r; r = r.next_sibling()) {
      if (local_name(r.name()) != "Relationship" ||
          std::string_view(r.attribute("TargetMode").value()) == "External")
        continue;
      out[r.attribute("Id").value()] =
          Rel{r.attribute("Type").value(), resolve_target(part, r.attribute("Target").value())};
    }
    return out;
  }

  std::string related(const std::string &part, std::string_view type) const {
    for (const auto &[id, rel] : rels(part))
      if (type_is(rel.type, type))
        return rel.target;
    return {};
  }
};

Presentation::Presentation(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Presentation::Presentation(Presentation &&) noexcept = default;
Presentation &Presentation::operator=(Presentation &&) noexcept = default;
Presentation::~Presentation() = default;

Presentation Presentation::open(const std::filesystem::path &path) {
  auto impl = std::make_unique<Impl>();
  impl->label = path.string();
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    throw Error(impl->label + ": is a folder, not a presentation");
  // Read from the file part by part: decks carry media of hundreds of megabytes that no slide
  // needs, and the deck is opened once per slide.
  int code = 0;
  impl->archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (!impl->archive) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    if (code == ZIP_ER_NOENT || code == ZIP_ER_OPEN || code == ZIP_ER_READ)
      throw Error(impl->label + ": cannot read the file (" + why + ")");
    throw Error(impl->label + ": not a presentation package (" + why + ")");
  }

  impl->presentation_part = impl->related("", "officeDocument");
  if (impl->presentation_part.empty() || !impl->has(impl->presentation_part))
    throw Error(impl->label + ": no presentation part in the package");
  pugi::xml_document doc;
  impl->parse(impl->presentation_part, doc);
  const auto root = doc.document_element();
  if (local_name(root.name()) != "presentation")
    throw Error(impl->label + ": " + impl->presentation_part + " is not a presentation");

  if (const auto sz = child(root, "sldSz")) {
    const auto cx = to_int64(plain_attr(sz, "cx"));
    const auto cy = to_int64(plain_attr(sz, "cy"));
    if (cx && cy)
      impl->size = Size{*cx, *cy};
  }
  const auto rels = impl->rels(impl->presentation_part);
  for (auto id = child(root, "sldIdLst").first_child(); id; id = id.next_sibling()) {
    if (id.type() != pugi::node_element || local_name(id.name()) != "sldId")
      continue;
    // The relationship id is the namespaced r:id; the plain id is the slide's number.
    std::string rid;
    for (auto a = id.first_attribute(); a; a = a.next_attribute())
      if (local_name(a.name()) == "id" && std::string_view(a.name()).find(':') != std::string::npos)
        rid = a.value();
    const auto rel = rels.find(rid);
    if (rel == rels.end() || !type_is(rel->second.type, "slide"))
      throw Error(impl->label + ": slide list entry " + rid + " points at no slide");
    impl->slide_parts.push_back(rel->second.target);
  }
  impl->hidden.assign(impl->slide_parts.size(), false);
  return Presentation(std::move(impl));
}

std::size_t Presentation::slide_count() const {
  return impl_->slide_parts.size();
}

std::optional<Size> Presentation::slide_size() const {
  return impl_->size;
}

bool Presentation::slide_hidden(std::size_t index) const {
  if (index >= impl_->slide_parts.size())
    throw Error(impl_->label + ": no slide " + std::to_string(index + 1));
  pugi::xml_document doc;
  impl_->parse(impl_->slide_parts[index], doc);
  const std::string_view show = doc.document_element().attribute("show").value();
  return show == "0" || show == "false";
}

std::vector<Shape> Presentation::shapes(std::size_t index) const {
  if (index >= impl_->slide_parts.size())
    throw Error(impl_->label + ": no slide " + std::to_string(index + 1) + " (the deck has " +
                std::to_string(impl_->slide_parts.size()) + ")");
  const std::string &part = impl_->slide_parts[index];
  pugi::xml_document slide;
  impl_->parse(part, slide);
  const auto tree = shape_tree(slide);
  if (!tree)
    throw Error(impl_->label + ": " + part + " has no shape tree");

  // Layout and master are read only when a placeholder needs them.
  std::optional<pugi::xml_document> layout, master;
  std::string layout_part;
  auto load_layout = [&]() -> const pugi::xml_document * {
    if (!layout) {
      layout.emplace();
      layout_part = impl_->related(part, "slideLayout");
      if (!layout_part.empty() && impl_->has(layout_part))
        impl_->parse(layout_part, *layout);
    }
    return layout->document_element() ? &*layout : nullptr;
  };
  auto load_master = [&]() -> const pugi::xml_document * {
    if (!master) {
      master.emplace();
      if (load_layout()) {
        const std::string master_part = impl_->related(layout_part, "slideMaster");
        if (!master_part.empty() && impl_->has(master_part))
          impl_->parse(master_part, *master);
      }
    }
    return master->document_element() ? &*master : nullptr;
  };
  auto find_placeholder = [](const pugi::xml_document *doc, auto matches) -> pugi::xml_node {
    if (!doc)
      return {};
    for (auto s = shape_tree(*doc).first_child(); s; s = s.next_sibling()) {
      if (s.type() != pugi::node_element || !kind_of(local_name(s.name())))
        continue;
      const auto ph = placeholder_of(s);
      if (ph && matches(*ph))
        return s;
    }
    return {};
  };

  std::vector<Shape> out;
  for (auto s = tree.first_child(); s; s = s.next_sibling()) {
    if (s.type() != pugi::node_element)
      continue;
    const auto kind = kind_of(local_name(s.name()));
    if (!kind)
      continue;
    Shape shape;
    shape.kind = *kind;
    for (auto nv = s.first_child(); nv; nv = nv.next_sibling())
      if (const auto c = child(nv, "cNvPr")) {
        shape.name = c.attribute("name").value();
        break;
      }
    shape.has_text_frame = *kind == ShapeKind::shape;
    if (shape.has_text_frame)
      shape.text = frame_text(child(s, "txBody"));

    PartialBox box = own_box(s);
    if (const auto ph = placeholder_of(s); ph && !box.complete()) {
      const auto on_layout =
          find_placeholder(load_layout(), [&](const Placeholder &p) { return p.idx == ph->idx; });
      if (on_layout) {
        box.fill_from(own_box(on_layout));
        if (!box.complete()) {
          const std::string base_type = master_type(placeholder_of(on_layout)->type);
          const auto on_master = find_placeholder(
              load_master(), [&](const Placeholder &p) { return p.type == base_type; });
          if (on_master)
            box.fill_from(own_box(on_master));
        }
      }
    }
    shape.box = box.complete();
    out.push_back(std::move(shape));
  }
  return out;
}

} // namespace vaskit::pptx
