// Long texts are parsed and rendered a part at a time; the page must be the one the whole text
// gives. Tests lower the part size so that small texts are cut at every place the parser allows.
#include "formats/markdown/arena.hpp"
#include "formats/markdown/markdown.hpp"
#include "formats/markdown/parts.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vaskit::markdown {
namespace {

const Extensions kProsettSet{.hard_breaks = true,
                             .heading_ids = true,
                             .toc_marker = true,
                             .placeholders = true,
                             .markdown_in_html = MarkdownInHtml::Details};
const Extensions kMailSet{.hard_breaks = true, .markdown_in_html = MarkdownInHtml::AnyBlock};
const Extensions kSiteSet{};

// Sets the part size for one scope.
class PartSize {
public:
  explicit PartSize(std::size_t bytes) : saved_(detail::part_bytes()) {
    detail::part_bytes() = bytes;
  }
  ~PartSize() { detail::part_bytes() = saved_; }

private:
  std::size_t saved_;
};

std::string render_whole(const std::string &md, const Extensions &ext) {
  PartSize whole(SIZE_MAX);
  return render(md, ext);
}

std::string render_in_parts(const std::string &md, const Extensions &ext) {
  PartSize tiny(1);
  return render(md, ext);
}

// Where the parser cuts `md` with the smallest parts (the options of prosett's set).
std::vector<std::size_t> cuts_of(const std::string &md) {
  PartSize tiny(1);
  detail::TreeArena arena;
  detail::ArenaScope scope(arena);
  detail::PartParser parts(md, CMARK_OPT_UNSAFE | CMARK_OPT_HARDBREAKS);
  while (parts.next())
    arena.reuse();
  return parts.cuts();
}

struct PartCase {
  const char *name;
  std::string md;
};

std::string case_name(const ::testing::TestParamInfo<PartCase> &info) {
  return info.param.name;
}

// Blocks that reach over blank lines, and blocks that a blank line does not end, each followed
// by lines that start at the margin after a blank line: the places a part may begin.
const PartCase kCases[] = {
    {"LooseListsAndContinuations",
     "- one\n\n- two\n\n  more of two\n\n- three\n\nafter\n\n1. a\n\n2. b\n\n3) c\n\nend\n"
     "\n* x\n\n+ y\n\n- z\n"},
    {"FencesWithBlankLines",
     "intro\n\n```\ncode\n\nat margin\n\n```\n\n~~~ free info\nx\n\ny\n~~~\n\n````\n```\n\n"
     "still code\n````\n\nafter\n\n```\nnever closed\n\nrest\n"},
    {"HtmlBlocksOverBlankLines",
     "<pre>\na\n\nb\n</pre>\n\ntext\n\n<script>\nx\n\ny\n</script>\n\n<!--\nc\n\nd\n-->\n\n"
     "<?x\n\n?>\n\n<!DOCTYPE\n\nhtml>\n\n<![CDATA[\n\n]]>\n\n<div>\na\n\nb\n\n</div>\n\nend\n"},
    {"IndentedCode", "para\n\n    code\n\n    more\n\nafter\n\n\tcode\n\n\ttab\n\nend\n"},
    {"TablesQuotesHeadings",
     "| a | b |\n|---|---|\n| 1 | 2 |\n\nafter\n\n> q\nlazy\n\n> r\n\nSetext\n===\n\n***\n\n"
     "# A\n\n# A\n\n## B\n\nC\n---\n\n| x |\n|---|\n\n| y |\n"},
    {"TocAndPlaceholders",
     "[TOC]\n\n# One\n\ntext <!--CODE_PLACEHOLDER_0--> more\n\n<!--MATH_PLACEHOLDER_1-->\n\n"
     "# One\n\n[TOC]\n\n## Two `x`\n\n- <!--CODE_PLACEHOLDER_2-->\n\n# One\n\nend\n"},
    {"DetailsElements",
     "# Top\n\n<details markdown=\"1\">\n<summary>S</summary>\n\n# Inside\n\n[TOC]\n\n"
     "</details>\n\nbetween\n\n<details>\n<summary>T</summary>\n\nbody\n\n</details>\n\n"
     "# After\n\n<details markdown=\"1\">\n\n# Never closed\n\ntext\n"},
    {"BlocksRightAfterText",
     "text\n| a | b |\n|---|---|\n| 1 | 2 |\nmore\n# h\ntext\n***\nx\n- y\nz\n\nw\n===\n\nv\n"
     "| c |\n| - |\n\nend\n"},
    {"ByteOrderMarks", "\xEF\xBB\xBF# first\n\n\xEF\xBB\xBF# second\n\ntext\n\n\xEF\xBB\xBFmore\n"},
    {"NoFinalLineFeed", "a\n\nb\n\n- c\n\nd"},
};

class Parts : public ::testing::TestWithParam<PartCase> {};

TEST_P(Parts, PageIsTheWholeTextsPage) {
  const std::string &md = GetParam().md;
  // The text is cut somewhere, else the comparison shows nothing.
  EXPECT_FALSE(cuts_of(md).empty());
  for (const Extensions *ext : {&kProsettSet, &kMailSet, &kSiteSet})
    EXPECT_EQ(render_in_parts(md, *ext), render_whole(md, *ext));
}

INSTANTIATE_TEST_SUITE_P(Cases, Parts, ::testing::ValuesIn(kCases), case_name);

TEST(Parts, CutOnlyWhereATopLevelBlockOpensAfterABlankLine) {
  const std::string md = "a\nb\n\nc\n\n- d\n\n- e\n\n  f\n\ng\n\n```\n\nh\n```\n\ni\n";
  // Before "c", "- d", "g", the fence and "i"; "- e" continues the list, "f" is in its item,
  // "h" is code and the closing fence closes the block it is in.
  EXPECT_EQ(cuts_of(md), (std::vector<std::size_t>{md.find("c\n"), md.find("- d"), md.find("g\n"),
                                                   md.find("```"), md.find("i\n")}));
}

TEST(Parts, TextsThatMayNeedTheWholeTextAreNotCut) {
  // A link reference definition applies to the whole text, wherever it stands.
  const std::string refs = "[x]\n\n[x]: /url\n\n[x]\n";
  EXPECT_TRUE(cuts_of(refs).empty());
  EXPECT_EQ(render_in_parts(refs, kSiteSet),
            "<p><a href=\"/url\">x</a></p>\n<p><a href=\"/url\">x</a></p>\n");
  EXPECT_TRUE(cuts_of("a\r\n\r\nb\r\n").empty());
  EXPECT_TRUE(cuts_of("a\n\n\xFF\n\nb\n").empty());
  // No part is cut from a text no larger than a part.
  detail::TreeArena arena;
  detail::ArenaScope scope(arena);
  detail::PartParser parts("a\n\nb\n\nc\n", CMARK_OPT_UNSAFE);
  ASSERT_NE(parts.next(), nullptr);
  EXPECT_TRUE(parts.done());
  EXPECT_EQ(parts.next(), nullptr);
}

// The contents of an early part come from headings of later ones; a text's own bytes that look
// like the place kept for them stay as they are.
TEST(Parts, ContentsListEveryPartsHeadings) {
  std::string md = "[TOC]\n\n";
  for (int i = 0; i < 50; ++i)
    md += "# Same\n\ntext " + std::to_string(i) + "\n\n";
  const std::string page = render_in_parts(md, kProsettSet);
  EXPECT_EQ(page, render_whole(md, kProsettSet));
  EXPECT_NE(page.find("<a href=\"#same_49\">Same</a>"), std::string::npos);
  EXPECT_NE(page.find("<h1 id=\"same_49\">Same</h1>"), std::string::npos);

  const std::string own = md + "<div>\n\xFFtoc\xFF\n</div>\n";
  const std::string own_page = render_in_parts(own, kProsettSet);
  EXPECT_EQ(own_page, render_whole(own, kProsettSet));
  EXPECT_NE(own_page.find("\n\xFFtoc\xFF\n</div>"), std::string::npos);
}

TEST(TreeArena, ReusedMemoryIsClearedForCalloc) {
  detail::TreeArena arena;
  detail::ArenaScope scope(arena);
  auto *first = static_cast<unsigned char *>(detail::tree_mem.calloc(1, 1000));
  std::memset(first, 0xAB, 1000);
  arena.reuse();
  auto *again = static_cast<unsigned char *>(detail::tree_mem.calloc(1, 1000));
  EXPECT_EQ(again, first); // the block is kept
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(again[i], 0) << "byte " << i;
  detail::tree_mem.free(again);
}

} // namespace
} // namespace vaskit::markdown
