// Test support: small presentation decks written at test time (one master, one layout, one
// theme, slides in any order), complete enough for LibreOffice to open. Header-only; the
// including target links libzip.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>
#include <zip.h>

namespace vaskit::testing::pptx {

inline const char *kNs =
    R"( xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
    R"(xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main")";

struct Slide {
  std::string shapes; // the XML of the slide's top-level shapes
  bool hidden = false;
  int part_number = 0; // slideN.xml; 0 means its position in the deck
};

struct Deck {
  std::int64_t cx = 12192000; // 16:9, 13.333 in
  std::int64_t cy = 6858000;
  bool with_size = true;
  std::vector<Slide> slides; // in presentation order
  std::string layout_shapes;
  std::string master_shapes;
  bool with_presentation = true;
  bool with_content_types = true; // without it LibreOffice cannot load the package
  // More parts as they are (name, bytes), stored uncompressed: media and the like.
  std::vector<std::pair<std::string, std::string>> extra_parts;
};

// A run of text; `colour` is RRGGBB.
inline std::string run(const std::string &text, const std::string &colour = "000000") {
  return R"(<a:r><a:rPr lang="en-US" sz="1000" dirty="0"><a:solidFill><a:srgbClr val=")" + colour +
         R"("/></a:solidFill></a:rPr><a:t>)" + text + "</a:t></a:r>";
}
inline std::string para(const std::string &content) {
  return "<a:p>" + content + "</a:p>";
}

inline std::string xfrm(std::int64_t x, std::int64_t y, std::int64_t cx, std::int64_t cy) {
  return "<a:xfrm><a:off x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
         "\"/><a:ext cx=\"" + std::to_string(cx) + "\" cy=\"" + std::to_string(cy) +
         "\"/></a:xfrm>";
}

// A filled rectangle without outline; `paragraphs` is the XML of its a:p elements ("" gives a
// shape without text body).
inline std::string rect(int id, const std::string &name, std::int64_t x, std::int64_t y,
                        std::int64_t cx, std::int64_t cy, const std::string &fill,
                        const std::string &paragraphs) {
  std::string s =
      "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + name +
      "\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr>" + xfrm(x, y, cx, cy) +
      R"(<a:prstGeom prst="rect"><a:avLst/></a:prstGeom><a:solidFill><a:srgbClr val=")" + fill +
      R"("/></a:solidFill><a:ln><a:noFill/></a:ln></p:spPr>)";
  if (!paragraphs.empty())
    s += "<p:txBody><a:bodyPr/><a:lstStyle/>" + paragraphs + "</p:txBody>";
  return s + "</p:sp>";
}

// A placeholder; `box` is the a:xfrm XML or "" to inherit it; `sp_pr_extra` adds fill etc.
inline std::string placeholder(int id, const std::string &name, const std::string &ph_attrs,
                               const std::string &box, const std::string &paragraphs,
                               const std::string &sp_pr_extra = "") {
  return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + name +
         "\"/><p:cNvSpPr><a:spLocks noGrp=\"1\"/></p:cNvSpPr><p:nvPr><p:ph " + ph_attrs +
         "/></p:nvPr></p:nvSpPr><p:spPr>" + box + sp_pr_extra +
         "</p:spPr><p:txBody><a:bodyPr/><a:lstStyle/>" +
         (paragraphs.empty() ? std::string("<a:p/>") : paragraphs) + "</p:txBody></p:sp>";
}

inline std::string group(int id, const std::string &inner, std::int64_t x, std::int64_t y,
                         std::int64_t cx, std::int64_t cy) {
  const std::string off = "<a:off x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
                          "\"/><a:ext cx=\"" + std::to_string(cx) + "\" cy=\"" +
                          std::to_string(cy) + "\"/>";
  return "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"" + std::to_string(id) +
         "\" name=\"Group\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr><a:xfrm>" + off +
         "<a:chOff x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
         "\"/><a:chExt cx=\"" + std::to_string(cx) + "\" cy=\"" + std::to_string(cy) +
         "\"/></a:xfrm></p:grpSpPr>" + inner + "</p:grpSp>";
}

inline std::string connector(int id, std::int64_t x, std::int64_t y, std::int64_t cx,
                             std::int64_t cy) {
  return "<p:cxnSp><p:nvCxnSpPr><p:cNvPr id=\"" + std::to_string(id) +
         "\" name=\"Line\"/><p:cNvCxnSpPr/><p:nvPr/></p:nvCxnSpPr><p:spPr>" + xfrm(x, y, cx, cy) +
         R"(<a:prstGeom prst="line"><a:avLst/></a:prstGeom></p:spPr></p:cxnSp>)";
}

