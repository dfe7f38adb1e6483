// Region cropping: keyword boxes cut out of a full-slide image and saved as GIF.
#include "core/fs.hpp"
#include "tools/slidra/slidra.hpp"

#include <cmath>
#include <limits>
#include <memory>
#include <vips/vips8>

namespace vaskit::slidra {

namespace {

using i128 = __int128;

// A crop larger than this is refused: no slide region needs it, and the image would take
// gigabytes of memory.
constexpr i128 kMaxCropPixels = 100'000'000;

std::int64_t saturate(i128 v) {
  constexpr auto lo = std::numeric_limits<std::int64_t>::min();
  constexpr auto hi = std::numeric_limits<std::int64_t>::max();
  return v < lo ? lo : v > hi ? hi : static_cast<std::int64_t>(v);
}

// Truncates toward zero; values beyond 64 bits saturate (NaN counts as 0).
std::int64_t trunc_to_int(double v) {
  if (std::isnan(v))
    return 0;
  if (v >= 9.2e18)
    return std::numeric_limits<std::int64_t>::max();
  if (v <= -9.2e18)
    return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(std::trunc(v));
}

std::string num(std::int64_t v) {
  return std::to_string(v);
}

} // namespace

void ensure_vips() {
  static const bool ready = [] {
    if (VIPS_INIT("vaskit-slidra") != 0)
      throw std::runtime_error("libvips 無法啟動");
    return true;
  }();
  (void)ready;
}

std::pair<std::vector<std::string>, std::int64_t>
crop_slide_targets(const std::string &full_slide_png, const std::vector<BboxRatio> &targets,
                   const std::string &output_dir, std::int64_t padding, std::int64_t start_img_idx,
                   int slide_idx, const Logger *logger) {
  const Logger &_log = logger ? *logger : log();
  std::vector<std::string> cropped_files;
  vips::VImage image;
  std::int64_t img_w = 0, img_h = 0;
  try {
    ensure_vips();
    image = vips::VImage::new_from_file(full_slide_png.c_str());
    img_w = image.width();
    img_h = image.height();
  } catch (const std::exception &e) {
    vips_error_clear();
    _log.error("❌ 無法讀取投影片圖片 " + full_slide_png + ": " + e.what());
    return {cropped_files, start_img_idx};
  }
  // GIF holds no alpha worth keeping and the palette step wants plain RGB.
  if (image.has_alpha())
    image = image.flatten(vips::VImage::option()->set("background", std::vector<double>{255}));
  if (image.bands() == 1)
    image = image.colourspace(VIPS_INTERPRETATION_sRGB);

  std::int64_t current_idx = start_img_idx;
  int r_idx = 0;
  for (const auto &t : targets) {
    ++r_idx;
    const std::string final_crop_img = fs::join(output_dir, "img" + num(current_idx) + "_slide" +
                                                                std::to_string(slide_idx) + ".gif");
    ++current_idx;

    // Right and bottom come from the sum of the ratios, each product truncated before the
    // padding is applied.
    i128 x1 = std::max<i128>(0, i128(trunc_to_int(t.left_r * double(img_w))) - padding);
    i128 y1 = std::max<i128>(0, i128(trunc_to_int(t.top_r * double(img_h))) - padding);
    i128 x2 =
        std::min<i128>(img_w, i128(trunc_to_int((t.left_r + t.width_r) * double(img_w))) + padding);
    i128 y2 =
        std::min<i128>(img_h, i128(trunc_to_int((t.top_r + t.height_r) * double(img_h))) + padding);
    if (x1 > x2)
      std::swap(x1, x2);
    if (y1 > y2)
      std::swap(y1, y2);
    try {
      const i128 w = x2 - x1;
      const i128 h = y2 - y1;
      if (w == 0 || h == 0)
        throw std::runtime_error("裁切區域為空 (" + num(saturate(x1)) + ", " + num(saturate(y1)) +
                                 ", " + num(saturate(x2)) + ", " + num(saturate(y2)) + ")");
      if (w * h > kMaxCropPixels)
        throw std::runtime_error("裁切區域過大 (" + num(saturate(w)) + " x " + num(saturate(h)) +
                                 " 像素，上限為 100000000 像素)");
      vips::VImage cropped_img;
      const bool overlaps = x1 < img_w && x2 > 0 && y1 < img_h && y2 > 0;
      if (!overlaps) {
        // Entirely outside the slide: black, like every outside area.
        cropped_img = vips::VImage::black(int(w), int(h), vips::VImage::option()->set("bands", 3))
                          .cast(VIPS_FORMAT_UCHAR);
      } else {
        // Placing the slide inside a canvas of the box's size fills what lies outside with black.
        cropped_img = image.embed(int(-x1), int(-y1), int(w), int(h),
                                  vips::VImage::option()->set("extend", VIPS_EXTEND_BLACK));
      }
      // Few-colour regions keep their exact colours; no dithering, as for a plain palette
      // conversion.
      // Encoded in memory and written whole, so a failed target leaves no half-written image.
      void *buf = nullptr;
      std::size_t len = 0;
      cropped_img.write_to_buffer(
          ".gif", &buf, &len,
          vips::VImage::option()->set("dither", 0.0)->set("effort", 7)->set("bitdepth", 8));
      const std::unique_ptr<void, void (*)(void *)> owned(buf, g_free);
      fs::write_file_atomic(final_crop_img, std::string_view(static_cast<char *>(buf), len));
      cropped_files.push_back(final_crop_img);
      _log.info("🎉 【第 " + std::to_string(slide_idx) + " 頁區域 " + std::to_string(r_idx) +
                " 裁切成功】已儲存為: " + final_crop_img);
    } catch (const std::exception &e) {
      vips_error_clear();
      _log.error("❌ 裁切第 " + std::to_string(slide_idx) + " 頁區域 " + std::to_string(r_idx) +
                 " 時發生錯誤: " + e.what());
    }
  }
  return {cropped_files, current_idx};
}

} // namespace vaskit::slidra
