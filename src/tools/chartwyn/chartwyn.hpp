// chartwyn: a folder of Mermaid diagrams (.mmd) and Markdown files (.md) becomes a small static
// site: one page per source, each diagram rendered to SVG by the Mermaid command-line renderer
// `mmdc`, and an index page linking them all.
//
// Error contract of a tool: cmd_chartwyn returns the exit status, its reason printed. The
// converter's constructor throws config::ConfigError for a setting the pass cannot use, before
// anything is touched. The pass (run) returns an Outcome whose failed items are the sources (a
// Markdown file, a diagram the renderer failed on) it could not convert; each is logged and the
// pass goes on with the next one. A missing renderer or input folder, a diagram title that is not
// text and any other diagram error end the pass with an exception, which the command prints as
// one "[ERROR]" line with status 1.
#pragma once

#include "core/command.hpp"
#include "core/config.hpp"
#include "core/result.hpp"
#include "vaskern/app_logging.hpp"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vaskit::chartwyn {

using json = vaskit::config::json;

// The tool's logger ("Chartwyn").
vaskern::app_logging::Logger &log();

// {"config": {...}}: what --generate-config writes.
extern const json DEFAULT_CONFIG;

// One page per source: slots {title} (twice) and {body_content}; every other brace doubled.
extern const std::string_view PAGE_TEMPLATE;
// The index page: slots {index_title} (twice), {md_section} and {chart_section}.
extern const std::string_view INDEX_TEMPLATE;

class MermaidConverter {
public:
  // Reads the five settings; a key that is absent takes its default. Throws config::ConfigError
  // when the section is not a mapping, a folder is not text or a title table is not a mapping.
  explicit MermaidConverter(const json &config_dict);

  // Creates the output folder (and its parents) when nothing exists there.
  void _prepare_output_dir() const;
  // True when "mmdc" is found on the command search path.
  static bool _check_mmdc();

  // One pass over the input folder. The outcome's failed items are the sources that could not
  // be converted; its message is the closing "[DONE]", "[WARNING]" (no source found) or
  // "[ERROR]" (sources found, no page made) line. Throws std::runtime_error for a missing
  // renderer, a missing input folder or a diagram error other than a renderer failure, and
  // config::ConfigError for a title that is not text.
  Outcome run() const;

  json conf;
  std::string input_folder;
  std::string output_folder;
  std::string index_title;
  json doc_titles;
  json chart_titles;
};

// Fills PAGE_TEMPLATE in one pass. `title` is placed as HTML text; `body` as it is.
std::string render_page(std::string_view title, std::string_view body);
// Fills INDEX_TEMPLATE in one pass; the sections are placed as they are.
std::string render_index(std::string_view index_title, std::string_view md_section,
                         std::string_view chart_section);
// One index entry: a link to `href` (percent-encoded, then attribute-escaped) showing the icon
// and the title (HTML-escaped).
std::string link_line(std::string_view href, std::string_view icon, std::string_view title);
// Percent-encodes every byte of a relative link except unreserved ASCII and "/".
std::string url_quote(std::string_view path);

// The per-diagram time limit: VASKIT_MMDC_TIMEOUT (seconds) when set to a positive number,
// else 120.
int mmdc_timeout_seconds();

// Renders one Markdown file's text: fenced code and tables, nothing else.
std::string render_markdown(std::string_view text);

// The command line of chartwyn: one member per option, filled by cli::parse from
// chartwyn_command().
struct Options {
  std::optional<std::string> config;
  bool generate_config = false;
};

// The command: name, help text, epilog and options, each option bound to its member.
const cli::Command<Options> &chartwyn_command();

// The command body; returns the exit status.
int cmd_chartwyn(const Options &options);

} // namespace vaskit::chartwyn
