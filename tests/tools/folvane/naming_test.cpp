// Standard receipt names, and renaming files to them without ever replacing a file.
#include "folvane_support.hpp"
#include "tools/folvane/folvane.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vaskit::testing::LogCapture;
using folvane_test::receipt;
using vaskit::folvane::Folvaner;
using vaskit::folvane::json;
using vaskit::folvane::ReceiptInfo;
using vaskit::testing::TempDir;
using Opt = std::optional<std::string>;

std::string name_for(Opt date, Opt time, Opt total) {
  ReceiptInfo info;
  info.date = std::move(date);
  info.time = std::move(time);
  info.total = std::move(total);
  return Folvaner::generate_receipt_filename(info, "whatever.pdf");
}

TEST(GenerateReceiptFilename, WholeNames) {
  EXPECT_EQ(name_for("2024年3月5日", "下午3:15", "1,234"), "receipt_0305_1515_1234.pdf");
  EXPECT_EQ(name_for("2024/12/25", "12:05 AM", "85"), "receipt_1225_0005_85.pdf");
  EXPECT_EQ(name_for(std::nullopt, std::nullopt, std::nullopt), "receipt_0000_0000_0.pdf");
  EXPECT_EQ(name_for("", "", ""), "receipt_0000_0000_0.pdf");
}

TEST(GenerateReceiptFilename, MonthAndDay) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"2024年3月5日", "0305"},
      {"2024 年 12 月 31 日", "1231"},
      {"3月5日", "0305"},
      {"2024/3/5", "0305"},
      {"2024-03-05", "0305"},
      {"03/05", "0305"},
      {"２０２４年１１月３日", "1103"},
      {"2024年13月45日", "1345"},
      {"March 5", "0000"},
  };
  for (const auto &[date, mmdd] : cases)
    EXPECT_EQ(name_for(date, std::nullopt, std::nullopt), "receipt_" + mmdd + "_0000_0.pdf")
        << date;
}

TEST(GenerateReceiptFilename, HourAndMinute) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"上午12:30", "0030"},  {"下午12:30", "1230"},     {"12:30", "1230"},    {"3:07 pm", "1507"},
      {"下午 15:20", "1520"}, {"上午9:05", "0905"},      {"12:05 AM", "0005"}, {"11:59 PM", "2359"},
      {"下午3:15", "1515"},   {"下午１１:４５", "2345"}, {"25:70", "2570"},    {"中午", "0000"},
  };
  for (const auto &[time, hhmm] : cases)
    EXPECT_EQ(name_for(std::nullopt, time, std::nullopt), "receipt_0000_" + hhmm + "_0.pdf")
        << time;
}

TEST(GenerateReceiptFilename, Amount) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"350.50", "350_5"},
      {"350.00", "350"},
      {"12.05", "12_05"},
      {"1,234", "1234"},
      {",", ""}, // nothing left of the amount: the name ends in "_.pdf"
      {",,", ""},
      {"$ 85 ", "85"},
      {"１,２８０", "1280"},
      {"0.5", "0_5"},
      {"0.00001", "1e-05"},
      {"12345678901234567890", "12345678901234567168"},
      {"1,2.3.4", "12.3.4"}, // not a number: left as cleaned
  };
  for (const auto &[total, amt] : cases)
    EXPECT_EQ(name_for(std::nullopt, std::nullopt, total), "receipt_0000_0000_" + amt + ".pdf")
        << total;
}

fs::path copy_receipt(const std::string &variant, const fs::path &to) {
  fs::copy_file(receipt(variant), to);
  return to;
}

std::string bytes(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::set<std::string> names_in(const fs::path &dir) {
  std::set<std::string> out;
  for (const auto &e : fs::directory_iterator(dir))
    out.insert(e.path().filename().string());
  return out;
}

TEST(RenameReceiptFile, RenamesInItsFolder) {
  TempDir dir;
  const auto src = copy_receipt("basic", dir / "scan 1.pdf");
  LogCapture logs;
  const auto r = Folvaner::rename_receipt_file(src.string());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.path, (dir / "receipt_0305_1515_1234.pdf").string());
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"receipt_0305_1515_1234.pdf"});
  EXPECT_EQ(logs.texts("INFO"),
            std::vector<std::string>{"🎉 更名成功: scan 1.pdf -> receipt_0305_1515_1234.pdf"});
}

