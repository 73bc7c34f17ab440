// `mirthlode mcp list [--json]`: every server, its state per agent, exit codes.
#include <gtest/gtest.h>

#include "json/json.h"
#include "support/support.h"

using namespace testing_support;

namespace {

// fs managed in claude and drifted in cursor; old disabled but still in
// codex; parked disabled and nowhere; mine only in claude.
struct ListHome : Home {
    ListHome() {
        write_file(*this / ".agents/mcp.json", R"({"mcpServers": {
            "parked": {"command": "p", "disabled": true},
            "old": {"command": "o", "disabled": true},
            "fs": {"command": "npx", "args": ["fs"]}}})");
        write_file(*this / ".claude.json", R"({"mcpServers": {"mine": {"command": "m"}, "fs": {"command": "npx", "args": ["fs"]}}})");
        write_file(*this / ".cursor/mcp.json", R"({"mcpServers": {"fs": {"command": "npx"}}})");
        write_file(*this / ".codex/config.toml", "[mcp_servers.old]\ncommand = \"o\"\n");
        fs::create_directories(*this / ".claude");
    }
};

TEST(McpList, TextAndJsonReports) {
    ListHome h;
    auto text = h.run({"mcp", "list"});
    EXPECT_EQ(text.out,
              "fs  (Commons)\n"
              "  managed    claude\n"
              "  missing    codex\n"
              "  drifted    cursor\n"
              "old  (disabled)\n"
              "  disabled   codex\n"
              "parked  (disabled)\n"
              "mine  (not in the Commons)\n"
              "  foreign    claude\n");
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(text.code, 2);

    auto json = h.run({"mcp", "list", "--json"});
    EXPECT_EQ(json.out.substr(0, 17), "{\n  \"servers\": [\n");
    EXPECT_EQ(json::Value::parse(json.out).dump(),
              R"({"servers":[)"
              R"({"name":"fs","managed":true,"targets":[{"agent":"claude","state":"managed","actionable":false},)"
              R"({"agent":"codex","state":"missing","actionable":true},)"
              R"({"agent":"cursor","state":"drifted","actionable":true}]},)"
              R"({"name":"old","managed":true,"targets":[{"agent":"codex","state":"disabled","actionable":true}],)"
              R"("disabled":true},)"
              R"({"name":"parked","managed":true,"targets":[],"disabled":true},)"
              R"({"name":"mine","managed":false,"targets":[{"agent":"claude","state":"foreign","actionable":false}]}]})");
    EXPECT_EQ(json.code, 2);

    // Nothing actionable left: exit 0.
    write_file(h / ".cursor/mcp.json", R"({"mcpServers": {"fs": {"args": ["fs"], "command": "npx"}}})");
    write_file(h / ".codex/config.toml", "[mcp_servers.fs]\ncommand = \"npx\"\nargs = [\"fs\"]\n");
    EXPECT_EQ(h.run({"mcp", "list"}).code, 0);
}

TEST(McpList, ErrorsAndEmptyMachines) {
    struct Case {
        const char* mcp_json;  // nullptr: no file
        const char* claude;
        std::vector<std::string> args;
        std::string out, err;
        int code;
    };
    const std::string none = "no MCP servers in the Commons, and none found in any agent's config\n";
    const std::vector<Case> cases = {
        {nullptr, R"({"mcpServers": {"a": {}}})", {"mcp", "list"}, none, "", 0},
        {nullptr, R"({"mcpServers": {"a": {}}})", {"mcp", "list", "--json"}, "{\n  \"servers\": []\n}\n", "", 0},
        {R"({"mcpServers": {}})", "{", {"mcp", "list"}, none,
         "error: <home>/.claude.json is not valid JSON (line 1, column 2) — left untouched\n", 0},
        {"[]", "{}", {"mcp", "list", "--json"}, "",
         "error: <home>/.agents/mcp.json must hold an `mcpServers` object at the top level\n", 1},
        {R"({"mcpServers": {"s": {"command": "${env:NOPE}"}}})", "{}", {"mcp", "list"}, "",
         "error: mcp server `s`: ${env:NOPE} is not set in the environment\n", 1},
        {R"({"mcpServers": {"s": {"command": "s"}}})", "[", {"mcp", "list"}, "s  (Commons)\n",
         "error: <home>/.claude.json is not valid JSON (line 1, column 2) — left untouched\n", 1},
    };
    for (const Case& c : cases) {
        Home h;
        fs::create_directories(h / ".claude");
        if (c.mcp_json) write_file(h / ".agents/mcp.json", c.mcp_json);
        write_file(h / ".claude.json", c.claude);
        auto r = h.run(c.args);
        std::string err = r.err;
        for (auto at = err.find(h.path().string()); at != std::string::npos; at = err.find(h.path().string())) {
            err.replace(at, h.path().string().size(), "<home>");
        }
        EXPECT_EQ(r.out, c.out) << c.claude;
        EXPECT_EQ(err, c.err) << c.claude;
        EXPECT_EQ(r.code, c.code) << c.claude;
    }
}

}  // namespace
