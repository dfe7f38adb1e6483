// Company labels for addresses, the expense description and its log lines, and the date and
// amount forms of the workbook.
#include "folvane_support.hpp"
#include "tools/folvane/folvane.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using vaskit::testing::LogCapture;
using vaskit::folvane::DEFAULT_CONFIG;
using vaskit::folvane::Folvaner;
using vaskit::folvane::json;
using vaskit::folvane::ReceiptInfo;
using Opt = std::optional<std::string>;

const json kTable = json::parse(R"json({
  "First(A)": ["敦化 北路", "Songshan"],
  "Skipped(N)": 5,
  "Nulled(N)": null,
  "Second(B)": "瑞光路188號",
  "Late(C)": "敦化北路"
})json");

TEST(MapAddress, KeywordsInTableOrder) {
  struct Case {
    Opt addr;
    json table;
    std::string mapped;
    bool matched;
  };
  const std::vector<Case> cases = {
      {"台北市敦化北路100號", kTable, "First(A)", true},   // spaces removed from the keyword
      {"台北市 瑞光路 188 號", kTable, "Second(B)", true}, // and from the address
      {"Songshan Station", kTable, "First(A)", true},
      {"songshan station", kTable, "songshan station", false}, // case matters
      {"台北市敦化\u3000北路", kTable, "台北市敦化\u3000北路", false},
      {"台北市瑞光路188號 敦化北路", kTable, "First(A)", true}, // first entry wins
      {"別處", kTable, "別處", false},
      {"別處", json::object(), "別處", false},
      {"別處", json(), "別處", false},
      {"", kTable, "", false},
      {std::nullopt, kTable, "", false},
      {"任何地址", json{{"All", ""}}, "All", true}, // an empty keyword matches everything
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.addr.value_or("<none>"));
    EXPECT_EQ(Folvaner::map_address(c.addr, c.table), c.mapped);
    EXPECT_EQ(Folvaner::check_address_match(c.addr, c.table), c.matched);
  }
}

ReceiptInfo trip(Opt pickup, Opt dropoff, Opt address) {
  ReceiptInfo info;
  info.pickup_address = std::move(pickup);
  info.dropoff_address = std::move(dropoff);
  info.address = std::move(address);
  return info;
}

