// The reading rules of extract_receipt_info, on a receipt's text already taken from its PDF.
#pragma once

#include "tools/folvane/folvane.hpp"

#include <string>

namespace vaskit::folvane {

// Fills `info` from `full_text` (the page texts joined by "\n", well-formed UTF-8). Values are
// written as soon as they are found, so `info` keeps them if a later step throws.
void read_receipt_text(const std::string &full_text, ReceiptInfo &info);

} // namespace vaskit::folvane
