// The built-in configuration, the settings the constructor derives, the values it refuses, and
// the list of receipts to process.
#include "folvane_support.hpp"
#include "tools/folvane/folvane.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vaskit::testing::LogCapture;
using vaskit::folvane::ConfigError;
using vaskit::folvane::DEFAULT_CONFIG;
using vaskit::folvane::Folvaner;
using vaskit::folvane::json;
using vaskit::testing::TempDir;

std::vector<std::string> keys(const json &j) {
  std::vector<std::string> out;
  for (auto it = j.begin(); it != j.end(); ++it)
    out.push_back(it.key());
  return out;
}

TEST(DefaultConfig, KeysInOrderAndTableShape) {
  ASSERT_EQ(keys(DEFAULT_CONFIG), std::vector<std::string>{"config"});
  const json &cfg = DEFAULT_CONFIG.at("config");
  EXPECT_EQ(keys(cfg),
            (std::vector<std::string>{"input_folder", "output_folder", "layout", "page_size",
                                      "margin", "debug_grid", "address_mapping",
                                      "default_expense_type", "description_suffix"}));
  EXPECT_EQ(cfg.at("layout").dump(), R"({"cols":2,"rows":2,"landscape":false})");
  EXPECT_EQ(keys(cfg.at("address_mapping")),
            (std::vector<std::string>{"ZVT(松山)", "Brannor(內湖)", "Norvale(內湖)", "Tessik(深坑)",
                                      "Quelby(內湖)"}));
  EXPECT_EQ(cfg.at("address_mapping").at("ZVT(松山)").size(), 4u);
  EXPECT_EQ(cfg.at("input_folder"), "./data_folvane");
  EXPECT_EQ(cfg.at("margin"), 20);
  EXPECT_EQ(cfg.at("default_expense_type"), "Transportation_Taxi_Limo");
  EXPECT_EQ(cfg.at("description_suffix"), "radar support");
  EXPECT_NO_THROW(Folvaner{cfg});
}

TEST(FolvanerSettings, FallbacksAndDerivedValues) {
  LogCapture logs;
  const Folvaner bare(json::object());
  EXPECT_EQ(bare.input_folder, "./data_folvane");
  EXPECT_EQ(bare.output_folder, "./data_folvane");
  EXPECT_EQ(bare.output_file, "./data_folvane/taxi_receipt.pdf");
  EXPECT_EQ(bare.output_excel, "./data_folvane/payList_tool.xlsm");
  EXPECT_EQ(bare.cols, 2);
  EXPECT_EQ(bare.rows, 1); // not the template's 2
  EXPECT_FALSE(bare.is_landscape);
  EXPECT_EQ(bare.margin, 20);
  EXPECT_FALSE(bare.draw_grid);
  EXPECT_EQ(bare.page_width, 595);
  EXPECT_EQ(bare.page_height, 842);
  EXPECT_EQ(bare.default_expense_type, "Transportation_Taxi_Limo");

  const Folvaner set(json{{"input_folder", "in"},
                          {"output_folder", "out/sub"},
                          {"layout", {{"cols", 3}, {"rows", 4}, {"landscape", "yes"}}},
                          {"margin", 12.5},
                          {"debug_grid", 1},
                          {"page_size", "Letter"},
                          {"default_expense_type", "Other"}});
  EXPECT_EQ(set.output_file, "out/sub/taxi_receipt.pdf");
  EXPECT_EQ(set.output_excel, "out/sub/payList_tool.xlsm");
  EXPECT_EQ(set.cols, 3);
  EXPECT_EQ(set.rows, 4);
  EXPECT_TRUE(set.is_landscape);
  EXPECT_EQ(set.page_width, 842); // page_size changes nothing: always A4
  EXPECT_EQ(set.page_height, 595);
  EXPECT_EQ(set.margin, 12.5);
  EXPECT_TRUE(set.draw_grid);

  EXPECT_EQ(logs.texts("INFO"), (std::vector<std::string>{"[INIT] Layout: 2x1, Landscape=False",
                                                          "[INIT] Layout: 3x4, Landscape=yes"}));
}

