#include "vaskern/fileMg.hpp"

#include "core/command.hpp"
#include "core/fs.hpp"
#include "core/text.hpp"

#include <filesystem>

namespace vaskern::fileMg {
namespace stdfs = std::filesystem;

std::string generate_json_template(const json &mapping, const std::string &file_name) {
  try {
    // Indented by four like the templates users already keep; non-ASCII text stays readable.
    vaskit::fs::write_file_atomic(file_name, mapping.dump(4) + "\n");
    return vaskit::fs::abspath(file_name);
  } catch (const std::exception &e) {
    vaskit::cli::echo("❌ 無法寫入範本 " + file_name + ": " + e.what());
    return "";
  }
}

std::optional<json> load_json_file(const std::string &path,
                                   const std::vector<std::string> &required_keys) {
  // The JSON tools print every line, errors included, on standard output.
  const auto data = fileIO::read_config_text(path, " JSON 檔案",
                                             [](const std::string &line) { vaskit::cli::echo(line); });
  if (!data)
    return std::nullopt;
  json root;
  try {
    root = vaskit::config::parse_json(*data);
  } catch (const vaskit::config::ParseError &e) {
    vaskit::cli::echo("❌ 無法解析 JSON 檔案 " + path + " (line " + std::to_string(e.line) +
                      ", column " + std::to_string(e.column) + "): " + e.what());
    return std::nullopt;
  }
  if (!root.is_object()) {
    vaskit::cli::echo("❌ JSON 檔案 " + path + " 的最上層不是物件");
    return std::nullopt;
  }
  for (const auto &key : required_keys) {
    if (!root.contains(key)) {
      vaskit::cli::echo("❌ JSON 檔案 " + path + " 缺少必要的鍵: " + key);
      return std::nullopt;
    }
  }
  if (required_keys.empty())
    return root;
  const json &section = root.at(required_keys.front());
  if (!section.is_object()) {
    vaskit::cli::echo("❌ JSON 檔案 " + path + " 的 \"" + required_keys.front() + "\" 不是物件");
    return std::nullopt;
  }
  return section;
}

FileList find_files_with_extensions(const std::string &in_path,
                                    const std::vector<std::string> &extensions, bool recursive) {
  return fileIO::find_files_with_extensions(in_path, extensions, recursive);
}

int checkFileOrDir(const std::string &path) {
  std::error_code ec;
  return !path.empty() && stdfs::exists(path, ec) ? 0 : 1;
}

} // namespace vaskern::fileMg
