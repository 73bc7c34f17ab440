// Reading documents: kinds of tables and values, errors and their offsets.
#include <gtest/gtest.h>

#include <cmath>

#include "toml/document.h"

namespace {

using toml::TableKind;

std::size_t error_offset(std::string_view text) {
    auto document = toml::parse(text);
    EXPECT_FALSE(document) << "accepted: " << text;
    return document ? SIZE_MAX : document.error().offset;
}

TEST(TomlParse, TellsTheKindsOfTablesApart) {
    auto document = toml::parse("d.x = 1\ni = { a = 1 }\n[h]\n[deep.er]\n[[arr]]\n[[arr]]\n");
    ASSERT_TRUE(document);
    const toml::Table& root = document->root();
    EXPECT_EQ(root.get("d")->as_table()->kind(), TableKind::dotted);
    EXPECT_TRUE(root.get("i")->as_value()->is_inline_table());
    EXPECT_EQ(root.get("h")->as_table()->kind(), TableKind::header);
    EXPECT_EQ(root.get("deep")->as_table()->kind(), TableKind::implicit);
    EXPECT_EQ(root.get("deep")->as_table()->get("er")->as_table()->kind(), TableKind::header);
    EXPECT_EQ(root.get("arr")->as_array_of_tables()->size(), 2u);
    std::vector<std::string> keys;
    for (const toml::Entry& entry : root) keys.push_back(entry.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"d", "i", "h", "deep", "arr"}));
}

TEST(TomlParse, ReadsEveryKindOfValue) {
    auto document = toml::parse(
        "s = \"a\\tb\\e\\x41\\u00e9\"\nl = 'C:\\x'\nm = \"\"\"\n  one \\\n   two\"\"\"\n"
        "i = 0xf_F\nj = 0o17\nk = 1_000\nf = -inf\nn = nan\ne = 6.02e+23\nb = true\n"
        "odt = 1979-05-27 07:32z\nldt = 1979-05-27t07:32:00.5\nld = 1979-05-27\nlt = 07:32\n"
        "a = [1, 'x', [2],]\nt = {\n  x = 1, # c\n  y.z = 2,\n}\n");
    ASSERT_TRUE(document) << document.error().message << " at " << document.error().offset;
    const toml::Table& root = document->root();
    auto value = [&](const char* key) -> const toml::Value& { return *root.get(key)->as_value(); };
    EXPECT_EQ(value("s").as_string(), "a\tb\x1b" "A\xC3\xA9");
    EXPECT_EQ(value("l").as_string(), "C:\\x");
    EXPECT_EQ(value("m").as_string(), "  one two");
    EXPECT_EQ(value("i").as_integer(), 255);
    EXPECT_FALSE(toml::parse("i = 0x_ff\n"));  // underscores only between digits
    EXPECT_FALSE(toml::parse("j = -0o17\n"));  // no sign on octal
    EXPECT_TRUE(value("k").is_integer());
    EXPECT_EQ(value("k").as_integer(), 1000);
    EXPECT_TRUE(std::isinf(value("f").as_float()) && value("f").as_float() < 0);
    EXPECT_TRUE(std::isnan(value("n").as_float()));
    EXPECT_EQ(value("e").as_float(), 6.02e23);
    EXPECT_TRUE(value("b").as_bool());
    EXPECT_EQ(value("odt").as_datetime().kind, toml::DatetimeKind::offset_datetime);
    EXPECT_EQ(value("odt").as_datetime().text, "1979-05-27T07:32:00Z");
    EXPECT_EQ(value("ldt").as_datetime().text, "1979-05-27T07:32:00.5");
    EXPECT_EQ(value("ld").as_datetime().kind, toml::DatetimeKind::local_date);
    EXPECT_EQ(value("lt").as_datetime().text, "07:32:00");
    EXPECT_EQ(value("a").as_array().size(), 3u);
    const toml::InlineTable& t = value("t").as_inline_table();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t.get("y")->as_inline_table().get("z")->as_integer(), 2);
}

TEST(TomlParse, IntegersOutsideSixtyFourBitsAreRefused) {
    EXPECT_TRUE(toml::parse("a = 9223372036854775807\nb = -9223372036854775808\nc = 0x7fffffffffffffff\n"));
    EXPECT_EQ(error_offset("a = 9223372036854775808\n"), 4u);
    EXPECT_EQ(error_offset("a = -9223372036854775809\n"), 4u);
    EXPECT_EQ(error_offset("a = 0x8000000000000000\n"), 4u);
}

