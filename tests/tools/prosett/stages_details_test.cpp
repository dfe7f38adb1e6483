#include "tools/prosett/stages.hpp"

#include <gtest/gtest.h>

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

} // namespace
} // namespace vaskit::prosett
