#include "core/config.hpp"

#include <cmath>
#include <limits>
#include <gtest/gtest.h>

namespace {

using vaskit::config::json;
using namespace vaskit::config;

TEST(YamlScalars, FollowYaml11Typing) {
  struct Case {
    const char *scalar;
    json expected;
  };
  const Case cases[] = {
      {"true", true},      {"False", false},     {"yes", true},      {"NO", false},
      {"on", true},        {"Off", false},       {"y", "y"},         {"42", 42},
      {"-7", -7},          {"0x1F", 31},         {"017", 15},        {"0b101", 5},
      {"1_000", 1000},     {"1:30", 90},         {"3.5", 3.5},       {"1e3", "1e3"},
      {"1.0e+3", 1000.0},  {"~", nullptr},       {"null", nullptr},  {"", nullptr},
      {"\"true\"", "true"}, {"'42'", "42"},      {"CONFIDENTIAL", "CONFIDENTIAL"},
      {"機密", "機密"},     {"2024-05-03", "2024-05-03"},
  };
  for (const auto &c : cases) {
    const json parsed = parse_yaml(std::string("v: ") + c.scalar);
    EXPECT_EQ(parsed["v"], c.expected) << c.scalar;
  }
  EXPECT_TRUE(std::isinf(parse_yaml("v: -.inf")["v"].get<double>()));
}

TEST(YamlScalars, NumbersBeyondSixtyFourBitsNeitherFailNorWrap) {
  EXPECT_EQ(parse_yaml("v: 9223372036854775807")["v"], 9223372036854775807LL);
  EXPECT_EQ(parse_yaml("v: -9223372036854775808")["v"].get<long long>(),
            std::numeric_limits<long long>::min());
  EXPECT_DOUBLE_EQ(parse_yaml("v: 0x1FFFFFFFFFFFFFFFFF")["v"].get<double>(), 5.902958103587057e+20);
  EXPECT_DOUBLE_EQ(parse_yaml("v: 9223372036854775808")["v"].get<double>(), 9223372036854775808.0);
  EXPECT_DOUBLE_EQ(parse_yaml("v: 100000000000000000000:00")["v"].get<double>(), 6e21);
  EXPECT_TRUE(std::isinf(parse_yaml("v: 1.0e+999")["v"].get<double>()));
  EXPECT_EQ(parse_yaml("v: 1.0e-400")["v"].get<double>(), 0.0);
  EXPECT_EQ(parse_yaml("v: -1:30")["v"], -90);
}

TEST(YamlDocuments, KeepKeyOrderAndNesting) {
  const json cfg = parse_yaml("config:\n  z: 1\n  a: [x, 2]\n  m:\n    k: v\n");
  ASSERT_TRUE(cfg["config"].is_object());
  std::vector<std::string> keys;
  for (auto it = cfg["config"].begin(); it != cfg["config"].end(); ++it)
    keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"z", "a", "m"}));
  EXPECT_EQ(cfg["config"]["a"], json::array({"x", 2}));
  EXPECT_EQ(cfg["config"]["m"]["k"], "v");
  EXPECT_TRUE(parse_yaml("").is_null());
}

TEST(ParseErrors, CarryLineAndColumn) {
  try {
    parse_yaml("config:\n  a: [1, 2\n");
    FAIL() << "expected a parse error";
  } catch (const ParseError &e) {
    EXPECT_GE(e.line, 2);
    EXPECT_GT(e.column, 0);
  }
  try {
    parse_json("{\n  \"config\": {\n    \"a\": 1,\n  }\n}");
    FAIL() << "expected a parse error";
  } catch (const ParseError &e) {
    EXPECT_EQ(e.line, 4);
  }
}

TEST(Truthiness, MatchesPython) {
  for (const json &v : {json(nullptr), json(false), json(0), json(0.0), json(""), json::array(),
                        json::object()})
    EXPECT_FALSE(truthy(v)) << v.dump();
  for (const json &v : {json(true), json(1), json(-0.5), json("0"), json::array({0})})
    EXPECT_TRUE(truthy(v)) << v.dump();
}

TEST(TextForm, MatchesPythonStr) {
  EXPECT_EQ(to_text(nullptr), "None");
  EXPECT_EQ(to_text(true), "True");
  EXPECT_EQ(to_text(false), "False");
  EXPECT_EQ(to_text(2), "2");
  EXPECT_EQ(to_text(20.0), "20.0");
  EXPECT_EQ(to_text(0.1), "0.1");
  // Floats print as Python's str(float), whatever their size.
  EXPECT_EQ(to_text(1e15), "1000000000000000.0");
  EXPECT_EQ(to_text(1e16), "1e+16");
  EXPECT_EQ(to_text(1e-5), "1e-05");
  EXPECT_EQ(to_text(-0.0), "-0.0");
  EXPECT_EQ(to_text(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(to_text("x"), "x");
  EXPECT_EQ(get_or(json::object({{"a", 1}}), "b", "fb"), "fb");
  EXPECT_EQ(get_or(json::object({{"a", nullptr}}), "a", "fb"), nullptr);
}

} // namespace
