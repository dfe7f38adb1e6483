// chartwyn: a folder of Mermaid diagrams (.mmd) and Markdown files (.md) becomes a small static
// site: one page per source, each diagram rendered to SVG by the Mermaid command-line renderer
// `mmdc`, and an index page linking them all.
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

// A `config` section the converter cannot work with (names the key).
class ConfigError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class MermaidConverter {
public:
  // Reads the five settings; a key that is absent takes its default. Throws ConfigError when a
  // folder is not text or a title table is not a mapping of texts.
  explicit MermaidConverter(const json &config_dict);

  // Creates the output folder (and its parents) when nothing exists there.
  void _prepare_output_dir() const;
  // True when "mmdc" is found on the command search path.
  static bool _check_mmdc();

  // One pass over the input folder. Returns (false, message) when no page was made; throws
  // std::runtime_error for a missing renderer, a missing input folder or a diagram error other
  // than a renderer failure.
  Result run() const;

  // run(), with how many source files were found and how many of them failed (a Markdown file
  // that could not be converted, a diagram the renderer failed on).
  struct Summary {
    Result result;
    std::size_t found = 0;
    std::size_t failed = 0;
  };
  Summary run_counted() const;

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
