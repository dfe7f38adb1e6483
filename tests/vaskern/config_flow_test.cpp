// The configuration roads of the YAML and JSON tools, with each tool's texts and rules given as
// parameters.
#include "support/console.hpp"
#include "support/files.hpp"
#include "support/log_capture.hpp"
#include "vaskern/app_logging.hpp"
#include "vaskern/fileIO.hpp"
#include "vaskern/fileMg.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

using namespace vaskern;
using vaskit::testing::Console;
using vaskit::testing::CurrentDir;
using vaskit::testing::LogCapture;
using vaskit::testing::TempDir;
using vaskit::testing::with_console;
using vaskit::testing::write_file;

const char *const kBanner = "--- 💬 偵測到現有設定檔，請選擇一個使用 (直接按 Enter 取消) ---";

bool contains(const std::string &hay, const std::string &needle) {
  return hay.find(needle) != std::string::npos;
}

// A YAML tool as prosett declares it: ask even for a single candidate.
fileIO::YamlConfigFlow asking_flow() {
  fileIO::YamlConfigFlow flow;
  flow.default_text = "config:\n  name: \"built-in\"\n";
  flow.logger = &app_logging::lazy_logger("FlowTest");
  return flow;
}

// A YAML tool with texts of its own that takes a single candidate without asking.
fileIO::YamlConfigFlow taking_flow() {
  auto flow = asking_flow();
  flow.single = fileIO::SingleCandidate::take;
  flow.none_chosen = "Error: Please provide a YAML file path using --config or choose one.";
  flow.missing_path = "Error: Config file '{path}' does not exist.";
  flow.unusable_status = 0;
  return flow;
}

struct YamlRun {
  fileIO::YamlConfigResult result;
  Console console;
};

YamlRun resolve(const std::optional<std::string> &arg, const fileIO::YamlConfigFlow &flow,
                const std::string &input = "") {
  YamlRun run;
  run.console = with_console(input, [&] { run.result = fileIO::resolve_yaml_config(arg, flow); });
  return run;
}

std::string name_of(const fileIO::YamlConfigResult &r) {
  return r.config->mapping.at("config").at("name").get<std::string>();
}

TEST(YamlConfigFlow, WithoutOptionTheBuiltInTextIsLoadedAndNoFileIsRead) {
  TempDir dir;
  CurrentDir cwd(dir.path());
  write_file(dir / "config.yaml", "config:\n  name: \"file\"\n");
  const auto run = resolve(std::nullopt, asking_flow());
  ASSERT_TRUE(run.result.config);
  EXPECT_EQ(name_of(run.result), "built-in");
  EXPECT_FALSE(run.result.config->path);
  EXPECT_EQ(run.console.out + run.console.err, "");

  // A built-in text that does not parse ends with the tool's status for an unusable one.
  auto broken = asking_flow();
  broken.default_text = "config: [\n";
  broken.unusable_status = 7;
  const auto bad = resolve(std::nullopt, broken);
  EXPECT_FALSE(bad.result.config);
  EXPECT_EQ(bad.result.status, 7);
  EXPECT_TRUE(contains(bad.console.err, "預設設定")) << bad.console.err;
}

TEST(YamlConfigFlow, EmptyOptionWithoutCandidatesPrintsTheToolsLine) {
  TempDir dir;
  CurrentDir cwd(dir.path());
  write_file(dir / "settings.yaml", "config: {}\n");    // wrong prefix
  write_file(dir / "config_notes.txt", "config: {}\n"); // wrong extension
  for (const auto &flow : {asking_flow(), taking_flow()}) {
    SCOPED_TRACE(flow.none_chosen);
    const auto run = resolve("", flow);
    EXPECT_FALSE(run.result.config);
    EXPECT_EQ(run.result.status, 1);
    EXPECT_EQ(run.console.out, "");
    EXPECT_EQ(run.console.err, flow.none_chosen + "\n");
  }
}

