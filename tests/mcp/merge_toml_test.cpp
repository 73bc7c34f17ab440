#include <gtest/gtest.h>

#include "core/agent_files.h"
#include "mcp/merge.h"
#include "mcp/toml_convert.h"
#include "support/support.h"

namespace {

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

mcp::McpItem item(const std::string& server, const char* expected) {
    mcp::McpItem made;
    made.server = server;
    made.toml = true;
    if (expected) made.expected = json::Value::parse(expected);
    return made;
}

// Merges into a codex config.toml holding `content`; the file's new bytes,
// or "error: " and the message with the path shown as <path>.
std::string merge(const std::string& content, const std::vector<const mcp::McpItem*>& items) {
    TempDir dir;
    const auto file = dir / ".codex" / "config.toml";
    write_file(file, content);
    auto outcome = mcp::merge_servers_into_agent_file(file, "mcp_servers", true, items);
    if (outcome) return read_file(file);
    EXPECT_EQ(read_file(file), content) << "a refused file must stay as it was";
    std::string message = outcome.error().message;
    if (message.rfind(file.string(), 0) == 0) message = "<path>" + message.substr(file.string().size());
    return "error: " + message;
}

const char* codex_config = R"(# codex settings
model = "o3"  # the model

[profiles.fast]
model = "o4-mini"

# the docs server
[mcp_servers.docs]
command = "old"
startup_timeout_sec = 5
[mcp_servers.docs.env]
X = "1"

[mcp_servers.mine] # keep me
command = "mine"

[tui]
notifications = true
)";

TEST(MergeToml, ReplacesInPlaceAppendsAndKeepsTheRest) {
    auto docs = item("docs", R"({"command":"npx","args":["-y","docs"],"env":{"K":"v"}})");
    auto web = item("web", R"({"url":"https://x","http_headers":{"A":"b"},"enabled":true})");
    EXPECT_EQ(merge(codex_config, {&web, &docs}), R"(# codex settings
model = "o3"  # the model

[profiles.fast]
model = "o4-mini"

# the docs server
[mcp_servers.docs]
command = "npx"
args = ["-y", "docs"]

[mcp_servers.docs.env]
K = "v"

[mcp_servers.mine] # keep me
command = "mine"

[mcp_servers.web]
url = "https://x"
enabled = true

[mcp_servers.web.http_headers]
A = "b"

[tui]
notifications = true
)");
}

// A server written as an inline table or as dotted keys keeps that form, its
// place and its comments; a key still there keeps its line.
TEST(MergeToml, InlineAndDottedEntriesKeepTheirFormAndComments) {
    auto b = item("b", R"({"command":"new","args":["-v"],"env":{"K":"v"}})");
    auto srv = item("srv", R"({"command":"new","env":{"A":"2","B":"3"},"startup_timeout_sec":9})");
    auto empty = item("srv", R"({})");
    const char* config = R"(model = "o3"
# b's note
mcp_servers.b = { command = "old" }  # note
# the server
mcp_servers.srv.url = "https://x"  # goes
mcp_servers.srv.command = "old"  # kept
mcp_servers.srv.env.A = "1"
# last
after = true

[tui]
x = 1
)";
    EXPECT_EQ(merge(config, {&b, &srv}), R"(model = "o3"
# b's note
mcp_servers.b = { command = "new", args = ["-v"], env = { K = "v" } }  # note
# the server
mcp_servers.srv.command = "new"  # kept
mcp_servers.srv.env.A = "2"
mcp_servers.srv.env.B = "3"
mcp_servers.srv.startup_timeout_sec = 9
# last
after = true

[tui]
x = 1
)");
    // Under a header of the servers table, and an entry left empty.
    EXPECT_EQ(merge("[mcp_servers]\n# mine\nsrv.command = \"old\"  # c\nsrv.env.A = \"1\"\nother.command = \"o\"\n",
                    {&empty}),
              "[mcp_servers]\n# mine\nsrv = {}\nother.command = \"o\"\n");
}

