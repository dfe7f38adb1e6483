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
  json cells_sys = json::object();
  cells_sys["po_cell"] = "H2";
  cells_sys["so_cell"] = "I2";
  cells_sys["so_pos_cell"] = "J2";
  cells_sys["so_suffix_cell"] = "K2";
  cells_sys["qty_cell"] = "L2";
  cells_sys["rdd_cell"] = "Q2";
  json cells_cus = json::object();
  cells_cus["po_cell"] = "F3";
  cells_cus["qty_cell"] = "O3";
  cells_cus["rdd_cell"] = "R3";
  json config = json::object();
  config["system_data_path"] = "./data_procly/system_data.csv";
  config["customer_data_path"] = "./data_procly/customer_data.xlsx";
  config["output_dir"] = "./data_procly/out";
  config["system_data"] = cells_sys;
  config["customer_data"] = cells_cus;
  json root = json::object();
  root["config"] = config;
  return root;
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
  const json sys = subsection(cfg, "system_data");
  sys_po_cell = setting(sys, "po_cell", "H2");
  sys_so_cell = setting(sys, "so_cell", "I2");
  sys_so_pos_cell = setting(sys, "so_pos_cell", "J2");
  sys_so_suffix_cell = setting(sys, "so_suffix_cell", "K2");
  sys_qty_cell = setting(sys, "qty_cell", "L2");
  sys_rdd_cell = setting(sys, "rdd_cell", "Q2");
  const json cus = subsection(cfg, "customer_data");
  po_cell = setting(cus, "po_cell", "F3");
  qty_cell = setting(cus, "qty_cell", "O3");
  rdd_cell = setting(cus, "rdd_cell", "R3");
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
       .missing_lines = {"Error: Please provide a JSON config file using -c."}});
  if (!resolved.section)
    return resolved.status;
  Procly app(*resolved.section);
  Result result = app.run();
  result.message = text::printable(result.message);
  // Both lines go to standard output; scripts and schedulers see a failed run in the status.
  return cli::finish(Outcome::of(result), {"Success: ", "Failed: ", false});
}

} // namespace vaskit::procly
