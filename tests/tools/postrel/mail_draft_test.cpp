#include "support/files.hpp"
#include "tools/postrel/mail_draft.hpp"

#include <filesystem>
#include <gmime/gmime.h>
#include <gtest/gtest.h>

namespace vaskit::postrel {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;
namespace stdfs = std::filesystem;

// A saved draft read back with GMime's own parser.
struct Parsed {
  GMimeMessage *msg = nullptr;
  explicit Parsed(const stdfs::path &file) {
    GMimeStream *stream = g_mime_stream_fs_open(file.c_str(), O_RDONLY, 0, nullptr);
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    msg = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
  }
  ~Parsed() {
    if (msg)
      g_object_unref(msg);
  }
  std::string header(const char *name) const {
    const char *v = g_mime_object_get_header(GMIME_OBJECT(msg), name);
    return v ? v : "<none>";
  }
  std::string addresses(GMimeAddressType type) const {
    char *s =
        internet_address_list_to_string(g_mime_message_get_addresses(msg, type), nullptr, FALSE);
    std::string out = s ? s : "";
    g_free(s);
    return out;
  }
  // Leaf parts in order: (content type, file name, decoded bytes).
  std::vector<std::tuple<std::string, std::string, std::string>> parts() const {
    std::vector<std::tuple<std::string, std::string, std::string>> out;
    collect(g_mime_message_get_mime_part(msg), out);
    return out;
  }
  static void collect(GMimeObject *o,
                      std::vector<std::tuple<std::string, std::string, std::string>> &out) {
    if (GMIME_IS_MULTIPART(o)) {
      for (int i = 0; i < g_mime_multipart_get_count(GMIME_MULTIPART(o)); ++i)
        collect(g_mime_multipart_get_part(GMIME_MULTIPART(o), i), out);
      return;
    }
    GMimePart *part = GMIME_PART(o);
    char *type = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(o));
    GMimeStream *mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), mem);
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    const char *name = g_mime_part_get_filename(part);
    out.emplace_back(type, name ? name : "",
                     std::string(reinterpret_cast<const char *>(bytes->data), bytes->len));
    g_object_unref(mem);
    g_free(type);
  }
};

std::string crlf_to_lf(std::string s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
      out += s[i];
  return out;
}

TEST(RecipientPieces, SplitAtSemicolonsOutsideQuotes) {
  EXPECT_EQ(recipient_pieces("\"Doe; Jr\" <a@x>; ; b@y ;\n c@z;"),
            (std::vector<std::string>{"\"Doe; Jr\" <a@x>", "b@y", "c@z"}));
  EXPECT_TRUE(recipient_pieces(" ; ;; ").empty());
  EXPECT_EQ(recipient_pieces("a@b\r\nBcc: x@y"), std::vector<std::string>{"a@b  Bcc: x@y"});
}

