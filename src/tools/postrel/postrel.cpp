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

namespace {

const char *const EPILOG =
    "\b\n"
    "Examples:\n"
    "  1. Generate config template:\n"
    "     vas-kit postrel --generate-config\n"
    "\b\n"
    "  2. List all available recipient groups:\n"
    "     vas-kit postrel -l\n"
    "     vas-kit postrel -c config.yaml -l\n"
    "\b\n"
    "  3. Run with configuration:\n"
    "     vas-kit postrel -c config.yaml\n"
    "\b\n"
    "  4. Run with specified group:\n"
    "     vas-kit postrel -c config.yaml -g management\n"
    "\b\n"
    "  5. Specify a Markdown file directly:\n"
    "     vas-kit postrel -f ./data_postrel/report.md\n"
    "\b\n"
    "  6. Specify attachment file(s):\n"
    "     vas-kit postrel -f ./data_postrel/report.md -a ./data_postrel/attachment.pdf\n"
    "\b\n"
    "  7. Interactive config selection (when -c is provided without arguments):\n"
    "     vas-kit postrel -c\n"
    "\b\n"
    "  8. Run without AI polishing:\n"
    "     vas-kit postrel -f ./data_postrel/report.md --no-ai\n"
    "\n"
    "\b\n"
    "Features: Postrel - Convert Markdown content to Outlook email draft.\n"
    "  - Converts Markdown content to formatted HTML email body.\n"
    "  - Automatically creates Outlook draft and displays it for review.\n"
    "  - Supports configurable recipient groups (mail_to, mail_cc) and mail_content.\n"
    "  - Reads email subject from the first line of Markdown (`subject:{subject_content}`) or "
    "auto-generates via AI.\n";

int fail(const std::string &text) {
  cli::echo(text, true);
  return 1;
}

} // namespace

const cli::Command<Options> &postrel_command() {
  static const cli::Command<Options> command = [] {
    cli::Command<Options> cmd;
    cmd.name = "postrel";
    cmd.help = std::string(TOOL_HELP);
    cmd.epilog = EPILOG;
    const cli::PathCheck not_a_folder{false, true, false};
    cmd.options = {
        {{"-c", "--config"},
         &Options::config,
         cli::PathCheck{},
         "Specify the YAML config file path. If -c is provided without arguments, it will trigger "
         "interactive config selection."},
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
        {{"--generate-config"},
         &Options::generate_config,
         std::nullopt,
         "Generate config_postrel_template.yaml"},
        {{"--no-ai"},
         &Options::no_ai,
         std::nullopt,
         "Disable AI polishing and skip interactive AI option selection."},
        {{"--debug"}, &Options::debug, std::nullopt, "Enable debug mode"},
    };
    return cmd;
  }();
  return command;
}

int cmd_postrel(const Options &options) {
  vaskern::app_logging::debug_switch(options.debug, "VasAgy");

  if (options.generate_config) {
    const std::string out_path =
        fileIO::save_yaml_template(DEFAULT_YAML_CONTENT, "config_postrel_template.yaml");
    if (out_path.empty())
      return 1;
    cli::echo("✅ Success! Template file created at: " + out_path);
    return 0;
  }

  fileIO::YamlConfigFlow flow;
  flow.default_text = DEFAULT_YAML_CONTENT;
  flow.logger = &log();
  // An empty -c always offers the list, even for a single file.
  flow.single = fileIO::SingleCandidate::ask;
  // The loader has said what was wrong with the file: no draft was made, so the command fails.
  flow.unusable_status = 1;
  auto resolved = fileIO::resolve_yaml_config(options.config, flow);
  if (!resolved.config)
    return resolved.status;
  json &loaded_cfg = resolved.config->mapping;
  if (loaded_cfg.is_null())
    loaded_cfg = json::object();
  if (auto problem = configuration_problem(loaded_cfg))
    return fail(*problem);

  if (options.list_groups_flag) {
    PostrelApp(loaded_cfg, options.group, false).list_groups();
    return 0;
  }

  const PostrelApp app(loaded_cfg, options.group, true);
  const Result result = app.run(options.input_file, options.attachments, options.no_ai);
  if (!result.ok)
    return fail("Error: " + result.message);
  cli::echo("Done: " + result.message);
  return 0;
}

} // namespace vaskit::postrel
