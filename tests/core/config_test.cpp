#include "core/config.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using vaskit::config::json;
using namespace vaskit::config;

TEST(YamlScalars, FollowYaml11Typing) {
  struct Case {
    const char *scalar;
    json expected;
  };
  const Case cases[] = {
      {"true", true},
      {"False", false},
      {"yes", true},
      {"NO", false},
      {"on", true},
      {"Off", false},
      {"y", "y"},
      {"42", 42},
      {"-7", -7},
      {"0x1F", 31},
      {"017", 15},
      {"0b101", 5},
      {"1_000", 1000},
      {"1:30", 90},
      {"3.5", 3.5},
      {"1e3", "1e3"},
      {"1.0e+3", 1000.0},
      {"~", nullptr},
      {"null", nullptr},
      {"", nullptr},
      {"\"true\"", "true"},
      {"'42'", "42"},
      {"CONFIDENTIAL", "CONFIDENTIAL"},
      {"機密", "機密"},
      {"2024-05-03", "2024-05-03"},
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

TEST(YamlDocuments, RepeatedKeyKeepsItsFirstPlaceAndTakesTheLastValue) {
  const json cfg = parse_yaml("a: 1\nb: 2\na: 3\n");
  EXPECT_EQ(cfg.dump(), R"({"a":3,"b":2})");
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

TEST(ParseErrors, JsonNumberBeyondADoubleIsAParseErrorAtTheNumber) {
  for (const char *number : {"1e400", "-1.5e999"}) {
    try {
      parse_json(std::string("{\n  \"scale\": ") + number + "\n}");
      FAIL() << "expected a parse error for " << number;
    } catch (const ParseError &e) {
      EXPECT_EQ(e.line, 2) << number;
      EXPECT_NE(std::string(e.what()).find(number), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).find("[json.exception"), std::string::npos) << e.what();
    }
  }
  EXPECT_DOUBLE_EQ(parse_json("[1e300]")[0].get<double>(), 1e300);
}

TEST(ParseErrors, JsonNestedTooDeepIsAParseErrorNotAStackOverflow) {
  // Deep enough to overflow the stack of a recursive reader or printer.
  const std::string deep = "{\"a\":\n" + std::string(200000, '[') + std::string(200000, ']') + "}";
  try {
    parse_json(deep);
    FAIL() << "expected a parse error";
  } catch (const ParseError &e) {
    EXPECT_EQ(e.line, 2);
    EXPECT_EQ(e.column, 1000);
    EXPECT_NE(std::string(e.what()).find("1000"), std::string::npos) << e.what();
  }
  // As deep as allowed still loads, and prints.
  const std::string ok = std::string(1000, '[') + std::string(1000, ']');
  EXPECT_EQ(to_text(parse_json(ok)), ok);
}

TEST(Truthiness, NullFalseZeroAndEmptyAreFalse) {
  for (const json &v :
       {json(nullptr), json(false), json(0), json(0.0), json(""), json::array(), json::object()})
    EXPECT_FALSE(truthy(v)) << v.dump();
  for (const json &v : {json(true), json(1), json(-0.5), json("0"), json::array({0})})
    EXPECT_TRUE(truthy(v)) << v.dump();
}

TEST(TextForm, NoneBooleansShortestFloatsAndQuotedItemsInContainers) {
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
  // Lists and mappings print as their repr, texts inside them quoted.
  EXPECT_EQ(to_text(json::parse(R"(["1", "3"])")), "['1', '3']");
  EXPECT_EQ(to_text(json::parse(R"({"a": [1, 2.0, null], "b": "x"})")),
            "{'a': [1, 2.0, None], 'b': 'x'}");
  EXPECT_EQ(get_or(json::object({{"a", 1}}), "b", "fb"), "fb");
  EXPECT_EQ(get_or(json::object({{"a", nullptr}}), "a", "fb"), nullptr);
}

TEST(ReprForm, TextsQuotedAndEscapedAtEveryDepth) {
  EXPECT_EQ(repr(json::parse(R"(["a", "  ", "b"])")), "['a', '  ', 'b']");
  EXPECT_EQ(repr(json::parse(R"(["it's", "say \"x\" it's", "a\\b\n"])")),
            R"(["it's", 'say "x" it\'s', 'a\\b\n'])");
  EXPECT_EQ(repr(json::parse(R"([null, true, 3, {"k": [1]}])")), "[None, True, 3, {'k': [1]}]");
  EXPECT_EQ(repr("週報\u3000\u00a0\x01"), "'週報\\u3000\\xa0\\x01'");
}

TEST(ConfigError, TheMappingCheckNamesTheKeyPathAndTheValueFound) {
  const auto message_of = [](const json &value, const std::string &key_path) {
    try {
      require_mapping(value, key_path);
    } catch (const ConfigError &e) {
      EXPECT_EQ(e.key_path(), key_path);
      return std::string(e.what());
    }
    return std::string("(passed)");
  };
  EXPECT_EQ(message_of(json::parse(R"([1, "週報"])"), "config.groups"),
            "config.groups must be a mapping, got [1,\"週報\"]");
  // The whole content has no key: it is named as the configuration. Null is no mapping here.
  EXPECT_EQ(message_of(json(), ""), "the configuration must be a mapping, got null");
  EXPECT_EQ(message_of(json::object({{"a", 1}}), "config"), "(passed)");
  try {
    require_mapping(json("x\ty"), "layout", "a mapping of names to keywords");
    ADD_FAILURE() << "text passed";
  } catch (const ConfigError &e) {
    EXPECT_STREQ(e.what(), "layout must be a mapping of names to keywords, got \"x\\ty\"");
  }

  // For reading settings, null (an empty file, a key without a value) is an empty mapping.
  json empty;
  EXPECT_EQ(&mapping_or_empty(empty, ""), &empty);
  EXPECT_EQ(empty, json::object());
  json section = json::object({{"k", 1}});
  EXPECT_EQ(mapping_or_empty(section, "config"), json::object({{"k", 1}}));
  json listed = json::array();
  EXPECT_THROW(mapping_or_empty(listed, "config"), ConfigError);
}

} // namespace

