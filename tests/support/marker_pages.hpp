// Test support: PDF pages whose orientation can be seen in a rendering, and a small reader of
// pdftoppm output. Header-only; shared by the N-up library tests and the report tests.
//
// A marker page fills its media box grey (seen only when clipping to the crop box fails), its
// visible area yellow, and draws a red square at the corner that a viewer shows top-left,
// whatever the page's /Rotate. Optional text (Helvetica) lets the receipt reader find a date,
// time and amount; it is black, so that its anti-aliased edges never look grey.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace vaskit::testing {

struct MarkerPage {
  std::array<double, 4> media{0, 0, 300, 600}; // llx lly urx ury
  std::optional<std::array<double, 4>> crop;   // as written, corners in any order
  std::optional<double> rotate;                // /Rotate entry; none when absent
  std::string text;                            // drawn in the middle of the visible area
  double marker = 60;                          // side of the red square
};

inline std::string pdf_num(double v) {
  std::ostringstream s;
  s.precision(10);
  s << v;
  return s.str();
}

// Content stream of a marker page.
inline std::string marker_content(const MarkerPage &p) {
  auto box = p.crop.value_or(p.media);
  double x0 = std::min(box[0], box[2]), x1 = std::max(box[0], box[2]);
  double y0 = std::min(box[1], box[3]), y1 = std::max(box[1], box[3]);
  double s = p.marker;
  // The user-space corner that a viewer shows top-left, for each quarter turn.
  double mx = x0, my = y1 - s;
  int r = static_cast<int>(p.rotate.value_or(0));
  if (r == 90) {
    mx = x0, my = y0;
  } else if (r == 180) {
    mx = x1 - s, my = y0;
  } else if (r == 270) {
    mx = x1 - s, my = y1 - s;
  }
  auto rect = [](double x, double y, double w, double h) {
    return pdf_num(x) + " " + pdf_num(y) + " " + pdf_num(w) + " " + pdf_num(h) + " re f\n";
  };
  std::string c;
  c += "0.5 g\n" + rect(p.media[0], p.media[1], p.media[2] - p.media[0], p.media[3] - p.media[1]);
  c += "1 1 0 rg\n" + rect(x0, y0, x1 - x0, y1 - y0);
  c += "1 0 0 rg\n" + rect(mx, my, s, s);
  if (!p.text.empty()) {
    c += "0 g\nBT /F1 8 Tf " + pdf_num(x0 + 4) + " " + pdf_num((y0 + y1) / 2) + " Td (" + p.text +
         ") Tj ET\n";
  }
  return c;
}

inline QPDFObjectHandle pdf_rect(const std::array<double, 4> &r) {
  auto a = QPDFObjectHandle::newArray();
  for (double v : r)
    a.appendItem(QPDFObjectHandle::newReal(pdf_num(v)));
  return a;
}

// Writes the pages as one PDF. `version` is the header version.
inline void write_marker_pdf(const std::filesystem::path &path,
                             const std::vector<MarkerPage> &pages,
                             const std::string &version = "1.4") {
  QPDF q;
  q.emptyPDF();
  auto font = q.makeIndirectObject(
      QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
                              "/Encoding /WinAnsiEncoding >>"));
  for (const auto &p : pages) {
    auto dict = QPDFObjectHandle::newDictionary();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    dict.replaceKey("/MediaBox", pdf_rect(p.media));
    if (p.crop)
      dict.replaceKey("/CropBox", pdf_rect(*p.crop));
    if (p.rotate)
      dict.replaceKey("/Rotate", QPDFObjectHandle::newReal(pdf_num(*p.rotate)));
    auto fonts = QPDFObjectHandle::newDictionary();
    fonts.replaceKey("/F1", font);
    auto res = QPDFObjectHandle::newDictionary();
    res.replaceKey("/Font", fonts);
    dict.replaceKey("/Resources", res);
    dict.replaceKey("/Contents", q.newStream(marker_content(p)));
    QPDFPageDocumentHelper(q).addPage(QPDFPageObjectHelper(q.makeIndirectObject(dict)), false);
  }
  const std::string name = path.string(); // QPDFWriter keeps the pointer
  QPDFWriter w(q, name.c_str());
  w.setStaticID(true);
  w.setMinimumPDFVersion(version);
  w.write();
}

// Runs a command line (test-controlled arguments only); its exit status.
inline int run_command(const std::string &cmd) {
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128;
}

