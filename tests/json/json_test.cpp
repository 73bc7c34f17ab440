#include "json/json.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>

namespace {

json::Value parse_ok(std::string_view text) {
    auto v = json::parse(text);
    EXPECT_TRUE(v.ok()) << text << ": " << v.error().message;
    return v.ok() ? *v : json::Value();
}

std::string pretty(const json::Value& v) {
    auto text = json::print_pretty(v);
    EXPECT_TRUE(text.ok());
    return text.ok() ? *text : std::string();
}

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonParse, RefusesByteOrderMarkAtFirstColumn) {
    auto v = json::parse("\xEF\xBB\xBF{}");
    ASSERT_FALSE(v.ok());
    EXPECT_EQ(v.error().line, 1u);
    EXPECT_EQ(v.error().column, 1u);
}

TEST(JsonParse, NestingLimitIs128Levels) {
    EXPECT_TRUE(json::parse(nested(128)).ok());
    EXPECT_TRUE(json::parse("{\"a\":" + nested(127) + "}").ok());

    auto deep = json::parse("\n " + nested(129));
    ASSERT_FALSE(deep.ok());
    EXPECT_EQ(deep.error().line, 2u);
    EXPECT_EQ(deep.error().column, 130u);  // the 129th bracket

    // A bracket inside a string does not count as nesting.
    auto with_text = json::parse("[\"[{\"," + nested(128) + "]");
    ASSERT_FALSE(with_text.ok());
    EXPECT_EQ(with_text.error().column, 134u);
}

TEST(JsonParse, VeryDeepInputIsAnErrorNotACrash) {
    std::string text(1'000'000, '[');
    auto v = json::parse(text);
    ASSERT_FALSE(v.ok());
    EXPECT_EQ(v.error().column, 129u);
}

TEST(JsonParse, RefusesInvalidUtf8WithItsPosition) {
    auto v = json::parse("{\n  \"a\": \"x\xC3\x28\"\n}");
    ASSERT_FALSE(v.ok());
    EXPECT_EQ(v.error().line, 2u);
    EXPECT_EQ(v.error().column, 10u);
    EXPECT_FALSE(json::parse("\"\xED\xA0\x80\"").ok());  // an encoded surrogate
    EXPECT_FALSE(json::parse("\"\xC0\xAF\"").ok());      // an overlong form
    EXPECT_TRUE(json::parse("\"\xF0\x9F\x98\x80 \xE2\x82\xAC\"").ok());
}

TEST(JsonParse, NumberOverflowIsAnErrorValue) {
    auto v = json::parse("{\"a\": 1e400}");
    ASSERT_FALSE(v.ok());
    EXPECT_EQ(v.error().message, "number overflow");
    EXPECT_EQ(v.error().line, 1u);
    EXPECT_EQ(v.error().column, 11u);
    // An integer no double reaches cannot be kept either.
    EXPECT_FALSE(json::parse("[" + std::string(400, '9') + "]").ok());
}

TEST(JsonParse, ErrorTextLeavesOutTheOffendingToken) {
    std::string text = "{\"a\": \"" + std::string(1'000'000, 'x');
    auto v = json::parse(text);
    ASSERT_FALSE(v.ok());
    EXPECT_LT(v.error().message.size(), 200u);
    EXPECT_EQ(v.error().message.find("xxxx"), std::string::npos);
    EXPECT_NE(v.error().message.find("missing closing quote"), std::string::npos);
    EXPECT_EQ(v.error().line, 1u);
    EXPECT_EQ(v.error().column, text.size() + 1);
}

TEST(JsonParse, PositionsOfSyntaxErrors) {
    struct Case { const char* text; std::size_t line, column; };
    for (auto c : {Case{"", 1, 1}, Case{"{\n", 2, 1}, Case{"[1,]", 1, 4}, Case{"{} x", 1, 4},
                   Case{"{\"a\":\n  tru}", 2, 6}, Case{"\"a\nb\"", 1, 3}}) {
        auto v = json::parse(c.text);
        ASSERT_FALSE(v.ok()) << c.text;
        EXPECT_EQ(v.error().line, c.line) << c.text;
        EXPECT_EQ(v.error().column, c.column) << c.text;
        EXPECT_EQ(v.error().message.find("json.exception"), std::string::npos);
    }
}

TEST(JsonParse, RepeatedKeyTakesLaterValueInFirstPlace) {
    auto v = parse_ok(R"({"a": 1, "b": 2, "a": {"x": 3}})");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v.begin().key(), "a");
    EXPECT_EQ(v["a"], json::Value({{"x", 3}}));
}

