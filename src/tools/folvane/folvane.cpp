// The folvane command, its configuration, the receipt inspection mode and the input list.
#include "tools/folvane/folvane.hpp"

#include "core/fs.hpp"
#include "core/text.hpp"
#include "tools/folvane/numbers.hpp"
#include "tools/folvane/tool_help.hpp"

#include <algorithm>
#include <cmath>

namespace vaskit::folvane {

vaskern::app_logging::Logger &log() {
  static vaskern::app_logging::Logger &logger = vaskern::app_logging::lazy_logger("Folvane");
  return logger;
}

namespace {

// A4 in points; landscape swaps the sides, so the shorter side is always the width.
constexpr double kA4Width = 595;
constexpr double kA4Height = 842;

const char *const kReportNames[] = {"taxi_receipt.pdf", "merged_report.pdf"};

void check_text(const json &conf, const char *key) {
  if (conf.contains(key) && !conf.at(key).is_string())
    throw ConfigError(key, "text (a folder path)", conf.at(key));
}

// Grids beyond a few thousand cells are never meant; the bound keeps cols × rows exact.
constexpr double kMaxCount = 1e6;

void check_count(const json &layout, const char *key) {
  if (!layout.contains(key))
    return;
  const json &v = layout.at(key);
  // A whole float (2.0, as some editors write numbers) counts like the integer.
  const bool whole =
      v.is_number_integer() || (v.is_number_float() && std::isfinite(v.get<double>()) &&
                                std::trunc(v.get<double>()) == v.get<double>());
  if (!whole || v.get<double>() <= 0)
    throw ConfigError(std::string("layout.") + key, "a positive integer", v);
  if (v.get<double>() > kMaxCount)
    throw ConfigError(std::string("layout.") + key,
                      "a positive integer up to " + numbers::integral_text(kMaxCount), v);
}

} // namespace

const json DEFAULT_CONFIG = config::parse_json(R"json({
  "config": {
    "input_folder": "./data_folvane",
    "output_folder": "./data_folvane",
    "layout": {"cols": 2, "rows": 2, "landscape": false},
    "page_size": "A4",
    "margin": 20,
    "debug_grid": false,
    "address_mapping": {
      "ZVT(松山)": ["敦化北路", "民生東路", "Minsheng E. Rd", "松山車站"],
      "Brannor(內湖)": "瑞光路188號",
      "Norvale(內湖)": "洲子街12號",
      "Tessik(深坑)": "北深路三段",
      "Quelby(內湖)": "港墘路221號"
    },
    "default_expense_type": "Transportation_Taxi_Limo",
    "description_suffix": "radar support"
  }
})json");

std::string text_or_none(const std::optional<std::string> &v) {
  return v ? *v : "None";
}

bool present(const std::optional<std::string> &v) {
  return v && !v->empty();
}

std::string reason_without_path(std::string_view what, std::string_view path) {
  // Only a longer message loses its lead: a bare "<path>: " is still better than no reason.
  if (what.size() > path.size() + 2 && what.substr(0, path.size()) == path &&
      what.substr(path.size(), 2) == ": ")
    what.remove_prefix(path.size() + 2);
  return text::printable(what);
}

json to_json(const std::optional<std::string> &v) {
  return v ? json(*v) : json();
}

void validate_config(const json &conf) {
  config::require_mapping(conf, "config");
  check_text(conf, "input_folder");
  check_text(conf, "output_folder");
  if (conf.contains("layout")) {
    const json &layout = conf.at("layout");
    config::require_mapping(layout, "layout");
    check_count(layout, "cols");
    check_count(layout, "rows");
  }
  if (conf.contains("margin")) {
    const json &m = conf.at("margin");
    const double half = kA4Width / 2;
    if (!m.is_number() || m.get<double>() < 0 || m.get<double>() >= half)
      throw ConfigError("margin",
                        "a number from 0 to less than " + text::float_repr(half) +
                            " (half the page's shorter side)",
                        m);
  }
  if (conf.contains("address_mapping")) {
    const json &mapping = conf.at("address_mapping");
    if (!mapping.is_null())
      config::require_mapping(mapping, "address_mapping", "a mapping of company names to keywords");
    if (mapping.is_object())
      for (auto it = mapping.begin(); it != mapping.end(); ++it)
        if (it.value().is_array())
          for (const auto &kw : it.value())
            if (!kw.is_string())
              throw ConfigError("address_mapping." + text::printable(it.key()), "a list of texts",
                                it.value());
  }
  // The workbook takes it into a cell: checked here, so that no receipt is renamed and no
  // report written for a run whose workbook step cannot succeed.
  if (conf.contains("default_expense_type")) {
    const json &t = conf.at("default_expense_type");
    if (!t.is_null() && !t.is_string() && !t.is_number())
      throw ConfigError("default_expense_type", "text or a number", t);
  }
}