TEST(MergeToml, NoEntriesRewritesTheSameText) {
    auto skipped = item("docs", nullptr);
    EXPECT_EQ(merge(codex_config, {&skipped}), codex_config);
    EXPECT_EQ(merge("", {}), "");
}

TEST(MergeToml, ByteOrderMarkAndCrlfAreKept) {
    auto docs = item("docs", R"({"command":"npx","env":{}})");
    EXPECT_EQ(merge("\xEF\xBB\xBFmodel = \"o3\"\r\n\r\n[mcp_servers.old]\r\ncommand = \"x\"\r\n", {&docs}),
              "\xEF\xBB\xBFmodel = \"o3\"\r\n\r\n[mcp_servers.old]\r\ncommand = \"x\"\r\n"
              "\r\n[mcp_servers.docs]\r\ncommand = \"npx\"\r\n\r\n[mcp_servers.docs.env]\r\n");
    // A mark alone, or "\r\n" alone, is kept alone.
    EXPECT_EQ(merge("\xEF\xBB\xBF", {&docs}),
              "\xEF\xBB\xBF[mcp_servers.docs]\ncommand = \"npx\"\n\n[mcp_servers.docs.env]\n");
    EXPECT_EQ(merge(" \r\n\t\n", {&docs}),
              "[mcp_servers.docs]\r\ncommand = \"npx\"\r\n\r\n[mcp_servers.docs.env]\r\n");
}

TEST(MergeToml, MissingFileIsCreated) {
    TempDir dir;
    auto docs = item("docs", R"({"command":"npx","args":[],"cwd":null})");
    ASSERT_TRUE(mcp::merge_servers_into_agent_file(dir / ".codex" / "config.toml", "mcp_servers", true, {&docs}));
    EXPECT_EQ(read_file(dir / ".codex" / "config.toml"), "[mcp_servers.docs]\ncommand = \"npx\"\nargs = []\n");
}

TEST(MergeToml, RepeatedNameKeepsFirstPlaceAndLastEntry) {
    auto first = item("b", R"({"command":"first"})");
    auto other = item("a", R"({"command":"a"})");
    auto last = item("b", R"({"command":"last"})");
    EXPECT_EQ(merge("", {&first, &other, &last}),
              "[mcp_servers.b]\ncommand = \"last\"\n\n[mcp_servers.a]\ncommand = \"a\"\n");
}

TEST(MergeToml, Refusals) {
    auto docs = item("docs", R"({"command":"npx"})");
    EXPECT_EQ(merge("mcp_servers = { docs = { command = \"x\" } }\n", {&docs}),
              "error: <path>: `mcp_servers` is not a table — left untouched");
    EXPECT_EQ(merge("[[mcp_servers]]\nname = \"x\"\n", {&docs}),
              "error: <path>: `mcp_servers` is not a table — left untouched");
    EXPECT_EQ(merge("mcp_servers = 1\n", {&docs}), "error: <path>: `mcp_servers` is not a table — left untouched");
    EXPECT_EQ(merge("a = 1\nb = 2\nc = @\n", {&docs}),
              "error: <path>: invalid TOML (line 3, column 5) — left untouched");
    // Positions count bytes of the text after a byte-order mark.
    EXPECT_EQ(merge("\xEF\xBB\xBF" "x = \"é\" y\n", {&docs}),
              "error: <path>: invalid TOML (line 1, column 10) — left untouched");

    auto list = item("list", R"(["npx"])");
    EXPECT_EQ(merge("", {&docs, &list}), "error: <path>: server `list` is not an object — left untouched");
    auto null_arg = item("n", R"({"command":"x","args":["a",null]})");
    EXPECT_EQ(merge("", {&docs, &null_arg}), "error: <path>: `args` has a value TOML cannot hold — left untouched");
    auto object_arg = item("o", R"({"command":"x","args":[{"a":1}]})");
    EXPECT_EQ(merge("", {&object_arg}), "error: <path>: `args` has a value TOML cannot hold — left untouched");
    auto huge = item("h", R"({"command":"x","env":{"BIG":18446744073709551615}})");
    EXPECT_EQ(merge("", {&huge}), "error: <path>: `BIG` has a value TOML cannot hold — left untouched");
}