namespace detail {

inline std::string tree(const std::string &shapes) {
  return R"(<p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id="1" name=""/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="0" cy="0"/><a:chOff x="0" y="0"/><a:chExt cx="0" cy="0"/></a:xfrm></p:grpSpPr>)" +
         shapes + "</p:spTree></p:cSld>";
}

inline std::string rels(const std::vector<std::pair<std::string, std::string>> &items) {
  std::string s =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)";
  int n = 1;
  for (const auto &[type, target] : items)
    s += "<Relationship Id=\"rId" + std::to_string(n++) +
         "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + type +
         "\" Target=\"" + target + "\"/>";
  return s + "</Relationships>";
}

inline const char *kTheme =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><a:theme xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" name="T"><a:themeElements><a:clrScheme name="T"><a:dk1><a:srgbClr val="000000"/></a:dk1><a:lt1><a:srgbClr val="FFFFFF"/></a:lt1><a:dk2><a:srgbClr val="1F1F1F"/></a:dk2><a:lt2><a:srgbClr val="EEEEEE"/></a:lt2><a:accent1><a:srgbClr val="4472C4"/></a:accent1><a:accent2><a:srgbClr val="ED7D31"/></a:accent2><a:accent3><a:srgbClr val="A5A5A5"/></a:accent3><a:accent4><a:srgbClr val="FFC000"/></a:accent4><a:accent5><a:srgbClr val="5B9BD5"/></a:accent5><a:accent6><a:srgbClr val="70AD47"/></a:accent6><a:hlink><a:srgbClr val="0563C1"/></a:hlink><a:folHlink><a:srgbClr val="954F72"/></a:folHlink></a:clrScheme><a:fontScheme name="T"><a:majorFont><a:latin typeface="DejaVu Sans"/><a:ea typeface=""/><a:cs typeface=""/></a:majorFont><a:minorFont><a:latin typeface="DejaVu Sans"/><a:ea typeface=""/><a:cs typeface=""/></a:minorFont></a:fontScheme><a:fmtScheme name="T"><a:fillStyleLst><a:solidFill><a:schemeClr val="phClr"/></a:solidFill><a:solidFill><a:schemeClr val="phClr"/></a:solidFill><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:fillStyleLst><a:lnStyleLst><a:ln w="6350"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln><a:ln w="12700"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln><a:ln w="19050"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln></a:lnStyleLst><a:effectStyleLst><a:effectStyle><a:effectLst/></a:effectStyle><a:effectStyle><a:effectLst/></a:effectStyle><a:effectStyle><a:effectLst/></a:effectStyle></a:effectStyleLst><a:bgFillStyleLst><a:solidFill><a:schemeClr val="phClr"/></a:solidFill><a:solidFill><a:schemeClr val="phClr"/></a:solidFill><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:bgFillStyleLst></a:fmtScheme></a:themeElements></a:theme>)";

// libzip reads the bytes when the archive is closed; `keep` holds them until then.
inline void add(zip_t *z, std::deque<std::string> &keep, const std::string &name,
                const std::string &data) {
  keep.push_back(data);
  zip_source_t *src = zip_source_buffer(z, keep.back().data(), keep.back().size(), 0);
  if (!src || zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0)
    throw std::runtime_error("zip add failed: " + name);
}

} // namespace detail

