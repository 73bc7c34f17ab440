// Edits of documents and the layout of new content.
#include <gtest/gtest.h>

#include <cmath>

#include "toml/document.h"

namespace {

using toml::Document;
using toml::Table;
using toml::Value;

Document read(std::string_view text) {
    auto document = toml::parse(text);
    EXPECT_TRUE(document) << document.error().message << " at " << document.error().offset;
    return document ? std::move(*document) : Document();
}

Value strings(std::vector<std::string> items) {
    toml::Array array;
    for (auto& item : items) array.push_back(Value::string(item));
    return Value::array(std::move(array));
}

Table& table_at(Table& table, std::string_view key) { return *table.get(key)->as_table(); }

TEST(TomlLayout, AllowlistUnderNewImplicitTables) {
    Document document;
    Table& mcp = *document.root().set("mcp", Table::new_implicit()).as_table();
    Table& fs = *mcp.set("fs", Table::new_implicit()).as_table();
    fs.set("agents", strings({"claude", "codex"}));
    fs.set_implicit(false);
    EXPECT_EQ(document.render(), "[mcp.fs]\nagents = [\"claude\", \"codex\"]\n");
}

TEST(TomlLayout, ServerTableWithNestedTable) {
    Document document;
    Table& servers = *document.root().set("mcp_servers", Table::new_implicit()).as_table();
    Table server;
    server.set("command", Value::string("npx"));
    Table env;
    env.set("ROOT", Value::string("/tmp"));
    server.set("env", std::move(env));  // before args: plain keys still come first
    server.set("args", strings({"-y", "@x/fs"}));
    servers.set("fs", std::move(server));
    EXPECT_EQ(document.render(),
              "[mcp_servers.fs]\ncommand = \"npx\"\nargs = [\"-y\", \"@x/fs\"]\n\n[mcp_servers.fs.env]\nROOT = \"/tmp\"\n");
}

TEST(TomlLayout, ImplicitTableWithoutPairsPrintsNothingButEmptyExplicitTablePrintsHeader) {
    Document document;
    Table& a = *document.root().set("a", Table::new_implicit()).as_table();
    a.set("b", Table::new_implicit());
    EXPECT_EQ(document.render(), "");
    a.set("c", Table());
    EXPECT_EQ(document.render(), "[a.c]\n");
    a.set_implicit(false);
    EXPECT_EQ(document.render(), "[a]\n\n[a.c]\n");
}

TEST(TomlLayout, KeysAreQuotedOnlyWhenNeeded) {
    Document document;
    document.root().set("plain-Key_9", Value::integer(1));
    document.root().set("with space", Value::integer(2));
    document.root().set("dot.ted", Value::integer(3));
    document.root().set("", Value::integer(4));
    document.root().set("qu\"ote", Value::integer(5));
    document.root().set("caf\xC3\xA9", Value::integer(6));
    EXPECT_EQ(document.render(),
              "plain-Key_9 = 1\n\"with space\" = 2\n\"dot.ted\" = 3\n\"\" = 4\n'qu\"ote' = 5\n\"caf\xC3\xA9\" = 6\n");
}

TEST(TomlLayout, StringsTakeTheFirstFormThatFits) {
    EXPECT_EQ(Value::string("plain text").text(), "\"plain text\"");
    EXPECT_EQ(Value::string("say \"hi\"").text(), "'say \"hi\"'");
    EXPECT_EQ(Value::string("C:\\dir").text(), "'C:\\dir'");
    EXPECT_EQ(Value::string("two\nlines").text(), "\"\"\"\ntwo\nlines\"\"\"");
    EXPECT_EQ(Value::string("it's \"x\"").text(), "\"it's \\\"x\\\"\"");
    EXPECT_EQ(Value::string("tab\there").text(), "\"tab\\there\"");
    EXPECT_EQ(Value::string("bell\x07").text(), "\"bell\\u0007\"");
    EXPECT_EQ(Value::string("a'b\\\n\"").text(), "\"\"\"\na'b\\\\\n\\\"\"\"\"");
}

TEST(TomlLayout, NewStringsReadBackUnchanged) {
    for (std::string text : {"", "'", "\"", "\\", "\n", "\n\nx", "a\"\"\"b", "a'''b\nc", "x\r\ny", "\x7f", "\t'\n"}) {
        Document document;
        document.root().set("s", Value::string(text));
        auto again = toml::parse(document.render());
        ASSERT_TRUE(again) << document.render();
        EXPECT_EQ(again->root().get("s")->as_value()->as_string(), text) << document.render();
    }
}

TEST(TomlLayout, FloatsUseShortestDigitsWithoutExponent) {
    EXPECT_EQ(Value::floating(1.0).text(), "1.0");
    EXPECT_EQ(Value::floating(0.1).text(), "0.1");
    EXPECT_EQ(Value::floating(-2.5).text(), "-2.5");
    EXPECT_EQ(Value::floating(1e20).text(), "100000000000000000000.0");
    EXPECT_EQ(Value::floating(1.5e-7).text(), "0.00000015");
    EXPECT_EQ(Value::floating(-0.0).text(), "-0.0");
    EXPECT_EQ(Value::floating(INFINITY).text(), "inf");
    EXPECT_EQ(Value::floating(-INFINITY).text(), "-inf");
    EXPECT_EQ(Value::floating(NAN).text(), "nan");
    for (double number : {0.1 + 0.2, 1e300, 5e-324, 123456.789, 1.7976931348623157e308}) {
        Document document;
        document.root().set("f", Value::floating(number));
        auto again = toml::parse(document.render());
        ASSERT_TRUE(again);
        EXPECT_EQ(again->root().get("f")->as_value()->as_float(), number);
    }
}

TEST(TomlLayout, IntegersAndArrays) {
    EXPECT_EQ(Value::integer(-9223372036854775807 - 1).text(), "-9223372036854775808");
    EXPECT_EQ(Value::array({}).text(), "[]");
    toml::Array mixed;
    mixed.push_back(Value::integer(1));
    mixed.push_back(Value::boolean(true));
    mixed.push_back(strings({"x"}));
    EXPECT_EQ(Value::array(mixed).text(), "[1, true, [\"x\"]]");
}

TEST(TomlEdit, ReplacingAValueKeepsKeySpellingPositionAndComment) {
    Document document = read("# top\n 'a' =  1 # one\nb = 2\n");
    document.root().set("a", Value::string("x"));
    EXPECT_EQ(document.render(), "# top\n 'a' =  \"x\" # one\nb = 2\n");
}

TEST(TomlEdit, AppendedKeysGoAfterTheLastPairOfTheirSection) {
    Document document = read("a = 1\n\n[t]\nx = 1 # c\n\n# about u\n[u]\n");
    document.root().set("b", Value::integer(2));
    table_at(document.root(), "t").set("y", Value::integer(2));
    EXPECT_EQ(document.render(), "a = 1\nb = 2\n\n[t]\nx = 1 # c\ny = 2\n\n# about u\n[u]\n");
}

TEST(TomlEdit, NewTableGoesAfterTheLastTableOfItsParent) {
    Document document = read("[s.a]\nx = 1\n[s.a.env]\nY = \"1\"\n\n[other]\nz = 1\n");
    Table b;
    b.set("x", Value::integer(2));
    table_at(document.root(), "s").set("b", std::move(b));
    EXPECT_EQ(document.render(), "[s.a]\nx = 1\n[s.a.env]\nY = \"1\"\n\n[s.b]\nx = 2\n\n[other]\nz = 1\n");
}

TEST(TomlEdit, RemovingATableTakesItsSubtablesAndComments) {
    Document document = read("[s.a]\nx = 1\n\n# b is next\n[s.b]\ny = 2\n[s.b.env]\nZ = 3\n[t]\n");
    EXPECT_TRUE(table_at(document.root(), "s").remove("b"));
    EXPECT_FALSE(table_at(document.root(), "s").remove("b"));
    EXPECT_EQ(document.render(), "[s.a]\nx = 1\n[t]\n");
}

TEST(TomlEdit, RemovingAPairTakesTheCommentAboveIt) {
    Document document = read("a = 1\n# about b\nb = 2 # trailing\nc = 3\n");
    EXPECT_TRUE(document.root().remove("b"));
    EXPECT_EQ(document.render(), "a = 1\nc = 3\n");
}

// Comments with a blank line between them and a piece of the removed entry
// (a header, its own line, a dotted key, a subtable further down) stay with
// that blank line; comments right above a piece go with it.
TEST(TomlEdit, RemovingKeepsTheCommentsStandingApartFromEachPiece) {
    struct Case {
        const char* layout;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"inline table line", "[s]\n\n# ---- banner ----\n\nfs = { c = \"a\" }\nother = { c = \"o\" }\n",
         "[s]\n\n# ---- banner ----\n\nother = { c = \"o\" }\n"},
        {"dotted keys", "[s]\nother.c = \"o\"\n\n# ---- banner ----\n\n# about fs\nfs.c = \"a\"\nfs.d = 1\n",
         "[s]\nother.c = \"o\"\n\n# ---- banner ----\n"},
        {"subtable out of order", "[s.fs]\nc=\"a\"\n[s.other]\nc=\"b\"\n\n# ---- banner ----\n\n[s.fs.env]\nK=\"v\"\n",
         "[s.other]\nc=\"b\"\n\n# ---- banner ----\n"},
        {"header with both kinds", "m = 1\n\n# ---- banner ----\n\n# about fs\n[s.fs]\nc = 1\n\n[s.other]\nc = 2\n",
         "m = 1\n\n# ---- banner ----\n\n[s.other]\nc = 2\n"},
        {"next header close below", "[s.other]\nc = 2\n\n# ---- banner ----\n\n[s.fs]\nc = 1\n[t]\n",
         "[s.other]\nc = 2\n\n# ---- banner ----\n\n[t]\n"},
        {"first in the file", "# about fs\n[s.fs]\nc = 1\n\n[s.other]\nc = 2\n", "[s.other]\nc = 2\n"},
        {"array of tables", "[[s.fs]]\nc = 1\n\n# ---- banner ----\n\n[[s.fs]]\nc = 2\n\n[t]\n",
         "# ---- banner ----\n\n[t]\n"},
        {"crlf", "[s]\r\n\r\n# ---- banner ----\r\n\r\nfs = 1\r\nother = 2\r\n",
         "[s]\r\n\r\n# ---- banner ----\r\n\r\nother = 2\r\n"},
    };
    for (const Case& c : cases) {
        Document document = read(c.before);
        EXPECT_TRUE(table_at(document.root(), "s").remove_keeping_comments("fs")) << c.layout;
        EXPECT_EQ(document.render(), c.after) << c.layout;
    }
}

