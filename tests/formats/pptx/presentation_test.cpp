#include "formats/pptx/presentation.hpp"
#include "support/files.hpp"
#include "support/pptx_writer.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace {

using namespace vaskit::pptx;
namespace gen = vaskit::testing::pptx;
using vaskit::testing::TempDir;

std::string text_box(int id, const std::string &text) {
  return gen::rect(id, "Box " + std::to_string(id), 100, 200, 300, 400, "FFFFFF",
                   gen::para(gen::run(text)));
}

TEST(PptxDeck, SlidesFollowTheSlideListNotPartNumbersAndHiddenOnesCount) {
  TempDir dir;
  gen::Deck deck;
  deck.cx = 9144000;
  deck.cy = 5143500;
  deck.slides = {{text_box(2, "first"), false, 3},
                 {text_box(2, "second"), true, 1},
                 {text_box(2, "third"), false, 2}};
  gen::write(dir / "d.pptx", deck);
  const auto p = Presentation::open(dir / "d.pptx");
  ASSERT_EQ(p.slide_count(), 3u);
  EXPECT_EQ(p.shapes(0).at(0).text, "first");
  EXPECT_EQ(p.shapes(1).at(0).text, "second");
  EXPECT_EQ(p.shapes(2).at(0).text, "third");
  EXPECT_FALSE(p.slide_hidden(0));
  EXPECT_TRUE(p.slide_hidden(1));
  ASSERT_TRUE(p.slide_size());
  EXPECT_EQ(p.slide_size()->cx, 9144000);
  EXPECT_EQ(p.slide_size()->cy, 5143500);
  EXPECT_THROW(p.shapes(3), Error);
}

TEST(PptxDeck, TopLevelShapesInDocumentOrderWithKinds) {
  TempDir dir;
  const std::string frame =
      R"(<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id="5" name="Table"/><p:cNvGraphicFramePr/><p:nvPr/></p:nvGraphicFramePr><p:xfrm><a:off x="10" y="20"/><a:ext cx="30" cy="40"/></p:xfrm><a:graphic><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/table"/></a:graphic></p:graphicFrame>)";
  const std::string pic =
      R"(<p:pic><p:nvPicPr><p:cNvPr id="6" name="Picture"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr><p:blipFill/><p:spPr>)" +
      gen::xfrm(1, 2, 3, 4) + "</p:spPr></p:pic>";
  const std::string alternate =
      R"(<mc:AlternateContent xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006"><mc:Choice Requires="x">)" +
      text_box(7, "inside alternate") + "</mc:Choice></mc:AlternateContent>";
  gen::Deck deck;
  deck.slides = {{text_box(2, "a") + gen::group(3, text_box(4, "in group"), 0, 0, 10, 10) +
                      gen::connector(8, 5, 5, 50, 0) + frame + alternate + pic,
                  false, 0}};
  gen::write(dir / "d.pptx", deck);
  const auto shapes = Presentation::open(dir / "d.pptx").shapes(0);
  ASSERT_EQ(shapes.size(), 5u);
  EXPECT_EQ(shapes[0].kind, ShapeKind::shape);
  EXPECT_EQ(shapes[1].kind, ShapeKind::group);
  EXPECT_EQ(shapes[2].kind, ShapeKind::connector);
  EXPECT_EQ(shapes[3].kind, ShapeKind::graphic_frame);
  EXPECT_EQ(shapes[4].kind, ShapeKind::picture);
  EXPECT_TRUE(shapes[0].has_text_frame);
  for (std::size_t i = 1; i < shapes.size(); ++i) {
    EXPECT_FALSE(shapes[i].has_text_frame) << i;
    EXPECT_EQ(shapes[i].text, "") << i; // the group's inner text is not its own
  }
  EXPECT_EQ(shapes[3].name, "Table");
  ASSERT_TRUE(shapes[3].box);
  EXPECT_EQ(shapes[3].box->left, 10);
  EXPECT_EQ(shapes[3].box->height, 40);
  ASSERT_TRUE(shapes[4].box);
  EXPECT_EQ(shapes[4].box->width, 3);
}

