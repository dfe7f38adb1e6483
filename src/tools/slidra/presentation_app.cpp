// The presentation application on this platform: LibreOffice converts the deck to PDF once,
// poppler renders the chosen pages at the requested width.
#include "core/fs.hpp"
#include "core/interrupt.hpp"
#include "core/process.hpp"
#include "core/text.hpp"
#include "tools/slidra/slidra.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vips/vips8>

namespace vaskit::slidra {

namespace stdfs = std::filesystem;

int slide_height_pixels(int width, const pptx::Size &size) {
  const double h = std::round(double(width) * double(size.cy) / double(size.cx));
  return static_cast<int>(std::clamp(h, 1.0, 1e6));
}

namespace {

using namespace std::chrono_literals;

// LibreOffice needs a few seconds per deck; a conversion still running after this long hangs.
constexpr auto kConvertTimeout = 600s;

// Largest page image: 20000 x 15000 pixels, so that the widest allowed image of a 4:3 or 16:9
// slide is drawn; only decks of extreme shape go beyond it.
constexpr std::uint64_t kMaxPagePixels = 300'000'000;
// Memory for the pages being drawn at the same time.
constexpr std::uint64_t kRenderBudget = 1536ull << 20;

// Hidden slides are exported too, so that page n is always slide n.
const char *kPdfFilter =
    R"(pdf:impress_pdf_Export:{"ExportHiddenSlides":{"type":"boolean","value":"true"}})";

void quiet_poppler(const std::string &, void *) {}

// MD5 of `data` (RFC 1321).
std::array<unsigned char, 16> md5(std::string_view data) {
  static const std::uint32_t k[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
      0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
      0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
      0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
      0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
      0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
      0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
      0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
      0xeb86d391};
  static const int r[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  std::string msg(data);
  const std::uint64_t bits = std::uint64_t(data.size()) * 8;
  msg += static_cast<char>(0x80);
  while (msg.size() % 64 != 56)
    msg += '\0';
  for (int i = 0; i < 8; ++i)
    msg += static_cast<char>((bits >> (8 * i)) & 0xff);
  std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (std::size_t off = 0; off < msg.size(); off += 64) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
      w[i] = 0;
      for (int b = 0; b < 4; ++b)
        w[i] |= std::uint32_t(static_cast<unsigned char>(msg[off + 4 * i + b])) << (8 * b);
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      const std::uint32_t sum = a + f + k[i] + w[g];
      a = d;
      d = c;
      c = b;
      b += (sum << r[i]) | (sum >> (32 - r[i]));
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
  }
  std::array<unsigned char, 16> digest{};
  for (int i = 0; i < 16; ++i)
    digest[i] = static_cast<unsigned char>(h[i / 4] >> (8 * (i % 4)));
  return digest;
}

// The socket by which LibreOffice finds an office already running on the profile `profile_url`:
// always in /tmp (its TMPDIR is not used), named after the user and a digest of the profile's
// URL as UTF-16, each byte in hex without leading zeros. An office that is ended rather than
// left to finish keeps it there.
std::string office_pipe(const std::string &profile_url) {
  std::string utf16;
  for (const char c : profile_url) { // the URL is ASCII: every other byte is escaped
    utf16 += c;
    utf16 += '\0';
  }
  static const char *hex = "0123456789abcdef";
  std::string name = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_SingleOfficeIPC_";
  for (const unsigned char b : md5(utf16)) {
    if (b >= 16)
      name += hex[b >> 4];
    name += hex[b & 15];
  }
  return name;
}

// file:// URL of an absolute path, every byte outside the unreserved set escaped.
std::string file_url(const stdfs::path &p) {
  static const char *hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (const unsigned char c : p.string()) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

// LibreOffice's own reason ("Error: source file could not be loaded"), wherever it printed it.
std::string soffice_error(const process::Outcome &st) {
  std::string found;
  for (const std::string *stream : {&st.out, &st.err}) {
    std::size_t start = 0;
    while (start < stream->size()) {
      std::size_t end = stream->find('\n', start);
      if (end == std::string::npos)
        end = stream->size();
      std::string line = stream->substr(start, end - start);
      while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
      if (line.starts_with("Error:"))
        found = line;
      start = end + 1;
    }
  }
  return found;
}

// Renders one page exactly `width` x `height` pixels; returns its RGB bytes.
std::vector<unsigned char> render_rgb(const poppler::document &doc, int page_index, int width,
                                      int height) {
  std::unique_ptr<poppler::page> page(doc.create_page(page_index));
  if (!page)
    throw std::runtime_error("PDF 第 " + std::to_string(page_index + 1) + " 頁無法讀取");
  const poppler::rectf box = page->page_rect(poppler::media_box);
  if (box.width() <= 0 || box.height() <= 0)
    throw std::runtime_error("PDF 第 " + std::to_string(page_index + 1) + " 頁沒有大小");
  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
  renderer.set_image_format(poppler::image::format_argb32);
  // The page is stretched to the exact pixel size: its rounded point size must not change the
  // image height the slide size calls for.
  const double xres = double(width) * 72.0 / box.width();
  const double yres = double(height) * 72.0 / box.height();
  const poppler::image img = renderer.render_page(page.get(), xres, yres, 0, 0, width, height);
  if (!img.is_valid() || img.width() != width || img.height() != height)
    throw std::runtime_error("PDF 第 " + std::to_string(page_index + 1) + " 頁繪製失敗");
  // argb32 is one native-endian word per pixel: bytes B, G, R, A here.
  std::vector<unsigned char> rgb(std::size_t(width) * std::size_t(height) * 3);
  const char *data = img.const_data();
  for (int y = 0; y < height; ++y) {
    const auto *row =
        reinterpret_cast<const unsigned char *>(data + std::size_t(y) * img.bytes_per_row());
    unsigned char *dst = rgb.data() + std::size_t(y) * std::size_t(width) * 3;
    for (int x = 0; x < width; ++x) {
      dst[3 * x] = row[4 * x + 2];
      dst[3 * x + 1] = row[4 * x + 1];
      dst[3 * x + 2] = row[4 * x];
    }
  }
  return rgb;
}

// One page as PNG bytes. The page bitmap is released when the PNG is encoded, so a 4800-pixel
// page costs about 90 MB at its peak.
std::string render_page(const poppler::document &doc, int page_index, int width, int height) {
  std::vector<unsigned char> rgb = render_rgb(doc, page_index, width, height);
  auto image =
      vips::VImage::new_from_memory(rgb.data(), rgb.size(), width, height, 3, VIPS_FORMAT_UCHAR);
  void *buf = nullptr;
  std::size_t len = 0;
  image.write_to_buffer(".png", &buf, &len, vips::VImage::option()->set("compression", 1));
  const std::unique_ptr<void, void (*)(void *)> owned(buf, g_free);
  return std::string(static_cast<char *>(buf), len);
}

bool png_has_width(const std::string &path, int width) {
  try {
    return vips::VImage::new_from_file(path.c_str()).width() == width;
  } catch (const std::exception &) {
    vips_error_clear();
    return false;
  }
}

// Draws the pages `slides` of the PDF into `outputs`; returns each page's error ("" when it was
// written). Pages are drawn on worker threads, at most four and no more than `by_memory` at
// once; the calling thread writes each image as it comes, inside an interrupt Hold, so that an
// interrupt never finds one half written and the workers create no file at all.
std::vector<std::string> draw_pages(const std::string &pdf_path, const std::vector<int> &slides,
                                    const std::vector<std::string> &outputs, int width, int height,
                                    std::size_t page_count, std::size_t by_memory) {
  std::vector<std::string> errors(slides.size());
  if (slides.empty())
    return errors;
  const std::size_t threads = std::clamp<std::size_t>(
      std::min<std::size_t>({std::thread::hardware_concurrency(), 4, by_memory}), 1, slides.size());
  {
    // poppler sets up its shared colour profile, without a lock, when it first draws a page: one
    // tiny drawing here comes first, so that the workers never race to set it up.
    const std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf_path));
    const std::unique_ptr<poppler::page> page(doc ? doc->create_page(0) : nullptr);
    if (page)
      poppler::page_renderer().render_page(page.get(), 1, 1, 0, 0, 1, 1);
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::pair<std::size_t, std::string>> drawn; // pages waiting to be written
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    // A document per thread: poppler documents are not shared between threads.
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf_path));
    for (std::size_t i; (i = next++) < slides.size();) {
      std::string png;
      try {
        if (!doc)
          throw std::runtime_error("LibreOffice 產生的 PDF 無法讀取");
        if (slides[i] < 1 || static_cast<std::size_t>(slides[i]) > page_count)
          throw std::out_of_range("投影片頁碼 " + std::to_string(slides[i]) + " 超出範圍");
        png = render_page(*doc, slides[i] - 1, width, height);
      } catch (const std::exception &e) {
        vips_error_clear();
        // The image library ends its messages with a line break.
        errors[i] = text::rstrip(e.what());
      }
      std::unique_lock lock(mutex);
      drawn.emplace_back(i, std::move(png));
      changed.notify_all();
      // Drawn pages wait for the writer in memory: no more of them than there are workers.
      changed.wait(lock, [&] { return drawn.size() < threads; });
    }
  };
  std::vector<std::thread> pool;
  for (std::size_t t = 0; t < threads; ++t)
    pool.emplace_back(worker);
  for (std::size_t written = 0; written < slides.size(); ++written) {
    std::pair<std::size_t, std::string> page;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return !drawn.empty(); });
      page = std::move(drawn.front());
      drawn.pop_front();
      changed.notify_all();
    }
    if (!errors[page.first].empty())
      continue;
    try {
      const interrupt::Hold hold;
      fs::write_file_atomic(outputs[page.first], page.second);
    } catch (const std::exception &e) {
      errors[page.first] = e.what();
    }
  }
  for (auto &t : pool)
    t.join();
  return errors;
}

