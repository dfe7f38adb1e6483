#include "tools/slidra/slidra.hpp"

#include <gtest/gtest.h>

namespace {

using vaskit::slidra::generate_preview_content;

std::string joined(const std::vector<std::string> &lines) {
  std::string s;
  for (std::size_t i = 0; i < lines.size(); ++i)
    s += (i ? "\n" : "") + lines[i];
  return s;
}

const char *kHead =
    "# Image Preview\n\n本文件由 `slidra` 自動產生，供快速預覽所有產出的裁剪影像檔案。\n\n";

TEST(PreviewFile, LaysOutEachImageAndTheTemplateBeforeImageOneOfSlideOne) {
  const std::string text =
      joined(generate_preview_content({"some/where/img1_slide1.gif", "./img/img2_slide3.gif"}));
  const std::string expected =
      std::string(kHead) +
      "```markdown\n"
      "<div style=\"margin:0 30px ; display: flex; justify-content: space-between; align-items: "
      "flex-start; gap: 20px; margin-bottom: 5px;\" markdown=\"1\">\n"
      "<div style=\"margin: 0px 60px; width: 40%;\" markdown=\"1\">\n"
      "\n"
      "</div>\n"
      "\n"
      "<div style=\"margin: 0px -20px; margin-right: auto; width: 40%;\" markdown=\"1\">\n"
      "\n"
      "</div>\n"
      "</div>\n"
      "```\n"
      "\n"
      "#### img1_slide1.gif\n"
      "`![img1_slide1.gif](./img/img1_slide1.gif)`\n"
      "\n"
      "<div style=\"width: 50%;\" markdown=\"1\">\n"
      "\n"
      "![img1_slide1.gif](./img/img1_slide1.gif)\n"
      "\n"
      "</div>\n"
      "\n"
      "#### img2_slide3.gif\n"
      "`![img2_slide3.gif](./img/img2_slide3.gif)`\n"
      "\n"
      "<div style=\"width: 50%;\" markdown=\"1\">\n"
      "\n"
      "![img2_slide3.gif](./img/img2_slide3.gif)\n"
      "\n"
      "</div>\n";
  EXPECT_EQ(text, expected);
}

TEST(PreviewFile, NoTemplateWithoutImageOneOfSlideOne) {
  EXPECT_EQ(joined(generate_preview_content({})),
            std::string(kHead).substr(0, std::string(kHead).size() - 1));
  for (const char *name : {"img1_slide2.gif", "IMG1_slide1.gif", "img11_slide1.gif"}) {
    const std::string text = joined(generate_preview_content({std::string("x/") + name}));
    EXPECT_EQ(text.find("```markdown"), std::string::npos) << name;
    EXPECT_EQ(text, std::string(kHead) + "#### " + name + "\n`![" + name + "](./img/" + name +
                        ")`\n\n<div style=\"width: 50%;\" markdown=\"1\">\n\n![" + name +
                        "](./img/" + name + ")\n\n</div>\n");
  }
}

} // namespace
