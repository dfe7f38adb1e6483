// The Markdown renderer of the conversion pass: cmark-gfm (tables only), dressed to produce what
// Python-Markdown gives with fenced_code, tables, toc, md_in_html, sane_lists and nl2br.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace vaskit::prosett {

// Renders Markdown text to an HTML fragment.
// - Raw HTML passes through; every line break inside a paragraph becomes <br />.
// - Every heading gets a unique id (slugify + unique_id below, in document order, headings inside
//   details elements included); a paragraph that is exactly "[TOC]" becomes <div class="toc"> with
//   the nested list of links to all headings.
// - The content of <details markdown="1"> (also "block", "span" or a bare markdown attribute) is
//   rendered as Markdown; its <summary> element stays raw and the markdown attribute is dropped.
//   A details element without closing tag ends with the document.
// - The placeholders "<!--CODE_PLACEHOLDER_n-->" and "<!--MATH_PLACEHOLDER_n-->" come out exactly
//   as written, also in code blocks, tables, list items and headings: one that stands alone on its
//   line becomes a block of its own, one that shares its line stays inline in its paragraph.
// Accepts any byte string; the result is deterministic and the work linear in the input size.
std::string render_markdown(std::string_view md);

// The toc extension's default slug: NFKD, non-ASCII dropped, everything but word characters,
// white space and "-" removed, stripped, lower-cased, runs of white space and "-" become one "-".
std::string slugify(std::string_view text);

// The toc extension's unique(): `id` itself when it is neither empty nor in `ids`; otherwise
// "_1" is appended, or a trailing "_<number>" is counted up, until it is new. The result is
// added to `ids`.
std::string unique_id(std::string id, std::set<std::string> &ids);

} // namespace vaskit::prosett