TEST(TomlEdit, ReplacedTableTakesOverDecorAndPlace) {
    Document document = read("[s.a]\nx = 1\n\n# the b server\n[s . b] # keep\nold = 1\n[s.b.env]\nQ = 1\n\n[s.c]\n");
    Table& servers = table_at(document.root(), "s");
    Table fresh;
    fresh.set("new", Value::integer(2));
    Table env;
    env.set("R", Value::integer(3));
    fresh.set("env", std::move(env));
    fresh.carry_decor_from(table_at(servers, "b"));
    servers.set("b", std::move(fresh));
    EXPECT_EQ(document.render(),
              "[s.a]\nx = 1\n\n# the b server\n[s . b] # keep\nnew = 2\n\n[s.b.env]\nR = 3\n\n[s.c]\n");
}

TEST(TomlEdit, MarkingATableImplicitKeepsTheCommentsAboveIt) {
    Document document = read("# servers\n[mcp] # all of them\n\n[mcp.fs]\nagents = []\n");
    table_at(document.root(), "mcp").set_implicit(true);
    EXPECT_EQ(document.render(), "# servers\n# all of them\n\n[mcp.fs]\nagents = []\n");
    table_at(document.root(), "mcp").set_implicit(false);
    EXPECT_EQ(document.render(), "# servers\n[mcp] # all of them\n\n[mcp.fs]\nagents = []\n");
}