TEST(YamlConfigFlow, SingleCandidateIsAskedForOrTakenByTheToolsRule) {
  TempDir dir;
  CurrentDir cwd(dir.path());
  write_file(dir / "config_one.yml", "config:\n  name: \"one\"\n");

  // Ask: the one file is listed; choosing it loads it, Enter cancels.
  const auto chosen = resolve("", asking_flow(), "1\n");
  ASSERT_TRUE(chosen.result.config) << chosen.console.err;
  EXPECT_EQ(name_of(chosen.result), "one");
  EXPECT_EQ(chosen.result.config->path, "./config_one.yml");
  EXPECT_TRUE(contains(chosen.console.out, std::string("\n") + kBanner + "\n"));
  EXPECT_TRUE(contains(chosen.console.out, "[1] config_one.yml"));

  const auto cancelled = resolve("", asking_flow(), "\n");
  EXPECT_FALSE(cancelled.result.config);
  EXPECT_EQ(cancelled.result.status, 1);
  EXPECT_EQ(cancelled.console.err, "❌ Error: No configuration file selected or found.\n");

  // Take: no banner, no prompt; the tool's logger says which file was taken.
  LogCapture logs;
  const auto taken = resolve("", taking_flow());
  ASSERT_TRUE(taken.result.config);
  EXPECT_EQ(name_of(taken.result), "one");
  EXPECT_EQ(taken.console.out, "");
  EXPECT_EQ(logs.texts("INFO"),
            std::vector<std::string>{"💬 偵測到僅有單一設定檔，已自動選用：./config_one.yml"});
}

TEST(YamlConfigFlow, SeveralCandidatesAreAlwaysOffered) {
  TempDir dir;
  CurrentDir cwd(dir.path());
  write_file(dir / "config_a.yaml", "config:\n  name: \"a\"\n");
  write_file(dir / "config_b.yml", "config:\n  name: \"b\"\n");
  write_file(dir / "other.yaml", "config:\n  name: \"other\"\n");
  const auto run = resolve("", taking_flow(), "2\n");
  ASSERT_TRUE(run.result.config);
  EXPECT_EQ(name_of(run.result), "b");
  EXPECT_TRUE(contains(run.console.out, kBanner));
  EXPECT_FALSE(contains(run.console.out, "other.yaml"));

  const auto cancelled = resolve("", taking_flow(), "");
  EXPECT_EQ(cancelled.result.status, 1);
  EXPECT_EQ(cancelled.console.err, taking_flow().none_chosen + "\n");
}

TEST(YamlConfigFlow, MissingPathUsesTheToolsTextAndAFolderReachesTheLoader) {
  TempDir dir;
  CurrentDir cwd(dir.path());
  const auto asked = resolve("nothing.yaml", asking_flow());
  EXPECT_FALSE(asked.result.config);
  EXPECT_EQ(asked.result.status, 1);
  EXPECT_EQ(asked.console.err, "❌ Error: Config file 'nothing.yaml' does not exist.\n");
  const auto plain = resolve("sub/none.yml", taking_flow());
  EXPECT_EQ(plain.result.status, 1);
  EXPECT_EQ(plain.console.err, "Error: Config file 'sub/none.yml' does not exist.\n");

  // A folder exists: the loader refuses it, and the tool's status for that applies.
  std::filesystem::create_directories(dir / "folder.yaml");
  write_file(dir / "broken.yaml", "config:\n  name: [unclosed\n");
  for (const std::string path : {"folder.yaml", "broken.yaml"}) {
    SCOPED_TRACE(path);
    for (int status : {0, 1}) {
      auto flow = asking_flow();
      flow.unusable_status = status;
      const auto run = resolve(path, flow);
      EXPECT_FALSE(run.result.config);
      EXPECT_EQ(run.result.status, status);
      EXPECT_EQ(run.console.err.rfind("❌", 0), 0u) << run.console.err;
      EXPECT_TRUE(contains(run.console.err, path));
    }
  }

  // A path that loads comes back with the mapping and where it came from.
  write_file(dir / "mine.yaml", "config:\n  name: \"mine\"\n");
  const auto good = resolve("mine.yaml", asking_flow());
  ASSERT_TRUE(good.result.config);
  EXPECT_EQ(name_of(good.result), "mine");
  EXPECT_EQ(good.result.config->path, "mine.yaml");
}

