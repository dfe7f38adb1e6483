// Test support: whole-file text helpers and the generated receipt fixtures.
#pragma once

#include "support/process.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace vaskit::testing {

// Writes `text` to `p`, creating missing parent folders.
inline void write_file(const std::filesystem::path &p, const std::string &text) {
  if (p.has_parent_path())
    std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

inline std::string read_file(const std::filesystem::path &p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Every variant of make_receipts, generated once per test program; tests copy what they change.
inline const std::filesystem::path &generated_receipts() {
  static TempDir dir;
  static const bool made = [] {
    auto r = run_process(std::string(VASKIT_BIN_DIR) + "/make_receipts", {dir.path().string()},
                         dir.path());
    if (r.status != 0)
      throw std::runtime_error("make_receipts failed: " + r.err);
    return true;
  }();
  (void)made;
  return dir.path();
}

} // namespace vaskit::testing
