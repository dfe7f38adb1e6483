#include "core/re.hpp"
#include "formats/markdown/fences.hpp"

#include <gtest/gtest.h>

namespace vaskit::markdown {
namespace {

struct BlockCase {
  const char *name;
  std::string md;
  // Expected blocks: the text of each block's range, its info text and its code.
  std::vector<std::tuple<std::string, std::string, std::string>> blocks;
};

class FenceScan : public ::testing::TestWithParam<BlockCase> {};

TEST_P(FenceScan, FindsTheBlocksTheRendererSees) {
  const auto &c = GetParam();
  const auto blocks = scan_fenced_blocks(c.md);
  ASSERT_EQ(blocks.size(), c.blocks.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const auto &[range, info, code] = c.blocks[i];
    EXPECT_EQ(c.md.substr(blocks[i].begin, blocks[i].end - blocks[i].begin), range) << i;
    EXPECT_EQ(blocks[i].info, info) << i;
    EXPECT_EQ(blocks[i].code, code) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FenceScan,
    ::testing::Values(
        BlockCase{"TopLevel", "a\n```js\nx\n```\nb", {{"```js\nx\n```\n", "js", "x"}}},
        BlockCase{"ListItemIndented",
                  "- item\n  ```py\n  code\n    more\n  ```\n- next\n",
                  {{"  ```py\n  code\n    more\n  ```\n", "py", "code\n  more"}}},
        BlockCase{"OnTheListMarkerLine",
                  "1. ```sh\n   ls\n   ```\n",
                  {{"1. ```sh\n   ls\n   ```\n", "sh", "ls"}}},
        BlockCase{
            "Quote", "> ```js\n> a\n>  b\n> ```", {{"> ```js\n> a\n>  b\n> ```", "js", "a\n b"}}},
        // A list item's indented block does not pair with the next line-start fence: the text
        // between stays text and the later block is found as itself.
        BlockCase{"NestedThenTopLevel",
                  "- item\n    ```js\n    a\n    ```\ntext $x$\n```py\nb\n```\n",
                  {{"    ```js\n    a\n    ```\n", "js", "a"}, {"```py\nb\n```\n", "py", "b"}}},
        BlockCase{"UnclosedOpensNothing", "```js\nfoo\n\nbar\n", {}},
        BlockCase{
            "LongerFenceHoldsShorter", "````\n```\n````\n", {{"````\n```\n````\n", "", "```"}}},
        BlockCase{"TextAfterClosingDoesNotClose",
                  "```\na\n``` x\n```\n",
                  {{"```\na\n``` x\n```\n", "", "a\n``` x"}}},
        BlockCase{"Tildes",
                  "~~~ python title\n$x$\n~~~\n",
                  {{"~~~ python title\n$x$\n~~~\n", " python title", "$x$"}}},
        BlockCase{"BacktickInInfoIsNoFence", "```a`b\nx\n", {}},
        BlockCase{
            "CrLf", "```js\r\na\r\nb\r\n```\r\n", {{"```js\r\na\r\nb\r\n```\r\n", "js", "a\r\nb"}}},
        BlockCase{"LeavingTheQuoteEndsTheSearch", "> ```\n> a\nb\n", {}},
        BlockCase{"ClosingTooFarIndented",
                  "```\na\n    ```\n```",
                  {{"```\na\n    ```\n```", "", "a\n    ```"}}},
        BlockCase{"EmptyBlock", "```\n```\ntext", {{"```\n```\n", "", ""}}},
        BlockCase{"TabIndentedContent",
                  "- x\n  ```\n\tcode\n  ```\n",
                  {{"  ```\n\tcode\n  ```\n", "", "  code"}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FenceRanges, AreWholeLinesAndMatchTheBlocks) {
  const std::string md = "x\n```\ny\n```\nz\n~~~\nw\n~~~";
  const auto ranges = fenced_ranges(md);
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(md.substr(ranges[0].first, ranges[0].second - ranges[0].first), "```\ny\n```\n");
  EXPECT_EQ(ranges[1].second, md.size());
}

TEST(RewriteOutsideFences, LeavesCodeAsWrittenAndKeepsLineStarts) {
  static const re::Pattern line_start(R"(^(?=.))", re::MULTILINE);
  const std::string md = "a\n```\nb\n```\nc\nd\n  ```\n  e\n  ```";
  std::vector<std::string> seen;
  const std::string out = rewrite_outside_fences(md, [&](std::string_view part) {
    seen.emplace_back(part);
    return line_start.sub(">>", part);
  });
  EXPECT_EQ(out, ">>a\n```\nb\n```\n>>c\n>>d\n  ```\n  e\n  ```");
  EXPECT_EQ(seen, (std::vector<std::string>{"a\n", "c\nd\n", ""}));
}

TEST(FenceScan, ManyUnclosedFencesStayLinear) {
  // Each opening that cannot close would otherwise search to the end of the text again.
  std::string md;
  for (int i = 0; i < 40000; ++i)
    md += "```js\n> ~~~\n";
  EXPECT_TRUE(scan_fenced_blocks(md).empty());
  md += "```\n";
  const auto blocks = scan_fenced_blocks(md);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].begin, 0u);
  EXPECT_EQ(blocks[0].end, md.size());
}

} // namespace
} // namespace vaskit::markdown
