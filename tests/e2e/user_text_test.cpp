// What is the user's in a file mirthlode rewrites stays as the user wrote
// it: comments around a server table it takes out, numbers it never reads.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

namespace {

// A codex server taken out by `mcp disable`, by sync of a disabled server
// and by `mcp remove`: comments standing apart from it stay, its own go.
TEST(UserText, RemovingACodexServerKeepsTheCommentsStandingApartFromIt) {
    struct Case {
        std::string name;
        std::string commons;
        std::string config;  // codex's config.toml before
        std::vector<std::string> args;
        std::string out;
        std::string after;  // codex's config.toml after
    };
    const std::vector<Case> cases = {
        {"a banner between the servers, by mcp disable",
         R"({"mcpServers": {"fs": {"command": "npx"}, "other": {"command": "o"}}})",
         "model = \"o3\"\n\n# ---- MCP servers: keep this banner ----\n\n# the file server\n"
         "[mcp_servers.fs]\ncommand = \"npx\"\n\n[mcp_servers.other]\ncommand = \"o\"\n",
         {"mcp", "disable", "fs"},
         "removed fs from codex\ndisabled fs — definition kept; enable restores it everywhere\n",
         "model = \"o3\"\n\n# ---- MCP servers: keep this banner ----\n\n[mcp_servers.other]\ncommand = \"o\"\n"},
        {"the top of the file, by sync of a disabled server",
         R"({"mcpServers": {"fs": {"command": "npx", "disabled": true}, "other": {"command": "o"}}})",
         "# codex, by hand\n\n# the file server\n[mcp_servers.fs]\ncommand = \"npx\"\n\n"
         "[mcp_servers.other]\ncommand = \"o\"\n",
         {"sync"},
         "mcp (mcp.json)\n  disabled  fs → codex — disabled in the Commons — will be removed\n\n1 change made.\n",
         "# codex, by hand\n\n[mcp_servers.other]\ncommand = \"o\"\n"},
        {"an inline server under a banner, by mcp remove", R"({"mcpServers": {"fs": {"command": "fs-mcp"}}})",
         "[mcp_servers]\n\n# ---- banner ----\n\nfs = { command = \"fs-mcp\" }\nother = { command = \"o\" }\n",
         {"mcp", "remove", "fs"}, "removed fs from codex\nremoved fs from the Commons\n",
         "[mcp_servers]\n\n# ---- banner ----\n\nother = { command = \"o\" }\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        write_file(h / ".agents/mcp.json", c.commons);
        write_file(h / ".codex/config.toml", c.config);
        auto r = h.run(c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(read_file(h / ".codex/config.toml"), c.after);
    }
}

TEST(UserText, NumbersKeepTheirValueAndKindThroughEveryJsonRewrite) {
    Home h;
    const std::string numbers =
        "[123456789012345678901234567890, 18446744073709551616, -9223372036854775809, -0, 0.10000000000000000555]";
    const std::string printed =
        "[\n    123456789012345678901234567890,\n    18446744073709551616,\n    -9223372036854775809,\n"
        "    -0,\n    0.1\n  ]";
    write_file(h / ".agents/mcp.json",
               R"({"mcpServers": {"fs": {"command": "npx", "timeout": 18446744073709551616}, "other": {"command": "o"}}})");
    write_file(h / ".agents/hooks/Stop.toml", "[[hook]]\ncommand = \"log\"\n");
    write_file(h / ".claude.json", R"({"limits": )" + numbers + R"(, "mcpServers": {}})");
    write_file(h / ".claude/settings.json", R"({"limits": )" + numbers + "}");
    write_file(h / ".cursor/mcp.json", R"({"limit": 1e400, "mcpServers": {}})");

    auto sync = h.run({"sync"});
    EXPECT_EQ(sync.err, "error: " + (h / ".cursor/mcp.json").string() +
                            " is not valid JSON (line 1, column 15) — left untouched\n");
    EXPECT_EQ(sync.code, 1);
    EXPECT_EQ(read_file(h / ".claude.json"),
              "{\n  \"limits\": " + printed +
                  ",\n  \"mcpServers\": {\n    \"fs\": {\n      \"command\": \"npx\",\n"
                  "      \"timeout\": 18446744073709551616\n    },\n    \"other\": {\n      \"command\": \"o\"\n    }\n  }\n}");
    EXPECT_EQ(read_file(h / ".claude/settings.json"),
              "{\n  \"limits\": " + printed +
                  ",\n  \"hooks\": {\n    \"Stop\": [\n      {\n        \"hooks\": [\n          {\n"
                  "            \"type\": \"command\",\n            \"command\": \"log\"\n          }\n        ]\n"
                  "      }\n    ]\n  }\n}");
    EXPECT_EQ(read_file(h / ".cursor/mcp.json"), R"({"limit": 1e400, "mcpServers": {}})");

    // The Commons list saved again, and the entry taken out of claude's file.
    auto disable = h.run({"mcp", "disable", "other"});
    EXPECT_EQ(disable.out, "removed other from claude\ndisabled other — definition kept; enable restores it everywhere\n");
    EXPECT_NE(read_file(h / ".agents/mcp.json").find("\"timeout\": 18446744073709551616\n"), std::string::npos);
    EXPECT_NE(read_file(h / ".claude.json").find("\"limits\": " + printed), std::string::npos);
    EXPECT_NE(read_file(h / ".claude.json").find("\"timeout\": 18446744073709551616\n"), std::string::npos);
}

}  // namespace
