#include "formats/pdf/text.hpp"

#include "formats/pdf/input.hpp"

#include <limits>
#include <memory>
#include <stdexcept>

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

namespace vaskit::pdf {
namespace {

// Far larger than any receipt; text drawn outside the visible box still falls inside it.
constexpr double kOpenBox = 50000.0;

void quiet(const std::string &, void *) {}

// A decrypted copy in which every page shows its whole drawing surface unrotated: poppler then
// keeps all text (it drops text outside the crop box) and emits it in drawing order.
std::shared_ptr<Buffer> normalised_copy(const std::string &path) {
  const std::string bytes = read_pdf_file(path);
  QPDF pdf;
  pdf.setSuppressWarnings(true);
  pdf.processMemoryFile(path.c_str(), bytes.data(), bytes.size());
  pdf.pushInheritedAttributesToPage();
  for (auto &page : QPDFPageDocumentHelper(pdf).getAllPages()) {
    auto obj = page.getObjectHandle();
    obj.removeKey("/Rotate");
    obj.removeKey("/CropBox");
    obj.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(
                                    -kOpenBox, -kOpenBox, kOpenBox, kOpenBox)));
  }
  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  writer.setPreserveEncryption(false);
  writer.write();
  return writer.getBufferSharedPointer();
}

// A one-page document in memory; the poppler document made from it keeps the shared tables.
struct Keeper {
  std::shared_ptr<Buffer> bytes;
  std::unique_ptr<poppler::document> doc;
};

std::shared_ptr<Buffer> one_blank_page() {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFPageDocumentHelper(pdf).addPage(
      pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 10 10] >>")),
      false);
  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  writer.write();
  return writer.getBufferSharedPointer();
}

} // namespace

TextSession::TextSession() {
  auto keeper = std::make_shared<Keeper>();
  keeper->bytes = one_blank_page();
  poppler::set_debug_error_function(quiet, nullptr);
  keeper->doc.reset(poppler::document::load_from_raw_data(
      reinterpret_cast<const char *>(keeper->bytes->getBuffer()),
      static_cast<int>(keeper->bytes->getSize())));
  // Without the document the extractions still work, only slower.
  keep_ = std::move(keeper);
}

TextSession::~TextSession() = default;

std::vector<std::string> extract_page_texts(const std::string &path) {
  const auto data = normalised_copy(path);
  if (data->getSize() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    throw std::runtime_error(path + ": file too large");
  // poppler reports syntax problems on standard error; the caller reports failures itself.
  poppler::set_debug_error_function(quiet, nullptr);
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_raw_data(
      reinterpret_cast<const char *>(data->getBuffer()), static_cast<int>(data->getSize())));
  if (!doc || doc->is_locked())
    throw std::runtime_error(path + ": the PDF text cannot be read");
  std::vector<std::string> texts;
  const int pages = doc->pages();
  texts.reserve(static_cast<std::size_t>(pages));
  for (int i = 0; i < pages; ++i) {
    std::unique_ptr<poppler::page> page(doc->create_page(i));
    if (!page) {
      texts.emplace_back();
      continue;
    }
    const auto utf8 = page->text(poppler::rectf(), poppler::page::raw_order_layout).to_utf8();
    std::string text(utf8.begin(), utf8.end());
    // poppler closes every page with a form feed; it is no part of the page's text.
    if (!text.empty() && text.back() == '\f')
      text.pop_back();
    texts.push_back(std::move(text));
  }
  return texts;
}

} // namespace vaskit::pdf