TEST(FolvanerSettings, UnusableValuesAreRefusedNamingTheKey) {
  struct Case {
    json conf;
    std::string message;
  };
  const std::vector<Case> cases = {
      {json::array(), "config must be a mapping"},
      {{{"input_folder", 5}}, "input_folder must be text"},
      {{{"output_folder", nullptr}}, "output_folder must be text"},
      {{{"layout", json::array({2, 2})}}, "layout must be a mapping"},
      {{{"layout", nullptr}}, "layout must be a mapping"},
      {{{"layout", {{"cols", 0}}}}, "layout.cols must be a positive integer, got 0"},
      {{{"layout", {{"rows", -1}}}}, "layout.rows must be a positive integer, got -1"},
      {{{"layout", {{"rows", "2"}}}}, "layout.rows must be a positive integer, got \"2\""},
      {{{"layout", {{"cols", true}}}}, "layout.cols must be a positive integer"},
      {{{"margin", 297.5}}, "margin must be a number"},
      {{{"margin", -1}}, "margin must be a number"},
      {{{"margin", "20"}}, "margin must be a number"},
      {{{"address_mapping", json::array({"a"})}}, "address_mapping must be a mapping"},
      {{{"address_mapping", {{"X(Y)", json::array({"ok", 3})}}}},
       "address_mapping.X(Y) must be a list of texts"},
      {{{"default_expense_type", true}}, "default_expense_type must be text or a number, got true"},
      {{{"default_expense_type", json::array({"a"})}},
       "default_expense_type must be text or a number, got [\"a\"]"},
      {{{"default_expense_type", {{"k", 1}}}},
       "default_expense_type must be text or a number, got {\"k\":1}"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.conf.dump());
    try {
      Folvaner app(c.conf);
      ADD_FAILURE() << "accepted";
    } catch (const ConfigError &e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
  // The limits themselves are fine.
  EXPECT_NO_THROW(Folvaner(json{{"margin", 297.4}, {"layout", {{"cols", 1}, {"rows", 1}}}}));
  EXPECT_NO_THROW(Folvaner(json{{"margin", 0}, {"address_mapping", nullptr}}));
  EXPECT_NO_THROW(Folvaner(json{{"address_mapping", {{"A", 5}, {"B", nullptr}, {"C", "x"}}}}));
  // Any value a cell can hold: text, a number, or null (the cell keeps what it has).
  for (const json &type : {json("Other"), json(7), json(2.5), json()})
    EXPECT_NO_THROW(Folvaner(json{{"default_expense_type", type}})) << type.dump();
}

TEST(FolvanerSettings, ColumnsAndRowsAreWholeNumbersUpToAMillion) {
  struct Case {
    json value;
    long long want;      // the count taken, when accepted
    std::string message; // the refusal, when not ("" = accepted)
  };
  const std::vector<Case> cases = {
      {1, 1, ""},
      {3, 3, ""},
      {2.0, 2, ""}, // a whole float counts like the integer
      {1000000, 1000000, ""},
      {1e6, 1000000, ""},
      {0, 0, "must be a positive integer, got 0"},
      {-2, 0, "must be a positive integer, got -2"},
      {0.0, 0, "must be a positive integer, got 0.0"},
      {-3.0, 0, "must be a positive integer, got -3.0"},
      {2.5, 0, "must be a positive integer, got 2.5"},
      {"2", 0, "must be a positive integer, got \"2\""},
      {nullptr, 0, "must be a positive integer, got null"},
      {1000001, 0, "must be a positive integer up to 1000000, got 1000001"},
      {2000000, 0, "must be a positive integer up to 1000000, got 2000000"},
      {2e6, 0, "must be a positive integer up to 1000000, got 2000000.0"},
      {18446744073709551615ull, 0,
       "must be a positive integer up to 1000000, got 18446744073709551615"},
  };
  LogCapture logs;
  for (const char *key : {"cols", "rows"}) {
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(key) + " " + c.value.dump());
      const json conf = {{"layout", {{key, c.value}}}};
      if (c.message.empty()) {
        const Folvaner app(conf);
        EXPECT_EQ(std::string(key) == "cols" ? app.cols : app.rows, c.want);
        continue;
      }
      try {
        Folvaner app(conf);
        ADD_FAILURE() << "accepted";
      } catch (const ConfigError &e) {
        EXPECT_EQ(std::string(e.what()), "layout." + std::string(key) + " " + c.message);
      }
    }
  }
  // The start-up line shows the counts as written.
  const Folvaner whole(json{{"layout", {{"cols", 2.0}, {"rows", 3}}}});
  EXPECT_EQ(logs.texts("INFO").back(), "[INIT] Layout: 2.0x3, Landscape=False");
}

void touch(const fs::path &p) {
  std::ofstream(p) << "x";
}

TEST(GetFileList, PdfFilesByNameWithoutTheReports) {
  TempDir dir;
  for (const char *name : {"b.pdf", "B.pdf", "a10.pdf", "a9.pdf", "c.PDF", "taxi_receipt.pdf",
                           "merged_report.pdf", "notes.txt", "report.pdf"})
    touch(dir / name);
  fs::create_directory(dir / "sub");
  touch(dir / "sub" / "deep.pdf");

  // The output folder's report name is left out too, and "taxi_receipt.pdf" always.
  const Folvaner app(json{{"input_folder", dir.path().string()}});
  const auto files = app.get_file_list();
  const std::vector<std::string> want = {"B.pdf", "a10.pdf", "a9.pdf",
                                         "b.pdf", "c.PDF",   "report.pdf"};
  ASSERT_EQ(files.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(files[i].name, want[i]);
    EXPECT_EQ(fs::path(files[i].path).filename(), want[i]);
  }
}

TEST(GetFileList, OnlyReportsOrMissingFolder) {
  TempDir dir;
  touch(dir / "taxi_receipt.pdf");
  touch(dir / "merged_report.pdf");
  EXPECT_TRUE(Folvaner(json{{"input_folder", dir.path().string()}}).get_file_list().empty());

  const auto missing = (dir / "none").string();
  const Folvaner app(json{{"input_folder", missing}});
  LogCapture logs;
  const auto files = app.get_file_list();
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(logs.texts("ERROR"),
            std::vector<std::string>{"Error: Input folder not found: " + missing});
}

} // namespace
