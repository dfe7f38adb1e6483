// File helpers of the YAML tools: templates, configuration files, file searches, interactive
// choices, output paths and whole-file text reads and writes.
#pragma once

#include "core/config.hpp"
#include "core/result.hpp"
#include "vaskern/app_logging.hpp"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vaskern::fileIO {

using Logger = app_logging::Logger;
using vaskit::config::json;

// Parallel lists: full paths and display names (the file names).
struct FileList {
  std::vector<std::string> paths;
  std::vector<std::string> names;
};
using Selection = std::vector<std::pair<std::string, std::string>>; // (path, name)

// Writes `content` to `file_name` in the current folder, atomically; returns the written path,
// or "" after printing a "❌" line when the write failed.
std::string save_yaml_template(const std::string &content, const std::string &file_name);
// Parses YAML text; on failure prints one "❌" line naming `label`, line and column; nullopt.
std::optional<json> load_yaml_string(const std::string &text, const std::string &label);
// Reads and parses a YAML file; on failure prints one "❌" line naming the file; nullopt.
std::optional<json> load_yaml_config(const std::string &path);

// The text of a configuration file (`kind` names it in messages, e.g. "設定檔"); nullopt after
// one "❌" line through `report` when it is a folder, cannot be read or is not UTF-8. A leading
// byte-order mark is dropped.
std::optional<std::string> read_config_text(const std::string &path, const std::string &kind,
                                            const std::function<void(const std::string &)> &report);

// Files in `folder` whose extension (case-insensitive; given dotted or bare) is one of
// `extensions` (every file when `extensions` is empty) and whose name starts with `prefix`;
// files named in `exclude_paths` are left out and folders named there are not entered. Sorted
// by name; names are the file names.
FileList find_files_with_extensions(const std::string &folder,
                                    const std::vector<std::string> &extensions, bool recursive,
                                    const std::string &prefix = "",
                                    const std::vector<std::string> &exclude_paths = {},
                                    const Logger *logger = nullptr);

// Shows a numbered list and reads the user's answer ("1", "1,3", "1-3" or "all"); Enter or end
// of input cancels (empty result).
Selection interactive_select_files(const std::vector<std::string> &paths,
                                   const std::vector<std::string> &names,
                                   const std::string &extension = "");
// Searches (non-recursively) and lets the user choose; a single file is taken without asking
// when `auto_select_single` is set. `keep`, when given, decides by file name which found files
// are offered. Empty when nothing was found or the user cancelled.
Selection scan_and_select_files(const std::string &folder,
                                const std::vector<std::string> &extensions,
                                const std::vector<std::string> &exclude_paths,
                                const std::string &label, const Logger *logger,
                                bool auto_select_single,
                                const std::function<bool(const std::string &)> &keep = {});

// Creates the folder (and its parents) when missing.
void setup_output_dir(const std::string &folder, const Logger *logger = nullptr);
// `folder` joined with `file_name`.
std::string setup_output_file(const std::string &folder, const std::string &file_name,
                              const Logger *logger = nullptr);

// The file's text; "" when it is empty or cannot be read (or is not UTF-8), with a "❌" line.
std::string load_local_file_content(const std::string &path, const std::string &label,
                                    const Logger *logger = nullptr);
// Writes `text` atomically (temporary file + rename); a failure is logged and returned.
vaskit::Result save_local_file_content(const std::string &path, const std::string &text,
                                       const std::string &label, const Logger *logger = nullptr);

} // namespace vaskern::fileIO
