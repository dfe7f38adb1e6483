// The configuration road of the YAML tools, shared so that each tool only states its texts.
#include "core/command.hpp"
#include "core/text.hpp"
#include "vaskern/fileIO.hpp"

#include <filesystem>

namespace vaskern::fileIO {
namespace {

const char *const kDefaultLabel = "預設設定";
const char *const kCandidatesBanner =
    "\n--- 💬 偵測到現有設定檔，請選擇一個使用 (直接按 Enter 取消) ---";

std::string with_path(std::string text, const std::string &path) {
  const std::string slot = "{path}";
  if (const auto at = text.find(slot); at != std::string::npos)
    text.replace(at, slot.size(), path);
  return text;
}

// The file an empty -c leads to, or "" when none was found or the user cancelled.
std::string choose_candidate(const YamlConfigFlow &flow) {
  const auto found = find_files_with_extensions("./", {".yaml", ".yml"}, false, "config");
  if (found.empty())
    return "";
  if (found.size() == 1 && flow.single == SingleCandidate::take) {
    if (flow.logger)
      flow.logger->info(flow.single_taken + vaskit::text::printable(found.front().path));
    return found.front().path;
  }
  vaskit::cli::echo(kCandidatesBanner);
  const auto selected = interactive_select_files(found, "");
  return selected.empty() ? "" : selected.front().path;
}

} // namespace

YamlConfigResult resolve_yaml_config(const std::optional<std::string> &config_arg,
                                     const YamlConfigFlow &flow) {
  if (!config_arg) {
    auto loaded = load_yaml_string(flow.default_text, kDefaultLabel);
    if (!loaded)
      return {std::nullopt, flow.unusable_status};
    return {YamlConfig{std::move(*loaded), std::nullopt}, 0};
  }
  std::string path = *config_arg;
  if (path.empty()) {
    path = choose_candidate(flow);
    if (path.empty()) {
      vaskit::cli::echo(flow.none_chosen, true);
      return {std::nullopt, 1};
    }
  }
  // A folder counts as existing: the loader then says why it cannot be read.
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    vaskit::cli::echo(with_path(flow.missing_path, vaskit::text::printable(path)), true);
    return {std::nullopt, 1};
  }
  auto loaded = load_yaml_config(path);
  if (!loaded)
    return {std::nullopt, flow.unusable_status};
  return {YamlConfig{std::move(*loaded), path}, 0};
}

YamlConfigResult start_yaml_command(bool generate_config,
                                    const std::optional<std::string> &config_arg,
                                    const YamlConfigFlow &flow) {
  if (generate_config) {
    // The writer says why a template could not be written; the path is shown as it is.
    return {std::nullopt,
            template_written(save_yaml_template(flow.default_text, flow.template_file),
                             "✅ Success! Template file created at: ", false)};
  }
  auto resolved = resolve_yaml_config(config_arg, flow);
  if (!resolved.config)
    return resolved;
  json &loaded = resolved.config->mapping;
  if (loaded.is_null()) {
    if (flow.empty_asks_nothing)
      return {std::nullopt, 0};
    loaded = json::object();
  }
  const bool usable =
      loaded.is_object() && (!flow.config_section || !loaded.contains("config") ||
                             loaded["config"].is_null() || loaded["config"].is_object());
  if (!usable) {
    vaskit::cli::echo(
        flow.config_section
            ? "❌ Error: 設定檔的內容必須是對應表 (mapping)，且 config 區段也必須是對應表。"
            : "❌ Error: 設定檔的內容必須是對應表 (mapping)。",
        true);
    return {std::nullopt, 1};
  }
  if (flow.config_section && loaded.contains("config") && loaded["config"].is_null())
    loaded["config"] = json::object();
  return resolved;
}

} // namespace vaskern::fileIO
