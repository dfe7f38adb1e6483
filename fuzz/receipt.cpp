// folvane's receipt reader on PDF bytes: the page texts, then the reading of date, time, total
// and addresses, then the receipt's new file name. A file that cannot be read ends in
// std::runtime_error (as the tool reports it); the name made from whatever was read is one
// plain file name in the receipt's folder.
#include "core/text.hpp"
#include "formats/pdf/text.hpp"
#include "harness.hpp"
#include "tools/folvane/folvane.hpp"
#include "tools/folvane/receipt_text.hpp"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace folvane = vaskit::folvane;

namespace {

void check_value(const std::optional<std::string> &v, const char *what) {
  if (v)
    FUZZ_CHECK(vaskit::fuzz::valid_utf8(*v), std::string(what) + " is not UTF-8");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static vaskit::pdf::TextSession session;
  const auto path = vaskit::fuzz::scratch_dir() / "receipt.pdf";
  vaskit::fuzz::write_file(path, std::string_view(reinterpret_cast<const char *>(data), size));

  std::vector<std::string> pages;
  try {
    pages = vaskit::pdf::extract_page_texts(path.string());
  } catch (const std::runtime_error &) {
    return 0;
  }
  const std::string full = vaskit::text::sanitize_utf8(vaskit::text::join(pages, "\n"));
  FUZZ_CHECK(vaskit::fuzz::valid_utf8(full), "sanitized text is not UTF-8");

  folvane::ReceiptInfo info;
  folvane::read_receipt_text(full, info);
  check_value(info.date, "date");
  check_value(info.time, "time");
  check_value(info.total, "total");
  check_value(info.pickup_address, "pickup address");
  check_value(info.dropoff_address, "dropoff address");
  for (const auto &a : info.addresses)
    FUZZ_CHECK(vaskit::fuzz::valid_utf8(a), "an address is not UTF-8");

  const std::string name = folvane::Folvaner::generate_receipt_filename(info);
  FUZZ_CHECK(!name.empty() && name.find('/') == std::string::npos &&
                 name.find('\0') == std::string::npos && name != "." && name != "..",
             "receipt file name " + name);
  FUZZ_CHECK(vaskit::fuzz::valid_utf8(name), "receipt file name is not UTF-8");
  return 0;
}