namespace {

// The error a text raises, or an empty message when it parses.
ParseError parse_failure(const std::string &text) {
  try {
    parse_yaml(text);
  } catch (const ParseError &e) {
    return e;
  }
  return ParseError("", 0, 0);
}

TEST(YamlRefusals, WhatTheReferenceParserRefusesIsAParseError) {
  // A quoted scalar left open at the end of the file.
  for (const char *text : {"output_path: \"./out\n", "output_path: './out\n", "a: \"x"}) {
    const ParseError e = parse_failure(text);
    EXPECT_NE(std::string(e.what()).find("quoted scalar"), std::string::npos) << text;
    EXPECT_GE(e.line, 1) << text;
    EXPECT_GE(e.column, 1) << text;
  }
  // Invalid UTF-8 and control characters in a plain scalar: the loader's own error.
  for (const char *text : {"a: b\xff\n", "a: \xc3\x28x\n", "a: \xed\xa0\x80\n", "a: b\x01\n"}) {
    const ParseError e = parse_failure(text);
    EXPECT_FALSE(std::string(e.what()).empty()) << text;
    EXPECT_EQ(e.line, 1) << text;
    EXPECT_GE(e.column, 4) << text;
  }
  const ParseError second_line = parse_failure("a: 1\nb: x\xff\n");
  EXPECT_EQ(second_line.line, 2);
  EXPECT_EQ(second_line.column, 5);
  // More than one document, undefined and duplicate anchors, tags nothing can build.
  for (const char *text : {"a: 1\n---\nb: 2\n", "a: *nowhere\n", "a: &x 1\nb: &x 2\n",
                           "a: !custom 1\n", "a: !!int abc\n", "a: !!bool maybe\n",
                           "a: !!float x1\n", "? [1, 2]\n: v\n", "a: {b: 1}\nc: {*x : 1}\n"}) {
    const ParseError e = parse_failure(text);
    EXPECT_FALSE(std::string(e.what()).empty()) << text;
    EXPECT_GE(e.line, 1) << text;
  }
}

TEST(YamlAliases, RecursionIsAnErrorAndExpansionIsBounded) {
  for (const char *text : {"&x {*x}", "a: &a [*a]", "&x [*x]", "a: &a {b: [*a]}", "&x {*x : 1}"}) {
    const ParseError e = parse_failure(text);
    EXPECT_NE(std::string(e.what()).find("recursive"), std::string::npos) << text << e.what();
    EXPECT_EQ(e.line, 1) << text;
  }
  // Nine levels of ten aliases each: a billion nodes once expanded.
  std::string bomb = "a0: &a0 [x, x, x, x, x, x, x, x, x, x]\n";
  for (int i = 1; i < 10; ++i) {
    const std::string prev = "*a" + std::to_string(i - 1);
    bomb += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [";
    for (int k = 0; k < 10; ++k)
      bomb += (k ? ", " : "") + prev;
    bomb += "]\n";
  }
  const ParseError e = parse_failure(bomb);
  EXPECT_NE(std::string(e.what()).find("1000000"), std::string::npos) << e.what();
  EXPECT_GE(e.line, 6);
  // Below the bound, aliases expand as copies.
  const json ok = parse_yaml("base: &b {x: 1, y: [2, 3]}\nuse: *b\nlist: [*b, *b]\n");
  EXPECT_EQ(ok["use"], ok["base"]);
  EXPECT_EQ(ok["list"], json::array({ok["base"], ok["base"]}));
  // A long scalar repeated through aliases is bounded by its size as well.
  std::string wide = "s: &s " + std::string(1 << 20, 'x') + "\nl: &l [";
  for (int k = 0; k < 50; ++k)
    wide += (k ? ", " : "") + std::string("*s");
  wide += "]\nm: [*l, *l, *l, *l, *l, *l, *l, *l, *l, *l]\n";
  EXPECT_GE(parse_failure(wide).line, 3);
  // Nesting deeper than any configuration has is refused, not a stack overflow.
  const std::string deep = "a: " + std::string(100000, '[') + std::string(100000, ']') + "\n";
  EXPECT_GE(parse_failure(deep).line, 1);
}

TEST(YamlMerge, MergeKeysAsTheReferenceLoaderBuildsThem) {
  const json cfg = parse_yaml("base: &b {x: 1, y: 2}\n"
                              "more: &m {y: 3, z: 4}\n"
                              "one: {y: 9, <<: *b, w: 0}\n"
                              "two: {<<: [*b, *m]}\n"
                              "quoted: {\"<<\": 1}\n");
  EXPECT_EQ(cfg["one"].dump(), R"({"x":1,"y":9,"w":0})");
  EXPECT_EQ(cfg["two"].dump(), R"({"y":2,"z":4,"x":1})");
  EXPECT_EQ(cfg["quoted"].dump(), R"({"<<":1})");
  EXPECT_GE(parse_failure("a: {<<: 1}\n").line, 1);
  EXPECT_GE(parse_failure("a: &a [1]\nb: {<<: [*a]}\n").line, 2);
}

TEST(YamlTags, ExplicitTagsBuildTheirTypes) {
  const json cfg = parse_yaml("a: !!str 12\nb: !!int \"0x10\"\nc: !!float '1.5'\nd: !!bool 'yes'\n"
                              "e: !!null x\nf: ! 12\ng: !!seq [1]\nh: !!map {k: v}\n"
                              "i: !!float 1e3\n");
  EXPECT_EQ(cfg["a"], "12");
  EXPECT_EQ(cfg["b"], 16);
  EXPECT_EQ(cfg["c"], 1.5);
  EXPECT_EQ(cfg["d"], true);
  EXPECT_EQ(cfg["e"], nullptr);
  EXPECT_EQ(cfg["f"], 12); // the non-specific tag "!" types the value as if untagged
  EXPECT_EQ(cfg["g"], json::array({1}));
  EXPECT_EQ(cfg["h"]["k"], "v");
  EXPECT_EQ(cfg["i"], 1000.0);
  // Keys that are not text take their text form; a byte-order mark is not content.
  EXPECT_EQ(parse_yaml("1: a\nfalse: b\n~: c\n1.5: d\n").dump(),
            R"({"1":"a","False":"b","None":"c","1.5":"d"})");
  EXPECT_EQ(parse_yaml("\xEF\xBB\xBFk: v\n")["k"], "v");
}

} // namespace
