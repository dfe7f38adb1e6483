// The regular-expression layer: a pattern and a subject from the input, every operation run on
// them. A bad pattern and a subject that is not UTF-8 end in re::error; any other exception
// escapes and is a finding. Match offsets lie within the subject on character boundaries, the
// operations agree with each other and with their validated-text forms.
#include "core/re.hpp"
#include "harness.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace re = vaskit::re;

namespace {

bool boundary(std::string_view s, std::size_t pos) {
  return pos == s.size() || (static_cast<unsigned char>(s[pos]) & 0xC0) != 0x80;
}

void check_match(const re::Match &m, std::string_view s, std::size_t from) {
  const auto start = m.start(), end = m.end();
  FUZZ_CHECK(from <= start && start <= end && end <= s.size(),
             std::to_string(start) + ".." + std::to_string(end));
  FUZZ_CHECK(boundary(s, start) && boundary(s, end), "match cuts a character");
  FUZZ_CHECK(m.group(0) == s.substr(start, end - start), "group 0 is not the matched text");
  FUZZ_CHECK(m.group(0).data() == s.data() + start, "group 0 does not view the subject");
  for (std::size_t g = 1; g <= m.groups(); ++g) {
    if (!m.matched(g)) {
      FUZZ_CHECK(m.start(g) == std::string_view::npos && m.group(g).empty(), "unset group");
      continue;
    }
    FUZZ_CHECK(m.start(g) <= m.end(g) && m.end(g) <= s.size(), "group offsets");
    FUZZ_CHECK(boundary(s, m.start(g)) && boundary(s, m.end(g)), "group cuts a character");
    FUZZ_CHECK(m.group(g) == s.substr(m.start(g), m.end(g) - m.start(g)), "group text");
  }
}

void exercise(const re::Pattern &p, std::string_view s) {
  const auto found = p.search(s);
  if (found)
    check_match(*found, s, 0);
  if (const auto anchored = p.match(s)) {
    check_match(*anchored, s, 0);
    FUZZ_CHECK(anchored->start() == 0, "match() not at the start");
    FUZZ_CHECK(found && found->start() == 0, "match() found but search() missed the start");
  }
  if (const auto whole = p.fullmatch(s)) {
    check_match(*whole, s, 0);
    FUZZ_CHECK(whole->start() == 0 && whole->end() == s.size(), "fullmatch() short");
  }

  const auto all = p.finditer(s);
  FUZZ_CHECK(found.has_value() == !all.empty(), "search() and finditer() disagree");
  std::size_t prev_end = 0, removed = 0;
  for (const auto &m : all) {
    check_match(m, s, prev_end);
    prev_end = m.end();
    removed += m.end() - m.start();
  }
  if (found)
    FUZZ_CHECK(found->start() == all.front().start() && found->end() == all.front().end(),
               "search() is not the first of finditer()");

  std::size_t visited = 0;
  p.for_each(s, [&](const re::Match &m) {
    FUZZ_CHECK(visited < all.size() && m.start() == all[visited].start() &&
                   m.end() == all[visited].end(),
               "for_each() and finditer() disagree");
    ++visited;
    return true;
  });
  FUZZ_CHECK(visited == all.size(), "for_each() visited fewer matches");

  const auto emptied = p.sub("", s);
  FUZZ_CHECK(emptied.size() == s.size() - removed, "sub() with an empty template");
  const auto [replaced, count] =
      p.subn([](const re::Match &m) { return std::string(m.group(0)); }, s);
  FUZZ_CHECK(count == all.size() && replaced == s, "subn() with the match itself");

  if (!all.empty() && all.front().groups() == 0) {
    // Without groups the pieces and the matches interleave back into the subject.
    const auto pieces = p.split(s);
    FUZZ_CHECK(pieces.size() == all.size() + 1, "split() piece count");
    std::string joined = pieces[0];
    for (std::size_t i = 0; i < all.size(); ++i)
      joined += std::string(all[i].group(0)) + pieces[i + 1];
    FUZZ_CHECK(joined == s, "split() pieces do not rebuild the subject");
    FUZZ_CHECK(p.findall(s).size() == all.size(), "findall() count");
  }

  // The validated-text forms give the same matches.
  const auto text = re::Utf8::check(s);
  const auto again = p.finditer(text);
  FUZZ_CHECK(again.size() == all.size(), "finditer() on validated text");
  for (std::size_t i = 0; i < all.size(); ++i)
    FUZZ_CHECK(again[i].start() == all[i].start() && again[i].end() == all[i].end(),
               "finditer() on validated text");
  FUZZ_CHECK(p.sub_text("", text).str() == emptied, "sub_text()");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1)
    return 0;
  // First byte: flags; then the pattern up to a NUL byte; then the subject (or a template line
  // and the subject after a second NUL).
  const unsigned flags = data[0] & 15u;
  const std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);
  const auto nul = rest.find('\0');
  const std::string_view pattern = rest.substr(0, nul);
  std::string_view subject = nul == std::string_view::npos ? "" : rest.substr(nul + 1);
  std::string_view tmpl;
  if (const auto second = subject.find('\0'); second != std::string_view::npos) {
    tmpl = subject.substr(0, second);
    subject = subject.substr(second + 1);
  }

  std::optional<re::Pattern> p;
  try {
    p.emplace(pattern, flags);
  } catch (const re::error &) {
    return 0;
  }
  const bool utf8 = vaskit::fuzz::valid_utf8(subject);
  try {
    exercise(*p, subject);
    FUZZ_CHECK(utf8, "a subject that is not UTF-8 was matched");
  } catch (const re::error &e) {
    // Match limits may end a valid subject too; an invalid one must always end here.
    (void)e;
  }
  if (!tmpl.empty() && utf8) {
    try {
      const auto out = p->sub(tmpl, subject, 3);
      (void)out;
    } catch (const re::error &) {
      // A template naming a group the pattern lacks.
    }
  }
  try {
    (void)re::escape(pattern);
    FUZZ_CHECK(re::fullmatch(re::escape(subject), subject).has_value() || !utf8,
               "an escaped text does not match itself");
  } catch (const re::error &) {
    FUZZ_CHECK(!utf8, "escape() of valid text did not compile");
  }
  return 0;
}
