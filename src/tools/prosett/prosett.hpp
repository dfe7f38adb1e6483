// prosett: turns a Notion-exported Markdown file into one self-contained HTML page.
//
// Error contract of a tool: cmd_prosett returns the exit status, its reason printed. The pass
// (run) returns an Outcome, which cli::finish prints and turns into the status; a file that fails
// is logged with its reason and the pass goes on with the next one; the stages hand their input
// back when they fail (stages.hpp). What the pass does not catch reaches cli::run_main: one "❌"
// line, status 1. The tool's other headers (stages, page, log) serve its own sources and its unit
// tests.
#pragma once

#include "core/command.hpp"
#include "core/config.hpp"
#include "core/file_list.hpp"
#include "core/result.hpp"
#include "tools/prosett/log.hpp"

#include <optional>
#include <string>
#include <vector>

namespace vaskit::prosett {

using config::json;

extern const char *const DEFAULT_YAML_CONTENT;
extern const std::vector<std::string> MARKDOWN_EXCLUDE_PATHS;

class ProsettConverter {
public:
  // Reads the settings under "config" of `config_dict` (defaults for absent keys) and the
  // environment variable DAVUZ_DEBUG.
  explicit ProsettConverter(const json &config_dict);

  // Data URI of an image file, or nullopt when it is missing or unreadable.
  std::optional<std::string> _encode_image_base64(const std::string &img_path) const;

  // One conversion pass. `target_file` names one file and skips the choice. The run fails when
  // no file was chosen; the files left without a page are its failed items.
  Outcome run(const std::optional<std::string> &target_file = std::nullopt) const;

  json config;
  std::string input_path;
  std::string output_path;
  json embed_images;
  json watermark_enable;
  json watermark_text;
  bool is_debug = false;

private:
  FileList choose_files(const std::optional<std::string> &target_file) const;
  // Converts one file; returns whether its page was written.
  bool convert_file(const std::string &md_file, const std::string &md_name) const;
};

// Text rewrites of the pass before the stages, exposed for tests.
std::string remove_notion_properties(const std::string &md);
std::string squeeze_blank_lines(const std::string &md);
std::string insert_toc_marker(std::string md);
std::string find_version(const std::string &md);
// "notes.md" + version + watermark → "notes_1.2_CONFIDENTIAL.html".
std::string output_name(const std::string &md_name, const std::string &version,
                        bool watermark_enable, const std::string &watermark_text);

// The command line of prosett: one member per option, filled by cli::parse from
// prosett_command().
struct Options {
  std::optional<std::string> config; // -c: absent, "" (choose a file) or a path
  bool generate_config = false;
  bool debug = false;
  std::optional<std::string> output_dir; // -o: absent, "" (the current folder) or a folder
  std::optional<std::string> file;       // -f: an existing file
};

// The command: name, help text, epilog and options, each option bound to its member.
const cli::Command<Options> &prosett_command();

// The command: template, configuration, output override, then the converter's run. Returns the
// exit status (its reason printed).
int cmd_prosett(const Options &options);

} // namespace vaskit::prosett
