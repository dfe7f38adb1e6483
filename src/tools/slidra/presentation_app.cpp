// The presentation application on this platform: LibreOffice converts the deck to PDF once,
// poppler renders the chosen pages at the requested width.
#include "core/fs.hpp"
#include "core/interrupt.hpp"
#include "core/process.hpp"
#include "core/text.hpp"
#include "tools/slidra/slidra.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
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
#include <thread>
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

// A folder of our own under the temporary folder, removed with the object however the run
// ends, an interrupt included.
class ScratchDir {
public:
  ScratchDir() {
    std::error_code ec;
    auto base = stdfs::temp_directory_path(ec);
    if (ec)
      base = "/tmp";
    std::string tmpl = (base / "vaskit-slidra.XXXXXX").string();
    // Registered before an interrupt can act on the folder just made.
    const interrupt::Hold hold;
    if (!::mkdtemp(tmpl.data()))
      throw std::runtime_error("無法建立暫存資料夾: " + std::string(std::strerror(errno)));
    path_ = tmpl;
    try {
      on_interrupt_.emplace(std::vector<stdfs::path>{path_}, interrupt::Removal::tree);
    } catch (...) {
      remove();
      throw;
    }
  }
  ~ScratchDir() {
    // Removed whole before it is forgotten: an interrupt meanwhile waits, rather than ending the
    // process half way through.
    const interrupt::Hold hold;
    remove();
    on_interrupt_.reset();
  }
  void remove() {
    std::error_code ec;
    stdfs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const stdfs::path &path() const { return path_; }

private:
  stdfs::path path_;
  std::optional<interrupt::RemoveOnInterrupt> on_interrupt_;
};

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

    ScratchDir scratch;
    const stdfs::path in_dir = scratch.path() / "in";
    const stdfs::path out_dir = scratch.path() / "out";
    stdfs::create_directories(in_dir);
    stdfs::create_directories(out_dir);
    // A fixed input name gives a known output name whatever the deck is called.
    const stdfs::path deck = in_dir / "deck.pptx";
    stdfs::copy_file(pptx_path, deck);

    process::Options opts;
    opts.timeout = kConvertTimeout;
    opts.cwd = scratch.path().string();
    opts.in = process::Stream::null;
    opts.out = process::Stream::capture;
    opts.err = process::Stream::capture;
    // Ctrl-C while LibreOffice works ends the run without unwinding: what the run has made goes
    // first, this folder included.
    opts.on_interrupt = [] { interrupt::remove_registered(); };
    const auto st =
        process::run({*soffice,
                      // A profile of our own: a running LibreOffice of the user's
                      // neither takes the job over nor is disturbed.
                      "-env:UserInstallation=" + file_url(scratch.path() / "profile"), "--headless",
                      "--invisible", "--norestore", "--nolockcheck", "--nodefault", "--nologo",
                      "--convert-to", kPdfFilter, "--outdir", out_dir.string(), deck.string()},
                     opts);
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
