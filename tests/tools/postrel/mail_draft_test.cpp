#include "core/re.hpp"
#include "support/fifo.hpp"
#include "support/files.hpp"
#include "support/log_capture.hpp"
#include "tools/postrel/mail_draft.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gmime/gmime.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace vaskit::postrel {
namespace {

using testing::LogCapture;
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

std::string type_of(GMimeObject *o) {
  char *t = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(o));
  std::string out = t;
  g_free(t);
  return out;
}

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
  // Line breaks at the edges of a piece are blanks; inside it they stay, for the draft to see.
  EXPECT_EQ(recipient_pieces("a@b\r\nBcc: x@y;\r\nc@d\n"),
            (std::vector<std::string>{"a@b\r\nBcc: x@y", "c@d"}));
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

TEST(MailDraftSave, ControlCharactersNeverAddAHeaderOrARecipient) {
  TempDir dir;
  LogCapture logs;
  MailDraft draft;
  // An entry with a control character inside is left out whole; the entries around it stay.
  draft.To = "ok@x.com; a@b.com\nBcc: x@y.com; \"Tab\tName\" <t@x.com>";
  draft.CC = "c@d.com\r\nBcc: v@w.com;\x01"
             "e@f.com; g@h.com\xE2\x80\xA8"
             "Cc: i@j.com;\n k@l.com\n";
  draft.Subject = "Hi\r\nBcc: z@z\nX-Evil: 1";
  const auto saved = draft.save(dir.path(), "d");
  const std::string raw = read_file(saved);
  EXPECT_EQ(raw.find("\nBcc:"), std::string::npos) << raw;
  EXPECT_EQ(raw.find("\nX-Evil:"), std::string::npos) << raw;
  Parsed p(saved);
  EXPECT_EQ(p.header("Bcc"), "<none>");
  EXPECT_EQ(p.header("X-Evil"), "<none>");
  EXPECT_EQ(std::string(g_mime_message_get_subject(p.msg)), "Hi  Bcc: z@z X-Evil: 1");
  EXPECT_EQ(p.addresses(GMIME_ADDRESS_TYPE_TO), "ok@x.com, Tab Name <t@x.com>");
  EXPECT_EQ(p.addresses(GMIME_ADDRESS_TYPE_CC), "k@l.com");
  EXPECT_EQ(p.addresses(GMIME_ADDRESS_TYPE_BCC), "");
  EXPECT_TRUE(logs.has(
      "WARNING", "⚠️ 收件人含有控制字元，已略過：'a@b.com\\nBcc: x@y.com'"));
  EXPECT_EQ(logs.texts("WARNING").size(), 4u);
}

// The lines of one header field as written: its first line and the folded lines after it.
std::vector<std::string> header_lines(const std::string &raw, const std::string &name) {
  std::vector<std::string> lines;
  const std::size_t end = raw.find("\r\n\r\n");
  std::size_t pos = raw.find("\r\n" + name + ":");
  pos = raw.compare(0, name.size() + 1, name + ":") == 0 ? 0 : pos + 2;
  while (pos < end) {
    const std::size_t eol = raw.find("\r\n", pos);
    lines.push_back(raw.substr(pos, eol - pos));
    pos = eol + 2;
    if (raw[pos] != ' ' && raw[pos] != '\t')
      break;
  }
  return lines;
}

TEST(MailDraftSave, SubjectsReadBackAsTypedFromShortEncodedWords) {
  TempDir dir;
  std::string long_cjk;
  for (int i = 0; i < 30; ++i)
    long_cjk += "週報進度說明";
  std::string long_plain;
  for (int i = 0; i < 30; ++i)
    long_plain += "status" + std::to_string(i) + " ";
  long_plain += "end";
  const std::vector<std::string> subjects = {
      long_cjk,
      // Text that looks like encoded words is shown as it was typed, not decoded.
      "=?utf-8?q?x?= and =?UTF-8?B?eA==?=",
      "Weekly報告：Q3進度更新與下一步計畫說明，附上本週的詳細數據與下週的工作安排",
      long_plain,
      " blanks  at the ends and  between ",
      "x",
  };
  static const re::Pattern encoded_word(R"(=\?[^?\s]*\?[bBqQ]\?[^?\s]*\?=)");
  for (const auto &subject : subjects) {
    MailDraft draft;
    draft.Subject = subject;
    const auto saved = draft.save(dir.path(), "s");
    Parsed p(saved);
    ASSERT_TRUE(p.msg);
    EXPECT_EQ(std::string(g_mime_message_get_subject(p.msg)), subject);
    const auto lines = header_lines(read_file(saved), "Subject");
    ASSERT_FALSE(lines.empty()) << subject;
    for (const auto &line : lines) {
      bool encoded = false;
      encoded_word.for_each(line, [&](const re::Match &m) {
        EXPECT_LE(m.group(0).size(), 75u) << line;
        encoded = true;
        return true;
      });
      EXPECT_LE(line.size(), encoded ? 76u : 78u) << line;
    }
    stdfs::remove(saved);
  }
}