TEST(TomlParse, DatesAreChecked) {
    EXPECT_TRUE(toml::parse("a = 2024-02-29\n"));
    EXPECT_EQ(error_offset("a = 2023-02-29\n"), 12u);
    EXPECT_EQ(error_offset("a = 2023-13-01\n"), 9u);
    EXPECT_EQ(error_offset("a = 24:00:00\n"), 4u);
    EXPECT_EQ(error_offset("a = 1979-05-27T07:32:00+24:00\n"), 24u);
}

TEST(TomlParse, DuplicatesAndRedefinitionsPointAtTheKey) {
    EXPECT_EQ(error_offset("a = 1\na = 2\n"), 6u);
    EXPECT_EQ(error_offset("[t]\n[t]\n"), 5u);
    EXPECT_EQ(error_offset("a.b = 1\n[a]\n"), 9u);          // header over dotted keys
    EXPECT_EQ(error_offset("[a.b]\n[a]\nb.c = 1\n"), 10u);  // dotted keys into a header table
    EXPECT_EQ(error_offset("a = {b = 1}\na.c = 2\n"), 12u);  // inline tables are closed
    EXPECT_EQ(error_offset("a = {b = 1}\n[a.c]\n"), 13u);
    EXPECT_EQ(error_offset("a = [1]\n[[a]]\n"), 10u);
    EXPECT_EQ(error_offset("[[a]]\n[a]\n"), 7u);
    EXPECT_EQ(error_offset("t = {x = 1, x = 2}\n"), 12u);
    EXPECT_TRUE(toml::parse("[a.b.c]\n[a]\n[a.b]\n[[x]]\n[x.y]\n[[x]]\n[x.y]\n[f]\ng.h = 1\n[f.g.i]\n"));
}

TEST(TomlParse, ControlCharactersLineEndsAndUtf8) {
    EXPECT_EQ(error_offset("a = \"x\ty\x01\"\n"), 8u);
    EXPECT_EQ(error_offset("# ok\n# bad \x7f\n"), 11u);
    EXPECT_EQ(error_offset("a = 1\rb = 2\n"), 5u);
    EXPECT_EQ(error_offset("a = 'x\n'\n"), 6u);
    EXPECT_EQ(error_offset("a = \"\xC3\x28\"\n"), 5u);
    EXPECT_EQ(error_offset("# \xED\xA0\x80\n"), 2u);  // a surrogate
    EXPECT_EQ(error_offset("a = \"\\uD800\"\n"), 5u);
    EXPECT_EQ(error_offset("a = 1 b = 2\n"), 6u);
    EXPECT_EQ(error_offset("a = \"open\n"), 9u);
    EXPECT_EQ(error_offset("a = [1, 2\n"), 10u);  // the end of the text
}

TEST(TomlParse, ByteOrderMarkOnlyAtTheStart) {
    auto document = toml::parse("\xEF\xBB\xBF" "a = 1\n");
    ASSERT_TRUE(document);
    EXPECT_EQ(document->render(), "\xEF\xBB\xBF" "a = 1\n");
    EXPECT_EQ(error_offset("a = 1\n\xEF\xBB\xBF"), 6u);
    EXPECT_EQ(error_offset("\xEF\xBB\xBF" "a = \n"), 7u);  // offsets count the mark
}

TEST(TomlParse, DeepNestingIsAnErrorNotACrash) {
    std::string arrays = "a = " + std::string(100000, '[');
    EXPECT_LT(error_offset(arrays), arrays.size());
    std::string tables = "a = ";
    for (int i = 0; i < 50000; ++i) tables += "{b=";
    EXPECT_LT(error_offset(tables), tables.size());
    std::string keys = "a";
    for (int i = 0; i < 50000; ++i) keys += ".a";
    EXPECT_LT(error_offset(keys + " = 1\n"), keys.size());
    EXPECT_LT(error_offset("[" + keys + "]\n"), keys.size());
    std::string fits = "a = " + std::string(toml::max_depth - 1, '[') + std::string(toml::max_depth - 1, ']') + "\n";
    EXPECT_TRUE(toml::parse(fits));
}

TEST(TomlParse, UneditedDocumentsRenderByteForByte) {
    for (std::string text : {
             "",
             "\n\n",
             "# only a comment",
             "a=1",
             "  [ a . \"b\" ]  # c\r\n  x  =  1  \r\n\r\n",
             "[b.c]\n[a]\n[b]\nz = 1\n[a.d]\n",
             "x.y = 1\nz = 2\nx.w = 3\n[t]\nq.r = 1\n",
             "[[a]]\n[a.b]\n[[a]]\n  [[a.c]]\n#end\n",
             "s = '''\r\nraw\r\n'''\nt = { a = [\n 1, # one\n 2,\n], }\n",
         }) {
        auto document = toml::parse(text);
        ASSERT_TRUE(document) << text;
        EXPECT_EQ(document->render(), text);
    }
}

}  // namespace
