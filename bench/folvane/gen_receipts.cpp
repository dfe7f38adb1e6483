// gen_receipts <outdir> <count>
//
// Writes <count> ride receipts ride_0001.pdf ... for the folvane benchmark: Traditional Chinese
// text drawn with cairo in WenQuanYi Micro Hei (an embedded CJK subset per file, as real
// receipts carry), each with its own date, time and amount so that every file gets its own
// standard name. Every tenth receipt has a second page with the trip; every seventh is turned
// (/Rotate 90) and has a crop box. Output is the same on every run.
#include <cairo-pdf.h>
#include <cairo.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr double kWidth = 300;
constexpr double kHeight = 500;

using Page = std::vector<std::string>;

cairo_status_t append(void *closure, const unsigned char *data, unsigned int length) {
  static_cast<std::string *>(closure)->append(reinterpret_cast<const char *>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

std::string draw(const std::vector<Page> &pages) {
  std::string out;
  cairo_surface_t *surface = cairo_pdf_surface_create_for_stream(append, &out, kWidth, kHeight);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, "2024-01-01T00:00:00");
  cairo_t *cr = cairo_create(surface);
  cairo_select_font_face(cr, "WenQuanYi Micro Hei", CAIRO_FONT_SLANT_NORMAL,
                         CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 12);
  for (const auto &page : pages) {
    double y = 40;
    for (const auto &line : page) {
      cairo_move_to(cr, 20, y);
      cairo_show_text(cr, line.c_str());
      y += 22;
    }
    cairo_rectangle(cr, 10, 10, kWidth - 20, kHeight - 20);
    cairo_stroke(cr);
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  auto status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS)
    throw std::runtime_error(std::string("cairo: ") + cairo_status_to_string(status));
  return out;
}

std::string clock_text(int minutes) {
  int h = minutes / 60 % 24, m = minutes % 60;
  const char *half = h < 12 ? "上午" : "下午";
  int h12 = h % 12 == 0 ? 12 : h % 12;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%d:%02d", half, h12, m);
  return buf;
}

std::string thousands(int v) {
  std::string s = std::to_string(v);
  for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3)
    s.insert(static_cast<std::size_t>(i), ",");
  return s;
}

const char *const kPlaces[] = {"台北市松山區敦化北路100號", "台北市內湖區瑞光路188號",
                               "台北市信義區松仁路100號",   "新北市深坑區北深路三段155號",
                               "台北市內湖區港墘路221號",   "臺北市中山區南京東路二段100號",
                               "新北市板橋區文化路一段50號"};

void write_receipt(const std::filesystem::path &path, int i) {
  int month = 1 + i % 12, day = 1 + (i / 12) % 28;
  int end = 6 * 60 + (i * 37) % (16 * 60); // trip end, minutes after midnight
  int total = 120 + 7 * i;                 // unique per receipt, so names never collide
  std::string date = "2024年" + std::to_string(month) + "月" + std::to_string(day) + "日";
  Page head = {"感謝您搭乘 Uber，王小明", date + " " + clock_text(end),
               "總計 NT$" + thousands(total), "車資 NT$" + thousands(total - 20)};
  Page trip = {"行程詳細資訊",
               clock_text(end - 25),
               kPlaces[i % 7],
               clock_text(end),
               kPlaces[(i + 3) % 7],
               "由 陳大文 駕駛，車輛年份 2019",
               "駕駛執業登記證號 123456",
               "Apple Pay •••• 1234 款項已收取"};
  std::vector<Page> pages;
  if (i % 10 == 9) {
    pages = {head, trip};
  } else {
    head.insert(head.end(), trip.begin(), trip.end());
    pages = {head};
  }
  std::string pdf = draw(pages);
  QPDF q;
  q.processMemoryFile(path.filename().string().c_str(), pdf.data(), pdf.size());
  if (i % 7 == 6) {
    for (auto &page : QPDFPageDocumentHelper(q).getAllPages()) {
      page.getObjectHandle().replaceKey("/Rotate", QPDFObjectHandle::newInteger(90));
      page.getObjectHandle().replaceKey(
          "/CropBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(5, 5, 295, 495)));
    }
  }
  const std::string name = path.string(); // QPDFWriter keeps the pointer
  QPDFWriter w(q, name.c_str());
  w.setStaticID(true);
  w.write();
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gen_receipts <outdir> <count>\n");
    return 2;
  }
  try {
    std::filesystem::path dir = argv[1];
    int count = std::stoi(argv[2]);
    std::filesystem::create_directories(dir);
    for (int i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "ride_%04d.pdf", i + 1);
      write_receipt(dir / name, i);
    }
  } catch (const std::exception &e) {
    std::fprintf(stderr, "gen_receipts: %s\n", e.what());
    return 1;
  }
  return 0;
}
