// The presentation reader. The input is a zip package, or the text form of one (harness.hpp). A
// deck that cannot be read ends in pptx::Error; what opens answers for every slide, and asking
// for a slide outside the deck is an error, never a read past its end.
#include "formats/pptx/presentation.hpp"
#include "harness.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pptx = vaskit::pptx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const auto path = vaskit::fuzz::scratch_dir() / "deck.pptx";
  if (!vaskit::fuzz::write_package(path, input))
    return 0;

  std::optional<pptx::Presentation> deck;
  try {
    deck.emplace(pptx::Presentation::open(path));
  } catch (const pptx::Error &) {
    return 0;
  }
  const std::size_t count = deck->slide_count();
  (void)deck->slide_size();
  for (std::size_t i = 0; i < count && i < 16; ++i) {
    try {
      (void)deck->slide_hidden(i);
      for (const auto &shape : deck->shapes(i))
        FUZZ_CHECK(shape.has_text_frame || shape.text.empty(), "text without a text frame");
    } catch (const pptx::Error &) {
      // An unreadable slide part.
    }
  }
  bool refused = false;
  try {
    (void)deck->shapes(count);
  } catch (const pptx::Error &) {
    refused = true;
  }
  FUZZ_CHECK(refused, "a slide past the end of the deck was read");
  return 0;
}