// The command's start: the template, or the file's content as the tool takes it.
TEST(YamlConfigFlow, StartWritesTheTemplateOrGivesTheMappingTheToolAsksFor) {
  TempDir dir;
  CurrentDir cwd(dir.path());
  auto flow = asking_flow();
  flow.template_file = "config_flowtest_template.yaml";
  const auto start = [&](bool generate, const std::string &arg, const fileIO::YamlConfigFlow &f) {
    YamlRun run;
    run.console = with_console("", [&] {
      run.result = fileIO::start_yaml_command(generate, std::optional<std::string>(arg), f);
    });
    return run;
  };

  const auto made = start(true, "ignored.yaml", flow);
  EXPECT_FALSE(made.result.config);
  EXPECT_EQ(made.result.status, 0);
  EXPECT_TRUE(contains(made.console.out, "✅ Success! Template file created at: "));
  EXPECT_EQ(vaskit::testing::read_file(dir / "config_flowtest_template.yaml"), flow.default_text);

  // Content that loads as nothing: an empty mapping, or a quiet end where it asks for nothing.
  write_file(dir / "empty.yaml", "# nothing here\n");
  const auto empty = start(false, "empty.yaml", flow);
  ASSERT_TRUE(empty.result.config);
  EXPECT_EQ(empty.result.config->mapping, fileIO::json::object());
  auto quiet = flow;
  quiet.empty_asks_nothing = true;
  const auto ended = start(false, "empty.yaml", quiet);
  EXPECT_FALSE(ended.result.config);
  EXPECT_EQ(ended.result.status, 0);
  EXPECT_EQ(ended.console.out + ended.console.err, "");

  // The "config" section is checked only where the tool asks for it; without a value it is empty.
  auto sectioned = flow;
  sectioned.config_section = true;
  write_file(dir / "bare.yaml", "config:\n");
  const auto bare = start(false, "bare.yaml", sectioned);
  ASSERT_TRUE(bare.result.config);
  EXPECT_EQ(bare.result.config->mapping.at("config"), fileIO::json::object());
  write_file(dir / "list.yaml", "config: [1]\n");
  EXPECT_TRUE(start(false, "list.yaml", flow).result.config);
  const auto refused = start(false, "list.yaml", sectioned);
  EXPECT_FALSE(refused.result.config);
  EXPECT_EQ(refused.result.status, 1);
  EXPECT_EQ(refused.console.err,
            "❌ Error: 設定檔的內容必須是對應表 (mapping)，且 config 區段也必須是對應表。\n");
  write_file(dir / "top.yaml", "- a\n- b\n");
  const auto top = start(false, "top.yaml", flow);
  EXPECT_FALSE(top.result.config);
  EXPECT_EQ(top.result.status, 1);
  EXPECT_EQ(top.console.err, "❌ Error: 設定檔的內容必須是對應表 (mapping)。\n");
}

struct JsonRun {
  fileMg::JsonConfigResult result;
  Console console;
};

JsonRun resolve_json(const std::optional<std::string> &arg, const fileMg::JsonConfigFlow &flow) {
  JsonRun run;
  run.console = with_console("", [&] { run.result = fileMg::resolve_json_config(arg, flow); });
  return run;
}

