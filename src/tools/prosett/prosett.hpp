// prosett: turns a Notion-exported Markdown file into one self-contained HTML page.
#pragma once

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

  // One conversion pass. `target_file` names one file and skips the choice.
  Result run(const std::optional<std::string> &target_file = std::nullopt) const;

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

// The command: `args` without the program name, already through the bare-option pre-pass.
void cmd_prosett(const std::string &prog, const std::vector<std::string> &args);

} // namespace vaskit::prosett
