#include "formats/pdf/nup.hpp"

#include "core/fs.hpp"
#include "formats/pdf/input.hpp"

#include <qpdf/Buffer.hh>
#include <qpdf/PDFVersion.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <string_view>
#include <system_error>

namespace vaskit::pdf {

namespace detail {

struct Source {
  std::string data; // the whole file; qpdf reads from it in place
  QPDF qpdf;
};

// One object of the PDF library (a page of a source, a copied form XObject); shared, as the
// library's handles are.
struct Object {
  QPDFObjectHandle handle;
};

struct Output {
  QPDF qpdf;
  unsigned next_name = 1;
  std::size_t pages = 0;
  // Copied objects may use features of their source's version; the output declares the highest.
  PDFVersion version{1, 3};
};

} // namespace detail

namespace {

PDFVersion parse_version(const std::string &text, int extension) {
  int major = 1;
  int minor = 3;
  const char *p = text.data();
  const char *end = p + text.size();
  auto r = std::from_chars(p, end, major);
  if (r.ec == std::errc() && r.ptr < end && *r.ptr == '.') {
    std::from_chars(r.ptr + 1, end, minor);
  }
  return PDFVersion(major, minor, extension);
}

QPDFObjectHandle number(double v) {
  return QPDFObjectHandle::newReal(format_number(v));
}

QPDFObjectHandle rect_array(double llx, double lly, double urx, double ury) {
  auto a = QPDFObjectHandle::newArray();
  for (double v : {llx, lly, urx, ury}) {
    a.appendItem(number(v));
  }
  return a;
}

} // namespace

Matrix Matrix::then(const Matrix &n) const {
  return Matrix{a * n.a + b * n.c, a * n.b + b * n.d,       c * n.a + d * n.c,
                c * n.b + d * n.d, e * n.a + f * n.c + n.e, e * n.b + f * n.d + n.f};
}

Matrix Matrix::translate(double tx, double ty) const {
  return then(Matrix{1, 0, 0, 1, tx, ty});
}

Matrix Matrix::rotate(double degrees) const {
  double cs = 0;
  double sn = 0;
  double turns = degrees / 90.0;
  if (std::isfinite(turns) && turns == std::floor(turns)) {
    // Quarter turns come out exact, so placed pages keep whole-number matrices.
    long q = static_cast<long>(std::fmod(turns, 4.0));
    q = ((q % 4) + 4) % 4;
    static constexpr double cos_q[] = {1, 0, -1, 0};
    static constexpr double sin_q[] = {0, 1, 0, -1};
    cs = cos_q[q];
    sn = sin_q[q];
  } else {
    double rad = degrees * M_PI / 180.0;
    cs = std::cos(rad);
    sn = std::sin(rad);
  }
  return then(Matrix{cs, sn, -sn, cs, 0, 0});
}

Matrix Matrix::scale(double sx, double sy) const {
  return then(Matrix{sx, 0, 0, sy, 0, 0});
}

std::pair<double, double> Matrix::apply(double x, double y) const {
  return {a * x + c * y + e, b * x + d * y + f};
}

std::string format_number(double v) {
  if (!std::isfinite(v)) {
    throw Error("cannot write a non-finite number into a PDF");
  }
  if (v == 0) {
    return "0";
  }
  char buf[400]; // the longest fixed-form double is about 330 characters
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

Box SourcePage::cropbox() const {
  try {
    QPDFPageObjectHelper ph(page_->handle);
    QPDFObjectHandle box = ph.getCropBox(false, false);
    if (!box.isRectangle()) {
      throw Error("page has neither a usable crop box nor a media box");
    }
    auto r = box.getArrayAsRectangle();
    // Viewers accept the corners in any order; so do we.
    double x0 = std::min(r.llx, r.urx);
    double x1 = std::max(r.llx, r.urx);
    double y0 = std::min(r.lly, r.ury);
    double y1 = std::max(r.lly, r.ury);
    return Box{x0, y0, x1 - x0, y1 - y0};
  } catch (const Error &) {
    throw;
  } catch (const std::exception &e) {
    throw Error(e.what());
  }
}

double SourcePage::rotate() const {
  try {
    QPDFObjectHandle rot = QPDFPageObjectHelper(page_->handle).getAttribute("/Rotate", false);
    double v = 0;
    if (rot.getValueAsNumber(v) && std::isfinite(v)) {
      return v;
    }
    return 0;
  } catch (const std::exception &e) {
    throw Error(e.what());
  }
}

Reader::Reader(const std::string &path) {
  auto src = std::make_shared<detail::Source>();
  src->qpdf.setSuppressWarnings(true);
  // Stream data is copied when a page is placed, so the file can be closed right after.
  src->qpdf.setImmediateCopyFrom(true);
  try {
    // Read at once: parsing from a FILE costs a seek system call per token, which dominated the
    // time spent on a folder of receipts.
    src->data = read_pdf_file(path);
    src->qpdf.processMemoryFile(path.c_str(), src->data.data(), src->data.size());
    for (auto &ph : QPDFPageDocumentHelper(src->qpdf).getAllPages()) {
      auto page = std::make_shared<const detail::Object>(detail::Object{ph.getObjectHandle()});
      pages_.push_back(SourcePage(src, std::move(page)));
    }
  } catch (const std::exception &e) {
    throw Error(e.what());
  }
}

void Page::merge_transformed_page(const SourcePage &source, const Matrix &m) {
  std::string ops = "q\n";
  for (double v : {m.a, m.b, m.c, m.d, m.e, m.f}) {
    ops += format_number(v);
    ops += ' ';
  }
  QPDFObjectHandle copied;
  try {
    Box cb = source.cropbox();
    QPDFObjectHandle fo = QPDFPageObjectHelper(source.page_->handle).getFormXObjectForPage(false);
    // The crop box, not the trim box qpdf picks, is what a viewer shows of the page.
    fo.getDict().replaceKey(
        "/BBox", rect_array(cb.left, cb.bottom, cb.left + cb.width, cb.bottom + cb.height));
    copied = out_->qpdf.copyForeignObject(fo);
    auto &sq = source.src_->qpdf;
    out_->version.updateIfGreater(parse_version(sq.getPDFVersion(), sq.getExtensionLevel()));
  } catch (const Error &) {
    throw;
  } catch (const std::exception &e) {
    throw Error(e.what());
  }
  std::string name = "/Fx" + std::to_string(out_->next_name++);
  ops += "cm\n" + name + " Do\nQ\n";
  content_ += ops;
  xobjects_[name] = std::make_shared<const detail::Object>(detail::Object{copied});
}

void Page::merge_page(const Page &other) {
  if (other.out_ != out_ && !other.xobjects_.empty()) {
    throw Error("cannot merge a page of another document");
  }
  content_ += "q\n";
  content_ += other.content_;
  if (!other.content_.empty() && other.content_.back() != '\n') {
    content_ += '\n';
  }
  content_ += "Q\n";
  for (const auto &[name, obj] : other.xobjects_) {
    xobjects_[name] = obj;
  }
}

void Page::set_contents(std::string ops) {
  content_ = std::move(ops);
}

Writer::Writer() : out_(std::make_shared<detail::Output>()) {
  out_->qpdf.emptyPDF();
}

Page Writer::create_blank_page(double width, double height) {
  return Page(out_, width, height);
}

void Writer::add_page(const Page &page) {
  if (page.out_ != out_) {
    throw Error("cannot add a page of another document");
  }
  QPDF &q = out_->qpdf;
  auto resources = QPDFObjectHandle::newDictionary();
  if (!page.xobjects_.empty()) {
    auto xobj = QPDFObjectHandle::newDictionary();
    for (const auto &[name, obj] : page.xobjects_) {
      xobj.replaceKey(name, obj->handle);
    }
    resources.replaceKey("/XObject", xobj);
  }
  auto dict = QPDFObjectHandle::newDictionary();
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
  dict.replaceKey("/MediaBox", rect_array(0, 0, page.width_, page.height_));
  dict.replaceKey("/Resources", resources);
  dict.replaceKey("/Contents", q.newStream(page.content_));
  QPDFPageDocumentHelper(q).addPage(QPDFPageObjectHelper(q.makeIndirectObject(dict)), false);
  ++out_->pages;
}

std::size_t Writer::page_count() const {
  return out_->pages;
}

void Writer::write(const std::string &path) const {
  // Composed in memory first: the whole report is there already, and the file layer then writes
  // it in one go beside the target and renames it over it.
  std::shared_ptr<Buffer> bytes;
  try {
    QPDFWriter w(out_->qpdf);
    w.setOutputMemory();
    w.setDeterministicID(true);
    w.setMinimumPDFVersion(out_->version);
    w.write();
    bytes = w.getBufferSharedPointer();
  } catch (const std::exception &e) {
    throw Error("cannot write " + path + ": " + e.what());
  }
  try {
    vaskit::fs::write_file_atomic(
        path,
        std::string_view(reinterpret_cast<const char *>(bytes->getBuffer()), bytes->getSize()));
  } catch (const std::system_error &e) {
    // Its message starts with the path too; the system's reason is enough after ours.
    throw Error("cannot write " + path + ": " + e.code().message());
  } catch (const std::exception &e) {
    throw Error("cannot write " + path + ": " + e.what());
  }
}

} // namespace vaskit::pdf
