#include "tools/chartwyn/chartwyn.hpp"

#include "core/text.hpp"
#include "formats/markdown/markdown.hpp"
#include "tools/chartwyn/tool_help.hpp"
#include "vaskern/fileMg.hpp"

namespace vaskit::chartwyn {

vaskern::app_logging::Logger &log() {
  static vaskern::app_logging::Logger &logger = vaskern::app_logging::lazy_logger("Chartwyn");
  return logger;
}

std::string render_markdown(std::string_view text) {
  static const markdown::Extensions kSiteSet{};
  return markdown::render(text, kSiteSet);
}

const json DEFAULT_CONFIG = json{
    {"config",
     {
         {"input_folder", "./data_chartwyn"},
         {"output_folder", "./data_chartwyn/html_out"},
         {"index_title", "Project Documentation"},
         {"doc_titles",
          {{"README.md", "README (v0.1)"}, {"test.md", "Test MarkDown Document (v0.1)"}}},
         {"chart_titles", {{"ab.mmd", "A to B Flow"}, {"cd.mmd", "C to D Flow"}}},
     }},
};

const cli::Command<Options> &chartwyn_command() {
  static const cli::Command<Options> cmd{
      .name = "chartwyn",
      .help = std::string(TOOL_HELP),
      .options = {cli::json_config_option<Options>(),
                  cli::generate_config_option<Options>("Generate config_chartwyn_template.json")}};
  return cmd;
}

int cmd_chartwyn(const Options &options) {
  const auto resolved = vaskern::fileMg::start_json_command(
      options.generate_config, options.config,
      {.template_mapping = DEFAULT_CONFIG,
       .template_file = "config_chartwyn_template.json",
       .missing_hint = "Hint: Run 'vas-kit chartwyn --generate-config' to get a template."});
  if (!resolved.section)
    return resolved.status;
  // Every closing line goes to standard output; the pass words it with its tag.
  const cli::OutcomeLines lines{"", "", false};
  try {
    const MermaidConverter converter(*resolved.section);
    return cli::finish(converter.run(), lines);
  } catch (const std::exception &e) {
    return cli::finish(Outcome::run_failed(std::string("\n[ERROR] ") + e.what()), lines);
  }
}

} // namespace vaskit::chartwyn
