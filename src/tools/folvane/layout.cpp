// Grid geometry of the merged report: cell size, the place of one receipt page in its cell, the
// transformation that draws it there, and the red debug frame round a cell.
#include "tools/folvane/folvane.hpp"

#include <cstdio>
#include <string>

namespace vaskit::folvane {

std::pair<double, double> Folvaner::calculate_cell_layout() const {
  // The constructor rejects these already; the fields are public, so check before dividing.
  if (cols <= 0) {
    throw ConfigError("layout.cols", "a positive integer", cols);
  }
  if (rows <= 0) {
    throw ConfigError("layout.rows", "a positive integer", rows);
  }
  double usable_w = page_width - 2 * margin;
  double usable_h = page_height - 2 * margin;
  return {usable_w / static_cast<double>(cols), usable_h / static_cast<double>(rows)};
}

std::optional<LayoutParams>
Folvaner::_get_layout_params(const pdf::SourcePage &source_page,
                             const std::array<double, 4> &target_rect) const {
  const auto [x, y, cell_w, cell_h] = target_rect;
  // Compared as stored: -90 or 450 are not quarter turns here.
  double rot = source_page.rotate();
  pdf::Box box = source_page.cropbox();
  bool quarter = rot == 90 || rot == 270;
  double src_w = quarter ? box.height : box.width;
  double src_h = quarter ? box.width : box.height;
  if (src_w == 0 || src_h == 0) {
    return std::nullopt;
  }
  double scale_w = cell_w / src_w;
  double scale_h = cell_h / src_h;
  double scale = (scale_h < scale_w ? scale_h : scale_w) * 0.95;
  double final_w = src_w * scale;
  double final_h = src_h * scale;
  LayoutParams p;
  p.scale = scale;
  p.tx = x + (cell_w - final_w) / 2;
  p.ty = y + (cell_h - final_h) / 2;
  p.rot = rot;
  p.x0 = box.left;
  p.y0 = box.bottom;
  p.src_w = src_w;
  p.src_h = src_h;
  return p;
}

// After the turn the page must lie in (0, 0)..(src_w, src_h): a clockwise quarter turn puts it
// below the x axis (shift up by its displayed height), three quarters left of the y axis (shift
// right by its displayed width).
pdf::Matrix placement(const LayoutParams &p) {
  pdf::Matrix op = pdf::Matrix{}.translate(-p.x0, -p.y0);
  if (p.rot == 90) {
    op = op.rotate(-90).translate(0, p.src_h);
  } else if (p.rot == 180) {
    op = op.rotate(-180).translate(p.src_w, p.src_h);
  } else if (p.rot == 270) {
    op = op.rotate(-270).translate(p.src_w, 0);
  }
  return op.scale(p.scale, p.scale).translate(p.tx, p.ty);
}

pdf::Page Folvaner::_create_red_frame_page(double x, double y, double w, double h) {
  pdf::Page page = writer.create_blank_page(page_width, page_height);
  char ops[512];
  std::snprintf(ops, sizeof ops, "q 1 0 0 RG 2 w %.2f %.2f %.2f %.2f re S Q", x, y, w, h);
  page.set_contents(ops);
  return page;
}

} // namespace vaskit::folvane