// A merge that starts from the file as planning read and parsed it writes
// exactly what a merge that reads the file itself writes.
TEST(MergeToml, FromThePlanningReadAsFromTheFile) {
    auto docs = item("docs", R"({"command":"npx","args":["-y","docs"],"env":{"K":"v"}})");
    auto b = item("b", R"({"command":"new","env":{"A":"2"}})");
    auto srv = item("srv", R"({})");
    const std::vector<std::string> contents = {
        codex_config,
        "model = \"o3\"\nmcp_servers.b = { command = \"old\" }  # note\nmcp_servers.srv.url = \"x\"\n",
        "\xEF\xBB\xBFmodel = \"o3\"\r\n\r\n[mcp_servers.old]\r\ncommand = \"x\"\r\n",
        "\xEF\xBB\xBF# only a comment\n",
        "\xEF\xBB\xBF",
        " \r\n\t\n",
        "",
        "[mcp_servers]\n# mine\nsrv.command = \"old\"  # c\nother.command = \"o\"\n",
    };
    for (const std::string& content : contents) {
        SCOPED_TRACE(content);
        TempDir dir;
        const auto file = dir / "config.toml";
        write_file(file, content);
        auto read = core::read_agent_file(file, true);
        ASSERT_TRUE(read);
        ASSERT_TRUE(read->parsed);
        ASSERT_TRUE(mcp::merge_servers_into_agent_file(file, "mcp_servers", true, {&docs, &b, &srv}));
        const std::string expected = read_file(file);
        write_file(file, content);
        // Written anew with the same bytes: a stamp that differs only in its
        // times would send the merge back to the file.
        auto again = core::read_agent_file(file, true);
        ASSERT_TRUE(again && again->parsed);
        ASSERT_TRUE(mcp::merge_servers_into_agent_file(file, "mcp_servers", true, {&docs, &b, &srv}, &*again));
        EXPECT_EQ(read_file(file), expected);
        // And straight from the parsed document, as the merge does.
        auto text = mcp::merge_into_toml(file, content, *again->parsed, "mcp_servers", {&docs, &b, &srv});
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, expected);
    }
}

TEST(TweakToToml, ValuesAndNestedTables) {
    auto table = mcp::tweak_to_toml(json::Value::parse(
        R"({"skip":null,"i":-3,"max":9223372036854775807,"f":0.5,"s":"t","l":[1,[true]],"o":{"k":"v","e":{}}})"));
    ASSERT_TRUE(table);
    toml::Document document;
    document.root().set("t", toml::Item(std::move(*table)));
    EXPECT_EQ(document.render(),
              "[t]\ni = -3\nmax = 9223372036854775807\nf = 0.5\ns = \"t\"\nl = [1, [true]]\n\n[t.o]\nk = \"v\"\n\n[t.o.e]\n");
    EXPECT_FALSE(mcp::json_to_toml_value(json::Value::parse("9223372036854775808")));
    EXPECT_FALSE(mcp::json_to_toml_value(json::Value::parse("null")));
    EXPECT_FALSE(mcp::json_to_toml_value(json::Value::parse("{}")));
    EXPECT_FALSE(mcp::json_to_toml_value(json::Value::parse("[1,null]")));
    // A TOML file is UTF-8 throughout.
    EXPECT_FALSE(mcp::json_to_toml_value(json::Value("\xff\xfe")));
    EXPECT_FALSE(mcp::json_to_toml_value(json::Value::array({"ok", "\xc3\x28"})));
}

}  // namespace
