// The shelvic command: options, configuration choice and the hand-over to the run.
#include "tools/shelvic/shelvic.hpp"

#include "core/command.hpp"
#include "tools/shelvic/tool_help.hpp"
#include "vaskern/fileIO.hpp"

namespace vaskit::shelvic {

namespace fileIO = vaskern::fileIO;

const std::string DEFAULT_YAML_CONTENT =
    R"(document_title: "[Project Name] Documentation"
document_description: "Welcome to the [Project Name] documentation. Please select a document below to explore the details."
download_link: "package.zip"

document1_title: "[template_doc]"
document1_file: "template_doc.html"
document1_description: "[Brief description of the document's purpose and contents.]"

document2_title: "[template_flow_chart]"
document2_file: "template_flow_chart.html"
document2_description: "[Brief description of the document's purpose and contents.]"

document3_title: "[log text file]"
document3_file: "log.txt"
document3_description: "Brief description of the log text purpose and contents."

document4_title: "log zip file"
document4_file: "log.zip"
document4_description: "Brief description of the log zip file purpose and contents."

document5_title: "download from R2"
document5_file: "download/hello.txt"
document5_description: "Brief description of the document3 purpose and contents."
)";

vaskern::app_logging::Logger &log() {
  return vaskern::app_logging::lazy_logger("Shelvic");
}

const cli::Command<Options> &shelvic_command() {
  static const cli::Command<Options> cmd = [] {
    cli::Command<Options> c;
    c.name = "shelvic";
    c.help = std::string(TOOL_HELP);
    // Each example keeps its lines ("\b" paragraphs are printed as written).
    c.epilog = "\b\nExamples:\n"
               "  1. Generate config template:\n"
               "     vas-kit shelvic --generate-config\n"
               "\n\b\n"
               "  2. Run with configuration:\n"
               "     vas-kit shelvic -c config.yaml\n"
               "\n\b\n"
               "  3. Run with default settings (Default mode):\n"
               "     vas-kit shelvic\n"
               "\n\b\n"
               "  4. Interactive config selection (when -c is provided without arguments):\n"
               "     vas-kit shelvic -c\n";
    c.options = {
        {{"--config", "-c"},
         &Options::config,
         cli::PathCheck{},
         "Specify the YAML config file path. If -c is provided without arguments, it will "
         "trigger interactive config selection."},
        {{"--generate-config"},
         &Options::generate_config,
         std::nullopt,
         "Generate config_shelvic_template.yaml"},
        {{"--debug"}, &Options::debug, std::nullopt, "Enable debug mode"},
    };
    return c;
  }();
  return cmd;
}

namespace {

// Prints the line on standard error; the command then ends with status 1.
int fail(const std::string &text) {
  cli::echo(text, true);
  return 1;
}

} // namespace

int cmd_shelvic(const Options &options) {
  vaskern::app_logging::debug_switch(options.debug, "Vaskit");

  if (options.generate_config) {
    const std::string path =
        fileIO::save_yaml_template(DEFAULT_YAML_CONTENT, "config_shelvic_template.yaml");
    if (path.empty())
      return 1;
    cli::echo("✅ Success! Template file created at: " + path);
    return 0;
  }

  fileIO::YamlConfigFlow flow;
  flow.default_text = DEFAULT_YAML_CONTENT;
  flow.logger = &log();
  flow.single = fileIO::SingleCandidate::take;
  // The loader has said what was wrong with the file; a run that could not start is no success.
  flow.unusable_status = 1;
  auto resolved = fileIO::resolve_yaml_config(options.config, flow);
  if (!resolved.config)
    return resolved.status;
  json &loaded_cfg = resolved.config->mapping;
  // A file without content (empty, or comments only) asks for nothing.
  if (loaded_cfg.is_null())
    return 0;
  if (!loaded_cfg.is_object())
    return fail("❌ Error: 設定檔的內容必須是對應表 (mapping)。");

  ShelvicApp app(loaded_cfg, resolved.config->path);
  const Result result = app.run();
  if (!result.ok)
    return fail("Error: " + result.message);
  cli::echo("Done: " + result.message);
  return 0;
}

} // namespace vaskit::shelvic
