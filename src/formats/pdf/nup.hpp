// N-up placement: pages of existing PDFs drawn, each through its own transformation, onto new
// blank pages of one output document.
//
// Error contract of the PDF layer (nup, text, input): every failure throws, nothing is printed
// and nothing returns a status. The page placer throws pdf::Error (a std::runtime_error) for a
// file that cannot be read or placed and a document that cannot be written, naming the file;
// extract_page_texts and read_pdf_file throw std::runtime_error (std::system_error for a failed
// read) naming the reason. The PDF libraries stay behind these headers: callers never see their
// types or exceptions.
//
// A placed page becomes a form XObject whose bounding box is the source page's crop box, so only
// the visible area of the source is drawn. The output is written deterministically (the /ID is
// derived from the content), and atomically: a failed write never leaves a truncated file.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vaskit::pdf {

// A file that cannot be read or placed, or a document that cannot be written. The message
// names the file where one is involved.
class Error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A rectangle by its lower-left corner and size, in PDF points.
struct Box {
  double left = 0;
  double bottom = 0;
  double width = 0;
  double height = 0;
};

// An affine transformation in PDF order (a b c d e f): a point (x, y) goes to
// (a x + c y + e, b x + d y + f). Each step returns a new matrix that applies the step after the
// ones already in it.
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

  Matrix translate(double tx, double ty) const;
  // Degrees, positive counter-clockwise. Multiples of 90 are exact (no 6e-17 residues).
  Matrix rotate(double degrees) const;
  Matrix scale(double sx, double sy) const;
  // `this` followed by `next`.
  Matrix then(const Matrix &next) const;
  std::pair<double, double> apply(double x, double y) const;
};

// A number as content streams want it: fixed notation (PDF has no exponents), the shortest text
// that reads back as the same double, no "-0". Throws Error for NaN and infinities.
std::string format_number(double v);

// The PDF library's objects stay inside the layer: callers see only these opaque holders.
namespace detail {
struct Source;
struct Output;
struct Object;
} // namespace detail

// One page of a Reader. It keeps its document open as long as it lives.
class SourcePage {
public:
  // The crop box, or the media box when the page has none (inherited entries count). Corners
  // given in the wrong order are put right. Throws Error when the page has neither box.
  Box cropbox() const;
  // The /Rotate entry as stored (inherited entries count): not reduced modulo 360. 0 when the
  // page has none or the entry is not a number.
  double rotate() const;

private:
  friend class Reader;
  friend class Page;
  SourcePage(std::shared_ptr<detail::Source> src, std::shared_ptr<const detail::Object> page)
      : src_(std::move(src)), page_(std::move(page)) {}
  std::shared_ptr<detail::Source> src_;
  std::shared_ptr<const detail::Object> page_;
};

// A PDF file opened for placing its pages. Damaged files are repaired where qpdf can; library
// warnings are not printed.
class Reader {
public:
  // Throws Error (with the library's explanation) when the file cannot be opened or parsed.
  explicit Reader(const std::string &path);
  // The pages in document order.
  const std::vector<SourcePage> &pages() const { return pages_; }

private:
  std::vector<SourcePage> pages_;
};

// A page of an output document being composed. Nothing reaches the document before
// Writer::add_page; a page may also serve only as an overlay for merge_page.
class Page {
public:
  double width() const { return width_; }
  double height() const { return height_; }

  // Draws `source` through `m` (from the source's default user space), clipped to its crop box.
  // The source's content and resources are copied at once, so errors in them are thrown here
  // (as Error) and the source file may be closed afterwards.
  void merge_transformed_page(const SourcePage &source, const Matrix &m);
  // Draws the content of `other` over this page. `other` must come from the same Writer.
  void merge_page(const Page &other);
  // Replaces the page's content stream; resources stay as they are.
  void set_contents(std::string ops);
  const std::string &contents() const { return content_; }

private:
  friend class Writer;
  Page(std::shared_ptr<detail::Output> out, double width, double height)
      : out_(std::move(out)), width_(width), height_(height) {}
  std::shared_ptr<detail::Output> out_;
  double width_;
  double height_;
  std::string content_;
  // resource name -> form XObject
  std::map<std::string, std::shared_ptr<const detail::Object>> xobjects_;
};

// An output document. Pages are appended in order; write() may be called more than once.
class Writer {
public:
  Writer();

  // A new blank page of the given size (PDF points), not yet part of the document.
  Page create_blank_page(double width, double height);
  // Appends a copy of `page` as the next page. Throws Error for a page of another Writer.
  void add_page(const Page &page);
  std::size_t page_count() const;

  // Writes the document to `path` with vaskit::fs::write_file_atomic: into a temporary file in
  // the same folder, then renamed over `path`. On failure the temporary file is removed, an
  // existing file at `path` is left as it was, and Error says what failed, naming `path`.
  void write(const std::string &path) const;

private:
  std::shared_ptr<detail::Output> out_;
};

} // namespace vaskit::pdf