// Writes the deck to `path`.
inline void write(const std::filesystem::path &path, const Deck &deck) {
  std::deque<std::string> keep;
  int err = 0;
  zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z)
    throw std::runtime_error("cannot create " + path.string());
  const std::string head = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";

  std::string types =
      head +
      R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/>)"
      R"(<Override PartName="/ppt/presentation.xml" ContentType="application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml"/>)"
      R"(<Override PartName="/ppt/slideMasters/slideMaster1.xml" ContentType="application/vnd.openxmlformats-officedocument.presentationml.slideMaster+xml"/>)"
      R"(<Override PartName="/ppt/slideLayouts/slideLayout1.xml" ContentType="application/vnd.openxmlformats-officedocument.presentationml.slideLayout+xml"/>)"
      R"(<Override PartName="/ppt/theme/theme1.xml" ContentType="application/vnd.openxmlformats-officedocument.theme+xml"/>)";
  std::vector<int> numbers;
  for (std::size_t i = 0; i < deck.slides.size(); ++i)
    numbers.push_back(deck.slides[i].part_number ? deck.slides[i].part_number
                                                 : static_cast<int>(i + 1));
  for (int n : numbers)
    types += "<Override PartName=\"/ppt/slides/slide" + std::to_string(n) +
             ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.presentationml."
             "slide+xml\"/>";
  types += "</Types>";
  if (deck.with_content_types)
    detail::add(z, keep, "[Content_Types].xml", types);
  detail::add(z, keep, "_rels/.rels",
              detail::rels({{deck.with_presentation ? "officeDocument" : "extended-properties",
                             "ppt/presentation.xml"}}));

  std::vector<std::pair<std::string, std::string>> pres_rels{
      {"slideMaster", "slideMasters/slideMaster1.xml"}, {"theme", "theme/theme1.xml"}};
  std::string ids;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    pres_rels.emplace_back("slide", "slides/slide" + std::to_string(numbers[i]) + ".xml");
    ids += "<p:sldId id=\"" + std::to_string(256 + i) + "\" r:id=\"rId" +
           std::to_string(pres_rels.size()) + "\"/>";
  }
  std::string pres =
      head + "<p:presentation" + kNs +
      R"(><p:sldMasterIdLst><p:sldMasterId id="2147483648" r:id="rId1"/></p:sldMasterIdLst>)";
  if (!ids.empty())
    pres += "<p:sldIdLst>" + ids + "</p:sldIdLst>";
  if (deck.with_size)
    pres +=
        "<p:sldSz cx=\"" + std::to_string(deck.cx) + "\" cy=\"" + std::to_string(deck.cy) + "\"/>";
  pres += R"(<p:notesSz cx="6858000" cy="9144000"/></p:presentation>)";
  detail::add(z, keep, "ppt/presentation.xml", pres);
  detail::add(z, keep, "ppt/_rels/presentation.xml.rels", detail::rels(pres_rels));

  detail::add(
      z, keep, "ppt/slideMasters/slideMaster1.xml",
      head + "<p:sldMaster" + kNs + ">" + detail::tree(deck.master_shapes) +
          R"(<p:clrMap bg1="lt1" tx1="dk1" bg2="lt2" tx2="dk2" accent1="accent1" accent2="accent2" accent3="accent3" accent4="accent4" accent5="accent5" accent6="accent6" hlink="hlink" folHlink="folHlink"/><p:sldLayoutIdLst><p:sldLayoutId id="2147483649" r:id="rId1"/></p:sldLayoutIdLst></p:sldMaster>)");
  detail::add(z, keep, "ppt/slideMasters/_rels/slideMaster1.xml.rels",
              detail::rels({{"slideLayout", "../slideLayouts/slideLayout1.xml"},
                            {"theme", "../theme/theme1.xml"}}));
  detail::add(z, keep, "ppt/slideLayouts/slideLayout1.xml",
              head + "<p:sldLayout" + kNs + ">" + detail::tree(deck.layout_shapes) +
                  "<p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sldLayout>");
  detail::add(z, keep, "ppt/slideLayouts/_rels/slideLayout1.xml.rels",
              detail::rels({{"slideMaster", "../slideMasters/slideMaster1.xml"}}));
  detail::add(z, keep, "ppt/theme/theme1.xml", detail::kTheme);

  for (std::size_t i = 0; i < deck.slides.size(); ++i) {
    const std::string name = "slide" + std::to_string(numbers[i]) + ".xml";
    detail::add(z, keep, "ppt/slides/" + name,
                head + "<p:sld" + kNs + (deck.slides[i].hidden ? " show=\"0\"" : "") + ">" +
                    detail::tree(deck.slides[i].shapes) +
                    "<p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sld>");
    detail::add(z, keep, "ppt/slides/_rels/" + name + ".rels",
                detail::rels({{"slideLayout", "../slideLayouts/slideLayout1.xml"}}));
  }
  for (const auto &[name, data] : deck.extra_parts) {
    detail::add(z, keep, name, data);
    zip_set_file_compression(z, zip_name_locate(z, name.c_str(), 0), ZIP_CM_STORE, 0);
  }
  if (zip_close(z) != 0) {
    const std::string why = zip_strerror(z);
    zip_discard(z);
    throw std::runtime_error("cannot write " + path.string() + ": " + why);
  }
}

} // namespace vaskit::testing::pptx
