// Region cropping: keyword boxes cut out of a full-slide image and saved as GIF.
#include "core/fs.hpp"
#include "core/interrupt.hpp"
#include "core/text.hpp"
#include "tools/slidra/slidra.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <gif_lib.h>
#include <limits>
#include <memory>
#include <optional>
#include <vips/vips8>

namespace vaskit::slidra {

namespace {

using i128 = __int128;

// A crop larger than this is refused: no slide region needs it, and the image would take
// gigabytes of memory.
constexpr i128 kMaxCropPixels = 100'000'000;
constexpr i128 kMaxGifSide = 65535;
// Paddings beyond a billion pixels give boxes far over the limits above either way; bounded, the
// edges stay within 66 bits and every comparison below is exact.
constexpr std::int64_t kMaxPadding = 1'000'000'000;

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

// The image library ends its messages with a line break; a log line holds one line.
std::string error_text(const std::exception &e) {
  return text::rstrip(e.what());
}

std::string num(std::int64_t v) {
  return std::to_string(v);
}

std::string gif_error(int code) {
  const char *text = GifErrorString(code);
  return std::string("GIF: ") + (text ? text : "error " + std::to_string(code));
}

int gif_write(GifFileType *gif, const GifByteType *data, int len) {
  static_cast<std::string *>(gif->UserData)->append(reinterpret_cast<const char *>(data), len);
  return len;
}

// The region as a GIF whose palette is exactly its colours, or nullopt when it has more than
// 256. Slide regions are mostly flat colour: this keeps every colour and is several times faster
// than a quantizer.
std::optional<std::string> exact_palette_gif(const vips::VImage &region) {
  const int w = region.width();
  const int h = region.height();
  std::size_t size = 0;
  const std::unique_ptr<void, void (*)(void *)> mem(region.write_to_memory(&size), g_free);
  const auto *px = static_cast<const unsigned char *>(mem.get());
  if (size != std::size_t(w) * std::size_t(h) * 3)
    return std::nullopt;

  // Open addressing over 1024 slots; a colour is 24 bits, so 0xFFFFFFFF marks an empty slot.
  constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  std::array<std::uint32_t, 1024> keys;
  std::array<GifByteType, 1024> slots{};
  keys.fill(kEmpty);
  std::vector<GifColorType> colours;
  std::vector<GifByteType> indices(std::size_t(w) * std::size_t(h));
  std::uint32_t last = kEmpty;
  GifByteType last_index = 0;
  for (std::size_t i = 0; i < indices.size(); ++i) {
    const std::uint32_t c = std::uint32_t(px[3 * i]) << 16 | std::uint32_t(px[3 * i + 1]) << 8 |
                            std::uint32_t(px[3 * i + 2]);
    if (c != last) {
      std::size_t slot = (c * 2654435761u) >> 22;
      while (keys[slot] != kEmpty && keys[slot] != c)
        slot = (slot + 1) & 1023;
      if (keys[slot] == kEmpty) {
        if (colours.size() == 256)
          return std::nullopt;
        keys[slot] = c;
        slots[slot] = static_cast<GifByteType>(colours.size());
        colours.push_back({static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                           static_cast<GifByteType>(c)});
      }
      last = c;
      last_index = slots[slot];
    }
    indices[i] = last_index;
  }
  int bits = 1;
  while ((std::size_t(1) << bits) < colours.size())
    ++bits;
  colours.resize(std::size_t(1) << bits, GifColorType{0, 0, 0});

  std::string out;
  int err = 0;
  GifFileType *gif = EGifOpen(&out, gif_write, &err);
  if (!gif)
    throw std::runtime_error(gif_error(err));
  ColorMapObject *map = GifMakeMapObject(1 << bits, colours.data());
  bool ok = map && EGifPutScreenDesc(gif, w, h, bits, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < h; ++y)
    ok = EGifPutLine(gif, indices.data() + std::size_t(y) * std::size_t(w), w) == GIF_OK;
  const int write_error = gif->Error;
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &err) != GIF_OK || !ok)
    throw std::runtime_error(gif_error(ok ? err : write_error));
  return out;
}

