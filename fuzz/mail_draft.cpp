// postrel's mail draft path: a Markdown document (with its subject line), the group's To and CC
// lines and an HTML attachment go through the subject step, the weekly summary and the draft, as
// a run does; the saved message is read back with GMime. The input is in the text form of
// harness.hpp, parts "to", "cc", "md" and "toc" (all optional; input without markers is the
// Markdown). Properties of every draft:
// - the subject reads back exactly as the Markdown gives it (control characters as blanks,
//   "草稿" without one); its lines keep to RFC 2047 (encoded-words of at most 75 characters on
//   lines of at most 76) and other header lines to 78;
// - the message holds no header beyond those of a draft (nothing from a value starts a header);
// - every recipient has an address (a local part and a domain) that the configured line holds,
//   and every piece of the line that is a plain address is a recipient;
// - the text and HTML parts are there, valid UTF-8 without NUL, the text part the whole body;
// - the summary of the HTML attachment is what the searches with its patterns give.
#include "tools/postrel/mail_draft.hpp"
#include "../tests/support/summary_reference.hpp"
#include "core/fs.hpp"
#include "core/re.hpp"
#include "core/text.hpp"
#include "harness.hpp"
#include "tools/postrel/postrel.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gmime/gmime.h>
#include <set>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace postrel = vaskit::postrel;
namespace re = vaskit::re;
namespace text = vaskit::text;
namespace stdfs = std::filesystem;

namespace {

// The lines the run logs for every draft go nowhere while it runs; a failed property still
// prints its reason.
class QuietStderr {
public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
  ~QuietStderr() {
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }

private:
  int saved_;
};

// What a header shows of a text: control characters (C0, DEL, C1, U+2028, U+2029) as blanks.
std::string as_header_text(const std::string &s) {
  std::string out;
  for (char32_t cp : text::to_u32(s)) {
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0x2028 || cp == 0x2029)
      cp = U' ';
    text::append_utf8(out, cp);
  }
  return out;
}

std::string unified_line_ends(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      out += '\n';
      if (i + 1 < s.size() && s[i + 1] == '\n')
        ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string with_replacement_for_nul(const std::string &s) {
  std::string out;
  for (const char c : s)
    out += c == '\0' ? std::string("\xEF\xBF\xBD") : std::string(1, c);
  return out;
}

std::string raw_content(GMimeObject *object) {
  GMimeStream *mem = g_mime_stream_mem_new();
  g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(object)), mem);
  GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
  std::string out(reinterpret_cast<const char *>(bytes->data), bytes->len);
  g_object_unref(mem);
  return out;
}

// A text part's text, from the charset it names (GMime writes text that fits Latin-1 in it).
std::string decoded(GMimeObject *object) {
  char *t = g_mime_text_part_get_text(GMIME_TEXT_PART(object));
  FUZZ_CHECK(t != nullptr, "a text part GMime cannot convert");
  std::string out(t);
  g_free(t);
  return out;
}

void collect_leaves(GMimeObject *o, std::vector<GMimeObject *> &out) {
  if (GMIME_IS_MULTIPART(o)) {
    for (int i = 0; i < g_mime_multipart_get_count(GMIME_MULTIPART(o)); ++i)
      collect_leaves(g_mime_multipart_get_part(GMIME_MULTIPART(o), i), out);
  } else {
    out.push_back(o);
  }
}

std::string mime_type(GMimeObject *o) {
  char *t = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(o));
  std::string out = t;
  g_free(t);
  return out;
}

struct Spec {
  std::string addr, idn;
};

// The addresses of a parsed header, groups flattened.
void addr_specs(InternetAddressList *list, std::vector<Spec> &out) {
  for (int i = 0; list && i < internet_address_list_length(list); ++i) {
    InternetAddress *a = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(a)) {
      addr_specs(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)), out);
    } else {
      // GMime reads an IDN domain ("xn--...") as Unicode; either form stands for the address.
      const char *spec = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
      const char *idn = internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(a));
      out.push_back({spec ? spec : "", idn ? idn : ""});
    }
  }
}

