// The mail draft as a standard message file: what the desktop mail client's draft holds
// (recipients, subject, HTML body, attachments), saved as an .eml that mail clients open as an
// unsent, editable message (X-Unsent: 1), then opened with the desktop's handler.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vaskit::postrel {

class MailDraft {
public:
  MailDraft();
  ~MailDraft();
  MailDraft(const MailDraft &) = delete;
  MailDraft &operator=(const MailDraft &) = delete;

  // Recipient lines as the configuration writes them: addresses separated by ";" (a ";" inside
  // double quotes belongs to a display name), each "name <address>" or a bare address. Empty
  // pieces are left out, and so is (with a warning) a piece that holds a control character
  // other than a tab (a line break in it could otherwise add recipients or headers) or that
  // names no address with a local part and a domain (a name alone).
  std::string To;
  std::string CC;
  // Control characters count as blanks; otherwise every reader shows the subject as given (it
  // is encoded as needed, in encoded-words and lines of the lengths RFC 2047 allows).
  std::string Subject;
  std::string HTMLBody;
  // The text/plain alternative (the Markdown itself).
  std::string TextBody;

  // Opens the file for the draft now, so that it is attached as it is at this moment even if it
  // is removed before the save; its content is streamed when the draft is saved. Throws
  // std::runtime_error when it is not a readable regular file.
  void add_attachment(const std::string &absolute_path);

  // Writes the message into `folder` as "<stem>.eml", or "<stem>_2.eml", "<stem>_3.eml" ... when
  // earlier drafts hold those names: a draft never replaces another. A stem too long for a file
  // name is shortened (at a character boundary). The file appears whole or not at all, with the
  // mode a new file of the user gets (0666 less the umask). Returns its path; throws
  // std::runtime_error saying what failed.
  std::filesystem::path save(const std::filesystem::path &folder, const std::string &stem) const;

private:
  struct Attachment;
  std::vector<std::unique_ptr<Attachment>> attachments_;
};

// The pieces of a recipient line, as MailDraft reads To and CC: split at ";" outside double
// quotes, stripped, empty pieces left out. Control characters inside a piece stay in it.
std::vector<std::string> recipient_pieces(const std::string &line);

// Starts the program that opens the draft, detached: VASKIT_MAIL_OPENER names it, "xdg-open"
// when unset; "none" opens nothing. Returns why it could not be started, nullopt otherwise.
std::optional<std::string> open_draft(const std::filesystem::path &draft);

} // namespace vaskit::postrel