Folvaner::Folvaner(json conf_in) : conf(std::move(conf_in)) {
  validate_config(conf);
  input_folder = config::get_or(conf, "input_folder", "./data_folvane").get<std::string>();
  output_folder = config::get_or(conf, "output_folder", input_folder).get<std::string>();
  output_file = fs::join(output_folder, "taxi_receipt.pdf");
  output_excel = fs::join(output_folder, "payList_tool.xlsm");

  const json layout = config::get_or(conf, "layout", json::object());
  const json cols_value = config::get_or(layout, "cols", 2);
  const json rows_value = config::get_or(layout, "rows", 1);
  cols = cols_value.get<long long>();
  rows = rows_value.get<long long>();
  const json landscape = config::get_or(layout, "landscape", false);
  is_landscape = config::truthy(landscape);

  margin = config::get_or(conf, "margin", 20).get<double>();
  draw_grid = config::truthy(config::get_or(conf, "debug_grid", false));
  page_width = is_landscape ? kA4Height : kA4Width;
  page_height = is_landscape ? kA4Width : kA4Height;
  default_expense_type = config::get_or(conf, "default_expense_type", "Transportation_Taxi_Limo");

  // The values as written: a layout of 2.0 columns logs as such.
  log().info("[INIT] Layout: " + config::to_text(cols_value) + "x" + config::to_text(rows_value) +
             ", Landscape=" + text::printable(config::to_text(landscape)));
}

vaskern::fileMg::FileList Folvaner::get_file_list() const {
  if (vaskern::fileMg::checkFileOrDir(input_folder) != 0) {
    log().error("Error: Input folder not found: " + text::printable(input_folder));
    return {};
  }
  auto found = vaskern::fileMg::find_files_with_extensions(input_folder, {"pdf"}, false);
  const std::string own_name = fs::basename(output_file);
  std::erase_if(found, [&](const FileEntry &f) {
    return f.name == own_name || f.name == kReportNames[0] || f.name == kReportNames[1];
  });
  // Byte order of UTF-8 is code-point order.
  std::stable_sort(found.begin(), found.end(),
                   [](const FileEntry &a, const FileEntry &b) { return a.name < b.name; });
  return found;
}

const cli::Command<Options> &folvane_command() {
  static const cli::Command<Options> cmd{
      .name = "folvane",
      .help = std::string(TOOL_HELP),
      .options = {
          cli::json_config_option<Options>(),
          cli::generate_config_option<Options>(
              "Generate a config_folvane_template.json in the current directory"),
          {{"--extract-info", "-i"},
           &Options::extract_info,
           cli::PathCheck{true, true, true},
           "Extract and print receipt date, time, and total amount from a PDF file"},
      }};
  return cmd;
}

namespace {

// Shows what the tool reads from one receipt and the name it would give it; renames nothing.
void inspect(const std::string &path) {
  const std::string base = fs::basename(path);
  const ReceiptInfo info = Folvaner::extract_receipt_info(path);
  const std::string suggested = Folvaner::generate_receipt_filename(info, base);
  const std::string description =
      Folvaner::build_description(info, DEFAULT_CONFIG.at("config"), base);
  const std::string slash_date = Folvaner::format_date_slash(info.date);

  const auto show = [](const std::string &label, const std::optional<std::string> &v) {
    if (present(v))
      cli::echo(label + text::printable(*v));
  };
  cli::echo("📄 檔案: " + text::printable(path));
  cli::echo("📅 日期: " + text::printable(text_or_none(info.date)) +
            " (標準化: " + text::printable(slash_date) + ")");
  show("⏰ 時間: ", info.time);
  show("🕒 完整日期時間: ", info.datetime);
  cli::echo("💰 總計金額: $" + text::printable(text_or_none(info.total)));
  show("📍 行程地址: ", info.address);
  show("  └ 起點: ", info.pickup_address);
  show("  └ 迄點: ", info.dropoff_address);
  cli::echo("📝 報表說明 (Description): " + text::printable(description));
  cli::echo("🏷️ 建議檔名: " + text::printable(suggested));
}

} // namespace

int cmd_folvane(const Options &options) {
  if (options.extract_info) {
    inspect(*options.extract_info);
    return 0;
  }
  const auto resolved = vaskern::fileMg::start_json_command(
      options.generate_config, options.config,
      {.template_mapping = DEFAULT_CONFIG,
       .template_file = "config_folvane_template.json",
       .missing_hint = "Hint: Run 'vaskit folvane --generate-config' to get a template."});
  if (!resolved.section)
    return resolved.status;
  // The command's own lines go to standard output; a script must see a save that failed, though
  // the pass went on to the end.
  const cli::OutcomeLines lines{"", "Error: ", false};
  std::optional<Folvaner> app;
  try {
    app.emplace(*resolved.section);
  } catch (const ConfigError &e) {
    return cli::finish(Outcome::run_failed(e.what()), lines);
  }
  return cli::finish(app->run(), lines);
}

} // namespace vaskit::folvane
