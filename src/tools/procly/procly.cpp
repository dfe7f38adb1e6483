#include "tools/procly/procly.hpp"

#include "core/text.hpp"
#include "tools/procly/tool_help.hpp"
#include "vaskern/fileMg.hpp"

namespace vaskit::procly {

vaskern::app_logging::Logger &log() {
  static vaskern::app_logging::Logger &logger = vaskern::app_logging::lazy_logger("Procly");
  return logger;
}

json default_cfg_template() {
  return config::parse_json(R"json({
  "config": {
    "system_data_path": "./data_procly/system_data.csv",
    "customer_data_path": "./data_procly/customer_data.xlsx",
    "output_dir": "./data_procly/out",
    "system_data": {
      "po_cell": "H2",
      "so_cell": "I2",
      "so_pos_cell": "J2",
      "so_suffix_cell": "K2",
      "qty_cell": "L2",
      "rdd_cell": "Q2"
    },
    "customer_data": {"po_cell": "F3", "qty_cell": "O3", "rdd_cell": "R3"}
  }
})json");
}

namespace {

// A setting as text: absent keys take `fallback`; other values their text form, as a program
// that uses them unchecked would see them.
std::string setting(const json &section, const std::string &key, const std::string &fallback) {
  const json value = config::get_or(section, key, fallback);
  return config::to_text(value);
}

json subsection(const json &config, const std::string &key) {
  const json value = config::get_or(config, key, json::object());
  return value.is_object() ? value : json::object();
}

} // namespace

Procly::Procly(const json &config) {
  const json cfg = config.is_object() ? config : json::object();
  system_data_path = setting(cfg, "system_data_path", "");
  customer_data_path = setting(cfg, "customer_data_path", "");
  output_dir = setting(cfg, "output_dir", "out");
  // A cell a section leaves out is the template's cell.
  const json defaults = default_cfg_template().at("config");
  using Cell = std::pair<std::string Procly::*, const char *>;
  const auto read_cells = [&](const char *section, std::initializer_list<Cell> cells) {
    const json given = subsection(cfg, section);
    for (const auto &[member, key] : cells)
      this->*member = setting(given, key, defaults.at(section).at(key).get<std::string>());
  };
  read_cells("system_data", {{&Procly::sys_po_cell, "po_cell"},
                             {&Procly::sys_so_cell, "so_cell"},
                             {&Procly::sys_so_pos_cell, "so_pos_cell"},
                             {&Procly::sys_so_suffix_cell, "so_suffix_cell"},
                             {&Procly::sys_qty_cell, "qty_cell"},
                             {&Procly::sys_rdd_cell, "rdd_cell"}});
  read_cells("customer_data", {{&Procly::po_cell, "po_cell"},
                               {&Procly::qty_cell, "qty_cell"},
                               {&Procly::rdd_cell, "rdd_cell"}});
}

const cli::Command<Options> &procly_command() {
  static const cli::Command<Options> cmd{
      .name = "procly",
      .help = std::string(TOOL_HELP),
      .options = {cli::json_config_option<Options>("Path to JSON config file"),
                  cli::generate_config_option<Options>("Generate config_procly_template.json")}};
  return cmd;
}

int cmd_procly(const Options &options) {
  const auto resolved = vaskern::fileMg::start_json_command(
      options.generate_config, options.config,
      {.template_mapping = default_cfg_template(),
       .template_file = "config_procly_template.json",
       .template_line = "Template created: ",
       .missing_line = "Error: Please provide a JSON config file using -c."});
  if (!resolved.section)
    return resolved.status;
  Procly app(*resolved.section);
  Outcome outcome = app.run();
  outcome.message = text::printable(outcome.message);
  // Both lines go to standard output; scripts and schedulers see a failed run in the status.
  return cli::finish(outcome, {"Success: ", "Failed: ", false});
}

} // namespace vaskit::procly