TEST(PptxDeck, TextJoinsParagraphsRunsFieldsAndLineBreaks) {
  TempDir dir;
  const std::string paras = gen::para(gen::run("crop_") + gen::run("region")) +
                            gen::para(gen::run("a") + "<a:br/>" + gen::run("b") +
                                      R"(<a:fld id="{1}" type="slidenum"><a:t>7</a:t></a:fld>)") +
                            "<a:p/>" + gen::para(gen::run(" ") + gen::run("中文 ✅"));
  gen::Deck deck;
  deck.slides = {{gen::rect(2, "T", 0, 0, 1, 1, "FFFFFF", paras) +
                      gen::rect(3, "Empty", 0, 0, 1, 1, "FFFFFF", ""),
                  false, 0}};
  gen::write(dir / "d.pptx", deck);
  const auto shapes = Presentation::open(dir / "d.pptx").shapes(0);
  ASSERT_EQ(shapes.size(), 2u);
  EXPECT_EQ(shapes[0].text, "crop_region\na\vb7\n\n 中文 ✅");
  // A plain shape without a text body still has a (blank) text frame.
  EXPECT_TRUE(shapes[1].has_text_frame);
  EXPECT_EQ(shapes[1].text, "");
}

TEST(PptxDeck, PlaceholdersInheritTheirBoxFromLayoutThenMaster) {
  TempDir dir;
  gen::Deck deck;
  deck.master_shapes =
      gen::placeholder(2, "Master title", "type=\"title\"", gen::xfrm(11, 22, 33, 44), "") +
      gen::placeholder(3, "Master body", "type=\"body\" idx=\"1\"",
                       gen::xfrm(5000000000, 6000000000, 7000000000, 8000000000), "");
  // The layout's centred title gives only a position; its size comes from the master title.
  deck.layout_shapes =
      gen::placeholder(2, "Layout title", "type=\"ctrTitle\"",
                       R"(<a:xfrm><a:off x="100" y="200"/></a:xfrm>)", "") +
      gen::placeholder(3, "Layout body", "idx=\"1\"", "", "") +
      gen::placeholder(4, "Layout picture", "type=\"pic\" idx=\"9\"", gen::xfrm(1, 2, 3, 4), "");
  deck.slides = {
      {gen::placeholder(2, "Title", "type=\"ctrTitle\"", "", gen::para(gen::run("t"))) +
           gen::placeholder(3, "Body", "idx=\"1\"", "", "") +
           gen::placeholder(4, "Own", "idx=\"9\"", gen::xfrm(7, 8, 9, 10), "") +
           gen::placeholder(5, "Orphan", "type=\"body\" idx=\"42\"", "", "") +
           gen::placeholder(7, "Padded idx", "idx=\"09\"", "", "") +
           R"(<p:sp><p:nvSpPr><p:cNvPr id="6" name="No box"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr/></p:sp>)",
       false, 0}};
  gen::write(dir / "d.pptx", deck);
  const auto shapes = Presentation::open(dir / "d.pptx").shapes(0);
  ASSERT_EQ(shapes.size(), 6u);
  ASSERT_TRUE(shapes[0].box);
  EXPECT_EQ(shapes[0].box->left, 100);
  EXPECT_EQ(shapes[0].box->top, 200);
  EXPECT_EQ(shapes[0].box->width, 33);
  EXPECT_EQ(shapes[0].box->height, 44);
  // The layout body (object type by default) takes the master body's box; lengths beyond 32 bits
  // stay exact.
  ASSERT_TRUE(shapes[1].box);
  EXPECT_EQ(shapes[1].box->left, 5000000000);
  EXPECT_EQ(shapes[1].box->height, 8000000000);
  ASSERT_TRUE(shapes[2].box);
  EXPECT_EQ(shapes[2].box->left, 7);
  EXPECT_FALSE(shapes[3].box); // no layout placeholder with idx 42
  EXPECT_FALSE(shapes[5].box); // not a placeholder, no box of its own
  // idx is a number: "09" finds the layout placeholder "9".
  ASSERT_TRUE(shapes[4].box);
  EXPECT_EQ(shapes[4].box->left, 1);
  EXPECT_EQ(shapes[4].box->height, 4);
}

