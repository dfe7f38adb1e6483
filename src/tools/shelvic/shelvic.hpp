// shelvic: an HTML index page of document cards from a flat YAML configuration. Every document
// is pointed at the newest versioned file of its family in the working folder, unlisted files
// are offered for adding, the configuration file follows what is on disk, and the newest file of
// every family is packed into a zip download package.
//
// Error contract of a tool: cmd_shelvic returns the exit status, its reason printed. A
// configuration whose content is not a mapping ends the command with one "❌ Error:" line and
// status 1; one without content ends it quietly with status 0. ShelvicApp::run() reports a
// document key or download link that is not text (config::ConfigError), an index page that was
// not written and a configuration file that was not saved as a failed run's Outcome; a package
// that could not be written is logged and the page keeps its earlier download link. The command
// prints the Outcome as one "Done:" or "Error:" line (cli::finish). What the command does not catch
// (the user ending input at a prompt) reaches cli::run_main.
#pragma once

#include "core/command.hpp"
#include "core/config.hpp"
#include "core/result.hpp"
#include "vaskern/app_logging.hpp"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vaskit::shelvic {

using json = config::json;

extern const std::string DEFAULT_YAML_CONTENT;
extern const std::string INDEX_TEMPLATE;
extern const std::string CARD_TEMPLATE;
// The documentation site that local "vasleaf" folders mirror (no "/" at its end).
extern const std::string SITE_BASE_URL;

vaskern::app_logging::Logger &log();

// ---- version families ----

// Dotted version numbers, oldest first under std::vector's ordering: a key that is a prefix of
// another is the smaller one, so (1,2) < (1,2,0) < (1,9) < (1,10).
using VersionKey = std::vector<std::uint64_t>;

// The family a file belongs to: the file name (last path component) with every "[-_][vV]<digits>
// (.<digits>)*" tag removed from its stem, suffix appended, all lower-cased. Never fails. Bytes
// that are not UTF-8 are kept as they are (where a removed tag would join them into a character,
// the key is their escaped text behind a marker that no name holds), so such names keep
// families of their own.
std::string clean_version(std::string_view name);
// The numbers of the first version tag of `name` (digits of any script); (0) without a tag or
// when a number does not fit 64 bits.
VersionKey get_version_key(std::string_view name);
// The last path component (after the last "/").
std::string file_name_of(std::string_view path);

// ---- document list ----

// A document number as written in a key ("document007_title" is document 7): its decimal digits
// without leading zeros, so that any length compares numerically.
class DocNumber {
public:
  // From the digits of a key (any script); throws std::invalid_argument when not all digits.
  static DocNumber from_digits(std::string_view digits);
  static DocNumber one() { return DocNumber("1"); }
  DocNumber next() const;
  const std::string &text() const { return digits_; }
  friend bool operator==(const DocNumber &a, const DocNumber &b) { return a.digits_ == b.digits_; }
  friend bool operator<(const DocNumber &a, const DocNumber &b) {
    return a.digits_.size() != b.digits_.size() ? a.digits_.size() < b.digits_.size()
                                                : a.digits_ < b.digits_;
  }

private:
  explicit DocNumber(std::string d) : digits_(std::move(d)) {}
  std::string digits_;
};

struct DocRecord {
  std::optional<std::string> title;
  std::optional<std::string> file;
  std::optional<std::string> description;
};

// The document table: numbered documents in the order their number first occurs among the
// configuration keys, and the download entry (the configured download_link, when non-empty).
struct Docs {
  std::vector<std::pair<DocNumber, DocRecord>> entries;
  std::optional<std::string> download;

  DocRecord *find(const DocNumber &n);
  DocRecord &at_or_add(const DocNumber &n);
};

// The text form of a configuration value: text as it is, numbers and booleans as written by
// Python's str(), null as "". Throws config::ConfigError naming `key` for lists and mappings.
std::string text_value(const json &value, const std::string &key);

// Builds the document table from the configuration and lists the working folder: every file
// except configuration files (.yaml/.yml), hidden files and "index.html", by name, without a
// leading "./". Throws config::ConfigError for a document key or download_link that is not text.
std::pair<Docs, std::vector<std::string>> extract_docs_and_find_actual_files(const json &config);

// What the update does with the download entry.
struct DownloadPin {
  enum class Mode {
    match, // re-point it like any document
    fixed, // the package was written in this run: it points there, whatever its family holds
    keep,  // packing failed: leave it as configured
  };
  Mode mode = Mode::match;
  std::string package_path; // for fixed
};

// Points every document at the newest file of its family in `actual_files`, drops documents
// whose file is gone, and returns the files no document refers to (in list order). Files whose
// names are not valid UTF-8 are never chosen or returned: a configuration cannot name them.
std::vector<std::string>
update_docs_to_latest_versions(Docs &docs, const std::vector<std::string> &actual_files,
                               const DownloadPin &pin = {});

// ---- download package ----

struct PackResult {
  enum class Status { packed, nothing, failed };
  Status status = Status::nothing;
  std::string path; // the package written, with "/" separators (for packed)
};

// The file name the package is written under for a configured download link: its last path
// component; an address's last path segment (query and fragment dropped); "package.zip" when
// the link is empty, "#", or has no file name.
std::string package_file_name(const std::string &download_link);

// Packs the newest file of every family in `actual_files` into `output_dir`/`zip_name`'s file
// name, each under its own file name (its bytes, even when they are not UTF-8), deflated. The
// archive is written to a file without a name that takes the package's place once complete, so
// a failure leaves an earlier package intact and a killed process leaves no temporary file.
// Refuses (failed, with an error line, nothing written) to replace a file that
// is not a zip archive, or that is one of `protected_paths` (the listed documents' files) or the
// newest member in `actual_files` of one of their families.
PackResult zip_latest_version_files(const std::vector<std::string> &actual_files,
                                    const std::string &zip_name,
                                    const std::string &output_dir = "./",
                                    const std::vector<std::string> &protected_paths = {});

// ---- page ----

// The icon of a card from its title, description and file (first matching keyword rule).
std::string icon_for(const std::string &title, const std::string &description,
                     const std::string &file);
// The href of a card: "#" and http(s) addresses as given; a local file under a path component
// named "vasleaf" becomes the site address plus the path below it; any other local file is its
// path, percent-encoded. Not yet HTML-escaped.
std::string file_url_for(const std::string &file);
// The page text for the numbered documents of `docs` (cards in numeric order).
std::string render_index_page(const Docs &docs, const json &config);
// Renders and writes "index.html" in the working folder; the run's result pair.
Result write_index_page(const Docs &docs, const json &config);

// ---- the run ----

class ShelvicApp {
public:
  // `config` is changed in place by the run and written back to `config_path` (when set).
  ShelvicApp(json &config, std::optional<std::string> config_path);
  Outcome run();

private:
  json &config_;
  std::optional<std::string> config_path_;
};

// ---- the command ----

// The command line of shelvic: one member per option, filled by cli::parse from
// shelvic_command().
struct Options {
  std::optional<std::string> config; // absent: the built-in configuration; "": a choice
  bool generate_config = false;
  bool debug = false;
};

// The command: name, help text, epilog and options, each option bound to its member.
const cli::Command<Options> &shelvic_command();

// The command body: debug switch, template, configuration, run, result line. Returns the exit
// status.
int cmd_shelvic(const Options &options);

} // namespace vaskit::shelvic
