// Shared pieces of the folvane tests: the generated receipts.
#pragma once

#include "support/files.hpp"
#include "support/log_capture.hpp"

#include <filesystem>
#include <string>

namespace folvane_test {

namespace fs = std::filesystem;

inline const fs::path &receipts() { return vaskit::testing::generated_receipts(); }

inline std::string receipt(const std::string &variant) {
  return (receipts() / (variant + ".pdf")).string();
}

} // namespace folvane_test