void check_recipients(const std::string &line, InternetAddressList *list, const char *which) {
  std::vector<Spec> specs;
  addr_specs(list, specs);
  // Blanks around the "@" and the dots of an address are allowed and not part of it, and a
  // domain written in Unicode comes back as its IDN mapping gives it (compatibility forms and
  // upper case folded).
  const auto folded = [](const std::string &s) { return text::lower(text::nfkd(s)); };
  std::string unblanked;
  for (const char c : line)
    if (c != ' ' && c != '\t')
      unblanked += c;
  unblanked = folded(unblanked);
  for (const auto &[spec, idn] : specs) {
    const auto at = spec.rfind('@');
    FUZZ_CHECK(at != std::string::npos && at > 0 && at + 1 < spec.size(),
               std::string(which) + " holds no address: " + spec);
    // A domain the line spells in IDN's "xn--" form need not read back as the same letters: an
    // encoding that is not the canonical one decodes to a name that encodes differently.
    const bool idn_in_line = unblanked.find("xn--") != std::string::npos;
    FUZZ_CHECK(
        unblanked.find(folded(spec)) != std::string::npos ||
            unblanked.find(folded(idn)) != std::string::npos ||
            spec.find('"') != std::string::npos ||
            (idn_in_line && unblanked.find(folded(spec.substr(0, at + 1))) != std::string::npos),
        std::string(which) + " holds an address the line does not: " + spec);
  }
  // A piece that is a plain address (dot-separated atoms on both sides) is kept.
  static const re::Pattern plain(
      R"([A-Za-z0-9_+-]+(\.[A-Za-z0-9_+-]+)*@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*)");
  for (const auto &piece : postrel::recipient_pieces(line)) {
    // An "xn--" label that is no valid IDN encoding names no domain.
    if (!plain.fullmatch(piece) || text::lower(piece).find("xn--") != std::string::npos)
      continue;
    bool found = false;
    for (const auto &[spec, idn] : specs)
      found = found || spec == piece || idn == piece;
    FUZZ_CHECK(found, std::string(which) + " lost the address " + piece);
  }
}