TEST(JsonParse, ManyKeysKeepTheirOrder) {
    std::string text = "{";
    for (int i = 0; i < 100'000; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(99'999 - i) + "\":" + std::to_string(i);
    text += "}";
    auto v = parse_ok(text);
    ASSERT_EQ(v.size(), 100'000u);
    EXPECT_EQ(v.begin().key(), "k99999");
    EXPECT_EQ(v["k0"], 99'999);
}

TEST(JsonParse, KeepsNumberKindsAndAllowsSurroundingWhiteSpace) {
    auto v = parse_ok(" \n\t[-1, 18446744073709551615, 1.0, 1e2]\r\n ");
    EXPECT_TRUE(v[0].is_number_integer() && !v[0].is_number_unsigned());
    EXPECT_TRUE(v[1].is_number_unsigned());
    EXPECT_TRUE(v[2].is_number_float() && v[3].is_number_float());

    // The integer "-0" stays an integer with its sign, never 0 or -0.0.
    auto zeros = parse_ok("[-0, 0]");
    EXPECT_EQ(json::number_text_of(zeros[0]), "-0");
    EXPECT_TRUE(zeros[1].is_number_unsigned());
    EXPECT_EQ(*json::print_pretty(zeros), "[\n  -0,\n  0\n]");
}

TEST(JsonParse, NumbersPrintBackAsWrittenOrAsTheSameDouble) {
    struct Case { const char* text; const char* printed; bool kept_as_text; };
    for (auto c : {Case{"123456789012345678901234567890", "123456789012345678901234567890", true},
                   Case{"18446744073709551616", "18446744073709551616", true},
                   Case{"-9223372036854775809", "-9223372036854775809", true},
                   Case{"-0", "-0", true}, Case{"1e-400", "1e-400", true}, Case{"-0.0e-400", "-0.0", false},
                   Case{"18446744073709551615", "18446744073709551615", false},
                   Case{"-9223372036854775808", "-9223372036854775808", false},
                   Case{"0.10000000000000000555", "0.1", false}, Case{"1E2", "100.0", false},
                   Case{"-0.0", "-0.0", false}}) {
        auto v = parse_ok(c.text);
        EXPECT_EQ(json::number_text_of(v).has_value(), c.kept_as_text) << c.text;
        EXPECT_FALSE(v.is_number() && c.kept_as_text) << c.text;
        EXPECT_EQ(pretty(v), c.printed);
        EXPECT_TRUE(json::equal(v, parse_ok(c.printed))) << c.text;
    }
}

TEST(JsonEqual, ObjectsAreComparedAsMaps) {
    EXPECT_TRUE(json::equal(parse_ok(R"({"a":1,"b":[1,{"c":2,"d":3}]})"), parse_ok(R"({"b":[1,{"d":3,"c":2}],"a":1})")));
    EXPECT_FALSE(json::equal(parse_ok(R"({"a":1})"), parse_ok(R"({"a":1,"b":1})")));
    EXPECT_FALSE(json::equal(parse_ok(R"({"a":1,"b":2})"), parse_ok(R"({"a":1,"c":2})")));
    EXPECT_FALSE(json::equal(parse_ok("[1,2]"), parse_ok("[2,1]")));
}

TEST(JsonEqual, NumbersOfDifferentKinds) {
    EXPECT_FALSE(json::equal(parse_ok("1"), parse_ok("1.0")));
    EXPECT_FALSE(json::equal(parse_ok("18446744073709551615"), json::Value(-1)));
    EXPECT_TRUE(json::equal(json::Value(std::int64_t{5}), json::Value(std::uint64_t{5})));
    EXPECT_FALSE(json::equal(json::Value(std::int64_t{-5}), json::Value(std::uint64_t{5})));
    EXPECT_TRUE(json::equal(parse_ok("0.5"), parse_ok("5e-1")));
    EXPECT_FALSE(json::equal(parse_ok("null"), parse_ok("false")));
    EXPECT_FALSE(json::equal(parse_ok("\"1\""), parse_ok("1")));

    // Numbers kept as text: the same text, or -0 beside another zero integer.
    EXPECT_TRUE(json::equal(parse_ok("-0"), parse_ok("0")));
    EXPECT_TRUE(json::equal(parse_ok("-0"), json::Value(std::int64_t{0})));
    EXPECT_FALSE(json::equal(parse_ok("-0"), parse_ok("0.0")));
    EXPECT_FALSE(json::equal(parse_ok("-0"), parse_ok("-0.0")));
    EXPECT_TRUE(json::equal(parse_ok("18446744073709551616"), parse_ok("18446744073709551616")));
    EXPECT_FALSE(json::equal(parse_ok("18446744073709551616"), parse_ok("18446744073709551617")));
    EXPECT_FALSE(json::equal(parse_ok("18446744073709551616"), parse_ok("1.8446744073709552e19")));
    EXPECT_FALSE(json::equal(parse_ok("18446744073709551616"), json::Value::binary({0x31})));
}

TEST(JsonPrint, PrettyLayout) {
    auto v = parse_ok(R"({"z":{"b":[],"a":{}},"y":[1,"t\u0001\n\"\\",null,true]})");
    EXPECT_EQ(pretty(v),
              "{\n"
              "  \"z\": {\n"
              "    \"b\": [],\n"
              "    \"a\": {}\n"
              "  },\n"
              "  \"y\": [\n"
              "    1,\n"
              "    \"t\\u0001\\n\\\"\\\\\",\n"
              "    null,\n"
              "    true\n"
              "  ]\n"
              "}");
    EXPECT_EQ(pretty(parse_ok("\"\xE2\x82\xAC\"")), "\"\xE2\x82\xAC\"");
}

