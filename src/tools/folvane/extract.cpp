// Date, time, total and addresses of one ride receipt, read line by line from its text.
#include "tools/folvane/receipt_text.hpp"

#include "core/re.hpp"
#include "core/text.hpp"
#include "formats/pdf/text.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace vaskit::folvane {
namespace {

constexpr std::string_view kDateWritten = R"((\d{4}\s*年\s*\d{1,2}\s*月\s*\d{1,2}\s*日))";
constexpr std::string_view kDateNumeric = R"((\d{4}[/-]\d{1,2}[/-]\d{1,2}))";
constexpr std::string_view kTimeOnDateLine =
    R"(((?:上午|下午|AM|PM)?\s*\d{1,2}:\d{2}(?:\s*(?:AM|PM))?))";
constexpr std::string_view kTimeWholeLine =
    R"(^((?:上午|下午|AM|PM)?\s*\d{1,2}:\d{2}(?:\s*(?:AM|PM))?)$)";
constexpr std::string_view kTimeAnywhere =
    R"(((?:上午|下午|AM|PM)\s*\d{1,2}:\d{2}|\d{1,2}:\d{2}\s*(?:AM|PM)?))";
constexpr std::string_view kTotalLabel = R"(總計\s*[\$NT\$￥]*\s*([\d,]+(?:\.\d{1,2})?))";
constexpr std::string_view kTotalDollar = R"([\$]([\d,]+(?:\.\d{1,2})?))";
constexpr std::string_view kTimeLine = R"((?:上午|下午|AM|PM)?\s*\d{1,2}:\d{2})";
constexpr std::string_view kPlaceName =
    R"((?:Taiwan|台灣|臺北|台北|新北|桃園|台中|臺中|台南|臺南|高雄|基隆|新竹|苗栗|彰化|南投|雲林|嘉義|屏東|宜蘭|花蓮|台東|臺東))";

constexpr std::array<std::string_view, 10> kRoadKeywords = {
    "路", "街", "大道", "巷", "弄", "號", "段", "Station", "Zhan", "District"};
constexpr std::array<std::string_view, 10> exclude_addr_kws = {
    "由",   "車輛年份", "駕駛執業",  "想查看", "行程詳細資訊",
    "Uber", "感謝",     "Apple Pay", "款項",   "審查"};

// A time line is short: a longer line holds more than the time and is not a trip stop.
constexpr std::size_t kMaxTimeLineLength = 14;

bool contains_any(std::string_view line, const std::array<std::string_view, 10> &words) {
  return std::any_of(words.begin(), words.end(),
                     [&](std::string_view w) { return line.find(w) != std::string_view::npos; });
}

std::optional<std::string> group1(const std::optional<re::Match> &m) {
  if (!m)
    return std::nullopt;
  return text::strip(m->group(1));
}

void read_date_and_time(ReceiptInfo &info, const std::vector<std::string> &lines,
                        const std::string &full_text) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    auto date = re::search(kDateWritten, line);
    if (!date)
      date = re::search(kDateNumeric, line);
    if (!date || info.date)
      continue;
    info.date = group1(date);
    if (auto t = re::search(kTimeOnDateLine, line))
      info.time = group1(t);
    else if (i + 1 < lines.size())
      info.time = group1(re::match(kTimeWholeLine, lines[i + 1]));
  }
  if (!info.time)
    info.time = group1(re::search(kTimeAnywhere, full_text));
  if (info.date && info.time)
    info.datetime = *info.date + " " + *info.time;
  else if (info.date)
    info.datetime = info.date;
}

void read_total(ReceiptInfo &info, const std::string &full_text) {
  info.total = group1(re::search(kTotalLabel, full_text));
  if (!info.total)
    info.total = group1(re::search(kTotalDollar, full_text));
}

void read_addresses(ReceiptInfo &info, const std::vector<std::string> &lines) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string &line = lines[i];
    bool is_after_time = false;
    if (i > 0) {
      const std::string &prev_line = lines[i - 1];
      is_after_time = re::search(kTimeLine, prev_line).has_value() &&
                      text::length(prev_line) <= kMaxTimeLineLength;
    }
    const bool has_addr_kw = re::search(kPlaceName, line).has_value();
    const bool has_road_kw = contains_any(line, kRoadKeywords);
    if (contains_any(line, exclude_addr_kws))
      continue;
    if ((is_after_time || (has_addr_kw && has_road_kw)) &&
        std::find(info.addresses.begin(), info.addresses.end(), line) == info.addresses.end())
      info.addresses.push_back(line);
  }
  if (info.addresses.size() >= 2) {
    info.pickup_address = info.addresses[0];
    info.dropoff_address = info.addresses[1];
    info.address = info.addresses[0] + " -> " + info.addresses[1];
  } else if (info.addresses.size() == 1) {
    info.pickup_address = info.addresses[0];
    info.address = info.addresses[0];
  }
}

} // namespace

void read_receipt_text(const std::string &full_text, ReceiptInfo &info) {
  std::vector<std::string> lines;
  for (const auto &piece : text::splitlines(full_text)) {
    auto line = text::strip(piece);
    if (!line.empty())
      lines.push_back(std::move(line));
  }
  read_date_and_time(info, lines, full_text);
  read_total(info, full_text);
  read_addresses(info, lines);
}

bool Folvaner::read_receipt(const std::string &pdf_path, ReceiptInfo &info) {
  try {
    // Text maps of damaged fonts may yield broken UTF-8; the patterns need well-formed text.
    read_receipt_text(text::sanitize_utf8(text::join(pdf::extract_page_texts(pdf_path), "\n")),
                      info);
    return true;
  } catch (const std::exception &e) {
    log().error("❌ 擷取收據資訊失敗 " + text::printable(pdf_path) + ": " +
                reason_without_path(e.what(), pdf_path));
    return false;
  }
}

ReceiptInfo Folvaner::extract_receipt_info(const std::string &pdf_path) {
  ReceiptInfo info;
  read_receipt(pdf_path, info);
  return info;
}

} // namespace vaskit::folvane