TEST(RenameReceiptFile, AlreadyStandardDryRunAndMissing) {
  TempDir dir;
  const auto standard = copy_receipt("english", dir / "receipt_1225_0005_85.pdf");
  const auto other = copy_receipt("rotated", dir / "r.pdf");
  {
    LogCapture logs;
    const auto r = Folvaner::rename_receipt_file(standard.string());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.path, standard.string());
    EXPECT_EQ(logs.texts("INFO"),
              std::vector<std::string>{
                  "ℹ️ 檔名已相符，無需更名: receipt_1225_0005_85.pdf"});
  }
  {
    LogCapture logs;
    const auto r = Folvaner::rename_receipt_file(other.string(), true);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.path, (dir / "receipt_0708_0030_350_5.pdf").string());
    EXPECT_TRUE(fs::exists(other));
    EXPECT_EQ(logs.texts("INFO"),
              std::vector<std::string>{"🔍 [預覽更名] r.pdf -> receipt_0708_0030_350_5.pdf"});
  }
  {
    LogCapture logs;
    const auto missing = (dir / "gone.pdf").string();
    const auto r = Folvaner::rename_receipt_file(missing);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.path, missing);
    EXPECT_EQ(logs.texts("ERROR"), std::vector<std::string>{"❌ 檔案不存在: " + missing});
  }
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"receipt_1225_0005_85.pdf", "r.pdf"}));
}

TEST(RenameReceiptFile, RelativePathsStayRelative) {
  TempDir dir;
  copy_receipt("twopage", dir / "t.pdf");
  const auto old_cwd = fs::current_path();
  fs::current_path(dir.path());
  const auto r = Folvaner::rename_receipt_file("t.pdf");
  const auto again = Folvaner::rename_receipt_file("./receipt_0601_0905_420.pdf");
  fs::current_path(old_cwd);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.path, "receipt_0601_0905_420.pdf");
  EXPECT_FALSE(again.ok); // "./x" and "x" are the same file
}

TEST(RenameReceiptFile, NeverReplacesAnExistingFile) {
  TempDir dir;
  const auto taken = dir / "receipt_0305_1515_1234.pdf";
  { std::ofstream(taken) << "someone else's file"; }
  const auto src = copy_receipt("basic", dir / "new.pdf");
  const auto before = bytes(src);
  LogCapture logs;
  const auto r = Folvaner::rename_receipt_file(src.string());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.path, src.string());
  EXPECT_EQ(bytes(taken), "someone else's file");
  EXPECT_EQ(bytes(src), before);
  const auto errors = logs.texts("ERROR");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("❌ 更名失敗 " + src.string() + " -> " + taken.string() + ": ", 0), 0u)
      << errors[0];
}

TEST(RenameInputFolderFiles, TwoReceiptsWithOneNameKeepBothFiles) {
  TempDir dir;
  copy_receipt("basic", dir / "a.pdf");
  copy_receipt("basic", dir / "b.pdf");
  copy_receipt("blank", dir / "c.pdf");
  copy_receipt("english", dir / "receipt_1225_0005_85.pdf");
  copy_receipt("basic", dir / "taxi_receipt.pdf"); // the report itself is never renamed
  const Folvaner app(json{{"input_folder", dir.path().string()}});

  LogCapture logs;
  testing::internal::CaptureStdout();
  app.rename_input_folder_files();
  const auto out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(out, "🔄 開始批次更名 (4 個檔案)...\n"
                 "  ✅ a.pdf -> receipt_0305_1515_1234.pdf\n"
                 "  ℹ️ b.pdf (略過或未變更)\n"
                 "  ✅ c.pdf -> receipt_0000_0000_0.pdf\n"
                 "  ℹ️ receipt_1225_0005_85.pdf (略過或未變更)\n");
  EXPECT_EQ(names_in(dir.path()),
            (std::set<std::string>{"receipt_0305_1515_1234.pdf", "b.pdf", "receipt_0000_0000_0.pdf",
                                   "receipt_1225_0005_85.pdf", "taxi_receipt.pdf"}));
  EXPECT_EQ(bytes(dir / "b.pdf"), bytes(receipt("basic")));
  EXPECT_EQ(logs.texts("ERROR").size(), 1u);
}

TEST(RenameInputFolderFiles, DryRunRenamesNothing) {
  TempDir dir;
  copy_receipt("fullwidth", dir / "x.pdf");
  const Folvaner app(json{{"input_folder", dir.path().string()}});
  testing::internal::CaptureStdout();
  app.rename_input_folder_files(true);
  const auto out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "🔄 開始批次更名 (1 個檔案)...\n  ✅ x.pdf -> receipt_1103_2345_1280.pdf\n");
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"x.pdf"});
}

TEST(RenameInputFolderFiles, EmptyOrMissingFolder) {
  TempDir dir;
  for (const auto &folder : {dir.path().string(), (dir / "nope").string()}) {
    SCOPED_TRACE(folder);
    const Folvaner app(json{{"input_folder", folder}});
    LogCapture logs;
    testing::internal::CaptureStdout();
    app.rename_input_folder_files();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(logs.texts("WARNING"),
              std::vector<std::string>{"⚠️ 找不到可更名的 PDF 檔案。"});
    const auto errors = logs.texts("ERROR");
    if (folder == dir.path().string())
      EXPECT_TRUE(errors.empty());
    else
      EXPECT_EQ(errors, std::vector<std::string>{"Error: Input folder not found: " + folder});
  }
}

} // namespace
