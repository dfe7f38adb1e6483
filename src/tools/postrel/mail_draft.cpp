#include "tools/postrel/mail_draft.hpp"

#include "core/fs.hpp"
#include "core/process.hpp"
#include "core/text.hpp"
#include "tools/postrel/postrel.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vaskit::postrel {
namespace stdfs = std::filesystem;
namespace {

void init_gmime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// Holds one GObject reference.
template <class T> struct Ref {
  T *p = nullptr;
  explicit Ref(T *v) : p(v) {}
  ~Ref() {
    if (p)
      g_object_unref(p);
  }
  Ref(const Ref &) = delete;
  Ref &operator=(const Ref &) = delete;
  T *get() const { return p; }
};

// Characters that may end a header line or hide in it: C0 and C1 controls, DEL and the Unicode
// line and paragraph separators.
bool is_control(char32_t cp) {
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0x2028 || cp == 0x2029;
}

// Header values come from configuration files and documents: no character may end the line.
std::string blank_controls(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t cp : text::to_u32(s)) {
    if (is_control(cp))
      cp = U' ';
    text::append_utf8(out, cp);
  }
  return out;
}

// A tab is a blank inside a header; any other control character is not.
bool holds_control(std::string_view s) {
  for (char32_t cp : text::to_u32(s))
    if (cp != U'\t' && is_control(cp))
      return true;
  return false;
}

// The content types mail clients show attachments by; anything else is plain bytes.
std::pair<const char *, const char *> content_type_of(const std::string &name) {
  struct Row {
    const char *ext, *type, *subtype;
  };
  static const Row rows[] = {
      {".pdf", "application", "pdf"},
      {".html", "text", "html"},
      {".htm", "text", "html"},
      {".md", "text", "markdown"},
      {".markdown", "text", "markdown"},
      {".txt", "text", "plain"},
      {".csv", "text", "csv"},
      {".png", "image", "png"},
      {".jpg", "image", "jpeg"},
      {".jpeg", "image", "jpeg"},
      {".gif", "image", "gif"},
      {".svg", "image", "svg+xml"},
      {".zip", "application", "zip"},
      {".docx", "application", "vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {".xlsx", "application", "vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {".xlsm", "application", "vnd.ms-excel.sheet.macroEnabled.12"},
      {".pptx", "application", "vnd.openxmlformats-officedocument.presentationml.presentation"},
  };
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) {
    const std::string ext = text::lower(name.substr(dot));
    for (const auto &r : rows)
      if (ext == r.ext)
        return {r.type, r.subtype};
  }
  return {"application", "octet-stream"};
}

// RFC 5322 atext, with the UTF-8 characters RFC 6532 adds: printable characters but blanks,
// invisible formatting characters and the specials.
bool atext(char32_t cp) {
  if (cp >= 0x80)
    return text::is_printable(cp);
  const char c = static_cast<char>(cp);
  return text::is_ascii_alpha(c) || text::is_ascii_digit(c) ||
         std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

bool dot_atom(std::u32string_view s) {
  if (s.empty() || s.front() == U'.' || s.back() == U'.')
    return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i] == U'.' ? s[i + 1] == U'.' : !atext(s[i]))
      return false;
  return true;
}

// A local part in quotes: any printable character or blank, a quote or backslash only escaped.
bool quoted_string(std::u32string_view s) {
  if (s.size() < 2 || s.front() != U'"' || s.back() != U'"')
    return false;
  for (std::size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == U'\\' && i + 2 < s.size())
      ++i;
    else if (s[i] == U'"' || s[i] == U'\\')
      return false;
    if (s[i] != U'\t' && !text::is_printable(s[i]))
      return false;
  }
  return true;
}

// A domain in brackets ("[192.0.2.1]"): printable characters but blanks, brackets and backslash.
bool domain_literal(std::u32string_view s) {
  if (s.size() < 2 || s.front() != U'[' || s.back() != U']')
    return false;
  for (std::size_t i = 1; i + 1 < s.size(); ++i)
    if (s[i] == U' ' || s[i] == U'[' || s[i] == U']' || s[i] == U'\\' || !text::is_printable(s[i]))
      return false;
  return true;
}

// Whether `spec` is an address that mail can reach as written: a local part (a dot-atom or a
// quoted string), "@" and a domain (a dot-atom or a literal in brackets). Anything else would
// be written as something else, or read back as other recipients ("a@x y.com" as "a@x" and
// "y.com").
bool addr_spec(std::string_view spec) {
  const std::u32string s = text::to_u32(spec);
  // The "@" that ends the local part, which may itself hold one inside quotes.
  std::size_t at = std::u32string::npos;
  bool quoted = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (quoted && s[i] == U'\\')
      ++i;
    else if (s[i] == U'"')
      quoted = !quoted;
    else if (s[i] == U'@' && !quoted)
      at = i;
  }
  if (at == std::u32string::npos)
    return false;
  const std::u32string_view local = std::u32string_view(s).substr(0, at);
  const std::u32string_view domain = std::u32string_view(s).substr(at + 1);
  return (dot_atom(local) || quoted_string(local)) && (dot_atom(domain) || domain_literal(domain));
}

