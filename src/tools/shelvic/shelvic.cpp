// The shelvic command: options, configuration choice and the hand-over to the run.
#include "tools/shelvic/shelvic.hpp"

#include "core/command.hpp"
#include "vaskern/fileIO.hpp"

#include <cstdlib>
#include <filesystem>

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

namespace {

cli::Command make_command() {
  cli::Command cmd;
  cmd.name = "shelvic";
  cmd.help = "Generate an HTML index page from a YAML configuration file.";
  // Each example keeps its lines ("\b" paragraphs are printed as written).
  cmd.epilog = "\b\nExamples:\n"
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
  cmd.options = {
      {{"--config", "-c"},
       "config",
       false,
       cli::PathCheck{},
       "Specify the YAML config file path. If -c is provided without arguments, it will trigger "
       "interactive config selection."},
      {{"--generate-config"},
       "generate_config",
       true,
       std::nullopt,
       "Generate config_shelvic_template.yaml"},
      {{"--debug"}, "debug", true, std::nullopt, "Enable debug mode"},
  };
  return cmd;
}

[[noreturn]] void fail(const std::string &text) {
  cli::echo(text, true);
  throw cli::Exit{1};
}

} // namespace

void cmd_shelvic(const std::string &prog, const std::vector<std::string> &args) {
  const cli::Params params = cli::parse(make_command(), args, prog);
  std::optional<std::string> config = params.value("config");

  const char *env = std::getenv("DAVUZ_DEBUG");
  const bool is_debug = params.flag("debug") || (env && std::string_view(env) == "1");
  if (is_debug) {
    ::setenv("DAVUZ_DEBUG", "1", 1);
    vaskern::app_logging::setup_logging("Vaskit", true);
  }

  if (params.flag("generate_config")) {
    const std::string path =
        fileIO::save_yaml_template(DEFAULT_YAML_CONTENT, "config_shelvic_template.yaml");
    if (path.empty())
      throw cli::Exit{1};
    cli::echo("✅ Success! Template file created at: " + path);
    throw cli::Exit{0};
  }

  std::optional<json> loaded_cfg;
  if (!config) {
    loaded_cfg = fileIO::load_yaml_string(DEFAULT_YAML_CONTENT, "預設設定");
  } else {
    if (config->empty()) {
      const auto found =
          fileIO::find_files_with_extensions("./", {".yaml", ".yml"}, false, "config");
      if (found.paths.size() == 1) {
        config = found.paths.front();
        log().info("💬 偵測到僅有單一設定檔，已自動選用：" + *config);
      } else if (!found.paths.empty()) {
        cli::echo("\n--- 💬 偵測到現有設定檔，請選擇一個使用 (直接按 Enter 取消) ---");
        const auto selected = fileIO::interactive_select_files(found.paths, found.names, "");
        if (!selected.empty())
          config = selected.front().first;
      }
      if (config->empty())
        fail("❌ Error: No configuration file selected or found.");
    }
    std::error_code ec;
    if (!std::filesystem::exists(*config, ec))
      fail("❌ Error: Config file '" + *config + "' does not exist.");
    loaded_cfg = fileIO::load_yaml_config(*config);
  }
  // The loader has said what was wrong with the file; that is no success.
  if (!loaded_cfg)
    throw cli::Exit{1};
  // A file without content (empty, or comments only) asks for nothing.
  if (loaded_cfg->is_null())
    throw cli::Exit{0};
  if (!loaded_cfg->is_object())
    fail("❌ Error: 設定檔的內容必須是對應表 (mapping)。");

  ShelvicApp app(*loaded_cfg, config);
  const Result result = app.run();
  if (result.ok) {
    cli::echo("Done: " + result.message);
  } else {
    cli::echo("Error: " + result.message, true);
    throw cli::Exit{1};
  }
}

} // namespace vaskit::shelvic
