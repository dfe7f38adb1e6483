// PDF text extraction on generated receipts: line structure, boxes and rotation that must not
// hide text, encryption, and files that cannot be read.
#include "formats/pdf/text.hpp"
#include "support/files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using vaskit::pdf::extract_page_texts;
namespace fs = std::filesystem;

const fs::path &receipts() { return vaskit::testing::generated_receipts(); }

std::string pdf(const std::string &variant) {
  return (receipts() / (variant + ".pdf")).string();
}

// Lines of a text without empty ones and without trailing blanks.
std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    auto line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
      line.pop_back();
    if (!line.empty())
      out.push_back(line);
    start = end + 1;
  }
  return out;
}

TEST(PdfText, CjkReceiptComesOutLineByLineInDrawingOrder) {
  const auto pages = extract_page_texts(pdf("basic"));
  ASSERT_EQ(pages.size(), 1u);
  const std::vector<std::string> expected = {"感謝您搭乘 Uber，王小明",
                                             "2024年3月5日 下午3:15",
                                             "總計 NT$1,234",
                                             "車資 NT$1,100",
                                             "行程詳細資訊",
                                             "下午3:02",
                                             "台北市松山區敦化北路100號",
                                             "下午3:15",
                                             "台北市內湖區瑞光路188號",
                                             "由 陳大文 駕駛，車輛年份 2019",
                                             "駕駛執業登記證號 123456",
                                             "Apple Pay •••• 1234 款項已收取"};
  EXPECT_EQ(lines(pages[0]), expected);
}

TEST(PdfText, RotationAndCropBoxNeitherSplitNorHideLines) {
  const auto pages = extract_page_texts(pdf("rotated"));
  ASSERT_EQ(pages.size(), 1u);
  const auto got = lines(pages[0]);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), "2024年7月8日 上午12:30");
  // Drawn below the crop box: invisible, but part of the receipt's text.
  EXPECT_EQ(got.back(), "總計 NT$350.50");
  EXPECT_EQ(got.size(), 7u);
}

TEST(PdfText, ZeroWidthCropBoxAndLongLinesKeepAllText) {
  EXPECT_EQ(lines(extract_page_texts(pdf("zerobox")).at(0)).size(), 12u);
  const auto english = lines(extract_page_texts(pdf("english")).at(0));
  EXPECT_NE(std::find(english.begin(), english.end(), "Songshan Station, Taipei, Taiwan"),
            english.end());
}

TEST(PdfText, PagesInDocumentOrderAndEmptyPages) {
  const auto two = extract_page_texts(pdf("twopage"));
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(lines(two[0]).front(), "2024-06-01");
  EXPECT_EQ(lines(two[1]).back(), "感謝您的搭乘");

  const auto blank = extract_page_texts(pdf("blank"));
  ASSERT_EQ(blank.size(), 1u);
  EXPECT_TRUE(lines(blank[0]).empty());
}

TEST(PdfText, ControlCharactersAndFullWidthDigitsArriveUnchanged) {
  const auto control = lines(extract_page_texts(pdf("control")).at(0));
  ASSERT_GE(control.size(), 4u);
  EXPECT_EQ(control[3], "台北市\x1b[31m松山區民生東路四段1號");
  EXPECT_EQ(lines(extract_page_texts(pdf("fullwidth")).at(0)).front(),
            "２０２４年１１月３日 下午１１:４５");
}

TEST(PdfText, OwnerPasswordOnlyFileIsRead) {
  const auto pages = extract_page_texts(pdf("encrypted"));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(lines(pages[0]).front(), "2024/09/09 下午3:07");
}

TEST(PdfText, UnreadableFilesThrowQuietly) {
  const fs::path not_pdf = receipts() / "notes.pdf";
  { std::ofstream(not_pdf) << "just some text, no PDF at all\n"; }
  for (const auto &path : {pdf("locked"), pdf("damaged"), (receipts() / "missing.pdf").string(),
                           not_pdf.string(), receipts().string(), std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    testing::internal::CaptureStderr();
    std::string message;
    try {
      extract_page_texts(path);
    } catch (const std::runtime_error &e) {
      message = e.what();
    }
    const auto err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(err, "");
  }
}

} // namespace

TEST(PdfText, SessionChangesNoTextAndOutlivesNothing) {
  // Texts read while a session keeps poppler's tables are the texts read without one, for every
  // kind of receipt, also in nested sessions and after the sessions ended.
  const std::vector<std::string> variants = {"basic",   "english",   "twopage", "rotated",
                                             "zerobox", "fullwidth", "control", "encrypted"};
  std::vector<std::vector<std::string>> alone;
  for (const auto &v : variants)
    alone.push_back(extract_page_texts(pdf(v)));
  {
    const vaskit::pdf::TextSession outer;
    for (std::size_t k = 0; k < variants.size(); ++k)
      EXPECT_EQ(extract_page_texts(pdf(variants[k])), alone[k]) << variants[k];
    {
      const vaskit::pdf::TextSession inner;
      EXPECT_EQ(extract_page_texts(pdf("twopage")), alone[2]);
    }
    EXPECT_EQ(extract_page_texts(pdf("rotated")), alone[3]);
    EXPECT_THROW(extract_page_texts(pdf("locked")), std::runtime_error);
    EXPECT_EQ(extract_page_texts(pdf("basic")), alone[0]);
  }
  EXPECT_EQ(extract_page_texts(pdf("encrypted")), alone[7]);
}