TEST(JsonConfigFlow, RequiredOptionLoadsTheSectionOrEndsWithTheToolsStatus) {
  TempDir dir;
  fileMg::JsonConfigFlow flow;
  flow.missing_line = "Error: Please provide a JSON config file using -c.";
  flow.missing_hint = "Hint: run it.";
  flow.unusable_status = 0;

  for (const auto &arg : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
    const auto run = resolve_json(arg, flow);
    EXPECT_FALSE(run.result.section);
    EXPECT_EQ(run.result.status, 1);
    EXPECT_EQ(run.console.out,
              "Error: Please provide a JSON config file using -c.\nHint: run it.\n");
  }

  write_file(dir / "good.json", R"({"config": {"b": 2, "a": 1}, "other": 3})");
  const auto good = resolve_json((dir / "good.json").string(), flow);
  ASSERT_TRUE(good.result.section);
  EXPECT_EQ(good.result.section->dump(), R"({"b":2,"a":1})");
  EXPECT_EQ(good.console.out, "");

  // Unusable files: the loader's one line, then the tool's status (0 or 1).
  write_file(dir / "nokey.json", R"({"other": {}})");
  write_file(dir / "broken.json", "{\"config\": {\n");
  std::filesystem::create_directories(dir / "folder.json");
  for (const std::string name : {"nokey.json", "broken.json", "folder.json"}) {
    SCOPED_TRACE(name);
    for (int status : {0, 1}) {
      flow.unusable_status = status;
      const auto run = resolve_json((dir / name).string(), flow);
      EXPECT_FALSE(run.result.section);
      EXPECT_EQ(run.result.status, status);
      EXPECT_EQ(run.console.out.rfind("❌", 0), 0u) << run.console.out;
      EXPECT_TRUE(contains(run.console.out, name));
    }
  }

  // Other required keys: the section under the first one.
  flow.required_keys = {"settings", "config"};
  write_file(dir / "both.json", R"({"config": {}, "settings": {"x": 1}})");
  const auto both = resolve_json((dir / "both.json").string(), flow);
  ASSERT_TRUE(both.result.section);
  EXPECT_EQ(both.result.section->dump(), R"({"x":1})");
}

// Restores DAVUZ_DEBUG and the debug setting after a test.
class DebugSwitchTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (const char *v = std::getenv("DAVUZ_DEBUG"))
      saved_ = v;
    ::unsetenv("DAVUZ_DEBUG");
    app_logging::setup_logging("test", false);
  }
  void TearDown() override {
    if (saved_)
      ::setenv("DAVUZ_DEBUG", saved_->c_str(), 1);
    else
      ::unsetenv("DAVUZ_DEBUG");
    app_logging::setup_logging("test", false);
  }
  std::optional<std::string> saved_;
};

TEST_F(DebugSwitchTest, FlagOrEnvironmentOneTurnsDebugOnForTheProcess) {
  EXPECT_FALSE(app_logging::debug_switch(false, "App"));
  EXPECT_FALSE(app_logging::debug_enabled());
  EXPECT_EQ(std::getenv("DAVUZ_DEBUG"), nullptr);

  for (const char *value : {"true", "yes", "0", " 1"}) {
    ::setenv("DAVUZ_DEBUG", value, 1);
    EXPECT_FALSE(app_logging::debug_switch(false, "App")) << value;
    EXPECT_FALSE(app_logging::debug_enabled()) << value;
  }

  ::setenv("DAVUZ_DEBUG", "1", 1);
  EXPECT_TRUE(app_logging::debug_switch(false, "App"));
  EXPECT_TRUE(app_logging::debug_enabled());

  app_logging::setup_logging("test", false);
  ::unsetenv("DAVUZ_DEBUG");
  EXPECT_TRUE(app_logging::debug_switch(true, "App"));
  EXPECT_TRUE(app_logging::debug_enabled());
  ASSERT_NE(std::getenv("DAVUZ_DEBUG"), nullptr);
  EXPECT_STREQ(std::getenv("DAVUZ_DEBUG"), "1");
}

} // namespace