// An adaptive palette of at most 256 colours without dithering; few colours stay exact.
std::string encode_gif(const vips::VImage &region) {
  if (auto exact = exact_palette_gif(region))
    return std::move(*exact);
  void *buf = nullptr;
  std::size_t len = 0;
  region.write_to_buffer(
      ".gif", &buf, &len,
      vips::VImage::option()->set("dither", 0.0)->set("effort", 7)->set("bitdepth", 8));
  const std::unique_ptr<void, void (*)(void *)> owned(buf, g_free);
  return std::string(static_cast<char *>(buf), len);
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
    // GIF holds no alpha worth keeping and the palette step wants plain 8-bit RGB.
    if (image.has_alpha())
      image = image.flatten(vips::VImage::option()->set("background", std::vector<double>{255}));
    if (image.bands() != 3 || image.interpretation() != VIPS_INTERPRETATION_sRGB)
      image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.format() != VIPS_FORMAT_UCHAR)
      image = image.cast(VIPS_FORMAT_UCHAR);
    // Decoded once here, for every region of the slide; a damaged image is reported now.
    image = image.copy_memory();
    img_w = image.width();
    img_h = image.height();
  } catch (const std::exception &e) {
    vips_error_clear();
    _log.error("❌ 無法讀取投影片圖片 " + full_slide_png + ": " + error_text(e));
    return {cropped_files, start_img_idx};
  }
  const i128 pad = std::clamp(padding, -kMaxPadding, kMaxPadding);
  std::int64_t current_idx = start_img_idx;
  int r_idx = 0;
  for (const auto &t : targets) {
    ++r_idx;
    const std::string final_crop_img = fs::join(output_dir, "img" + num(current_idx) + "_slide" +
                                                                std::to_string(slide_idx) + ".gif");
    ++current_idx;

    // Right and bottom come from the sum of the ratios, each product truncated before the
    // padding is applied.
    i128 x1 = std::max<i128>(0, i128(trunc_to_int(t.left_r * double(img_w))) - pad);
    i128 y1 = std::max<i128>(0, i128(trunc_to_int(t.top_r * double(img_h))) - pad);
    i128 x2 =
        std::min<i128>(img_w, i128(trunc_to_int((t.left_r + t.width_r) * double(img_w))) + pad);
    i128 y2 =
        std::min<i128>(img_h, i128(trunc_to_int((t.top_r + t.height_r) * double(img_h))) + pad);
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
      // Each side first: two sides of 2^64 pixels would overflow the product.
      if (w > kMaxCropPixels || h > kMaxCropPixels || w * h > kMaxCropPixels)
        throw std::runtime_error("裁切區域過大 (" + num(saturate(w)) + " x " + num(saturate(h)) +
                                 " 像素，上限為 100000000 像素)");
      // A GIF stores each side in 16 bits: a longer side would be written cut short.
      if (w > kMaxGifSide || h > kMaxGifSide)
        throw std::runtime_error("裁切區域過大 (" + num(saturate(w)) + " x " + num(saturate(h)) +
                                 " 像素，GIF 每邊上限為 65535 像素)");
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
      // Encoded in memory and written whole, so a failed target leaves no half-written image;
      // an interrupt waits until it is in place.
      const std::string gif = encode_gif(cropped_img);
      {
        const interrupt::Hold hold;
        fs::write_file_atomic(final_crop_img, gif);
      }
      cropped_files.push_back(final_crop_img);
      _log.info("🎉 【第 " + std::to_string(slide_idx) + " 頁區域 " + std::to_string(r_idx) +
                " 裁切成功】已儲存為: " + final_crop_img);
    } catch (const std::exception &e) {
      vips_error_clear();
      _log.error("❌ 裁切第 " + std::to_string(slide_idx) + " 頁區域 " + std::to_string(r_idx) +
                 " 時發生錯誤: " + error_text(e));
    }
  }
  return {cropped_files, current_idx};
}

} // namespace vaskit::slidra