TEST(PptxDeck, BadPackagesAreRefusedWithTheFileName) {
  TempDir dir;
  vaskit::testing::write_file(dir / "text.pptx", "this is no zip");
  try {
    Presentation::open(dir / "text.pptx");
    FAIL() << "no error";
  } catch (const Error &e) {
    EXPECT_NE(std::string(e.what()).find("text.pptx"), std::string::npos);
  }
  EXPECT_THROW(Presentation::open(dir / "missing.pptx"), Error);

  gen::Deck no_pres;
  no_pres.with_presentation = false;
  gen::write(dir / "nopres.pptx", no_pres);
  EXPECT_THROW(Presentation::open(dir / "nopres.pptx"), Error);

  gen::Deck no_size;
  no_size.with_size = false;
  no_size.slides = {{text_box(2, "x"), false, 0}};
  gen::write(dir / "nosize.pptx", no_size);
  const auto p = Presentation::open(dir / "nosize.pptx");
  EXPECT_EQ(p.slide_count(), 1u);
  EXPECT_FALSE(p.slide_size());

  gen::Deck empty;
  gen::write(dir / "empty.pptx", empty);
  EXPECT_EQ(Presentation::open(dir / "empty.pptx").slide_count(), 0u);
}

// Bytes this process has read from files so far.
std::uint64_t bytes_read() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:")
      return value;
  return 0;
}

// Decks carry videos and pictures of hundreds of megabytes; reading a slide must not read (or
// hold in memory) all of that, and the deck is opened once per slide.
TEST(PptxDeck, ReadingASlideReadsItsPartsNotTheWholeDeck) {
  TempDir dir;
  gen::Deck deck;
  deck.slides = {{text_box(2, "small"), false, 0}};
  std::string media(24u << 20, '\0');
  std::mt19937 random(7);
  for (auto &c : media)
    c = static_cast<char>(random());
  deck.extra_parts = {{"ppt/media/video1.bin", media}};
  gen::write(dir / "big.pptx", deck);
  ASSERT_GT(std::filesystem::file_size(dir / "big.pptx"), 24u << 20);
  const std::uint64_t before = bytes_read();
  {
    const auto p = Presentation::open(dir / "big.pptx");
    EXPECT_EQ(p.slide_count(), 1u);
    EXPECT_EQ(p.shapes(0).at(0).text, "small");
  }
  EXPECT_LT(bytes_read() - before, 4u << 20);
}

// A few hundred kilobytes of zip can unpack to a part whose tree would fill the memory: such a
// part is refused by the amount of markup it holds, not parsed.
TEST(PptxDeck, PartsThatWouldExhaustTheMemoryAreRefused) {
  TempDir dir;
  gen::Deck deck;
  std::string tiny_elements;
  for (int i = 0; i < 4'100'000; ++i)
    tiny_elements += "<x/>";
  deck.slides = {{text_box(2, "a") + tiny_elements, false, 0}, {text_box(2, "fine"), false, 0}};
  gen::write(dir / "bomb.pptx", deck);
  EXPECT_LT(std::filesystem::file_size(dir / "bomb.pptx"), 2u << 20);
  const auto p = Presentation::open(dir / "bomb.pptx");
  ASSERT_EQ(p.slide_count(), 2u);
  try {
    p.shapes(0);
    FAIL() << "parsed";
  } catch (const Error &e) {
    EXPECT_NE(std::string(e.what()).find("slide1.xml"), std::string::npos) << e.what();
  }
  EXPECT_EQ(p.shapes(1).at(0).text, "fine");
}

} // namespace
