// The renaming pass: two cells read from each workbook, a new name, and the move with backup.
#include "core/fs.hpp"
#include "core/text.hpp"
#include "formats/xlsx/quick_read.hpp"
#include "tools/ledgrin/ledgrin.hpp"
#include "vaskern/fileMg.hpp"

#include <ctime>
#include <filesystem>

namespace vaskit::ledgrin {

namespace fileMg = vaskern::fileMg;

namespace {

Clock g_clock;

std::chrono::system_clock::time_point now() {
  return g_clock ? g_clock() : std::chrono::system_clock::now();
}

// What kind of value stands in the file, in the words of a JSON file's user.
std::string kind_of(const json &v) {
  switch (v.type()) {
  case json::value_t::null:
    return "null";
  case json::value_t::boolean:
    return "true or false";
  case json::value_t::string:
    return "text";
  case json::value_t::array:
    return "a list";
  case json::value_t::object:
    return "a mapping";
  default:
    return "a number";
  }
}

// A section of the configuration; missing counts as empty.
json section(const json &config_dict, const std::string &name) {
  const json value = config::get_or(config_dict, name, json::object());
  if (!value.is_object())
    throw config::ConfigError::worded(name, "the \"" + name + "\" section must be a mapping; got " +
                                                kind_of(value) + " instead");
  return value;
}

// Error text without the file name the workbook layer puts first (the line names it already).
std::string reason(const std::string &path, const std::string &message) {
  const std::string prefix = path + ": ";
  return text::starts_with(message, prefix) ? message.substr(prefix.size()) : message;
}

} // namespace

void set_clock(Clock clock) {
  g_clock = std::move(clock);
}

std::string datecode(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
  localtime_r(&seconds, &local);
  // to_time_t may round; the fraction is taken against the whole second it gave.
  auto fraction = at - std::chrono::system_clock::from_time_t(seconds);
  if (fraction < std::chrono::system_clock::duration::zero())
    fraction += std::chrono::seconds(1);
  const long long micros =
      std::chrono::duration_cast<std::chrono::microseconds>(fraction).count() % 1000000;
  char text[32];
  std::snprintf(text, sizeof text, "%02d%02d_%02d%02d%02d%02lld", local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec, micros / 10000);
  return text;
}

std::string sanitize_filename(const CellValue &name) {
  if (std::holds_alternative<std::monostate>(name))
    return "Unknown";
  // The character class [\\/*?:"<>|]: ASCII only, so removing bytes keeps UTF-8 intact.
  std::string kept;
  for (const char c : xlsx::to_text(name))
    if (std::string_view("\\/*?:\"<>|").find(c) == std::string_view::npos)
      kept += c;
  return text::strip(kept);
}

std::vector<CellValue> get_excel_cell_value(const std::string &file_path,
                                            const std::vector<std::string> &cell_locations) {
  try {
    std::vector<xlsx::CellRef> refs;
    for (const std::string &location : cell_locations)
      refs.push_back(xlsx::parse_address(location));
    return xlsx::read_active_cells(file_path, refs);
  } catch (const std::exception &e) {
    log().error("Error reading excel " + text::printable(file_path) + ": " +
                text::printable(reason(file_path, e.what())));
    return std::vector<CellValue>(cell_locations.size());
  }
}

Outcome process_expense_rename(const json &config_dict) {
  if (!config_dict.is_object())
    throw config::ConfigError::worded(
        "", "the configuration file's top level must be a mapping of sections; got " +
                kind_of(config_dict) + " instead");
  const json cfg_main = section(config_dict, "config");
  const json cfg_excel = section(config_dict, "excel_in");

  const json path_value = config::get_or(cfg_main, "path", "./data_ledgrin");
  if (!path_value.is_string())
    throw config::ConfigError::worded("config.path", "config.path must be text; got " +
                                                         kind_of(path_value) + " instead");
  const std::string input_path = path_value.get<std::string>();
  const bool dry_run =
      text::lower(config::to_text(config::get_or(cfg_main, "dry_run", "False"))) == "true";
  const std::string name_cell = config::to_text(config::get_or(cfg_excel, "name_cell", "D6"));
  const std::string amount_cell = config::to_text(config::get_or(cfg_excel, "amount_cell", "P56"));

  // A folder that is missing would otherwise look like an empty one: nothing done, status 0.
  std::error_code ec;
  const auto kind = std::filesystem::status(input_path, ec).type();
  if (kind == std::filesystem::file_type::not_found)
    throw config::ConfigError::worded(
        "config.path", "config.path: folder " + text::printable(input_path) + " does not exist");
  if (ec)
    throw config::ConfigError::worded("config.path", "config.path: cannot read folder " +
                                                         text::printable(input_path) + ": " +
                                                         ec.message());
  if (kind != std::filesystem::file_type::directory)
    throw config::ConfigError::worded("config.path", "config.path: " + text::printable(input_path) +
                                                         " is not a folder");

  const std::string target_dir = fileMg::get_folder_from_path(input_path);
  const std::string output_folder = fileMg::generate_output_path(target_dir, "results");
  const std::string backup_folder = fileMg::generate_output_path(target_dir, "backup");
  // Only the folder itself: the results and backup folders inside it are never read again.
  const auto files = fileMg::find_files_with_extensions(input_path, {".xlsx"}, false);

  log().info("Starting expense processing in: " + text::printable(input_path));
  std::size_t failed_moves = 0;
  for (const FileEntry &entry : files) {
    const std::string &file_path = entry.path;
    const std::string base = fs::basename(file_path);
    const std::string shown_base = text::printable(base);
    const auto values = get_excel_cell_value(file_path, {name_cell, amount_cell});
    const CellValue &name = values.at(0);
    const CellValue &amount = values.at(1);
    if (std::holds_alternative<std::monostate>(name) ||
        std::holds_alternative<std::monostate>(amount)) {
      log().error("---> Skipping " + shown_base + ": Cannot find Name or Amount in " +
                  text::printable(name_cell) + " or " + text::printable(amount_cell));
      continue;
    }
    const std::string code = datecode(now());
    const std::string safe_name = sanitize_filename(name);
    const std::string safe_amount = sanitize_filename(amount);
    const std::string new_filename = safe_name + "_" + safe_amount + "_" + code + ".xlsx";
    const std::string dest_path = fs::join(output_folder, new_filename);
    const std::string backup_path = fs::join(backup_folder, base);
    if (dry_run) {
      log().info("[Dry-Run] Would move: " + shown_base + " -> " + text::printable(new_filename));
      continue;
    }
    // The line names the file the move wrote, which has a number when the name was taken, so
    // it follows the move.
    try {
      const fileMg::MovedFile moved = fileMg::move_file_force(file_path, dest_path, backup_path);
      log().info("Processing: " + shown_base + " -> " + text::printable(fs::basename(moved.dest)));
    } catch (const std::exception &e) {
      log().info("Processing: " + shown_base + " -> " + text::printable(new_filename));
      log().error("Failed to move " + text::printable(file_path) + ": " +
                  text::printable(e.what()));
      ++failed_moves;
    }
  }
  // Each failure has been logged, so the outcome carries no line of its own.
  return Outcome::items_failed(failed_moves);
}

} // namespace vaskit::ledgrin