TEST(JsonPrint, FloatsInShortestFormWithoutExponentForOrdinaryMagnitudes) {
    struct Case { double value; const char* text; };
    for (auto c : {Case{1e15, "1000000000000000.0"}, Case{1.0, "1.0"}, Case{-0.0, "-0.0"}, Case{0.0, "0.0"},
                   Case{0.1, "0.1"}, Case{123.456, "123.456"}, Case{1e16, "1e16"}, Case{1.5e17, "1.5e17"},
                   Case{0.0001, "0.0001"}, Case{1e-5, "0.00001"}, Case{1e-7, "1e-7"}, Case{-2.5e-9, "-2.5e-9"},
                   Case{1.7976931348623157e308, "1.7976931348623157e308"}, Case{5e-324, "5e-324"}}) {
        EXPECT_EQ(pretty(json::Value(c.value)), c.text);
        auto back = json::parse(c.text);
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(back->is_number_float()) << c.text;
        EXPECT_EQ(back->get<double>(), c.value) << c.text;
    }
    EXPECT_EQ(pretty(parse_ok("[0.30000000000000004, 100.0, 18446744073709551615, -9223372036854775808]")),
              "[\n  0.30000000000000004,\n  100.0,\n  18446744073709551615,\n  -9223372036854775808\n]");
}

TEST(JsonPrint, InvalidUtf8IsAnErrorValue) {
    EXPECT_FALSE(json::print_pretty(json::Value("a\xFF")).ok());
    EXPECT_FALSE(json::print_pretty(json::Value({{"k\xC3", 1}})).ok());
}

TEST(JsonPrint, ReadsBackEqual) {
    auto v = parse_ok(R"({"a":[1,-2,3.25,{"b":null}],"c":"\u00e9\ud83d\ude00","d":{}})");
    auto back = json::parse(pretty(v));
    ASSERT_TRUE(back.ok());
    EXPECT_TRUE(json::equal(v, *back));
    EXPECT_EQ(pretty(*back), pretty(v));
}

TEST(JsonPrint, WriterLaysOutAsThePrinter) {
    json::PrettyWriter w;
    w.begin_object();
    w.key("z");
    w.begin_object();
    w.key("b");
    w.begin_array();
    w.end_array();
    w.key("a");
    w.begin_object();
    w.end_object();
    w.end_object();
    w.key("y");
    w.begin_array();
    w.number(18446744073709551615u);
    w.string("t\x01\n\"\\\xE2\x82\xAC");
    w.boolean(true);
    w.begin_array();
    w.begin_object();
    w.key("k");
    w.boolean(false);
    w.end_object();
    w.end_array();
    w.end_array();
    w.end_object();
    auto text = std::move(w).finish();
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, pretty(parse_ok(*text)));
    EXPECT_EQ(*text, pretty(parse_ok(R"({"z":{"b":[],"a":{}},"y":[18446744073709551615,"t\u0001\n\"\\\u20ac",true,[{"k":false}]]})")));

    json::PrettyWriter bad;
    bad.begin_array();
    bad.string("a\xFF");
    bad.end_array();
    EXPECT_FALSE(std::move(bad).finish().ok());
}

TEST(JsonPrint, WriterWithASinkHandsOverTheSameTextInParts) {
    // Large enough to be handed over in several parts.
    std::string parts;
    std::size_t count = 0;
    json::PrettyWriter streamed([&](std::string_view part) {
        parts += part;
        ++count;
    });
    json::PrettyWriter kept;
    for (json::PrettyWriter* w : {&streamed, &kept}) {
        w->begin_array();
        for (int i = 0; i < 20000; ++i) {
            w->begin_object();
            w->key("name");
            w->string("server-" + std::to_string(i));
            w->end_object();
        }
        w->end_array();
    }
    auto rest = std::move(streamed).finish();
    ASSERT_TRUE(rest.ok());
    EXPECT_EQ(*rest, "");
    EXPECT_GT(count, 1u);
    EXPECT_EQ(parts, *std::move(kept).finish());

    // What went out cannot be taken back: broken bytes become U+FFFD.
    std::string lossy;
    json::PrettyWriter bad([&](std::string_view part) { lossy += part; });
    bad.begin_object();
    bad.key("k\xC3");
    bad.string("a\xFF");
    bad.end_object();
    EXPECT_TRUE(std::move(bad).finish().ok());
    EXPECT_EQ(lossy, "{\n  \"k\xEF\xBF\xBD\": \"a\xEF\xBF\xBD\"\n}");
}

}  // namespace