// Whether the entries are addresses mail can reach: mailboxes with such an address, or groups
// of them. A name alone ("Team Lead", quoted or not) names no one a message can go to.
bool deliverable(InternetAddressList *list);
bool deliverable(InternetAddress *address) {
  if (INTERNET_ADDRESS_IS_GROUP(address))
    return deliverable(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)));
  InternetAddressMailbox *mailbox = INTERNET_ADDRESS_MAILBOX(address);
  const char *addr = internet_address_mailbox_get_addr(mailbox);
  // The header holds the domain in its IDN form, which maps compatibility characters to ASCII
  // ones: a full-width colon or at sign in a domain would become a special there.
  const char *written = internet_address_mailbox_get_idn_addr(mailbox);
  return addr && addr_spec(addr) && written && addr_spec(written);
}
bool deliverable(InternetAddressList *list) {
  const int n = list ? internet_address_list_length(list) : 0;
  for (int i = 0; i < n; ++i)
    if (!deliverable(internet_address_list_get_address(list, i)))
      return false;
  return n > 0;
}

void add_recipients(GMimeMessage *msg, GMimeAddressType type, const std::string &line) {
  InternetAddressList *list = g_mime_message_get_addresses(msg, type);
  for (const auto &piece : recipient_pieces(line)) {
    // A line break inside an entry ("a@x\nBcc: b@y") would turn the rest of it into another
    // recipient or a group: which address was meant cannot be told, so none of it is used.
    if (holds_control(piece)) {
      log().warning("⚠️ 收件人含有控制字元，已略過：" + text::py_repr(piece));
      continue;
    }
    InternetAddressList *parsed =
        internet_address_list_parse(nullptr, blank_controls(piece).c_str());
    if (!deliverable(parsed)) {
      log().warning("⚠️ 無法辨識的收件人，已略過：" + piece);
    } else {
      internet_address_list_append(list, parsed);
    }
    if (parsed)
      g_object_unref(parsed);
  }
}

// The file-name limit of the folder's file system, in bytes.
constexpr std::size_t kNameMax = NAME_MAX;

// `stem` cut so that `suffix_size` more bytes still make a valid file name; never inside a
// UTF-8 sequence.
std::string fitting_stem(const std::string &stem, std::size_t suffix_size) {
  if (stem.size() + suffix_size <= kNameMax)
    return stem;
  std::size_t end = kNameMax - suffix_size;
  while (end > 0 && (static_cast<unsigned char>(stem[end]) & 0xC0) == 0x80)
    --end;
  return stem.substr(0, end);
}

// A NUL would end the part's text there; it stands for U+FFFD, as the Markdown renderer makes it.
std::string without_nul(const std::string &body) {
  if (body.find('\0') == std::string::npos)
    return body;
  std::string out;
  out.reserve(body.size() + 16);
  for (const char c : body) {
    if (c == '\0')
      out += "\xEF\xBF\xBD";
    else
      out += c;
  }
  return out;
}

GMimeTextPart *text_part(const char *subtype, const std::string &body) {
  GMimeTextPart *part = g_mime_text_part_new_with_subtype(subtype);
  g_mime_text_part_set_text(part, without_nul(body).c_str());
  // Seven-bit lines of at most 76 characters: no line passes the 998 that SMTP allows.
  GMimePart *p = GMIME_PART(part);
  g_mime_part_set_content_encoding(
      p, g_mime_part_get_best_content_encoding(p, GMIME_ENCODING_CONSTRAINT_7BIT));
  return part;
}

// RFC 2047: an encoded-word has at most 75 characters, and a header line that holds one at most
// 76. Other header lines stay within the 78 that RFC 5322 recommends.
constexpr std::size_t kEncodedWordMax = 75;
constexpr std::size_t kEncodedLineMax = 76;
constexpr std::size_t kLineMax = 78;

// The header text as it stands, folded at blanks, when every reader shows it unchanged: printable
// ASCII, one blank between words and none at the ends (readers drop blanks at the ends of a
// value), no "=?" that a reader could decode as an encoded word, and no word too long for a
// line. nullopt otherwise.
std::optional<std::string> plain_value(std::string_view name, std::string_view text) {
  if (text.empty() || text.front() == ' ' || text.back() == ' ' ||
      text.find("  ") != std::string_view::npos || text.find("=?") != std::string_view::npos)
    return std::nullopt;
  for (const unsigned char c : text)
    if (c < 0x20 || c > 0x7E)
      return std::nullopt;
  std::string out = " ";
  std::size_t line = name.size() + 2; // "Name: "
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string_view::npos)
      end = text.size();
    const std::string_view word = text.substr(start, end - start);
    if (start > 0) {
      if (line + 1 + word.size() <= kLineMax) {
        out += ' ';
        ++line;
      } else {
        // Unfolding takes the line break out and keeps the blank.
        out += "\n ";
        line = 1;
      }
    }
    if (line + word.size() > kLineMax)
      return std::nullopt;
    out += word;
    line += word.size();
    start = end + 1;
  }
  return out + "\n";
}