TEST(MailDraftSave, HeadersBodiesAndAttachmentsReadBack) {
  TempDir dir;
  std::string every_byte;
  for (int round = 0; round < 300; ++round)
    for (int b = 0; b < 256; ++b)
      every_byte.push_back(static_cast<char>(b));
  write_file(dir / "bin.dat", every_byte);
  write_file(dir / "報告 2024.md", "# 標題\n");

  MailDraft draft;
  draft.To = "Doe, John <john@x.com>; ; 王小明 <wang@x.tw>";
  draft.CC = "a@x.com;b@x.com";
  draft.Subject = "週報 W49";
  const std::string long_line(5000, 'x');
  draft.TextBody = "plain " + long_line + "\nsecond";
  draft.HTMLBody = "<p>" + long_line + "</p>";
  draft.add_attachment((dir / "bin.dat").string());
  draft.add_attachment((dir / "報告 2024.md").string());
  // Opened when added: a file removed before the save is still attached whole.
  stdfs::remove(dir / "bin.dat");
  const auto saved = draft.save(dir.path(), "report");
  EXPECT_EQ(saved, dir / "report.eml");

  Parsed p(saved);
  ASSERT_TRUE(p.msg);
  EXPECT_EQ(p.header("X-Unsent"), "1");
  EXPECT_EQ(std::string(g_mime_message_get_subject(p.msg)), "週報 W49");
  EXPECT_EQ(p.addresses(GMIME_ADDRESS_TYPE_TO), "\"Doe, John\" <john@x.com>, 王小明 <wang@x.tw>");
  EXPECT_EQ(p.addresses(GMIME_ADDRESS_TYPE_CC), "a@x.com, b@x.com");
  EXPECT_NE(p.header("Date"), "<none>");
  const auto parts = p.parts();
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(std::get<0>(parts[0]), "text/plain");
  // Text travels with CR LF line ends, as MIME writes them; the content is otherwise unchanged.
  EXPECT_TRUE(crlf_to_lf(std::get<2>(parts[0])) == draft.TextBody);
  EXPECT_EQ(std::get<0>(parts[1]), "text/html");
  EXPECT_TRUE(std::get<2>(parts[1]) == draft.HTMLBody);
  EXPECT_EQ(std::get<1>(parts[2]), "bin.dat");
  EXPECT_TRUE(std::get<2>(parts[2]) == every_byte);
  EXPECT_EQ(std::get<1>(parts[3]), "報告 2024.md");
  EXPECT_EQ(std::get<2>(parts[3]), "# 標題\n");

  // SMTP's limit: no line of the file passes 998 characters.
  const std::string raw = read_file(saved);
  std::size_t longest = 0, start = 0;
  for (std::size_t nl = raw.find('\n'); nl != std::string::npos; nl = raw.find('\n', start)) {
    longest = std::max(longest, nl - start);
    start = nl + 1;
  }
  EXPECT_LE(longest, 998u);
  // The non-ASCII file name travels encoded (RFC 2231).
  EXPECT_NE(raw.find("filename*=UTF-8''%E5%A0%B1%E5%91%8A%202024.md"), std::string::npos);
}

TEST(MailDraftSave, ControlCharactersNeverAddAHeader) {
  TempDir dir;
  MailDraft draft;
  draft.To = "a@b\nBcc: x@y";
  draft.CC = "c@d\r\nBcc: v@w";
  draft.Subject = "Hi\r\nBcc: z@z\nX-Evil: 1";
  const auto saved = draft.save(dir.path(), "d");
  const std::string raw = read_file(saved);
  EXPECT_EQ(raw.find("\nBcc:"), std::string::npos) << raw;
  EXPECT_EQ(raw.find("\nX-Evil:"), std::string::npos) << raw;
  Parsed p(saved);
  EXPECT_EQ(p.header("Bcc"), "<none>");
  EXPECT_EQ(p.header("X-Evil"), "<none>");
  EXPECT_EQ(std::string(g_mime_message_get_subject(p.msg)), "Hi  Bcc: z@z X-Evil: 1");
  EXPECT_NE(p.addresses(GMIME_ADDRESS_TYPE_TO).find("a@b"), std::string::npos);
}

TEST(MailDraftSave, NeverReplacesAnEarlierDraftAndLeavesNothingOnFailure) {
  TempDir dir;
  MailDraft draft;
  draft.Subject = "one";
  EXPECT_EQ(draft.save(dir.path(), "r"), dir / "r.eml");
  const std::string first = read_file(dir / "r.eml");
  draft.Subject = "two";
  EXPECT_EQ(draft.save(dir.path(), "r"), dir / "r_2.eml");
  EXPECT_EQ(draft.save(dir.path(), "r"), dir / "r_3.eml");
  EXPECT_EQ(read_file(dir / "r.eml"), first);
  EXPECT_EQ(std::distance(stdfs::directory_iterator(dir.path()), stdfs::directory_iterator()), 3);

  EXPECT_THROW(draft.save(dir / "no-such-folder", "r"), std::runtime_error);
  EXPECT_FALSE(stdfs::exists(dir / "no-such-folder"));

  EXPECT_THROW(draft.add_attachment((dir / "missing.pdf").string()), std::runtime_error);
  EXPECT_THROW(draft.add_attachment(dir.path().string()), std::runtime_error);
}

} // namespace
} // namespace vaskit::postrel
