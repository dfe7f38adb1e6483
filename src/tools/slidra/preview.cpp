// The Markdown preview of a run's cropped images.
#include "core/fs.hpp"
#include "tools/slidra/slidra.hpp"

namespace vaskit::slidra {

namespace {

// Ready to copy: two images side by side.
const std::string LAYOUT_TEMPLATE =
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
    "```\n";

} // namespace

std::vector<std::string> generate_preview_content(const std::vector<std::string> &cropped_images) {
  std::vector<std::string> lines{
      "# Image Preview\n",
      "本文件由 `slidra` 自動產生，供快速預覽所有產出的裁剪影像檔案。\n",
  };
  for (const auto &path : cropped_images) {
    const std::string base_name = fs::basename(path);
    const std::string rel_img_path = "./img/" + base_name;
    const std::string image_ref = "![" + base_name + "](" + rel_img_path + ")";
    if (base_name == "img1_slide1.gif")
      lines.push_back(LAYOUT_TEMPLATE);
    lines.push_back("#### " + base_name);
    lines.push_back("`" + image_ref + "`");
    lines.push_back("");
    lines.push_back("<div style=\"width: 50%;\" markdown=\"1\">");
    lines.push_back("");
    lines.push_back(image_ref);
    lines.push_back("");
    lines.push_back("</div>");
    lines.push_back("");
  }
  return lines;
}

} // namespace vaskit::slidra
