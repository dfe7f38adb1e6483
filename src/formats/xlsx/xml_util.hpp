// XML helpers shared by the workbook parts: namespace-prefix-agnostic lookup, parsing with a
// clear error, serialization, and the text rules of cell strings.
#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <optional>
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
// is malformed (a character reference that is not referable() included) or the part is
// missing.
void parse_part(const Package &package, std::string_view name, pugi::xml_document &doc);

// The text of an element: all its text and CDATA children joined, so that a comment or a CDATA
// section inside a value ("1<!---->2", "1<![CDATA[2]]>") does not cut it.
std::string text_of(const pugi::xml_node &node);
// The text of a string item (a shared string's <si>, an inline string's <is>), still escaped:
// its plain <t>, or the <t> of each rich-text run <r>. Phonetic runs are not part of it.
std::string rich_text(const pugi::xml_node &item);

// The reference at the start of `text` as the parser resolves references: one of the five named
// entities, "&#<decimal digits>;" or "&#x<hex digits>;". nullopt when `text` does not start with
// one (the '&' is then an ordinary character, as the parser leaves it). A code point too large
// for Unicode is given as 0x110000.
struct Reference {
  std::size_t length = 0; // from '&' to ';'
  char32_t code_point = 0;
};
std::optional<Reference> reference_at(std::string_view text);
// Whether a character reference to `cp` is resolved: any Unicode scalar value but NUL, which no
// text can hold. Other control characters are kept, as they are when written unescaped (and the
// serializer writes them back as references).
bool referable(char32_t cp);

// An unsigned number attribute (a row number, a style index) read by the one rule both cell
// readers follow: blanks around it, an optional "+", decimal digits. nullopt for anything else
// ("0x3", "3a", "-1", "") and for a value above `max`.
std::optional<long long> unsigned_attribute(std::string_view text, long long max);
// A cell's style index from the text of its "s" attribute: 0, the default format, when the
// attribute is empty or no number.
int style_index(std::string_view text);
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
