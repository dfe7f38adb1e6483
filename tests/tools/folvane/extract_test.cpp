// Reading date, time, total and addresses: the rules on receipt texts, then whole receipts.
#include "folvane_support.hpp"
#include "tools/folvane/receipt_text.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using vaskit::testing::LogCapture;
using folvane_test::receipt;
using vaskit::folvane::Folvaner;
using vaskit::folvane::ReceiptInfo;
using Opt = std::optional<std::string>;

ReceiptInfo read(const std::string &text) {
  ReceiptInfo info;
  vaskit::folvane::read_receipt_text(text, info);
  return info;
}

TEST(ReceiptText, DateAndTime) {
  struct Case {
    const char *name;
    std::string text;
    Opt date, time, datetime;
  };
  const std::vector<Case> cases = {
      {"time on the date line", "收據\n2024年3月5日 下午3:15\n", "2024年3月5日", "下午3:15",
       "2024年3月5日 下午3:15"},
      {"spaces inside the written date stay", "2024 年 3 月 5 日", "2024 年 3 月 5 日",
       std::nullopt, "2024 年 3 月 5 日"},
      {"time alone on the next line", "2024/03/05\n15:30\n其他", "2024/03/05", "15:30",
       "2024/03/05 15:30"},
      {"next line with more words: first time anywhere", "上午8:00 預約\n2024/03/05\n出發 15:30",
       "2024/03/05", "上午8:00", "2024/03/05 上午8:00"},
      {"no four-digit year: no date", "3月5日 下午3:15\n03/05", std::nullopt, "下午3:15",
       std::nullopt},
      {"dashes and one-digit parts", "x 2024-3-5 y", "2024-3-5", std::nullopt, "2024-3-5"},
      {"only the first date line counts", "2024/03/05 09:00\n2024/04/01 10:20", "2024/03/05",
       "09:00", "2024/03/05 09:00"},
      {"second date line's time found anywhere", "2024/03/05\n2024/04/01 10:20", "2024/03/05",
       "10:20", "2024/03/05 10:20"},
      {"markers only in capitals", "2024/09/09 3:07 pm", "2024/09/09", "3:07", "2024/09/09 3:07"},
      {"AM after the minutes", "2024/12/25\n12:05 AM", "2024/12/25", "12:05 AM",
       "2024/12/25 12:05 AM"},
      {"trailing blanks of the anywhere match trimmed", "抵達 9:45 \n下一行", std::nullopt, "9:45",
       std::nullopt},
      {"full-width digits", "２０２４年１１月３日 下午１１:４５", "２０２４年１１月３日",
       "下午１１:４５", "２０２４年１１月３日 下午１１:４５"},
      {"nothing", "謝謝", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const auto info = read(c.text);
    EXPECT_EQ(info.date, c.date);
    EXPECT_EQ(info.time, c.time);
    EXPECT_EQ(info.datetime, c.datetime);
  }
}

TEST(ReceiptText, Total) {
  struct Case {
    std::string text;
    Opt total;
  };
  const std::vector<Case> cases = {
      {"總計 NT$1,234", "1,234"},
      {"小計 $10\n總計 $350.00", "350.00"}, // the label wins over an earlier dollar sign
      {"Total $350.00", "350.00"},
      {"總計\n ￥ 88 元", "88"},
      {"總計 NT$1,234.567", "1,234.56"},
      {"Fare $, paid", ","},
      {"總計 NT$１,２８０", "１,２８０"},
      {"no amount at all", std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(read(c.text).total, c.total);
  }
}

TEST(ReceiptText, Addresses) {
  struct Case {
    const char *name;
    std::string text;
    std::vector<std::string> addresses;
  };
  const std::vector<Case> cases = {
      {"line after a 14-character time line", "上午10:15 ABCDEF\n某某大樓\n", {"某某大樓"}},
      {"not after a 15-character one", "上午10:15 ABCDEFG\n某某大樓\n", {}},
      {"place name and road word", "台北市大安區復興南路一段1號", {"台北市大安區復興南路一段1號"}},
      {"place name alone", "台北市大安區", {}},
      {"road word alone", "復興南路一段1號", {}},
      {"excluded word inside a street name", "台北市中正區由義路1號", {}},
      {"excluded after a time line", "下午3:02\nUber 台北市松山區敦化北路1號", {}},
      {"same text listed once", "下午3:02\n台北車站\n下午3:15\n台北車站", {"台北車站"}},
      {"lines trimmed, any line break",
       "  下午3:02  \r\n  新北市板橋區文化路一段50號 \u2028下午3:15\x1c台北車站",
       {"新北市板橋區文化路一段50號", "台北車站"}},
      {"three stops", "下午1:00\nA站\n下午2:00\nB站\n下午3:00\nC站", {"A站", "B站", "C站"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read(c.text).addresses, c.addresses);
  }
}

TEST(ReceiptText, PickupDropoffAndAddress) {
  auto three = read("下午1:00\nA站\n下午2:00\nB站\n下午3:00\nC站");
  EXPECT_EQ(three.pickup_address, "A站");
  EXPECT_EQ(three.dropoff_address, "B站");
  EXPECT_EQ(three.address, "A站 -> B站");

  auto one = read("台北市大安區復興南路一段1號");
  EXPECT_EQ(one.pickup_address, "台北市大安區復興南路一段1號");
  EXPECT_EQ(one.address, "台北市大安區復興南路一段1號");
  EXPECT_EQ(one.dropoff_address, std::nullopt);

  auto none = read("謝謝搭乘");
  EXPECT_EQ(none.pickup_address, std::nullopt);
  EXPECT_EQ(none.address, std::nullopt);
}

TEST(ExtractReceiptInfo, GeneratedReceipts) {
  struct Case {
    const char *variant;
    Opt date, time, total, pickup, dropoff;
  };
  const std::vector<Case> cases = {
      {"basic", "2024年3月5日", "下午3:15", "1,234", "台北市松山區敦化北路100號",
       "台北市內湖區瑞光路188號"},
      {"english", "2024/12/25", "12:05 AM", "85.00", "Songshan Station, Taipei, Taiwan",
       "188 Ruiguang Rd, Neihu District, Taipei"},
      {"twopage", "2024-06-01", "上午9:05", "420", "台北市信義區松仁路100號", "台北車站"},
      {"rotated", "2024年7月8日", "上午12:30", "350.50", "臺北市中山區南京東路二段100號",
       "新北市板橋區文化路一段50號"},
      {"zerobox", "2024年3月5日", "下午3:15", "1,234", "台北市松山區敦化北路100號",
       "台北市內湖區瑞光路188號"},
      {"fullwidth", "２０２４年１１月３日", "下午１１:４５", "１,２８０",
       "新北市深坑區北深路三段１５５號", "台北市內湖區港墘路221號"},
      {"control", "2024年1月2日", "上午8:00", "99", "台北市\x1b[31m松山區民生東路四段1號",
       "松山車站"},
      {"encrypted", "2024/09/09", "下午3:07", "120", "台北市松山區八德路四段1號",
       "台北市內湖區洲子街12號"},
      {"blank", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.variant);
    LogCapture logs;
    const auto info = Folvaner::extract_receipt_info(receipt(c.variant));
    EXPECT_EQ(info.date, c.date);
    EXPECT_EQ(info.time, c.time);
    EXPECT_EQ(info.total, c.total);
    EXPECT_EQ(info.pickup_address, c.pickup);
    EXPECT_EQ(info.dropoff_address, c.dropoff);
    EXPECT_TRUE(logs.lines().empty());
  }
}

TEST(ExtractReceiptInfo, UnreadableFileGivesOneErrorLineAndEmptyInfo) {
  for (const std::string variant : {"damaged", "locked", "missing"}) {
    SCOPED_TRACE(variant);
    LogCapture logs;
    const auto path = receipt(variant);
    const auto info = Folvaner::extract_receipt_info(path);
    EXPECT_EQ(info.date, std::nullopt);
    EXPECT_EQ(info.time, std::nullopt);
    EXPECT_EQ(info.datetime, std::nullopt);
    EXPECT_EQ(info.total, std::nullopt);
    EXPECT_EQ(info.address, std::nullopt);
    EXPECT_TRUE(info.addresses.empty());
    const auto errors = logs.texts("ERROR");
    ASSERT_EQ(logs.lines().size(), 1u);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("❌ 擷取收據資訊失敗 " + path + ": ", 0), 0u) << errors[0];
    EXPECT_GT(errors[0].size(), ("❌ 擷取收據資訊失敗 " + path + ": ").size());
  }
}

} // namespace