TEST(TomlEdit, DottedTableMadeExplicitMovesUnderItsOwnHeader) {
    Document document = read("name = \"x\"\nmcp.fs.agents = [\"claude\"]\n");
    Table& fs = table_at(table_at(document.root(), "mcp"), "fs");
    EXPECT_EQ(fs.kind(), toml::TableKind::dotted);
    fs.set("agents", strings({"codex"}));
    fs.set_implicit(false);
    std::string text = document.render();
    EXPECT_EQ(text, "name = \"x\"\n\n[mcp.fs]\nagents = [\"codex\"]\n");
    EXPECT_TRUE(toml::parse(text));
}

TEST(TomlEdit, CrlfDocumentGetsCrlfLinesOnly) {
    Document document = read("# c\r\n[a]\r\nx = 1\r\n");
    table_at(document.root(), "a").set("y", Value::string("two\nlines"));
    Table b;
    b.set("z", Value::integer(1));
    document.root().set("b", std::move(b));
    std::string text = document.render();
    EXPECT_EQ(text, "# c\r\n[a]\r\nx = 1\r\ny = \"two\\nlines\"\r\n\r\n[b]\r\nz = 1\r\n");
    EXPECT_EQ(toml::parse(text)->root().get("a")->as_table()->get("y")->as_value()->as_string(), "two\nlines");
}

