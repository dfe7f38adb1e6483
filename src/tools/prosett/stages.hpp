// The transformation stages that the conversion pass runs around the Markdown renderer.
// Each stage takes text and returns text. The diagram, alert and image stages log one warning and
// hand their input back when they fail; shielding and restoring log theirs and rethrow, since
// their half-done text would lose code and formulas, so the file fails.
#pragma once

#include "core/re.hpp"
#include "formats/markdown/fences.hpp"
#include "formats/markdown/markdown.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::prosett {

// The renderer's extensions: hard line breaks, heading ids, [TOC], Markdown in details elements,
// placeholders carried through.
extern const markdown::Extensions RENDER_EXTENSIONS;

// Appends `md` to `out` with every stretch outside fenced code rewritten by fn(stretch, out);
// fenced code is copied as it is.
template <class Fn> void rewrite_outside_fences(re::Utf8 md, re::Utf8Text &out, Fn &&fn) {
  std::size_t pos = 0;
  for (const auto &[begin, end] : markdown::fenced_ranges(md.view())) {
    fn(md.substr(pos, begin - pos), out);
    out.append(md.substr(begin, end - begin));
    pos = end;
  }
  fn(md.substr(pos), out);
}

// ---- Code and math shielding ----

// A code block or span taken out of the Markdown text.
struct CodePlaceholder {
  std::string placeholder; // "<!--CODE_PLACEHOLDER_<n>-->"
  std::string html_code;   // the finished, escaped HTML of the block or span
  std::string source;      // the Markdown text it replaced, for contexts that show text
};

// A TeX formula taken out of the Markdown text.
struct MathPlaceholder {
  std::string placeholder; // "<!--MATH_PLACEHOLDER_<n>-->"
  std::string content;     // formula source without delimiters (may hold code placeholders)
  bool is_block = false;   // display formula
  std::string source;      // the Markdown text it replaced, delimiters included
};

struct ShieldedMarkdown {
  std::string text;
  std::vector<CodePlaceholder> code_placeholders;
  std::vector<MathPlaceholder> math_placeholders;
};

// Replaces fenced code blocks (backtick fences whose tag holds only letters, digits, "_", "-"
// and "+"), single-backtick code spans outside fenced code and dollar formulas outside any
// fenced code by numbered placeholders. On a failure it logs a warning and rethrows: text that
// is only partly shielded must not reach the page.
ShieldedMarkdown protect_markdown_code_and_math(std::string_view md_content);
ShieldedMarkdown protect_markdown_code_and_math(re::Utf8 md_content);

// Puts back what `protect_markdown_code_and_math` took out, in one pass over `html_body`.
// Placeholders the renderer escaped ("&lt;!--…--&gt;", or percent-encoded in a URL) come back as
// their escaped Markdown source. Formulas go between \( \) or $$ $$ with "<" and ">" escaped
// and "&" as written (a character reference stays one). On a failure it logs a warning and
// rethrows.
std::string restore_markdown_code_and_math(std::string_view html_body,
                                           const std::vector<CodePlaceholder> &code_placeholders,
                                           const std::vector<MathPlaceholder> &math_placeholders);

// The escaping of code and restored formulas: "&", "<" and ">" only.
std::string escape_html(std::string_view text);

// ---- Details and list repair ----

// Gives details tags markdown="1", opens a details element before a summary that has none and
// puts a blank line before list items that follow a text line. Fenced code is left as written.
std::string preprocess_details_and_lists(std::string_view md_content);
re::Utf8Text preprocess_details_and_lists(re::Utf8 md_content);

// ---- Diagram blocks ----

// `<pre><code class="language-mermaid">` blocks become `<div class="mermaid">`, WaveDrom blocks
// become `<script type="WaveDrom">`, their text decoded. On failure: the input, unchanged.
std::string process_mermaid_charts(std::string_view html_body);
std::string process_wavedrom_charts(std::string_view html_body);
// The same on validated text (the pass's own form: its text is checked once, when it is read).
re::Utf8Text process_mermaid_charts(re::Utf8 html_body);
re::Utf8Text process_wavedrom_charts(re::Utf8 html_body);
// The same on a text that is given up: handed back without a copy when nothing changes.
re::Utf8Text process_mermaid_charts(re::Utf8Text &&html_body);
re::Utf8Text process_wavedrom_charts(re::Utf8Text &&html_body);

// Decodes HTML character references in one left-to-right pass with the HTML5 rules: named
// references (legacy names also without ";"), decimal and hexadecimal references and the
// repairs for invalid numeric ones.
std::string html_unescape(std::string_view text);

// ---- Alert boxes ----

struct AlertKind {
  std::string_view key;
  std::string_view title;
  std::string_view css_class;
  std::string_view svg;
};
// The five kinds, in the order note, tip, important, warning, caution.
extern const AlertKind ALERT_CONFIG[5];

// Block quotes that open with "[!NOTE]" and the like become alert boxes. On failure: the input.
std::string process_markdown_alerts(std::string_view html_body);
re::Utf8Text process_markdown_alerts(re::Utf8 html_body);
// The same on a text that is given up: handed back without a copy when nothing changes.
re::Utf8Text process_markdown_alerts(re::Utf8Text &&html_body);

// ---- Local image embedding ----

// Returns the data URI of an image file, or nullopt when the file is missing or unreadable.
using EncodeImageFn = std::function<std::optional<std::string>(const std::string &)>;

// Rewrites the src of every `<img … src="…">` that names a local image file (relative to the
// folder of `md_file`) into a base64 data URI produced by `encode_image_fn`. Sources that are
// not image files are left as they are.
std::string embed_images_in_html(std::string_view html_body, const std::string &md_file,
                                 const EncodeImageFn &encode_image_fn, bool is_debug = false);
re::Utf8Text embed_images_in_html(re::Utf8 html_body, const std::string &md_file,
                                  const EncodeImageFn &encode_image_fn, bool is_debug = false);
// The same on a text that is given up: handed back without a copy when nothing changes.
re::Utf8Text embed_images_in_html(re::Utf8Text &&html_body, const std::string &md_file,
                                  const EncodeImageFn &encode_image_fn, bool is_debug = false);

// Whether `path` names an image file that may be embedded (by its extension).
bool is_embeddable_image(std::string_view path);

// "data:<mime>;base64,<bytes>" for the image file at `img_path`; nullopt when nothing exists
// there, when it is no image file, or when it cannot be read (the last is logged).
std::optional<std::string> encode_image_base64(const std::string &img_path);

// Standard base64 (RFC 4648, "=" padding, no line breaks).
std::string base64_encode(std::string_view bytes);

// ---- The conversion of one file's text ----

// The pass's rewrites ahead of the stages (NUL read as U+FFFD, Notion properties dropped, blank
// lines squeezed, the table-of-contents marker added). Throws re::error when `text` is not UTF-8.
re::Utf8Text prepare_markdown(std::string text);
// The page body of prepared text: details and lists repaired, code and formulas shielded, the
// renderer, the restore, diagrams and alerts; local images (relative to the folder of `md_file`)
// embedded through `encode_image_fn` when it is set. Throws what a failing stage rethrows.
std::string render_markdown(re::Utf8Text md_content, const std::string &md_file,
                            const EncodeImageFn &encode_image_fn, bool is_debug = false);

} // namespace vaskit::prosett