// An RGB raster as pdftoppm writes it (binary PPM).
struct Image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
  std::array<int, 3> at(int x, int y) const {
    std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

// Page `page` (1-based) of `pdf` at 72 dpi: one pixel per point, y from the top.
inline Image render_page(const std::filesystem::path &pdf, int page) {
  auto prefix = pdf.parent_path() / ("render-" + pdf.stem().string() + "-" + std::to_string(page));
  std::string cmd = "pdftoppm -aa no -aaVector no -r 72 -f " + std::to_string(page) + " -l " +
                    std::to_string(page) + " -singlefile '" + pdf.string() + "' '" +
                    prefix.string() + "'";
  if (run_command(cmd) != 0)
    throw std::runtime_error("pdftoppm failed: " + cmd);
  auto file = prefix.string() + ".ppm";
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int maxval = 0;
  Image img;
  in >> magic >> img.width >> img.height >> maxval;
  in.get();
  if (magic != "P6" || maxval != 255)
    throw std::runtime_error("unexpected raster " + file);
  img.rgb.resize(static_cast<std::size_t>(img.width) * img.height * 3);
  in.read(reinterpret_cast<char *>(img.rgb.data()), static_cast<std::streamsize>(img.rgb.size()));
  std::filesystem::remove(file);
  return img;
}

inline bool is_red(const std::array<int, 3> &c) {
  return c[0] > 200 && c[1] < 80 && c[2] < 80;
}
inline bool is_grey(const std::array<int, 3> &c) {
  return c[0] > 100 && c[0] < 160 && c[1] > 100 && c[1] < 160 && c[2] > 100 && c[2] < 160;
}
inline bool is_ink(const std::array<int, 3> &c) {
  return c[0] < 240 || c[1] < 240 || c[2] < 240;
}

// Pixel bounds [x0, x1) x [y0, y1) of the pixels that satisfy `pred` inside the region.
struct PixelBox {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool empty() const { return x1 <= x0 || y1 <= y0; }
};

template <class Pred>
PixelBox find_pixels(const Image &img, Pred pred, int rx0 = 0, int ry0 = 0, int rx1 = -1,
                     int ry1 = -1) {
  if (rx1 < 0)
    rx1 = img.width;
  if (ry1 < 0)
    ry1 = img.height;
  PixelBox b{rx1, ry1, rx0, ry0};
  for (int y = std::max(ry0, 0); y < std::min(ry1, img.height); ++y)
    for (int x = std::max(rx0, 0); x < std::min(rx1, img.width); ++x)
      if (pred(img.at(x, y))) {
        b.x0 = std::min(b.x0, x);
        b.y0 = std::min(b.y0, y);
        b.x1 = std::max(b.x1, x + 1);
        b.y1 = std::max(b.y1, y + 1);
      }
  return b;
}

// The decoded content stream of page `page` (0-based) of a PDF file.
inline std::string page_contents(const std::filesystem::path &pdf, std::size_t page) {
  QPDF q;
  q.processFile(pdf.string().c_str());
  auto pages = QPDFPageDocumentHelper(q).getAllPages();
  auto data = pages.at(page).getObjectHandle().getKey("/Contents").getStreamData(qpdf_dl_all);
  return std::string(reinterpret_cast<const char *>(data->getBuffer()), data->getSize());
}

// The operands of every "cm" operator of a content stream, in order.
inline std::vector<std::array<double, 6>> cm_matrices(const std::string &content) {
  std::istringstream in(content);
  std::vector<std::string> toks;
  std::vector<std::array<double, 6>> out;
  for (std::string t; in >> t;) {
    if (t == "cm" && toks.size() >= 6) {
      std::array<double, 6> m{};
      for (int i = 0; i < 6; ++i)
        m[i] = std::stod(toks[toks.size() - 6 + i]);
      out.push_back(m);
    }
    toks.push_back(t);
  }
  return out;
}

// Pixels that satisfy `pred` together with their eight neighbours: areas, not the one-pixel
// seams a rasterizer may leave where a fill meets a clip edge.
template <class Pred> int count_solid(const Image &img, Pred pred) {
  int n = 0;
  for (int y = 1; y + 1 < img.height; ++y)
    for (int x = 1; x + 1 < img.width; ++x) {
      bool all = true;
      for (int dy = -1; dy <= 1 && all; ++dy)
        for (int dx = -1; dx <= 1 && all; ++dx)
          all = pred(img.at(x + dx, y + dy));
      n += all;
    }
  return n;
}

} // namespace vaskit::testing
