// shelvic's version families on any bytes as a file name. The family key never fails and holds
// no folder; a UTF-8 name gives a UTF-8 key and any other name a key that is not UTF-8, so the
// two never meet; the bytes of a name that are not UTF-8 come out of the key as they went in,
// in order (or the key is marked as holding its escaped text), so two names that differ in such
// a byte never share a family; a folder in front of the name changes nothing; the version key
// never fails.
#include "core/text.hpp"
#include "harness.hpp"
#include "tools/shelvic/shelvic.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace shelvic = vaskit::shelvic;

namespace {

// The bytes of `s` that are not part of a UTF-8 character, in order.
std::string stray_bytes(std::string_view s) {
  std::string out;
  for (const vaskit::text::CodePoint &u : vaskit::text::code_points(s))
    if (!u.ok)
      out.append(s.substr(u.pos, u.len));
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const std::string name = shelvic::file_name_of(input);
  const std::string family = shelvic::clean_version(name);
  (void)shelvic::get_version_key(name);

  FUZZ_CHECK(family.find('/') == std::string::npos, family);
  FUZZ_CHECK(shelvic::clean_version("docs/" + name) == family, name);
  if (vaskit::text::valid_utf8(name)) {
    FUZZ_CHECK(vaskit::fuzz::valid_utf8(family), "a UTF-8 name gave " + family);
    return 0;
  }
  // Its bytes are kept, or, where a removed tag would join stray bytes into a character, the
  // key is marked as no name's bytes can be; either way it is no readable name's family.
  FUZZ_CHECK(family.rfind(std::string("\0\xFF", 2), 0) == 0 ||
                 stray_bytes(family) == stray_bytes(name),
             "bytes of " + name + " became " + family);
  FUZZ_CHECK(!vaskit::text::valid_utf8(family), name + " has the UTF-8 family " + family);

  // The same name with one of those bytes changed is another family.
  std::size_t at = 0;
  for (const vaskit::text::CodePoint &u : vaskit::text::code_points(name))
    if (!u.ok) {
      at = u.pos;
      break;
    }
  std::string other = name;
  other[at] = other[at] == '\xff' ? '\xfe' : '\xff';
  FUZZ_CHECK(shelvic::clean_version(other) != family, name + " and " + other + " share " + family);
  return 0;
}
