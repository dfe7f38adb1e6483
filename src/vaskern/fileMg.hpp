// File helpers of the JSON tools: JSON templates and configuration files, file searches and
// existence checks.
#pragma once

#include "core/config.hpp"
#include "vaskern/fileIO.hpp"

#include <optional>
#include <string>
#include <vector>

namespace vaskern::fileMg {

using vaskit::config::json;
using FileList = fileIO::FileList;

// Writes `mapping` as indented JSON (key order kept, non-ASCII as is) into `file_name` in the
// current folder; returns the path, or "" after a "❌" line.
std::string generate_json_template(const json &mapping, const std::string &file_name);
// Loads a JSON file that must hold every key of `required_keys`; returns the mapping under the
// first required key, or nullopt after one "❌" line naming the file (and line and column for
// a parse error).
std::optional<json> load_json_file(const std::string &path,
                                   const std::vector<std::string> &required_keys = {"config"});
// Files directly in (or below, when recursive) `in_path` with one of `extensions`.
FileList find_files_with_extensions(const std::string &in_path,
                                    const std::vector<std::string> &extensions, bool recursive);
// 0 when the path exists, 1 otherwise.
int checkFileOrDir(const std::string &path);

// ---- The configuration of a JSON tool: a required -c file ----

// One JSON tool's texts and rules for resolve_json_config.
struct JsonConfigFlow {
  // Standard output, status 1: -c absent or empty.
  std::vector<std::string> missing_lines;
  // The status when the loader cannot use the file (it has printed why).
  int unusable_status = 1;
  std::vector<std::string> required_keys = {"config"};
};

// The mapping under the first required key, or (section empty) the status the command ends
// with, its message printed.
struct JsonConfigResult {
  std::optional<json> section;
  int status = 0;
};

// `config_arg` is the -c value, whose existence the command line has checked.
JsonConfigResult resolve_json_config(const std::optional<std::string> &config_arg,
                                     const JsonConfigFlow &flow);

} // namespace vaskern::fileMg
