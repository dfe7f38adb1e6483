#include "tools/chartwyn/chartwyn.hpp"

#include "vaskern/fileMg.hpp"

namespace vaskit::chartwyn {

vaskern::app_logging::Logger &log() {
  return vaskern::app_logging::lazy_logger("Chartwyn");
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

const cli::Command &chartwyn_command() {
  static const cli::Command cmd = [] {
    cli::Command c;
    c.name = "chartwyn";
    c.help = "Convert .mmd and markdown files into static HTML pages.";
    c.options = {
        {{"--config", "-c"},
         "config",
         false,
         cli::PathCheck{true, true, true},
         "Specify the JSON config file path"},
        {{"--generate-config"},
         "generate_config",
         true,
         std::nullopt,
         "Generate config_chartwyn_template.json"},
    };
    return c;
  }();
  return cmd;
}

int cmd_chartwyn(const std::optional<std::string> &config, bool generate_config) {
  if (generate_config) {
    const std::string path =
        vaskern::fileMg::generate_json_template(DEFAULT_CONFIG, "config_chartwyn_template.json");
    if (path.empty())
      return 1;
    cli::echo("Success! Template file created at: " + path);
    return 0;
  }
  if (!config) {
    cli::echo("Error: Please provide a JSON file path using --config or -c.");
    cli::echo("Hint: Run 'vas-kit chartwyn --generate-config' to get a template.");
    return 1;
  }
  const auto loaded = vaskern::fileMg::load_json_file(*config, {"config"});
  if (!loaded)
    return 0;
  try {
    const MermaidConverter converter(*loaded);
    const Result r = converter.run();
    cli::echo(std::string("\n[") + (r.ok ? "DONE" : "WARNING") + "] " + r.message);
    return 0;
  } catch (const std::exception &e) {
    cli::echo(std::string("\n[ERROR] ") + e.what());
    return 1;
  }
}

} // namespace vaskit::chartwyn