TEST(TomlEdit, LastLineWithoutLineEndIsEndedBeforeNewContent) {
    Document document = read("a = 1");
    document.root().set("b", Value::integer(2));
    EXPECT_EQ(document.render(), "a = 1\nb = 2\n");
    Document tables = read("[t]\nx = 1");
    tables.root().set("u", Table());
    EXPECT_EQ(tables.render(), "[t]\nx = 1\n\n[u]\n");
}

TEST(TomlEdit, ByteOrderMarkStaysInFrontAndNewHeaderIsFirstThing) {
    Document document = read("\xEF\xBB\xBF");
    document.root().set("t", Table());
    EXPECT_EQ(document.render(), "\xEF\xBB\xBF[t]\n");
}

TEST(TomlEdit, ArraysOfTablesGrow) {
    Document document = read("[[hook]]\nrun = \"a\"\n\n[other]\n");
    toml::ArrayOfTables& hooks = *document.root().get("hook")->as_array_of_tables();
    Table second;
    second.set("run", Value::string("b"));
    hooks.push_back(std::move(second));
    EXPECT_EQ(document.render(), "[[hook]]\nrun = \"a\"\n\n[[hook]]\nrun = \"b\"\n\n[other]\n");
}

TEST(TomlEdit, ReferencesSurviveOtherEdits) {
    Document document = read("[a]\nx = 1\n");
    Table& a = table_at(document.root(), "a");
    for (int i = 0; i < 100; ++i) document.root().set("k" + std::to_string(i), Value::integer(i));
    document.root().remove("k5");
    a.set("y", Value::integer(2));
    EXPECT_EQ(document.root().get("a")->as_table()->get("y")->as_value()->as_integer(), 2);
    EXPECT_EQ(document.root().get("k99")->as_value()->as_integer(), 99);
    EXPECT_EQ(document.root().get("k5"), nullptr);
}

}  // namespace

namespace {

// A dotted table given a section of its own must come before the headers
// read under it, or its dotted keys would reach into header tables.
TEST(TomlEdit, DottedTableGivenAHeaderStaysBeforeTheHeadersUnderIt) {
    Document document = read("a.b.d = 2\nx = 1\n\n[a.b.c]\nkey = 1\n");
    Table& a = table_at(document.root(), "a");
    a.set("note", Value::string("n"));
    a.set_implicit(true);
    std::string text = document.render();
    EXPECT_EQ(text, "x = 1\n\n[a]\nb.d = 2\nnote = \"n\"\n\n[a.b.c]\nkey = 1\n");
    auto again = toml::parse(text);
    ASSERT_TRUE(again) << again.error().message;
    EXPECT_EQ(again->render(), text);
}

}  // namespace
