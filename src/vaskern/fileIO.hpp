// File helpers of the YAML tools: templates, configuration files, file searches, interactive
// choices, output paths and whole-file text reads and writes.
//
// Error contract of the helper layer (fileIO, fileMg, app_logging): no call throws for what it
// meets in use (a missing, unreadable or non-UTF-8 file, bad YAML or JSON, a failed write, a
// missing folder, a cancelled choice). It prints one "❌" (or "⚠️") line — through the given
// logger, else on standard error (fileIO) or standard output (fileMg) — and returns an empty
// result: nullopt, "", empty lists, Result{false, message}, or a configuration flow result that
// holds the exit status. Only std::bad_alloc and the exceptions of a caller's own callback pass.
#pragma once

#include "core/config.hpp"
#include "core/file_list.hpp"
#include "core/result.hpp"
#include "vaskern/app_logging.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vaskern::fileIO {

using Logger = app_logging::Logger;
using vaskit::config::json;

// Found files: full paths with their display names (the file names).
using vaskit::FileEntry;
using vaskit::FileList;
// The files a user chose, in the order chosen.
using Selection = vaskit::FileList;

// Writes `content` to `file_name` in the current folder, atomically; returns the written path,
// or "" after printing a "❌" line when the write failed.
std::string save_yaml_template(const std::string &content, const std::string &file_name);
// How --generate-config ends, given what a template writer returned: status 1 for "" (the
// writer printed why), else `line` and the path on standard output (the path made printable
// when `printable_path`) and status 0.
int template_written(const std::string &written, const std::string &line,
                     bool printable_path = true);
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

// Shows a numbered list of the names and reads the user's answer ("1", "1,3", "1-3" or "all");
// Enter or end of input cancels (empty result).
Selection interactive_select_files(const FileList &files, const std::string &extension = "");
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

// The file's text; "" when it is empty or cannot be read (or is not UTF-8, or not a regular
// file: a FIFO is refused rather than waited on), with a "❌" line.
std::string load_local_file_content(const std::string &path, const std::string &label,
                                    const Logger *logger = nullptr);
// Writes `text` atomically (temporary file + rename); a failure is logged and returned.
vaskit::Result save_local_file_content(const std::string &path, const std::string &text,
                                       const std::string &label, const Logger *logger = nullptr);

// ---- The configuration of a YAML tool: -c absent, empty or a path ----

// What an empty -c does when the current folder holds exactly one config*.yaml/config*.yml.
enum class SingleCandidate {
  ask,  // offer it in the list, like several
  take, // use it without asking and log YamlConfigFlow::single_taken + its path
};

// One YAML tool's texts and rules for resolve_yaml_config.
struct YamlConfigFlow {
  std::string default_text{};     // the built-in configuration, loaded when -c is absent
  std::string template_file{};    // where --generate-config writes `default_text`
  const Logger *logger = nullptr; // the tool's logger: the line of a single candidate taken
  SingleCandidate single = SingleCandidate::ask;
  std::string single_taken = "💬 偵測到僅有單一設定檔，已自動選用：";
  // Standard error, status 1: an empty -c that led to no file (none found, or cancelled).
  std::string none_chosen = "❌ Error: No configuration file selected or found.";
  // Standard error, status 1: "{path}" stands for the path that does not exist.
  std::string missing_path = "❌ Error: Config file '{path}' does not exist.";
  // The status when the loader cannot use the text or file (it has printed why).
  int unusable_status = 1;
  // What content that loads as nothing (an empty file, comments only) does: ends the command
  // with status 0 when set (it asks for nothing), else it runs as an empty mapping.
  bool empty_asks_nothing = false;
  // Content that is not a mapping, or (with `config_section`) whose "config" key holds neither a
  // mapping nor nothing, ends the command before anything is read: one line on standard error
  // that says which levels must be mappings, status 1. With `config_section`, a "config" key
  // without a value becomes an empty mapping.
  bool config_section = false;
};

struct YamlConfig {
  json mapping;                    // as loaded: any YAML value (a mapping, null, a list...)
  std::optional<std::string> path; // the file it came from; nullopt for the built-in text
};

// The configuration, or (config empty) the status the command ends with, its message printed.
struct YamlConfigResult {
  std::optional<YamlConfig> config;
  int status = 0;
};

// `config_arg` is the -c value: absent = the built-in text; "" = a choice among the
// config*.yaml/config*.yml files of the current folder (banner on standard output, then the
// numbered list; one file by `flow.single`); a path = that file or folder, which must exist.
YamlConfigResult resolve_yaml_config(const std::optional<std::string> &config_arg,
                                     const YamlConfigFlow &flow);

// How a YAML tool's command starts: with `generate_config` the built-in text is written to
// `flow.template_file` in the current folder and the result holds the status the command ends
// with ("✅ Success! Template file created at: " and the path on standard output); else the
// configuration as resolve_yaml_config gives it, a mapping as `flow` asks for it, or the status.
YamlConfigResult start_yaml_command(bool generate_config,
                                    const std::optional<std::string> &config_arg,
                                    const YamlConfigFlow &flow);

} // namespace vaskern::fileIO
