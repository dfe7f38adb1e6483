// XML helpers shared by the workbook parts: namespace-prefix-agnostic lookup, parsing with a
// clear error, serialization, and the text rules of cell strings.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace vaskit::xlsx::detail {

class Package;

// The element's name without its namespace prefix ("x:row" -> "row"). Producers differ in the
// prefixes they use, so elements are matched by local name only.
std::string_view local_name(const pugi::xml_node &node);
std::string_view local_name(const pugi::xml_attribute &attr);
// First child element with this local name, or an empty node.
pugi::xml_node child(const pugi::xml_node &parent, std::string_view name);
// A name for a new element that uses the same prefix as `sibling_or_parent`.
std::string same_prefix(const pugi::xml_node &sibling_or_parent, std::string_view name);
// Attribute value by local name (for "r:id" and its prefixed variants); "" when absent.
std::string_view attr_by_local(const pugi::xml_node &node, std::string_view name);

// Parses the part `name` of `package`. Throws Error naming the file and the part when the XML
// is malformed or the part is missing.
void parse_part(const Package &package, std::string_view name, pugi::xml_document &doc);
std::string serialize(const pugi::xml_document &doc);
std::string serialize(const pugi::xml_node &node);

// Cell text made safe for XML 1.0: invalid UTF-8 becomes U+FFFD; C0 controls other than tab,
// line feed and carriage return, and U+FFFE/U+FFFF are dropped.
std::string clean_text(std::string_view text);
// Cell strings escape characters as "_xHHHH_"; a literal "_xHHHH_" in the text is protected
// as "_x005F_xHHHH_". Carriage returns are escaped so that XML line-end handling keeps them.
std::string escape_cell_text(std::string_view text);
std::string unescape_cell_text(std::string_view text);

} // namespace vaskit::xlsx::detail
