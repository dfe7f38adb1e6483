// Company labels for receipt addresses, the expense description, and the date and amount in
// the forms the expense workbook takes.
#include "tools/folvane/folvane.hpp"

#include "core/re.hpp"
#include "core/text.hpp"
#include "tools/folvane/numbers.hpp"

#include <cmath>
#include <limits>

namespace vaskit::folvane {
namespace {

constexpr std::string_view kDateWritten = R"((\d{4})\s*年\s*(\d{1,2})\s*月\s*(\d{1,2})\s*日)";
constexpr std::string_view kDateNumeric = R"((\d{4})[/-](\d{1,2})[/-](\d{1,2}))";

// Receipts print street names with and without spaces; only U+0020 is ignored.
std::string without_spaces(std::string_view s) {
  return text::replace_all(s, " ", "");
}

// The label of the first entry with a keyword in `addr_clean`, or nullptr.
const std::string *first_match(const std::string &addr_clean, const json &mapping) {
  if (!mapping.is_object())
    return nullptr;
  for (auto it = mapping.begin(); it != mapping.end(); ++it) {
    const json &kw = it.value();
    bool hit = false;
    if (kw.is_array()) {
      for (const auto &k : kw)
        if (k.is_string() && addr_clean.find(without_spaces(k.get_ref<const std::string &>())) !=
                                 std::string::npos) {
          hit = true;
          break;
        }
    } else if (kw.is_string()) {
      hit = addr_clean.find(without_spaces(kw.get_ref<const std::string &>())) != std::string::npos;
    }
    if (hit)
      return &it.key();
  }
  return nullptr;
}

std::optional<std::string> slash_date(const std::optional<re::Match> &m) {
  if (!m)
    return std::nullopt;
  const auto y = numbers::parse_digits(m->group(1));
  const auto mo = numbers::parse_digits(m->group(2));
  const auto d = numbers::parse_digits(m->group(3));
  if (!y || !mo || !d)
    return std::nullopt;
  return numbers::zero_pad(*y, 4) + "/" + numbers::zero_pad(*mo, 2) + "/" +
         numbers::zero_pad(*d, 2);
}

} // namespace

std::string Folvaner::map_address(const std::optional<std::string> &addr_str,
                                  const json &mapping_dict) {
  if (!present(addr_str))
    return "";
  if (!config::truthy(mapping_dict))
    return *addr_str;
  const std::string *label = first_match(without_spaces(*addr_str), mapping_dict);
  return label ? *label : *addr_str;
}

bool Folvaner::check_address_match(const std::optional<std::string> &addr_str,
                                   const json &mapping_dict) {
  if (!present(addr_str) || !config::truthy(mapping_dict))
    return false;
  return first_match(without_spaces(*addr_str), mapping_dict) != nullptr;
}

std::string Folvaner::build_description(const ReceiptInfo &info, const json &conf_dict,
                                        const std::optional<std::string> &filename) {
  const json &cfg =
      conf_dict.is_object() && !conf_dict.empty() ? conf_dict : DEFAULT_CONFIG.at("config");
  const json mapping = config::get_or(cfg, "address_mapping", json::object());
  const json suffix = config::get_or(cfg, "description_suffix", "radar support");

  const std::string tag = present(filename) ? "檔案: " + text::printable(*filename) + " | " : "";
  const std::string pickup = info.pickup_address.value_or("");
  const std::string dropoff = info.dropoff_address.value_or("");
  const std::string raw_address = info.address.value_or("");

  if (pickup.empty() && dropoff.empty() && raw_address.empty()) {
    log().error("❌ " + tag + "未比對到公司名稱且無地址資訊！");
    return "";
  }
  if (!pickup.empty() && dropoff.empty())
    log().error("❌ " + tag + "未找到下車地點！(僅有起點: '" + text::printable(pickup) + "')");
  else if (!dropoff.empty() && pickup.empty())
    log().error("❌ " + tag + "未找到上車地點！(僅有迄點: '" + text::printable(dropoff) + "')");

  const std::string mapped_pickup = map_address(pickup, mapping);
  const std::string mapped_dropoff = map_address(dropoff, mapping);
  const bool matched_p = check_address_match(pickup, mapping);
  const bool matched_d = check_address_match(dropoff, mapping);

  if (!pickup.empty() && !matched_p)
    log().warning("⚠️ " + tag + "未找到對應公司名稱 (起點: '" + text::printable(pickup) + "')");
  if (!dropoff.empty() && !matched_d)
    log().warning("⚠️ " + tag + "未找到對應公司名稱 (迄點: '" + text::printable(dropoff) +
                  "')");
  if (pickup.empty() && dropoff.empty() && !check_address_match(raw_address, mapping))
    log().warning("⚠️ " + tag + "未找到對應公司名稱 (地址: '" + text::printable(raw_address) +
                  "')");

  std::string desc;
  if (!mapped_pickup.empty() && !mapped_dropoff.empty())
    desc = mapped_pickup + "->" + mapped_dropoff;
  else if (!mapped_pickup.empty())
    desc = mapped_pickup;
  else if (!mapped_dropoff.empty())
    desc = mapped_dropoff;
  else
    desc = raw_address;

  if (config::truthy(suffix) && !desc.empty())
    return text::strip(desc + " " + config::to_text(suffix));
  return desc;
}

std::string Folvaner::format_date_slash(const std::optional<std::string> &date_str) {
  if (!present(date_str))
    return "";
  if (auto d = slash_date(re::search(kDateWritten, *date_str)))
    return *d;
  if (auto d = slash_date(re::search(kDateNumeric, *date_str)))
    return *d;
  return *date_str;
}

json Folvaner::format_amount_num(const json &amount_str) {
  if (!config::truthy(amount_str))
    return amount_str;
  const std::string raw =
      amount_str.is_string() ? amount_str.get<std::string>() : config::to_text(amount_str);
  const auto value = numbers::parse_real(numbers::clean_amount(raw));
  if (!value)
    return amount_str;
  if (std::trunc(*value) != *value)
    return *value;
  // Whole amounts are integers; those beyond 64 bits stay real numbers of the same value.
  if (std::fabs(*value) < 9.2e18)
    return static_cast<long long>(*value);
  return *value;
}

} // namespace vaskit::folvane
