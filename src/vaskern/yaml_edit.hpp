// Rewriting a user's YAML configuration file without losing what the user wrote: the new
// mapping is spliced into the file's text at the positions the parser reports, so comments,
// blank lines, key order and the quoting of untouched entries stay as they were.
#pragma once

#include "core/config.hpp"
#include "core/result.hpp"
#include "vaskern/app_logging.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace vaskern::yaml_edit {

using vaskit::config::json;

// A YAML double-quoted scalar that reads back as exactly `s` (invalid UTF-8 is replaced first).
std::string quote(std::string_view s);
// A YAML value that reads back as `v` under the project's loader: text double-quoted, numbers,
// booleans and null as plain scalars, lists and mappings in flow style.
std::string emit_value(const json &v);

// The outcome of a splice: the new text, or why the file cannot be edited in place.
struct Splice {
  std::optional<std::string> text;
  std::string reason;
};

// Edits `old_text` (a block mapping at the top level, after an optional byte-order mark, which
// stays) so that it loads as `mapping`, key order included: a value that differs is replaced
// by its double-quoted form; a key that is gone is removed with its lines and the comment
// lines indented inside it, and the blank lines around it are left as if it had never been
// there; a new key goes after the key it follows in `mapping` and the comment lines that follow
// that key (a block of commented-out children stays under its key), or where the mapping ends.
// Every other byte stays as it was, but for a last block scalar without a final line break,
// which strips its final line break from then on when lines are added after it. Fails (with a
// reason) on text it cannot edit safely: flow style at the top, anchors or aliases, several
// documents, complex or duplicate keys, kept keys in another order than in the file, or a
// result that would not load back as `mapping`.
Splice splice_mapping(std::string_view old_text, const json &mapping);

// The whole mapping as block YAML, one `key: value` line per entry. Fails only when the result
// would not load back as `mapping`.
Splice dump_mapping(const json &mapping);

} // namespace vaskern::yaml_edit

namespace vaskern::fileIO {

using vaskit::config::json;

// Writes `config` to the YAML file at `path`. The file's text is edited in place (see
// yaml_edit::splice_mapping); a file that cannot be edited so is written whole, with a warning
// that its comments are lost. The previous text is kept beside the file as ".<name>.bak". Both
// writes are atomic and keep the file's permissions. A failure is logged (through `logger`, or
// on standard error) and returned; the file is then unchanged.
vaskit::Result save_yaml_config(const std::string &path, const json &config,
                                const app_logging::Logger *logger = nullptr);

} // namespace vaskern::fileIO
