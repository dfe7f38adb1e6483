// Standard receipt names (receipt_<mmdd>_<hhmm>_<amount>.pdf) and renaming to them.
#include "tools/folvane/folvane.hpp"

#include "core/fs.hpp"
#include "core/re.hpp"
#include "core/text.hpp"
#include "formats/pdf/text.hpp"
#include "tools/folvane/numbers.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vaskit::folvane {
namespace {

constexpr std::string_view kMonthDayWritten =
    R"((?:(\d{4})\s*年\s*)?(\d{1,2})\s*月\s*(\d{1,2})\s*日)";
constexpr std::string_view kMonthDayNumeric = R"((?:(\d{4})[/-])?(\d{1,2})[/-](\d{1,2}))";
constexpr std::string_view kHourMinute = R"((\d{1,2}):(\d{2}))";

std::string month_day(const std::optional<std::string> &date) {
  if (!present(date))
    return "0000";
  auto m = re::search(kMonthDayWritten, *date);
  if (!m)
    m = re::search(kMonthDayNumeric, *date);
  if (!m)
    return "0000";
  const auto month = numbers::parse_digits(m->group(2));
  const auto day = numbers::parse_digits(m->group(3));
  if (!month || !day)
    return "0000";
  return numbers::zero_pad(*month, 2) + numbers::zero_pad(*day, 2);
}

std::string hour_minute(const std::optional<std::string> &time) {
  if (!present(time))
    return "0000";
  const std::string upper = text::upper(*time);
  const bool is_pm =
      time->find("下午") != std::string::npos || upper.find("PM") != std::string::npos;
  const bool is_am =
      time->find("上午") != std::string::npos || upper.find("AM") != std::string::npos;
  const auto m = re::search(kHourMinute, *time);
  if (!m)
    return "0000";
  auto hour = numbers::parse_digits(m->group(1));
  const auto minute = numbers::parse_digits(m->group(2));
  if (!hour || !minute)
    return "0000";
  if (is_pm && *hour < 12)
    *hour += 12;
  else if (is_am && *hour == 12)
    *hour = 0;
  return numbers::zero_pad(*hour, 2) + numbers::zero_pad(*minute, 2);
}

std::string amount_part(const std::optional<std::string> &total) {
  if (!present(total))
    return "0";
  const std::string cleaned = numbers::clean_amount(*total);
  const auto value = numbers::parse_real(cleaned);
  if (!value)
    return cleaned;
  if (std::trunc(*value) == *value)
    return numbers::integral_text(*value);
  return text::replace_all(text::float_repr(*value), ".", "_");
}

// Renames `from` to `to` unless `to` exists, so that no receipt is ever overwritten. Returns ""
// on success, else the reason.
std::string rename_no_replace(const std::string &from, const std::string &to) {
  const int err = fs::rename_no_replace(from, to);
  return err == 0 ? "" : std::strerror(err);
}

} // namespace

std::string Folvaner::generate_receipt_filename(const ReceiptInfo &info,
                                                const std::optional<std::string> &fallback_name) {
  (void)fallback_name;
  return "receipt_" + month_day(info.date) + "_" + hour_minute(info.time) + "_" +
         amount_part(info.total) + ".pdf";
}

RenameResult Folvaner::rename_receipt_file(const std::string &pdf_path, bool dry_run) {
  ReceiptInfo info;
  bool read_ok = false;
  return rename_read_receipt(pdf_path, dry_run, info, read_ok);
}

RenameResult Folvaner::rename_read_receipt(const std::string &pdf_path, bool dry_run,
                                           ReceiptInfo &info, bool &read_ok) {
  read_ok = false;
  std::error_code ec;
  if (!std::filesystem::exists(pdf_path, ec)) {
    log().error("❌ 檔案不存在: " + text::printable(pdf_path));
    return {false, pdf_path};
  }
  read_ok = read_receipt(pdf_path, info);
  const std::string base = fs::basename(pdf_path);
  const std::string new_filename = generate_receipt_filename(info, base);
  const std::string dir_name = fs::dirname(pdf_path);
  const std::string new_filepath =
      dir_name.empty() ? new_filename : fs::join(dir_name, new_filename);

  if (fs::abspath(pdf_path) == fs::abspath(new_filepath)) {
    log().info("ℹ️ 檔名已相符，無需更名: " + new_filename);
    return {false, pdf_path};
  }
  if (dry_run) {
    log().info("🔍 [預覽更名] " + text::printable(base) + " -> " + new_filename);
    return {true, new_filepath};
  }
  if (const std::string reason = rename_no_replace(pdf_path, new_filepath); !reason.empty()) {
    log().error("❌ 更名失敗 " + text::printable(pdf_path) + " -> " + text::printable(new_filepath) +
                ": " + reason);
    return {false, pdf_path};
  }
  log().info("🎉 更名成功: " + text::printable(base) + " -> " + new_filename);
  return {true, new_filepath};
}

void Folvaner::rename_input_folder_files(bool dry_run) const {
  const pdf::TextSession session;
  rename_and_read(dry_run);
}

std::map<std::string, ReceiptInfo> Folvaner::rename_and_read(bool dry_run) const {
  std::map<std::string, ReceiptInfo> read;
  const auto files = get_file_list();
  if (files.empty()) {
    log().warning("⚠️ 找不到可更名的 PDF 檔案。");
    return read;
  }
  cli::echo("🔄 開始批次更名 (" + std::to_string(files.size()) + " 個檔案)...");
  for (const FileEntry &file : files) {
    ReceiptInfo info;
    bool read_ok = false;
    const auto result = rename_read_receipt(file.path, dry_run, info, read_ok);
    // A dry run leaves the file where it was.
    if (read_ok)
      read.insert_or_assign(fs::abspath(result.ok && !dry_run ? result.path : file.path),
                            std::move(info));
    const std::string old_name = text::printable(fs::basename(file.path));
    if (result.ok)
      cli::echo("  ✅ " + old_name + " -> " + text::printable(fs::basename(result.path)));
    else
      cli::echo("  ℹ️ " + old_name + " (略過或未變更)");
  }
  return read;
}

} // namespace vaskit::folvane