// A byte of "Q" encoded text: letters, digits and the few marks RFC 2047 allows anywhere stand
// for themselves, a blank is "_", everything else "=XX".
void append_q(std::string &out, unsigned char c) {
  static const char hex[] = "0123456789ABCDEF";
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
      c == '*' || c == '+' || c == '-' || c == '/') {
    out += static_cast<char>(c);
  } else if (c == ' ') {
    out += '_';
  } else {
    out += '=';
    out += hex[c >> 4];
    out += hex[c & 15];
  }
}

// The raw value of an unstructured header, as it follows "Name:" in the message (a line break
// ends each line): the text itself when plain_value allows, else "Q" encoded-words of its UTF-8,
// one to a line, each holding whole characters. Readers join adjacent encoded-words without the
// blanks between them and show exactly the text. Some readers join the encoded text of adjacent
// words before decoding it, which base64 padding inside the joined text would cut short; "Q" has
// no padding.
std::string unstructured_value(std::string_view name, std::string_view text) {
  if (text.empty())
    return " \n";
  if (auto plain = plain_value(name, text))
    return *plain;
  static const std::string_view open = "=?utf-8?q?", close = "?=";
  std::string out = " ";
  std::string word;
  std::size_t room = kEncodedLineMax - (name.size() + 2); // the first line starts "Name: "
  auto flush = [&] {
    out.append(open).append(word).append(close).append("\n ");
    word.clear();
    room = kEncodedLineMax - 1; // later lines start with one blank
  };
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
      ++end;
    std::string encoded;
    for (std::size_t k = i; k < end; ++k)
      append_q(encoded, static_cast<unsigned char>(text[k]));
    const std::size_t limit = std::min(kEncodedWordMax, room) - open.size() - close.size();
    if (!word.empty() && word.size() + encoded.size() > limit)
      flush();
    word += encoded;
    i = end;
  }
  flush();
  out.resize(out.size() - 2); // the line break and blank after the last word
  return out + "\n";
}

void set_subject(GMimeMessage *msg, const std::string &subject) {
  g_mime_message_set_subject(msg, subject.c_str(), "utf-8");
  // GMime's own encoding of the value makes encoded-words longer than readers accept and leaves
  // text that looks like an encoded word as it is: the value is written here instead.
  GMimeHeader *header =
      g_mime_header_list_get_header(g_mime_object_get_header_list(GMIME_OBJECT(msg)), "Subject");
  g_mime_header_set_raw_value(header, unstructured_value("Subject", subject).c_str());
}

} // namespace

struct MailDraft::Attachment {
  int fd = -1;
  std::string name;
  ~Attachment() {
    if (fd >= 0)
      ::close(fd);
  }
};

MailDraft::MailDraft() = default;
MailDraft::~MailDraft() = default;

std::vector<std::string> recipient_pieces(const std::string &line) {
  std::vector<std::string> pieces;
  std::string current;
  bool quoted = false;
  auto flush = [&] {
    auto s = text::strip(current);
    if (!s.empty())
      pieces.push_back(std::move(s));
    current.clear();
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '\\' && i + 1 < line.size()) {
      current += c;
      current += line[++i];
      continue;
    }
    if (c == '"')
      quoted = !quoted;
    if (c == ';' && !quoted) {
      flush();
      continue;
    }
    current += c;
  }
  flush();
  return pieces;
}

void MailDraft::add_attachment(const std::string &absolute_path) {
  auto a = std::make_unique<Attachment>();
  bool not_regular = false;
  a->fd = fs::open_regular_file(absolute_path, not_regular);
  if (not_regular)
    throw std::runtime_error(absolute_path + ": 不是一般檔案");
  if (a->fd < 0)
    throw std::runtime_error(absolute_path + ": " + std::strerror(errno));
  // File names may hold line breaks; the attachment's name is a header parameter.
  a->name = blank_controls(stdfs::path(absolute_path).filename().string());
  attachments_.push_back(std::move(a));
}

