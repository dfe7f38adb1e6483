// Slide choice and the keyword shapes of a slide.
#include "core/text.hpp"
#include "tools/slidra/slidra.hpp"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <utf8proc.h>

namespace vaskit::slidra {

namespace {

// Decimal value of a Unicode digit (category Nd), or -1. Digits are assigned in runs of ten
// from 0 to 9, so a digit's value is its distance from the start of its run of digits, mod 10.
int digit_value(char32_t cp) {
  auto is_nd = [](char32_t c) {
    return utf8proc_category(static_cast<utf8proc_int32_t>(c)) == UTF8PROC_CATEGORY_ND;
  };
  if (cp < 0x80)
    return cp >= U'0' && cp <= U'9' ? static_cast<int>(cp - U'0') : -1;
  if (!is_nd(cp))
    return -1;
  char32_t start = cp;
  while (start > 0 && is_nd(start - 1))
    --start;
  return static_cast<int>((cp - start) % 10);
}

// A number as the user wrote it, read as a base-10 integer literal: optional sign, digits of any
// script, single underscores between digits.
// `digits` holds ASCII digits without leading zeros ("0" for zero).
struct ParsedInt {
  bool negative = false;
  std::string digits;
};

std::optional<ParsedInt> parse_int(std::string_view text) {
  const std::u32string cps = text::to_u32(text);
  std::size_t i = 0;
  ParsedInt out;
  if (i < cps.size() && (cps[i] == U'+' || cps[i] == U'-')) {
    out.negative = cps[i] == U'-';
    ++i;
  }
  bool need_digit = true; // at the start and after an underscore
  for (; i < cps.size(); ++i) {
    if (cps[i] == U'_') {
      if (need_digit)
        return std::nullopt;
      need_digit = true;
      continue;
    }
    const int d = digit_value(cps[i]);
    if (d < 0)
      return std::nullopt;
    need_digit = false;
    if (!(out.digits.empty() && d == 0))
      out.digits += static_cast<char>('0' + d);
  }
  if (need_digit)
    return std::nullopt;
  if (out.digits.empty()) {
    out.digits = "0";
    out.negative = false;
  }
  return out;
}

std::string to_text(const ParsedInt &n) {
  return (n.negative ? "-" : "") + n.digits;
}

// The value when it lies in [1, limit]; nullopt otherwise (also for numbers of any length).
std::optional<int> in_range(const ParsedInt &n, std::int64_t limit) {
  if (n.negative || n.digits == "0" || n.digits.size() > 18)
    return std::nullopt;
  const std::int64_t v = std::stoll(n.digits);
  if (v > limit || v > std::numeric_limits<int>::max())
    return std::nullopt;
  return static_cast<int>(v);
}

} // namespace

std::vector<int> SlidraApp::parse_slide_indices(const json &target_str,
                                                std::int64_t total_slides) const {
  if (target_str.is_boolean() || target_str.is_number_integer()) {
    std::int64_t n = 0;
    if (target_str.is_boolean())
      n = target_str.get<bool>() ? 1 : 0;
    else if (target_str.is_number_unsigned())
      n = target_str.get<std::uint64_t>() > static_cast<std::uint64_t>(total_slides)
              ? 0
              : static_cast<std::int64_t>(target_str.get<std::uint64_t>());
    else
      n = target_str.get<std::int64_t>();
    if (n >= 1 && n <= total_slides)
      return {static_cast<int>(n)};
    return {};
  }
  const std::string text = text::lower(text::strip(config::to_text(target_str)));
  std::vector<int> out;
  if (text == "all") {
    for (std::int64_t i = 1; i <= total_slides; ++i)
      out.push_back(static_cast<int>(i));
    return out;
  }
  std::set<int> kept;
  for (const auto &raw : text::split(text, ",")) {
    const std::string part = text::strip(raw);
    if (part.empty())
      continue;
    const auto number = parse_int(part);
    if (!number) {
      log().warning("⚠️ 無法解析的頁碼格式: '" + part + "'，已略過。");
      continue;
    }
    if (const auto n = in_range(*number, total_slides)) {
      kept.insert(*n);
    } else {
      log().warning("⚠️ 頁碼 " + to_text(*number) + " 超出投影片總頁數範圍 (1~" +
                    std::to_string(total_slides) + ")，已略過。");
    }
  }
  return {kept.begin(), kept.end()};
}

std::vector<BboxRatio> SlidraApp::get_target_shapes_bbox_ratios(const std::string &pptx_path,
                                                                int slide_index,
                                                                const std::string &keyword) const {
  const auto deck = pptx::Presentation::open(pptx_path);
  if (slide_index < 1 || static_cast<std::size_t>(slide_index) > deck.slide_count())
    throw std::out_of_range("投影片頁碼 " + std::to_string(slide_index) + " 超出範圍");
  const auto size = deck.slide_size();
  if (!size || size->cx <= 0 || size->cy <= 0)
    throw std::runtime_error("簡報檔案沒有有效的投影片尺寸");
  const auto shapes = deck.shapes(static_cast<std::size_t>(slide_index - 1));
  const double w = static_cast<double>(size->cx);
  const double h = static_cast<double>(size->cy);
  std::vector<BboxRatio> targets;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const auto &s = shapes[i];
    if (!s.has_text_frame || s.text.empty() || s.text.find(keyword) == std::string::npos)
      continue;
    if (!s.box)
      throw std::runtime_error("物件 '" + s.name + "' (第 " + std::to_string(i) +
                               " 個) 沒有位置與大小");
    targets.push_back(BboxRatio{static_cast<double>(s.box->left) / w,
                                static_cast<double>(s.box->top) / h,
                                static_cast<double>(s.box->width) / w,
                                static_cast<double>(s.box->height) / h, static_cast<int>(i)});
  }
  if (targets.empty())
    throw std::runtime_error("在投影片中找不到任何包含關鍵字 '" + keyword + "' 的物件！");
  log().info("✅ 成功定位 " + std::to_string(targets.size()) + " 個包含關鍵字 '" + keyword +
             "' 的目標物件！");
  return targets;
}

} // namespace vaskit::slidra
