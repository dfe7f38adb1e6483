// Test support: small RGB images written and read back pixel by pixel, through libvips (the
// including target links it).
#pragma once

#include <array>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>
#include <vips/vips8>

namespace vaskit::testing {

inline void start_vips() {
  static const bool ready = [] {
    if (VIPS_INIT("vaskit-tests") != 0)
      throw std::runtime_error("libvips did not start");
    return true;
  }();
  (void)ready;
}

using Rgb = std::array<int, 3>;

struct Rect {
  int x, y, w, h;
  Rgb colour;
};

// A white PNG with filled rectangles.
inline void write_png(const std::filesystem::path &p, int w, int h,
                      const std::vector<Rect> &rects = {}) {
  start_vips();
  auto img = (vips::VImage::black(w, h, vips::VImage::option()->set("bands", 3)) + 255)
                 .cast(VIPS_FORMAT_UCHAR);
  for (const auto &r : rects)
    img.draw_rect({double(r.colour[0]), double(r.colour[1]), double(r.colour[2])}, r.x, r.y, r.w,
                  r.h, vips::VImage::option()->set("fill", true));
  img.write_to_file(p.c_str());
}

// An image read back with its pixels in memory.
struct Pixels {
  int width = 0;
  int height = 0;
  int bands = 0;
  std::vector<unsigned char> data;
  Rgb at(int x, int y) const {
    const auto *p = &data[(std::size_t(y) * width + x) * bands];
    return {p[0], p[1], p[2]};
  }
  // Every pixel of the rectangle has exactly this colour.
  bool all(int x0, int y0, int x1, int y1, Rgb c) const {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (at(x, y) != c)
          return false;
    return true;
  }
};

inline Pixels read_pixels(const std::filesystem::path &p) {
  start_vips();
  auto img = vips::VImage::new_from_file(p.c_str(),
                                         vips::VImage::option()->set("access", VIPS_ACCESS_RANDOM));
  if (img.bands() == 1)
    img = img.colourspace(VIPS_INTERPRETATION_sRGB);
  Pixels px;
  px.width = img.width();
  px.height = img.height();
  px.bands = img.bands();
  std::size_t size = 0;
  void *mem = img.cast(VIPS_FORMAT_UCHAR).write_to_memory(&size);
  px.data.assign(static_cast<unsigned char *>(mem), static_cast<unsigned char *>(mem) + size);
  g_free(mem);
  return px;
}

} // namespace vaskit::testing
