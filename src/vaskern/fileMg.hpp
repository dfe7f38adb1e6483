// File helpers of the JSON tools: JSON templates and configuration files, file searches and
// existence checks.
#pragma once

#include "core/config.hpp"
#include "vaskern/fileIO.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
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
  // --generate-config: `template_mapping` written to `template_file` in the current folder, then
  // `template_line` and the path on standard output.
  json template_mapping{};
  std::string template_file{};
  std::string template_line = "Success! Template file created at: ";
  // Standard output, status 1: -c absent or empty (`missing_hint` after it unless empty).
  std::string missing_line = "Error: Please provide a JSON file path using --config or -c.";
  std::string missing_hint{};
  // The status when the loader cannot use the file (it has printed why).
  int unusable_status = 1;
  std::vector<std::string> required_keys = {"config"};
  // Set by a tool that reads its file by rules of its own: the configuration is what it returns
  // for the path (`required_keys` unused), and what it throws ends the command.
  std::function<json(const std::string &path)> read{};
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

// How a JSON tool's command starts: with `generate_config` the template is written and the result
// holds the status the command ends with; else as resolve_json_config.
JsonConfigResult start_json_command(bool generate_config,
                                    const std::optional<std::string> &config_arg,
                                    const JsonConfigFlow &flow);

// The folder a configured path stands for: its parent folder when it names a file, else the
// path itself (a folder, or a path that does not exist yet). Nothing is created.
std::string get_folder_from_path(const std::string &path);
// `folder` joined with `name`. Nothing is created: a dry run must leave the disk as it was;
// move_file_force creates the folders it moves into, the writers the folders they write into.
std::string generate_output_path(const std::string &folder, const std::string &name);
// The same join, under the name the workbook steps call it by.
inline constexpr auto &get_output_file_path = generate_output_path;
// Whether `path` names an existing regular file whose extension, in any letter case, is one of
// `allowed_extensions` (given with their dot). An empty list allows every extension.
bool check_file_exists(const std::string &path,
                       const std::vector<std::string> &allowed_extensions = {});

// Where move_file_force put the file and its backup copy.
struct MovedFile {
  std::string dest;
  std::string backup;
};
// Moves the regular file `src` to `dest`, after keeping a copy of it at `backup`; nothing is
// ever overwritten or lost:
//  - the copy is written first; a taken backup name gets a number
//    ("a (1).xlsx", "a (2).xlsx", ...), so an older backup is never replaced;
//  - every copy is written without a name (or under a temporary one), flushed to disk and only
//    then given its name (fs::NewFile): a process killed at any moment leaves no name on part of
//    a copy, and temporaries of processes that no longer run are removed by the next copy into
//    that folder;
//  - the move never replaces an existing file either: a taken destination name gets a number;
//  - within one file system the move is a rename (the file is whole under one of its names at
//    every moment); across file systems the file is copied beside the destination as above and
//    only then removed from `src`;
//  - a symbolic link to a regular file moves as a link to that same file (a relative target is
//    made absolute, so that it still resolves from the new folder); the backup is a copy of
//    the file's content;
//  - the folders of `dest` and `backup` are created when missing;
//  - when any step fails (a name too long, no permission, a full disk), the copies made so far
//    are removed, `src` stays where it was, and std::system_error is thrown naming the paths.
MovedFile move_file_force(const std::string &src, const std::string &dest,
                          const std::string &backup);

// Test seam: called at the named steps of move_file_force ("backup copied", "temporary copy
// written", "before removing the source"); throwing from it makes the move fail there.
using MoveHook = std::function<void(std::string_view step)>;
void set_move_hook(MoveHook hook);

} // namespace vaskern::fileMg
