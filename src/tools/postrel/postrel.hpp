// postrel: a mail draft from a Markdown file, with a recipient group from the configuration,
// optional rewriting by an outside AI agent, the subject from a "subject:" line, attachments
// (for the weekly report with a table-of-contents summary of one of them) and the draft written
// as a standard .eml file that mail clients open as an unsent message.
//
// Error contract of a tool: cmd_postrel returns the exit status, its reason printed. A
// configuration whose content, config section, groups or one group is not a mapping ends the
// command with one "❌ Error:" line (configuration_problem words it) and status 1 before anything
// is read. PostrelApp::run() reports a source it cannot read, an agent that failed or ended
// abnormally, an attachment that is there but cannot be attached and a draft that was not
// written or opened as a failed run's Outcome, after logging it; a missing attachment or a
// summary that cannot be read is logged and the draft made without it. The command prints the
// Outcome as one "Done:" or "Error:" line (cli::finish). What the command does not catch
// reaches cli::run_main: one "❌" line, status 1.
#pragma once

#include "core/command.hpp"
#include "core/config.hpp"
#include "core/result.hpp"
#include "vaskern/app_logging.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vaskit::postrel {

using config::json;
using vaskern::app_logging::Logger;

extern const char *const DEFAULT_YAML_CONTENT;
extern const char *const EMAIL_HTML_TEMPLATE;

// The module's logger "Postrel".
Logger &log();

// EMAIL_HTML_TEMPLATE with its {body_content} slot filled (doubled braces become single ones).
std::string fill_email_template(const std::string &body_content);

// A recipient value of the configuration as one line: list items joined by "; ", a text
// stripped, anything false empty.
std::string _format_recipients(const json &recipients);
// Attachment paths from a text or a list: stripped, empty ones left out; anything else none.
std::vector<std::string> _format_attachments(const json &attachments);
// (subject, body): the subject from a "subject:" line among the first non-blank lines; the body
// without that line and without code-fence lines. Empty subject and the text as it was when
// there is no such line.
std::pair<std::string, std::string> _extract_subject_from_markdown(const std::string &md_content);

// The request given to the AI agent: goal and skills by name, the option's label, and the
// absolute source and output paths.
std::string ai_prompt(const std::string &goal_name, const std::vector<std::string> &skill_stems,
                      const std::string &label, const std::string &source_abs,
                      const std::string &output_abs);

// (path, error): exactly one of them is set.
struct Resolved {
  std::optional<std::string> path;
  std::optional<std::string> error;
};
// The mail's Markdown file: the command line's, else the configured one, else the newest of
// `scan_dir` after the user confirms it, else the user's choice among them.
Resolved
resolve_markdown_file(const std::optional<std::string> &input_file = std::nullopt,
                      const std::optional<std::string> &default_file = std::nullopt,
                      const std::string &scan_dir = "./",
                      const std::optional<std::vector<std::string>> &extensions = std::nullopt,
                      const Logger *logger = nullptr);

// One clear line when the configuration cannot describe recipient groups (its top level, its
// `config` section, its `groups` or one group is not a mapping); nullopt when it can. Empty
// values count as empty mappings.
std::optional<std::string> configuration_problem(const json &config_dict);

class PostrelApp {
public:
  // Chooses the group: `group_name` when given, else (with more than one group and
  // `interactive`) the user's choice, else the default group or the first one.
  explicit PostrelApp(const json &config_dict,
                      const std::optional<std::string> &group_name = std::nullopt,
                      bool interactive = true);

  // Prints every group with its recipients and content path.
  void list_groups() const;

  // A table-of-contents summary of an HTML or Markdown attachment; "" when there is none.
  std::string extract_toc_summary_from_attachment(const std::string &attachment_path) const;

  // Renders the body into the mail page, saves the draft with recipients, subject and
  // attachments, and opens it. Empty `to`/`cc` take the group's lines, an empty subject "草稿".
  // The draft is named after `source` (the Markdown file it comes from) and saved beside it,
  // or in the folder VASKIT_DRAFTS_DIR names. A missing attachment is skipped with a warning;
  // one that exists but cannot be attached (unreadable, not a regular file) fails the draft.
  // Failure: (false, what failed); a draft that could not be opened stays.
  Result create_and_display_mail(const std::string &md_content, const std::string &subject = "",
                                 const std::string &to = "", const std::string &cc = "",
                                 const std::vector<std::string> &attachments = {},
                                 const std::string &source = "") const;

  // The whole pass: source, optional AI rewrite, subject, attachments, draft.
  Outcome run(const std::optional<std::string> &input_file = std::nullopt,
              const std::vector<std::string> &attachments = {}, bool no_ai = false) const;

  json config;
  json groups;
  std::optional<std::string> selected_group;
  std::string mail_to;
  std::string mail_cc;
  std::optional<std::string> mail_content;
};

// The command line of postrel: one member per option, filled by cli::parse from
// postrel_command().
struct Options {
  std::optional<std::string> config;     // -c: absent, "" (choose a file) or a path
  std::optional<std::string> input_file; // -f: a path that is not a folder
  std::vector<std::string> attachments;  // -a, in the order given
  std::optional<std::string> group;      // -g
  bool list_groups_flag = false;         // -l
  bool generate_config = false;
  bool no_ai = false;
  bool debug = false;
};

// The command: name, help text, epilog and options, each option bound to its member.
const cli::Command<Options> &postrel_command();

// The command: debug switch, template, configuration, then the group listing or the run.
// Returns the exit status (its reason printed).
int cmd_postrel(const Options &options);

} // namespace vaskit::postrel