TEST(BuildDescription, DescriptionsAndLogLines) {
  const json conf = {{"address_mapping", kTable}, {"description_suffix", "radar support"}};
  struct Case {
    const char *name;
    ReceiptInfo info;
    json conf;
    Opt filename;
    std::string desc;
    std::vector<std::string> errors, warnings;
  };
  const std::vector<Case> cases = {
      {"both mapped",
       trip("台北市敦化北路1號", "瑞光路188號", "x"),
       conf,
       std::nullopt,
       "First(A)->Second(B) radar support",
       {},
       {}},
      {"dropoff unknown",
       trip("台北市敦化北路1號", "新北市板橋區", "x"),
       conf,
       "a.pdf",
       "First(A)->新北市板橋區 radar support",
       {},
       {"⚠️ 檔案: a.pdf | 未找到對應公司名稱 (迄點: '新北市板橋區')"}},
      {"pickup only, unknown",
       trip("某處", std::nullopt, "某處"),
       conf,
       std::nullopt,
       "某處 radar support",
       {"❌ 未找到下車地點！(僅有起點: '某處')"},
       {"⚠️ 未找到對應公司名稱 (起點: '某處')"}},
      {"dropoff only, mapped",
       trip("", "Songshan Station", std::nullopt),
       conf,
       "b.pdf",
       "First(A) radar support",
       {"❌ 檔案: b.pdf | 未找到上車地點！(僅有迄點: 'Songshan Station')"},
       {}},
      {"address text only, left unmapped",
       trip(std::nullopt, std::nullopt, "敦化北路"),
       conf,
       std::nullopt,
       "敦化北路 radar support",
       {},
       {}},
      {"address text only, unknown",
       trip(std::nullopt, std::nullopt, "別處"),
       conf,
       std::nullopt,
       "別處 radar support",
       {},
       {"⚠️ 未找到對應公司名稱 (地址: '別處')"}},
      {"nothing",
       trip(std::nullopt, "", std::nullopt),
       conf,
       "c.pdf",
       "",
       {"❌ 檔案: c.pdf | 未比對到公司名稱且無地址資訊！"},
       {}},
      {"no table in a non-empty section",
       trip("A地", "B地", "A地 -> B地"),
       json{{"description_suffix", "trip"}},
       std::nullopt,
       "A地->B地 trip",
       {},
       {"⚠️ 未找到對應公司名稱 (起點: 'A地')",
        "⚠️ 未找到對應公司名稱 (迄點: 'B地')"}},
      {"empty suffix",
       trip("敦化北路", "瑞光路188號", "x"),
       json{{"address_mapping", kTable}, {"description_suffix", ""}},
       std::nullopt,
       "First(A)->Second(B)",
       {},
       {}},
      {"null suffix, untrimmed description",
       trip(" 別處 ", std::nullopt, "x"),
       json{{"address_mapping", kTable}, {"description_suffix", nullptr}},
       std::nullopt,
       " 別處 ",
       {"❌ 未找到下車地點！(僅有起點: ' 別處 ')"},
       {"⚠️ 未找到對應公司名稱 (起點: ' 別處 ')"}},
      {"control characters never reach the log",
       trip("台北\x1b[2J", "瑞光路188號", "x"),
       conf,
       std::nullopt,
       "台北\x1b[2J->Second(B) radar support",
       {},
       {"⚠️ 未找到對應公司名稱 (起點: '台北\uFFFD[2J')"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture logs;
    EXPECT_EQ(Folvaner::build_description(c.info, c.conf, c.filename), c.desc);
    EXPECT_EQ(logs.texts("ERROR"), c.errors);
    EXPECT_EQ(logs.texts("WARNING"), c.warnings);
  }
}

TEST(BuildDescription, MissingOrEmptySectionUsesTheBuiltInTable) {
  const auto &builtin = DEFAULT_CONFIG.at("config").at("address_mapping");
  auto it = builtin.begin();
  const std::string first_label = it.key();
  const std::string first_kw = it.value().at(0).get<std::string>();
  ++it;
  const std::string second_label = it.key();
  const std::string second_kw = it.value().get<std::string>();
  const auto info = trip("台北市" + first_kw + "1號", "台北市" + second_kw, "x");
  for (const json &conf : {json(), json::object()}) {
    LogCapture logs;
    EXPECT_EQ(Folvaner::build_description(info, conf),
              first_label + "->" + second_label + " radar support");
    EXPECT_TRUE(logs.lines().empty());
  }
}

TEST(FormatDateSlash, Forms) {
  const std::vector<std::pair<Opt, std::string>> cases = {
      {"2024年 5 月 3 日", "2024/05/03"},
      {"2024-12-01 10:20", "2024/12/01"},
      {"2024/5-3", "2024/05/03"},
      {"2024/13/45", "2024/13/45"},
      {"03/05/2024", "03/05/2024"},
      {"２０２４年１１月３日", "2024/11/03"},
      {"收據 2024年3月5日", "2024/03/05"},
      {"", ""},
      {std::nullopt, ""},
  };
  for (const auto &[in, out] : cases)
    EXPECT_EQ(Folvaner::format_date_slash(in), out) << in.value_or("<none>");
}

TEST(FormatAmountNum, NumbersAndPassThrough) {
  struct Case {
    json in;
    json out;
  };
  const std::vector<Case> cases = {
      {"1,280", 1280},      {"$ 75.50", 75.5},  {"120.00", 120},
      {"NT$120", "NT$120"}, {nullptr, nullptr}, {"", ""},
      {"１,２８０", 1280},  {",", ","},         {0, 0},
      {12.5, 12.5},         {"-3", -3},         {"1e3", 1000},
      {"inf", "inf"},       {"1_000", "1_000"}, {"12345678901234567890", 12345678901234567890.0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.in.dump());
    const json got = Folvaner::format_amount_num(c.in);
    EXPECT_EQ(got, c.out);
    EXPECT_EQ(got.type(), c.out.type()); // 120 is an integer, 75.5 a real number
  }
}

} // namespace