class LibreOfficeExporter : public SlideExporter {
public:
  void export_slides(const std::string &pptx_path, const std::vector<int> &slides,
                     const std::vector<std::string> &outputs, int scale_width,
                     const pptx::Size &size) override {
    // A deck of an extreme aspect ratio could ask for a page of gigabytes: refused before
    // LibreOffice starts.
    const int height = slide_height_pixels(scale_width, size);
    const std::uint64_t page_pixels = std::uint64_t(scale_width) * std::uint64_t(height);
    if (page_pixels > kMaxPagePixels)
      throw std::runtime_error("投影片圖片過大 (" + std::to_string(scale_width) + " x " +
                               std::to_string(height) + " 像素，上限為 " +
                               std::to_string(kMaxPagePixels) + " 像素)");
    const auto soffice = process::which("soffice");
    if (!soffice)
      throw std::runtime_error("找不到簡報應用程式 (LibreOffice 的 soffice)");
    const std::size_t expected_pages = pptx::Presentation::open(pptx_path).slide_count();

    // The scratch folder of this run; those of runs killed outright go first.
    std::optional<interrupt::RunTempDir> scratch;
    try {
      scratch.emplace("vaskit-slidra-");
    } catch (const std::system_error &e) {
      throw std::runtime_error("無法建立暫存資料夾: " +
                               std::string(std::strerror(e.code().value())));
    }
    const stdfs::path in_dir = scratch->path() / "in";
    const stdfs::path out_dir = scratch->path() / "out";
    stdfs::create_directories(in_dir);
    stdfs::create_directories(out_dir);
    // A fixed input name gives a known output name whatever the deck is called.
    const stdfs::path deck = in_dir / "deck.pptx";
    stdfs::copy_file(pptx_path, deck);

    process::Options opts;
    opts.timeout = kConvertTimeout;
    opts.cwd = scratch->path().string();
    opts.in = process::Stream::null;
    opts.out = process::Stream::capture;
    opts.err = process::Stream::capture;
    // LibreOffice's own temporary files go into the scratch folder, and so go with it.
    const stdfs::path office_tmp = scratch->path() / "tmp";
    stdfs::create_directories(office_tmp);
    opts.env.emplace_back("TMPDIR", office_tmp.string());
    // A profile of our own: a running LibreOffice of the user's neither takes the job over nor
    // is disturbed. Its pipe is ours alone too, and goes once the office has ended.
    const std::string profile = file_url(scratch->path() / "profile");
    const interrupt::RemoveOnInterrupt pipe({office_pipe(profile)}, interrupt::Removal::file);
    // Ctrl-C while LibreOffice works ends the run without unwinding: what the run has made goes
    // first, this folder and the pipe included.
    opts.on_interrupt = [] { interrupt::remove_registered(); };
    const auto st =
        process::run({*soffice, "-env:UserInstallation=" + profile, "--headless",
                      "--invisible", "--norestore", "--nolockcheck", "--nodefault", "--nologo",
                      "--convert-to", kPdfFilter, "--outdir", out_dir.string(), deck.string()},
                     opts);
    ::unlink(office_pipe(profile).c_str()); // left when the office was ended (a time-out)
    const stdfs::path pdf = out_dir / "deck.pdf";
    std::error_code ec;
    if (!st.started)
      throw std::runtime_error("LibreOffice 無法啟動: " + st.error);
    if (!st.ok() || !stdfs::is_regular_file(pdf, ec)) {
      std::string why = soffice_error(st);
      if (why.empty())
        why = st.ok() ? "沒有產生 PDF" : st.describe();
      throw std::runtime_error("LibreOffice 無法轉換簡報: " + why);
    }

    poppler::set_debug_error_function(quiet_poppler, nullptr);
    const std::string pdf_path = pdf.string();
    {
      std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf_path));
      if (!doc || doc->is_locked())
        throw std::runtime_error("LibreOffice 產生的 PDF 無法讀取");
      // LibreOffice writes a blank page for a file it read as an empty document.
      if (static_cast<std::size_t>(doc->pages()) != expected_pages)
        throw std::runtime_error("LibreOffice 產生的 PDF 有 " + std::to_string(doc->pages()) +
                                 " 頁，但簡報有 " + std::to_string(expected_pages) + " 頁");
    }

    ensure_vips();
    // A page takes 7 bytes per pixel while it is drawn: about 90 MB at 4800 px.
    const std::size_t by_memory = std::max<std::uint64_t>(1, kRenderBudget / (7 * page_pixels));
    const std::vector<std::string> errors =
        draw_pages(pdf_path, slides, outputs, scale_width, height, expected_pages, by_memory);

    std::string failure;
    for (std::size_t i = 0; i < slides.size() && failure.empty(); ++i) {
      if (!errors[i].empty())
        failure = errors[i];
      else if (!png_has_width(outputs[i], scale_width))
        failure = "第 " + std::to_string(slides[i]) + " 頁的匯出圖片不存在或寬度不符";
    }
    if (!failure.empty()) {
      for (const auto &o : outputs)
        stdfs::remove(o, ec);
      throw std::runtime_error(failure);
    }
  }
};

} // namespace

std::unique_ptr<SlideExporter> make_libreoffice_exporter() {
  return std::make_unique<LibreOfficeExporter>();
}

} // namespace vaskit::slidra
