#include "formats/pdf/input.hpp"

#include "core/fs.hpp"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace vaskit::pdf {

std::string read_pdf_file(const std::string &path) {
  std::error_code ec;
  const auto st = std::filesystem::status(path, ec);
  if (std::filesystem::is_directory(st))
    throw std::runtime_error(path + ": is a folder, not a PDF file");
  // A missing file is left to the read, which names the system's reason.
  if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st))
    throw std::runtime_error(path + ": is not a regular file");
  return vaskit::fs::read_file(path);
}

} // namespace vaskit::pdf