stdfs::path MailDraft::save(const stdfs::path &folder, const std::string &stem) const {
  init_gmime();
  Ref<GMimeMessage> msg(g_mime_message_new(TRUE));
  GMimeObject *obj = GMIME_OBJECT(msg.get());
  // Mail clients open a message with this header as an unsent draft, ready to edit and send.
  g_mime_object_set_header(obj, "X-Unsent", "1", nullptr);
  add_recipients(msg.get(), GMIME_ADDRESS_TYPE_TO, To);
  add_recipients(msg.get(), GMIME_ADDRESS_TYPE_CC, CC);
  set_subject(msg.get(), blank_controls(Subject));
  GDateTime *now = g_date_time_new_now_local();
  g_mime_message_set_date(msg.get(), now);
  g_date_time_unref(now);

  Ref<GMimeMultipart> alternative(g_mime_multipart_new_with_subtype("alternative"));
  {
    Ref<GMimeTextPart> plain(text_part("plain", TextBody));
    Ref<GMimeTextPart> html(text_part("html", HTMLBody));
    g_mime_multipart_add(alternative.get(), GMIME_OBJECT(plain.get()));
    g_mime_multipart_add(alternative.get(), GMIME_OBJECT(html.get()));
  }
  Ref<GMimeMultipart> mixed(attachments_.empty() ? nullptr
                                                 : g_mime_multipart_new_with_subtype("mixed"));
  if (mixed.get()) {
    g_mime_multipart_add(mixed.get(), GMIME_OBJECT(alternative.get()));
    for (const auto &a : attachments_) {
      const int fd = ::dup(a->fd);
      if (fd < 0)
        throw std::runtime_error(a->name + ": " + std::strerror(errno));
      // The file is read in blocks while the message is written, never held whole.
      Ref<GMimeStream> stream(g_mime_stream_fs_new_with_bounds(fd, 0, -1));
      Ref<GMimeDataWrapper> content(
          g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
      const auto [type, subtype] = content_type_of(a->name);
      Ref<GMimePart> part(g_mime_part_new_with_type(type, subtype));
      g_mime_part_set_content(part.get(), content.get());
      g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
      g_mime_part_set_filename(part.get(), a->name.c_str());
      g_mime_multipart_add(mixed.get(), GMIME_OBJECT(part.get()));
    }
    g_mime_message_set_mime_part(msg.get(), GMIME_OBJECT(mixed.get()));
  } else {
    g_mime_message_set_mime_part(msg.get(), GMIME_OBJECT(alternative.get()));
  }

  // The draft has no name until it is whole (a run killed while writing leaves nothing), then
  // takes the first free one.
  const auto file = [&] {
    try {
      return std::make_unique<fs::NewFile>(folder / "postrel", fs::new_file_mode());
    } catch (const std::system_error &e) {
      throw std::runtime_error("無法在 " + folder.string() +
                               " 建立郵件草稿: " + std::strerror(e.code().value()));
    }
  }();
  {
    // Buffered writes through stdio on a second descriptor, so that the file stays open for
    // naming.
    const int fd = ::dup(file->fd());
    FILE *fp = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (!fp) {
      const int err = errno;
      if (fd >= 0)
        ::close(fd);
      throw std::runtime_error(std::string("寫入郵件草稿失敗: ") + std::strerror(err));
    }
    GMimeStream *stream = g_mime_stream_file_new(fp); // owns fp
    GMimeFormatOptions *format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
    errno = 0;
    const ssize_t written = g_mime_object_write_to_stream(obj, format, stream);
    g_mime_format_options_free(format);
    int err = errno ? errno : EIO;
    const bool flushed = written >= 0 && std::fflush(fp) == 0 && !std::ferror(fp);
    if (!flushed && errno)
      err = errno;
    g_mime_stream_file_set_owner(GMIME_STREAM_FILE(stream), FALSE);
    g_object_unref(stream);
    const bool closed = std::fclose(fp) == 0;
    if (!closed && flushed)
      err = errno;
    if (!flushed || !closed)
      throw std::runtime_error(std::string("寫入郵件草稿失敗: ") + std::strerror(err));
  }
  for (int n = 1;; ++n) {
    const std::string suffix = (n == 1 ? std::string() : "_" + std::to_string(n)) + ".eml";
    const stdfs::path target = folder / (fitting_stem(stem, suffix.size()) + suffix);
    // An earlier draft keeps its name.
    try {
      if (file->publish(target))
        return target;
    } catch (const std::system_error &e) {
      throw std::runtime_error("無法儲存郵件草稿 " + target.string() + ": " +
                               std::strerror(e.code().value()));
    }
  }
}

std::optional<std::string> open_draft(const stdfs::path &draft) {
  const char *env = std::getenv("VASKIT_MAIL_OPENER");
  const std::string opener = env && *env ? env : "xdg-open";
  if (opener == "none")
    return std::nullopt;
  if (auto err = process::start_detached({opener, draft.string()}))
    return "無法開啟郵件草稿 " + draft.string() + " (" + *err + ")";
  return std::nullopt;
}

} // namespace vaskit::postrel
