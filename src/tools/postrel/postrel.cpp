#include "tools/postrel/postrel.hpp"

#include "tools/postrel/tool_help.hpp"
#include "vaskern/fileIO.hpp"

namespace vaskit::postrel {
namespace fileIO = vaskern::fileIO;

const char *const DEFAULT_YAML_CONTENT =
    "config:\n"
    "  default_group: \"empty\"\n"
    "  groups:\n"
    "    weekly_report_to_boss:\n"
    "      mail_to: \"boss@example.com\"\n"
    "      mail_cc: \n"
    "      mail_content: \"C:/Users/user/Documents/weekly_report_to_boss.md\"\n"
    "    project_team:\n"
    "      mail_to: \"team.lead@example.com\"\n"
    "      mail_cc: \"alice@example.com;bob@example.com;carol@example.com\"\n"
    "      mail_content: \"C:/Users/user/Documents/project_team.md\"\n"
    "    empty:\n"
    "      mail_to: \"\"\n"
    "      mail_cc: \"\"\n"
    "      mail_content: \"\"\n";

Logger &log() {
  static Logger &logger = vaskern::app_logging::lazy_logger("Postrel");
  return logger;
}

const cli::Command<Options> &postrel_command() {
  static const cli::PathCheck not_a_folder{false, true, false};
  static const cli::Command<Options> command{
      .name = "postrel",
      .help = std::string(TOOL_HELP),
      .epilog =
          cli::examples_epilog({
              cli::generate_config_example("postrel"),
              {"List all available recipient groups:",
               {"vas-kit postrel -l", "vas-kit postrel -c config.yaml -l"}},
              cli::run_with_config_example("postrel"),
              {"Run with specified group:", {"vas-kit postrel -c config.yaml -g management"}},
              {"Specify a Markdown file directly:",
               {"vas-kit postrel -f ./data_postrel/report.md"}},
              {"Specify attachment file(s):",
               {"vas-kit postrel -f ./data_postrel/report.md -a ./data_postrel/attachment.pdf"}},
              cli::choose_config_example("postrel"),
              {"Run without AI polishing:",
               {"vas-kit postrel -f ./data_postrel/report.md --no-ai"}},
          }) +
          "\n"
          "\b\n"
          "Features: Postrel - Convert Markdown content to Outlook email draft.\n"
          "  - Converts Markdown content to formatted HTML email body.\n"
          "  - Automatically creates Outlook draft and displays it for review.\n"
          "  - Supports configurable recipient groups (mail_to, mail_cc) and mail_content.\n"
          "  - Reads email subject from the first line of Markdown (`subject:{subject_content}`) "
          "or auto-generates via AI.\n",
      .options = {
          cli::yaml_config_option<Options>(),
          {{"-f", "--file"},
           &Options::input_file,
           not_a_folder,
           "Specify the Markdown file path directly."},
          {{"-a", "--attach"},
           &Options::attachments,
           not_a_folder,
           "Specify attachment file path(s). Can be used multiple times."},
          {{"-g", "--group"},
           &Options::group,
           std::nullopt,
           "Specify the recipient group defined in YAML config."},
          {{"-l", "--list-groups"},
           &Options::list_groups_flag,
           std::nullopt,
           "List all available recipient groups defined in configuration."},
          cli::generate_config_option<Options>("Generate config_postrel_template.yaml"),
          {{"--no-ai"},
           &Options::no_ai,
           std::nullopt,
           "Disable AI polishing and skip interactive AI option selection."},
          cli::debug_option<Options>(),
      }};
  return command;
}

int cmd_postrel(const Options &options) {
  vaskern::app_logging::debug_switch(options.debug, "VasAgy");
  // An empty -c always offers the list, even for a single file.
  auto resolved = fileIO::start_yaml_command(options.generate_config, options.config,
                                             {.default_text = DEFAULT_YAML_CONTENT,
                                              .template_file = "config_postrel_template.yaml",
                                              .logger = &log(),
                                              .single = fileIO::SingleCandidate::ask});
  if (!resolved.config)
    return resolved.status;
  const json &loaded_cfg = resolved.config->mapping;
  if (auto problem = configuration_problem(loaded_cfg))
    return cli::fail(*problem);

  if (options.list_groups_flag) {
    PostrelApp(loaded_cfg, options.group, false).list_groups();
    return 0;
  }
  const PostrelApp app(loaded_cfg, options.group, true);
  return cli::finish(app.run(options.input_file, options.attachments, options.no_ai));
}

} // namespace vaskit::postrel
