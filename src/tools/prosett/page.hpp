// Page assembly: the converted body inside the page template with its styles, diagram and formula
// scripts, and the optional tiled watermark.
#pragma once

#include <string>
#include <string_view>

namespace vaskit::prosett {

// The page with exactly three slots, each used once: {title}, {watermark_css} and {content};
// every other brace is doubled. Begins "<!DOCTYPE html>", ends "</html>" without a line feed.
extern const std::string_view PAGE_TEMPLATE;

// The watermark rule (a fixed layer of 250x150 SVG tiles) for a non-empty text, "" for an empty
// one. The text is XML-escaped and percent-encoded, so that any text shows as typed.
std::string watermark_css(std::string_view watermark_text);

// The complete page for one converted file. `md_name` (the source's display name) becomes the
// HTML-escaped title; `html_body` goes in verbatim; an empty `watermark_text` means no watermark.
// Slots are filled in one pass: inserted values are never scanned for braces.
std::string generate_final_html(const std::string &md_name, const std::string &html_body,
                                const std::string &watermark_text = "");

} // namespace vaskit::prosett
