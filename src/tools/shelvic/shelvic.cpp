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
  static const cli::Command<Options> cmd{
      .name = "shelvic",
      .help = std::string(TOOL_HELP),
      .epilog = cli::examples_epilog(
          {
              cli::generate_config_example("shelvic"),
              cli::run_with_config_example("shelvic"),
              {"Run with default settings (Default mode):", {"vas-kit shelvic"}},
              cli::choose_config_example("shelvic"),
          },
          "\n\b\n"),
      .options = {
          cli::yaml_config_option<Options>(),
          cli::generate_config_option<Options>("Generate config_shelvic_template.yaml"),
          cli::debug_option<Options>(),
      }};
  return cmd;
}

int cmd_shelvic(const Options &options) {
  vaskern::app_logging::debug_switch(options.debug, "Vaskit");
  auto resolved = fileIO::start_yaml_command(options.generate_config, options.config,
                                             {.default_text = DEFAULT_YAML_CONTENT,
                                              .template_file = "config_shelvic_template.yaml",
                                              .logger = &log(),
                                              .single = fileIO::SingleCandidate::take,
                                              .empty_asks_nothing = true});
  if (!resolved.config)
    return resolved.status;
  ShelvicApp app(resolved.config->mapping, resolved.config->path);
  return cli::finish(app.run());
}

} // namespace vaskit::shelvic
