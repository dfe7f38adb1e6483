// Test support: a stand-in for LibreOffice's soffice that "converts" any deck into a PDF the test
// drew beforehand (plain pages of a slide's shape), so that slidra's drawing and cropping run
// without the office suite. Header-only; needs /bin/sh and cp on the PATH the program gets.
#pragma once

#include "support/files.hpp"
#include "support/marker_pages.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace vaskit::testing {

// Writes `bin_dir`/soffice, which copies a PDF of `pages` 16:9 pages (drawn now, next to it) to
// "<--outdir>/deck.pdf". Returns the PATH value to run with: `bin_dir` first, then the system's.
inline std::string install_fake_soffice(const std::filesystem::path &bin_dir, int pages) {
  namespace fs = std::filesystem;
  fs::create_directories(bin_dir);
  const fs::path pdf = bin_dir / "slides.pdf";
  MarkerPage page;
  page.media = {0, 0, 960, 540};
  write_marker_pdf(pdf, std::vector<MarkerPage>(pages, page));
  write_file(bin_dir / "soffice", "#!/bin/sh\n"
                                  "out=\n"
                                  "while [ $# -gt 0 ]; do\n"
                                  "  [ \"$1\" = --outdir ] && out=$2\n"
                                  "  shift\n"
                                  "done\n"
                                  "exec cp '" +
                                      pdf.string() + "' \"$out/deck.pdf\"\n");
  fs::permissions(bin_dir / "soffice", fs::perms::owner_all);
  return bin_dir.string() + ":/usr/bin:/bin";
}

} // namespace vaskit::testing
