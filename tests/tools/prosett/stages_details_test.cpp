#include "tools/prosett/stages.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vaskit::prosett {
namespace {

struct DetailsCase {
  const char *name;
  std::string md;
  std::string want;
};

class DetailsRepair : public ::testing::TestWithParam<DetailsCase> {};

TEST_P(DetailsRepair, Rewrites) {
  EXPECT_EQ(preprocess_details_and_lists(GetParam().md), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetailsRepair,
    ::testing::Values(
        DetailsCase{"AttributeGoesFirst", "<details open>", "<details markdown=\"1\" open>"},
        DetailsCase{"CapitalsLowered", "<DETAILS>", "<details markdown=\"1\">"},
        DetailsCase{"MarkdownAttributeKept", "<details markdown=\"0\">",
                    "<details markdown=\"0\">"},
        DetailsCase{"PlainTagThenSummary", "<details><summary>S</summary>",
                    "<details markdown=\"1\"><summary>S</summary>"},
        DetailsCase{"PlainTagLineBreakIndent", "<details>\n  <summary>S</summary>",
                    "<details markdown=\"1\">\n<summary>S</summary>"},
        // A tag with attributes opens its summary's element too: no second, unclosed one.
        DetailsCase{"OpenTagThenSummary", "<details open>\n<summary>S</summary>\nx\n</details>",
                    "<details markdown=\"1\" open>\n<summary>S</summary>\nx\n</details>"},
        DetailsCase{"OpenTagDirectlyThenSummary", "<details open><summary>S</summary>",
                    "<details markdown=\"1\" open><summary>S</summary>"},
        DetailsCase{"OtherMarkdownValueThenSummary",
                    "<details markdown=\"0\">\n  <summary>S</summary>",
                    "<details markdown=\"0\">\n<summary>S</summary>"},
        DetailsCase{"LoneSummaryGetsDetails", "Para\n\n<summary>S</summary>\nbody\n</details>",
                    "Para\n<details markdown=\"1\">\n<summary>S</summary>\nbody\n</details>"},
        DetailsCase{"SummaryAfterClosedDetails",
                    "<details><summary>A</summary></details>\n<SUMMARY>B</SUMMARY>",
                    "<details markdown=\"1\"><summary>A</summary></details>\n<details "
                    "markdown=\"1\">\n<SUMMARY>B</SUMMARY>"},
        DetailsCase{"BulletsAfterParagraph", "Para\n- a\n- b\n  + c",
                    "Para\n\n- a\n\n- b\n\n  + c"},
        DetailsCase{"NumbersAfterParagraph", "Para\n1. a\n10. b", "Para\n\n1. a\n\n10. b"},
        DetailsCase{"AlreadyBlank", "Para\n\n- a", "Para\n\n- a"},
        DetailsCase{"NotListStarts", "Para\n  1. a\n-a\n**b**\n*c", "Para\n  1. a\n-a\n**b**\n*c"},
        DetailsCase{"CrLf", "Para\r\n- a", "Para\r\n\n- a"},
        // Code is left as written.
        DetailsCase{"FencedCodeUntouched",
                    "Para\n```\nx\n- y\n<details>\n<summary>s</summary>\n```\n- z",
                    "Para\n```\nx\n- y\n<details>\n<summary>s</summary>\n```\n- z"},
        DetailsCase{"CodeInListItemUntouched", "- a\n  ```\n  b\n  - c\n  ```\n",
                    "- a\n  ```\n  b\n  - c\n  ```\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DetailsRepairScan, SameMatchesAsAPlainScan) {
  // Expected values from Python's re with the same patterns and replacements: the scans that
  // try the patterns only where a match can begin must find exactly the plain scan's matches
  // (list markers right after a replaced one, white space of other kinds before a summary,
  // case-folded tags, tags without white space before them).
  const std::pair<std::string, std::string> cases[] = {
      {"text\n- \n- item\n", "text\n\n- \n- item\n"},
      {"漢\n- x\n1. \n2. d\n", "漢\n\n- x\n\n1. \n2. d\n"},
      {"\n- x\nx\n\n- y\n", "\n- x\nx\n\n- y\n"},
      {"x\n  * y\n\t+ z\nx\n１２. y\nx\n-y\n", "x\n\n  * y\n\n\t+ z\nx\n\n１２. y\nx\n-y\n"},
      {"<details>　<summary>S</summary>\nbody\n</details>\n",
       "<details markdown=\"1\">\n<summary>S</summary>\nbody\n</details>\n"},
      {"<details><summary>S</summary>\n- a\n</details>\n",
       "<details markdown=\"1\"><summary>S</summary>\n\n- a\n</details>\n"},
      {"<details open>\n \t<SUMMARY>S</Summary>\nbody\n</details>\n",
       "<details markdown=\"1\" open>\n<SUMMARY>S</Summary>\nbody\n</details>\n"},
      {"text  <summary>x</summary> and \x1c"
       " <summary>y</summary>\n",
       "text\n<details markdown=\"1\">\n<summary>x</summary> and\n<details "
       "markdown=\"1\">\n<summary>y</summary>\n"},
      {"<summary>a</summary><summary>b</summary>\n<details "
       "markdown=\"1\">\n\n<summary>c</summary>\n",
       "\n<details markdown=\"1\">\n<summary>a</summary>\n<details "
       "markdown=\"1\">\n<summary>b</summary>\n<details markdown=\"1\">\n<summary>c</summary>\n"},
      {"a <summary>x</summary>\n- item\nz\n- q\n",
       "a\n<details markdown=\"1\">\n<summary>x</summary>\n\n- item\nz\n\n- q\n"},
      {"<details>\n\n\n<summary>unterminated\n- a\nb\n- c\n",
       "<details markdown=\"1\">\n\n\n<summary>unterminated\n\n- a\nb\n\n- c\n"},
      {"x <ſummary>k</summary>\n", "x\n<details markdown=\"1\">\n<ſummary>k</summary>\n"},
  };
  for (const auto &[in, want] : cases)
    EXPECT_EQ(preprocess_details_and_lists(in), want) << in;
}

} // namespace
} // namespace vaskit::prosett
