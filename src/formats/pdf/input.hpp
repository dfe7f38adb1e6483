// Reading a PDF file whole, the one way both the page placer and the text reader open their input.
#pragma once

#include <string>

namespace vaskit::pdf {

// The bytes of the file at `path`, read at once: qpdf seeks a great deal, and receipts fit in
// memory. Throws std::runtime_error naming `path` for a folder or any other file that is not a
// regular file (a pipe or device would be read without end), std::system_error naming it when
// the file cannot be opened or read.
std::string read_pdf_file(const std::string &path);

} // namespace vaskit::pdf