TEST(MailDraftSave, ANameWithoutAnAddressIsNoRecipient) {
  TempDir dir;
  LogCapture logs;
  MailDraft draft;
  // "a@x y.com" would be read back as "a@x" and a name "y.com", and "b@x：y" as "b@x" and "y"
  // (the full-width colon is an ASCII one in the domain's IDN form).
  draft.To = "\"Team Lead\"; Team Lead; lead@x.com; a@x y.com; b@x：y";
  draft.CC = "John; \"Doe\" <>; Ops: ; \"at@sign\"; ok@x.com";
  Parsed p(draft.save(dir.path(), "d"));
  EXPECT_EQ(p.addresses(GMIME_ADDRESS_TYPE_TO), "lead@x.com");
  EXPECT_EQ(p.addresses(GMIME_ADDRESS_TYPE_CC), "ok@x.com");
  EXPECT_EQ(
      logs.texts("WARNING"),
      (std::vector<std::string>{"⚠️ 無法辨識的收件人，已略過：\"Team Lead\"",
                                "⚠️ 無法辨識的收件人，已略過：Team Lead",
                                "⚠️ 無法辨識的收件人，已略過：a@x y.com",
                                "⚠️ 無法辨識的收件人，已略過：b@x：y",
                                "⚠️ 無法辨識的收件人，已略過：John",
                                "⚠️ 無法辨識的收件人，已略過：\"Doe\" <>",
                                "⚠️ 無法辨識的收件人，已略過：Ops:",
                                "⚠️ 無法辨識的收件人，已略過：\"at@sign\""}));
}

// A save killed while it writes (a large attachment makes that take a while) leaves no file in
// the folder, or one that the next save removes.
TEST(MailDraftSave, ASaveKilledMidwayLeavesNothingBehind) {
  TempDir dir;
  stdfs::create_directories(dir / "in");
  stdfs::create_directories(dir / "out");
  {
    std::ofstream big(dir / "in/big.bin", std::ios::binary);
    big.seekp((48 << 20) - 1);
    big.put('x');
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      MailDraft draft;
      draft.add_attachment((dir / "in/big.bin").string());
      draft.save(dir / "out", "report");
      ::_exit(0);
    } catch (...) {
      ::_exit(2);
    }
  }
  // Killed as soon as it has a file open in the output folder.
  const std::string out_prefix = (dir / "out").string() + "/";
  bool writing = false;
  for (int i = 0; i < 20000 && !writing; ++i) {
    std::error_code ec;
    for (const auto &fd : stdfs::directory_iterator("/proc/" + std::to_string(child) + "/fd", ec)) {
      std::error_code link_ec;
      writing =
          writing || stdfs::read_symlink(fd.path(), link_ec).string().rfind(out_prefix, 0) == 0;
    }
    if (!writing)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(writing);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the save ended before it was killed";

  MailDraft draft;
  EXPECT_EQ(draft.save(dir / "out", "report"), dir / "out/report.eml");
  std::vector<std::string> names;
  for (const auto &e : stdfs::directory_iterator(dir / "out"))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"report.eml"});
}

