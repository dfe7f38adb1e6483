// Text of PDF pages, line by line in the order the page content draws it.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vaskit::pdf {

// While one exists, poppler's process-wide tables (fonts, encodings, character maps) stay built
// between documents; otherwise every extract_page_texts call builds and drops them again, which
// costs more than reading a small receipt. Hold one for a pass over many files.
class TextSession {
public:
  TextSession();
  TextSession(const TextSession &) = delete;
  TextSession &operator=(const TextSession &) = delete;
  ~TextSession();

private:
  std::shared_ptr<void> keep_;
};

// The text of every page of the PDF file at `path`, in document order ("" for a page without
// text). Text is taken in content order, one line per drawn line, from the whole page: a crop
// box or a /Rotate entry neither hides nor reorders any of it. Files encrypted with an owner
// password only are read. Throws std::runtime_error for a file that is missing, unreadable,
// damaged beyond recovery or protected by a user password; the message names the reason.
std::vector<std::string> extract_page_texts(const std::string &path);

} // namespace vaskit::pdf
