#include "core/config.hpp"
#include "support/console.hpp"
#include "support/log_capture.hpp"
#include "tools/postrel/postrel.hpp"

#include <gtest/gtest.h>

namespace vaskit::postrel {
namespace {

using testing::LogCapture;
using testing::with_console;

json yaml(const std::string &text) {
  return config::parse_yaml(text);
}

TEST(FormatRecipients, ListsTextsAndFalseValues) {
  EXPECT_EQ(_format_recipients(json::parse(R"(["a", "", null, " b "])")), "a; b");
  // The truth test comes before stripping: blanks give an empty piece.
  EXPECT_EQ(_format_recipients(json::parse(R"(["a", "   "])")), "a; ");
  EXPECT_EQ(_format_recipients(" x;y "), "x;y");
  EXPECT_EQ(_format_recipients(0), "");
  EXPECT_EQ(_format_recipients(nullptr), "");
  EXPECT_EQ(_format_recipients(json::parse(R"([1, 0, true])")), "1; True");
}

TEST(FormatAttachments, TextsListsAndOtherValues) {
  EXPECT_EQ(_format_attachments(" r.pdf "), std::vector<std::string>{"r.pdf"});
  EXPECT_EQ(_format_attachments(json::parse(R"(["a.pdf", "", "  ", null, "a.pdf"])")),
            (std::vector<std::string>{"a.pdf", "a.pdf"}));
  EXPECT_TRUE(_format_attachments(nullptr).empty());
  EXPECT_TRUE(_format_attachments("   ").empty());
  EXPECT_TRUE(_format_attachments(5).empty());
  EXPECT_TRUE(_format_attachments(json::object({{"a", "b"}})).empty());
}

const char *const kThreeGroups = R"(config:
  default_group: third
  mail_to: section@x.com
  mail_content: section.md
  groups:
    first:
      mail_to: one@x.com
      mail_cc: ["c1@x.com", "  ", "c2@x.com"]
      mail_content: one.md
    second:
      mail_to: ""
    third:
      mail_to: [" t1@x.com ", "t2@x.com"]
      mail_cc: t3@x.com
)";

TEST(PostrelAppGroups, NamedGroupAndUnknownName) {
  LogCapture logs;
  const PostrelApp named(yaml(kThreeGroups), std::string("first"), true);
  EXPECT_EQ(named.selected_group, "first");
  EXPECT_EQ(named.mail_to, "one@x.com");
  EXPECT_EQ(named.mail_cc, "c1@x.com; ; c2@x.com");
  EXPECT_EQ(named.mail_content, "one.md");
  EXPECT_TRUE(logs.has("INFO", "✅ 使用指定的郵件群組設定：[first]"));

  // An empty text in the group falls through to the section.
  const PostrelApp second(yaml(kThreeGroups), std::string("second"), true);
  EXPECT_EQ(second.mail_to, "section@x.com");
  EXPECT_EQ(second.mail_content, "section.md");

  const PostrelApp unknown(yaml(kThreeGroups), std::string("nope"), true);
  EXPECT_EQ(unknown.selected_group, "nope");
  EXPECT_EQ(unknown.mail_to, "section@x.com");
  EXPECT_EQ(unknown.mail_cc, "");
  EXPECT_TRUE(
      logs.has("WARNING", "⚠️ 找不到指定的群組 [nope]，將使用預設設定。"));
}

TEST(PostrelAppGroups, MenuDefaultsToTheDefaultGroupAndEndOfInputFallsBack) {
  std::optional<PostrelApp> app;
  auto c = with_console("\n", [&] { app.emplace(yaml(kThreeGroups), std::nullopt, true); });
  EXPECT_NE(c.out.find("📧 請選擇郵件收件人群組 (Recipient Group)"), std::string::npos);
  EXPECT_NE(c.out.find("請選擇群組編號 [3]: "), std::string::npos);
  EXPECT_EQ(app->selected_group, "third");
  EXPECT_EQ(app->mail_to, "t1@x.com; t2@x.com");
  EXPECT_EQ(app->mail_cc, "t3@x.com");

  c = with_console("9\nx\n1\n", [&] { app.emplace(yaml(kThreeGroups), std::nullopt, true); });
  EXPECT_EQ(app->selected_group, "first");
  EXPECT_NE(c.err.find("⚠️ 無效的選擇：9"), std::string::npos);

  LogCapture logs;
  c = with_console("", [&] { app.emplace(yaml(kThreeGroups), std::nullopt, true); });
  EXPECT_EQ(app->selected_group, "third");
  EXPECT_TRUE(logs.has("WARNING",
                       "⚠️ 選擇群組過程異常 (Aborted!)，自動採用預設群組。"));
}

TEST(PostrelAppGroups, WithoutMenuTheDefaultOrFirstGroup) {
  // Not interactive: no prompt at all, even with nothing on standard input.
  std::optional<PostrelApp> app;
  auto c = with_console("", [&] { app.emplace(yaml(kThreeGroups), std::nullopt, false); });
  EXPECT_EQ(app->selected_group, "third");
  EXPECT_EQ(c.out, "");

  // A default naming no group: the first one. A single group: taken without a menu.
  const PostrelApp no_default(
      yaml("config:\n  default_group: zzz\n  groups:\n    a: {mail_to: a@x}\n    b: {}\n"),
      std::nullopt, false);
  EXPECT_EQ(no_default.selected_group, "a");
  c = with_console("", [&] {
    app.emplace(yaml("config:\n  default_group: other\n  groups:\n    only: {mail_to: o@x}\n"),
                std::nullopt, true);
  });
  EXPECT_EQ(app->selected_group, "only");
  EXPECT_EQ(app->mail_to, "o@x");
  EXPECT_EQ(c.out, "");

  // No groups: the section's default_group and fields.
  const PostrelApp none(yaml("config:\n  default_group: d\n  mail_cc: [x@y]\n"), std::nullopt);
  EXPECT_EQ(none.selected_group, "d");
  EXPECT_EQ(none.mail_cc, "x@y");
  EXPECT_FALSE(none.mail_content.has_value());
}

TEST(PostrelAppGroups, ListingAsConfigured) {
  auto c =
      with_console("", [] { PostrelApp(yaml(kThreeGroups), std::nullopt, false).list_groups(); });
  const std::string rule(60, '-');
  EXPECT_EQ(c.out, "\n📋 可用的郵件群組清單 (Available Recipient Groups):\n" + rule +
                       "\n"
                       "  🔹 群組名稱: first\n"
                       "     - 收件人 (To): one@x.com\n"
                       "     - 副本 (CC): ['c1@x.com', '  ', 'c2@x.com']\n"
                       "     - 內容路徑 (Content): one.md\n" +
                       rule +
                       "\n"
                       "  🔹 群組名稱: second\n"
                       "     - 收件人 (To): section@x.com\n"
                       "     - 內容路徑 (Content): section.md\n" +
                       rule +
                       "\n"
                       "  🔹 群組名稱: third (預設)\n"
                       "     - 收件人 (To): [' t1@x.com ', 't2@x.com']\n"
                       "     - 副本 (CC): t3@x.com\n"
                       "     - 內容路徑 (Content): section.md\n" +
                       rule + "\n");

  c = with_console("", [] {
    PostrelApp(yaml("config:\n  groups:\n    g: {}\n"), std::nullopt, false).list_groups();
  });
  EXPECT_NE(c.out.find("     - 收件人 (To): (未設定)\n     - 內容路徑 (Content): (未設定)\n"),
            std::string::npos);
  c = with_console("", [] { PostrelApp(yaml("config: {}\n"), std::nullopt, false).list_groups(); });
  EXPECT_EQ(c.out, "⚠️ 設定檔中未定義任何群組 (groups 為空)。\n");
}

TEST(ConfigurationProblem, ShapesThatCannotDescribeGroups) {
  EXPECT_FALSE(configuration_problem(yaml(kThreeGroups)));
  EXPECT_FALSE(configuration_problem(yaml("config:\n  groups:\n")));
  EXPECT_FALSE(configuration_problem(yaml("config:\n  groups:\n    empty_one:\n")));
  EXPECT_FALSE(configuration_problem(nullptr));
  const auto groups_list = configuration_problem(yaml("config:\n  groups: [a, b]\n"));
  ASSERT_TRUE(groups_list);
  EXPECT_NE(groups_list->find("groups"), std::string::npos);
  const auto group_text = configuration_problem(yaml("config:\n  groups:\n    bad: x@y\n"));
  ASSERT_TRUE(group_text);
  EXPECT_NE(group_text->find("[bad]"), std::string::npos);
  EXPECT_TRUE(configuration_problem(yaml("config: 3\n")));
  EXPECT_TRUE(configuration_problem(yaml("- a\n- b\n")));
}

} // namespace
} // namespace vaskit::postrel
