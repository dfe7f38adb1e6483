// The configuration loaders: the input read as YAML and as JSON. A file that does not load ends
// in config::ParseError with a position inside the text, never in another exception; what loads
// can be printed, tested for truth and written as JSON that reads back as the same value.
#include "core/config.hpp"
#include "harness.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace config = vaskit::config;

namespace {

// An upper bound of the lines of `s`: YAML also breaks lines at CR, NEL, LS and PS.
int count_lines(std::string_view s) {
  int lines = 1;
  for (char c : s)
    lines += c == '\n' || c == '\r' || c == '\x85' || c == '\xA8' || c == '\xA9';
  return lines;
}

bool all_finite(const config::json &v) {
  if (v.is_number_float())
    return std::isfinite(v.get<double>());
  if (v.is_structured()) {
    for (const auto &item : v)
      if (!all_finite(item))
        return false;
  }
  return true;
}

void check_loaded(const config::json &v) {
  (void)config::truthy(v);
  (void)config::to_text(v);
  // JSON has no infinities or NaN; every other value survives the round trip.
  if (!all_finite(v))
    return;
  const std::string dumped = v.dump();
  config::json back;
  try {
    back = config::parse_json(dumped);
  } catch (const config::ParseError &e) {
    FUZZ_CHECK(false, std::string("written JSON does not read back: ") + e.what());
  }
  FUZZ_CHECK(back == v, "JSON round trip changed the value: " + dumped);
}

template <class Load> void load(Load &&loader, std::string_view text) {
  config::json v;
  try {
    v = loader(text);
  } catch (const config::ParseError &e) {
    FUZZ_CHECK(e.line >= 0 && e.column >= 0 && e.line <= count_lines(text) + 1,
               "position " + std::to_string(e.line) + ":" + std::to_string(e.column));
    FUZZ_CHECK(*e.what() != '\0', "an empty message");
    return;
  }
  check_loaded(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  load([](std::string_view t) { return config::parse_yaml(t); }, text);
  load([](std::string_view t) { return config::parse_json(t); }, text);
  return 0;
}
