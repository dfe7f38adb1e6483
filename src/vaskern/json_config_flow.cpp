// The configuration road of the JSON tools, shared so that each tool only states its texts.
#include "core/command.hpp"
#include "vaskern/fileMg.hpp"

namespace vaskern::fileMg {

JsonConfigResult resolve_json_config(const std::optional<std::string> &config_arg,
                                     const JsonConfigFlow &flow) {
  if (!config_arg || config_arg->empty()) {
    vaskit::cli::echo(flow.missing_line);
    if (!flow.missing_hint.empty())
      vaskit::cli::echo(flow.missing_hint);
    return {std::nullopt, 1};
  }
  if (flow.read)
    return {flow.read(*config_arg), 0};
  auto section = load_json_file(*config_arg, flow.required_keys);
  if (!section)
    return {std::nullopt, flow.unusable_status};
  return {std::move(section), 0};
}

JsonConfigResult start_json_command(bool generate_config,
                                    const std::optional<std::string> &config_arg,
                                    const JsonConfigFlow &flow) {
  if (!generate_config)
    return resolve_json_config(config_arg, flow);
  // The writer says why a template could not be written.
  return {std::nullopt, fileIO::template_written(
                            generate_json_template(flow.template_mapping, flow.template_file),
                            flow.template_line)};
}

} // namespace vaskern::fileMg