TEST(MailDraftSave, TextAlternativesNestUnderTheAttachments) {
  TempDir dir;
  write_file(dir / "a.pdf", "%PDF");
  // A name with a line break cannot start a header line of the attachment's part.
  write_file(dir / "x\nX-Evil: 1.bin", "t");
  MailDraft draft;
  draft.TextBody = "plain";
  draft.HTMLBody = "<p>html</p>";
  // No attachment: the message is the alternative itself, plain text first.
  {
    Parsed p(draft.save(dir.path(), "bare"));
    GMimeObject *top = g_mime_message_get_mime_part(p.msg);
    ASSERT_TRUE(GMIME_IS_MULTIPART(top));
    EXPECT_EQ(type_of(top), "multipart/alternative");
    ASSERT_EQ(g_mime_multipart_get_count(GMIME_MULTIPART(top)), 2);
    EXPECT_EQ(type_of(g_mime_multipart_get_part(GMIME_MULTIPART(top), 0)), "text/plain");
    EXPECT_EQ(type_of(g_mime_multipart_get_part(GMIME_MULTIPART(top), 1)), "text/html");
  }
  draft.add_attachment((dir / "a.pdf").string());
  draft.add_attachment((dir / "x\nX-Evil: 1.bin").string());
  const auto saved = draft.save(dir.path(), "mixed");
  Parsed p(saved);
  GMimeObject *top = g_mime_message_get_mime_part(p.msg);
  ASSERT_TRUE(GMIME_IS_MULTIPART(top));
  EXPECT_EQ(type_of(top), "multipart/mixed");
  ASSERT_EQ(g_mime_multipart_get_count(GMIME_MULTIPART(top)), 3);
  GMimeObject *alt = g_mime_multipart_get_part(GMIME_MULTIPART(top), 0);
  ASSERT_TRUE(GMIME_IS_MULTIPART(alt));
  EXPECT_EQ(type_of(alt), "multipart/alternative");
  ASSERT_EQ(g_mime_multipart_get_count(GMIME_MULTIPART(alt)), 2);
  EXPECT_EQ(type_of(g_mime_multipart_get_part(GMIME_MULTIPART(alt), 0)), "text/plain");
  EXPECT_EQ(type_of(g_mime_multipart_get_part(GMIME_MULTIPART(alt), 1)), "text/html");
  GMimeObject *pdf = g_mime_multipart_get_part(GMIME_MULTIPART(top), 1);
  EXPECT_EQ(type_of(pdf), "application/pdf");
  EXPECT_EQ(std::string(g_mime_part_get_filename(GMIME_PART(pdf))), "a.pdf");
  GMimeObject *odd = g_mime_multipart_get_part(GMIME_MULTIPART(top), 2);
  EXPECT_EQ(type_of(odd), "application/octet-stream");
  EXPECT_EQ(std::string(g_mime_part_get_filename(GMIME_PART(odd))), "x X-Evil: 1.bin");
  EXPECT_EQ(read_file(saved).find("\nX-Evil"), std::string::npos);
}

TEST(MailDraftSave, AFifoIsRefusedWithoutWaiting) {
  TempDir dir;
  testing::Fifo fifo(dir / "pipe.pdf");
  MailDraft draft;
  try {
    draft.add_attachment((dir / "pipe.pdf").string());
    ADD_FAILURE() << "a FIFO was attached";
  } catch (const std::runtime_error &e) {
    EXPECT_EQ(std::string(e.what()), (dir / "pipe.pdf").string() + ": 不是一般檔案");
  }
  EXPECT_FALSE(fifo.waited_on());
}

TEST(MailDraftSave, DraftsGetTheUsersFileModeAndFitLongNames) {
  TempDir dir;
  MailDraft draft;
  const mode_t saved_mask = ::umask(022);
  const auto open = draft.save(dir.path(), "open");
  ::umask(077);
  const auto closed = draft.save(dir.path(), "closed");
  ::umask(saved_mask);
  EXPECT_EQ(stdfs::status(open).permissions(),
            stdfs::perms::owner_read | stdfs::perms::owner_write | stdfs::perms::group_read |
                stdfs::perms::others_read);
  EXPECT_EQ(stdfs::status(closed).permissions(),
            stdfs::perms::owner_read | stdfs::perms::owner_write);

  // The stem of a source whose name has the longest length allowed: 84 three-byte characters.
  std::string stem;
  for (int i = 0; i < 84; ++i)
    stem += "報";
  const auto first = draft.save(dir.path(), stem);
  const auto second = draft.save(dir.path(), stem);
  std::string cut;
  for (int i = 0; i < 83; ++i)
    cut += "報";
  EXPECT_EQ(first, dir / (cut + ".eml"));
  EXPECT_EQ(second, dir / (cut + "_2.eml"));
  // Nothing else is left in the folder: no temporary file.
  std::vector<std::string> names;
  for (const auto &e : stdfs::directory_iterator(dir.path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"closed.eml", "open.eml", cut + ".eml", cut + "_2.eml"}));
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