void check_header_lines(const std::string &raw) {
  static const re::Pattern encoded_word(R"(=\?[^?\s]*\?[bBqQ]\?[^?\s]*\?=)");
  const std::size_t end = raw.find("\r\n\r\n");
  FUZZ_CHECK(end != std::string::npos, "no end of the header");
  bool in_subject = false;
  for (std::size_t pos = 0; pos < end;) {
    const std::size_t eol = raw.find("\r\n", pos);
    const std::string_view line(raw.data() + pos, eol - pos);
    if (line.empty() || (line[0] != ' ' && line[0] != '\t'))
      in_subject = line.substr(0, 8) == "Subject:";
    FUZZ_CHECK(line.size() <= 998, "a header line longer than 998");
    if (in_subject) {
      bool encoded = false;
      encoded_word.for_each(line, [&](const re::Match &m) {
        FUZZ_CHECK(m.group(0).size() <= 75, "an encoded-word longer than 75: " + std::string(line));
        encoded = true;
        return true;
      });
      FUZZ_CHECK(line.size() <= (encoded ? 76u : 78u),
                 "a subject line too long: " + std::string(line));
    }
    pos = eol + 2;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const stdfs::path drafts = [] {
    const auto dir = vaskit::fuzz::scratch_dir() / "drafts";
    stdfs::create_directories(dir);
    ::setenv("VASKIT_DRAFTS_DIR", dir.c_str(), 1);
    ::setenv("VASKIT_MAIL_OPENER", "none", 1);
    g_mime_init();
    return dir;
  }();
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  std::string to, cc, md, toc;
  bool has_toc = false;
  const auto parts = vaskit::fuzz::split_parts(input);
  if (parts.empty())
    md = std::string(input);
  for (const auto &p : parts) {
    if (p.name == "to")
      to = p.data;
    else if (p.name == "cc")
      cc = p.data;
    else if (p.name == "md")
      md = p.data;
    else if (p.name == "toc")
      toc = p.data, has_toc = true;
  }
  // The run reads only UTF-8 documents, and configuration values are UTF-8 text.
  if (md.empty() || !vaskit::fuzz::valid_utf8(md) || !vaskit::fuzz::valid_utf8(to) ||
      !vaskit::fuzz::valid_utf8(cc) || !vaskit::fuzz::valid_utf8(toc))
    return 0;

  const postrel::json config = {
      {"config", {{"groups", {{"weekly_report_to_boss", {{"mail_to", to}, {"mail_cc", cc}}}}}}}};
  auto [subject, body] = postrel::_extract_subject_from_markdown(md);
  const std::string expected_subject = as_header_text(subject.empty() ? "草稿" : subject);
  std::vector<std::string> attachments;
  vaskit::Result result;
  {
    const QuietStderr quiet;
    const postrel::PostrelApp app(config, std::string("weekly_report_to_boss"), false);
    if (has_toc) {
      const auto path = vaskit::fuzz::scratch_dir() / "toc.html";
      vaskit::fuzz::write_file(path, toc);
      attachments.push_back(path.string());
      const std::string summary = app.extract_toc_summary_from_attachment(path.string());
      FUZZ_CHECK(summary == vaskit::testing::summary_by_patterns(toc),
                 "the summary differs from its patterns' one");
      if (!summary.empty())
        body = text::strip(body) + "\n\n" + summary;
    }
    result = app.create_and_display_mail(body, subject, "", "", attachments, "");
  }
  FUZZ_CHECK(result.ok, "no draft: " + result.message);

  std::vector<stdfs::path> saved;
  for (const auto &e : stdfs::directory_iterator(drafts))
    saved.push_back(e.path());
  FUZZ_CHECK(saved.size() == 1, "not one draft file");
  const std::string raw = vaskit::fs::read_file(saved[0]);
  stdfs::remove(saved[0]);
  check_header_lines(raw);

  GMimeStream *stream = g_mime_stream_mem_new_with_buffer(raw.data(), raw.size());
  GMimeParser *parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage *msg = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  g_object_unref(stream);
  FUZZ_CHECK(msg != nullptr, "GMime cannot read the draft");

  const char *read_subject = g_mime_message_get_subject(msg);
  FUZZ_CHECK(read_subject && read_subject == expected_subject,
             "subject read back as [" + std::string(read_subject ? read_subject : "") + "]");

  static const std::set<std::string> draft_headers = {
      "X-Unsent", "To", "Cc", "Subject", "Date", "MIME-Version", "Content-Type"};
  GMimeHeaderList *headers = g_mime_object_get_header_list(GMIME_OBJECT(msg));
  for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
    const std::string name = g_mime_header_get_name(g_mime_header_list_get_header_at(headers, i));
    FUZZ_CHECK(draft_headers.count(name) == 1, "a header no draft has: " + name);
  }
  check_recipients(to, g_mime_message_get_addresses(msg, GMIME_ADDRESS_TYPE_TO), "To");
  check_recipients(cc, g_mime_message_get_addresses(msg, GMIME_ADDRESS_TYPE_CC), "Cc");

  std::vector<GMimeObject *> leaves;
  collect_leaves(g_mime_message_get_mime_part(msg), leaves);
  bool plain = false, html = false;
  for (GMimeObject *leaf : leaves) {
    const std::string type = mime_type(leaf);
    if (g_mime_part_get_filename(GMIME_PART(leaf)) || !GMIME_IS_TEXT_PART(leaf))
      continue; // the attachment
    FUZZ_CHECK(raw_content(leaf).find('\0') == std::string::npos, type + " holds a NUL");
    const std::string content = decoded(leaf);
    FUZZ_CHECK(vaskit::fuzz::valid_utf8(content), type + " is not UTF-8");
    if (type == "text/plain") {
      plain = true;
      FUZZ_CHECK(unified_line_ends(content) == unified_line_ends(with_replacement_for_nul(body)),
                 "the text part is not the whole body");
    } else if (type == "text/html") {
      html = true;
      FUZZ_CHECK(content.rfind("<!DOCTYPE html>", 0) == 0 && text::ends_with(content, "</html>"),
                 "the HTML part is not the whole mail page");
    }
  }
  FUZZ_CHECK(plain && html, "a text part is missing");
  g_object_unref(msg);
  return 0;
}
