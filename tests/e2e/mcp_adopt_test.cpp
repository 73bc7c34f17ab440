// `mirthlode mcp adopt`: servers the agents hold taken into the Commons.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

namespace {

// One server in each of the five dialects, each with a key of its own.
struct DialectHome : Home {
    DialectHome() {
        fs::create_directories(*this / ".claude");
        write_file(*this / ".claude.json",
                   R"({"numStartups": 3, "mcpServers": {"fs": {"type": "stdio", "command": "npx", "args": ["-y", "fs"], "timeout": 5}}})");
        write_file(*this / ".codex/config.toml",
                   "\xEF\xBB\xBFmodel = \"o3\"\r\n\r\n[mcp_servers.gh]\r\nurl = \"https://gh\"\r\nhttp_headers = { X-Token = \"t\" }\r\n");
        write_file(*this / ".config/opencode/opencode.json",
                   R"({"mcp": {"oc": {"type": "local", "command": ["uvx", "oc", "--v"], "environment": {"A": "1"}, "enabled": true}}})");
        write_file(*this / ".gemini/settings.json", R"({"mcpServers": {"gem": {"httpUrl": "https://g", "trust": true}}})");
        write_file(*this / ".codeium/windsurf/mcp_config.json", R"({"mcpServers": {"ws": {"serverUrl": "https://w"}}})");
    }
};

TEST(McpAdopt, FromEveryDialectThenSyncHasNothingToDo) {
    DialectHome h;
    const auto before = snapshot(h.path());
    auto r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out,
              "adopted fs from claude\n"
              "  note: `fs`: timeout has no place in the standard shape and was kept as a Tweak for this agent alone\n"
              "  scoped to claude — remove the allowlist in mirthlode.toml to share it\n"
              "adopted gh from codex\n"
              "  note: `gh`: Codex has one remote transport, so http and sse cannot be told apart — no `type` was recorded\n"
              "  scoped to codex — remove the allowlist in mirthlode.toml to share it\n"
              "adopted oc from opencode\n"
              "  note: `oc`: enabled has no place in the standard shape and was kept as a Tweak for this agent alone\n"
              "  scoped to opencode — remove the allowlist in mirthlode.toml to share it\n"
              "adopted gem from gemini\n"
              "  note: `gem`: trust has no place in the standard shape and was kept as a Tweak for this agent alone\n"
              "  scoped to gemini — remove the allowlist in mirthlode.toml to share it\n"
              "adopted ws from windsurf\n"
              "  note: `ws`: Windsurf records no transport, so http and sse cannot be told apart — no `type` was recorded\n"
              "  scoped to windsurf — remove the allowlist in mirthlode.toml to share it\n");
    EXPECT_EQ(r.err,
              "warning: `gh`: headers.X-Token look like credentials and were copied into the Commons as written — "
              "replace them with ${env:VAR} before committing it\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(h / ".agents/mcp.json"), R"({
  "mcpServers": {
    "fs": {
      "type": "stdio",
      "command": "npx",
      "args": [
        "-y",
        "fs"
      ]
    },
    "gh": {
      "url": "https://gh",
      "headers": {
        "X-Token": "t"
      }
    },
    "oc": {
      "command": "uvx",
      "args": [
        "oc",
        "--v"
      ],
      "env": {
        "A": "1"
      }
    },
    "gem": {
      "type": "http",
      "url": "https://g"
    },
    "ws": {
      "url": "https://w"
    }
  }
}
)");
    EXPECT_EQ(read_file(h / ".config/mirthlode/mirthlode.toml"),
              "[mcp.fs]\nagents = [\"claude\"]\n\n[mcp.fs.tweaks.claude]\ntimeout = 5\n\n"
              "[mcp.gh]\nagents = [\"codex\"]\n\n"
              "[mcp.oc]\nagents = [\"opencode\"]\n\n[mcp.oc.tweaks.opencode]\nenabled = true\n\n"
              "[mcp.gem]\nagents = [\"gemini\"]\n\n[mcp.gem.tweaks.gemini]\ntrust = true\n\n"
              "[mcp.ws]\nagents = [\"windsurf\"]\n");

    auto sync = h.run({"sync"});
    EXPECT_EQ(sync.out, "Everything is up to date.\n");
    EXPECT_EQ(sync.code, 0);
    // The agents' own files are as they were.
    auto after = snapshot(h.path());
    for (const auto& [path, content] : before) EXPECT_EQ(after[path], content) << path;
}

TEST(McpAdopt, Refusals) {
    struct Case {
        std::vector<std::string> args;
        std::string out, err;
        int code;
    };
    const std::vector<Case> cases = {
        {{"mcp", "adopt"}, "", "error: give a server to adopt as agent/server, or --all\n", 1},
        {{"mcp", "adopt", "serena"}, "",
         "error: `serena` is not an agent/server pair — try `mirthlode mcp adopt claude/serena`\n", 1},
        {{"mcp", "adopt", "cursor/fs"}, "", "error: `cursor` is not an agent mirthlode knows about, or it is not installed\n", 1},
        {{"mcp", "adopt", "pi/fs"}, "", "error: pi has no MCP surface\n", 1},
        {{"mcp", "adopt", "claude/"}, "", "error: `` is not in claude's config\n", 1},
        {{"mcp", "adopt", "claude/a/b"}, "adopted a/b from claude\n  scoped to claude — remove the allowlist in mirthlode.toml to share it\n", "", 0},
        {{"mcp", "adopt", "claude/fs"}, "",
         "error: `fs` differs from the Commons copy — merge it by hand; mirthlode will not choose which side to discard\n", 1},
        {{"mcp", "adopt", "claude/same"}, "same is already in the Commons\n", "", 0},
        {{"mcp", "adopt", "claude/off"}, "",
         "error: `off` differs from the Commons copy — merge it by hand; mirthlode will not choose which side to discard\n", 1},
        {{"mcp", "adopt", "claude/lost"}, "", "error: `lost` in claude: gone cannot be represented faithfully — not adopted\n", 1},
        {{"mcp", "adopt", "claude/deep"}, "",
         "error: mcp.deep.tweaks.claude: `list` has a value TOML cannot hold\n", 1},
        // mirthlode.toml cannot hold the null inside the Tweak's object.
        {{"mcp", "adopt", "claude/nested"}, "",
         "error: `nested` in claude: opts cannot be represented faithfully — not adopted\n", 1},
    };
    for (const Case& c : cases) {
        Home h;
        fs::create_directories(h / ".claude");
        fs::create_directories(h / ".codex");
        fs::create_directories(h / ".pi");
        write_file(h / ".claude.json", R"({"mcpServers": {"fs": {"command": "mine"}, "a/b": {"command": "x"},
            "same": {"command": "s"}, "off": {"command": "o"}, "lost": {"command": "l", "gone": null},
            "deep": {"command": "d", "list": [{"x": 1}]}, "nested": {"command": "n", "opts": {"a": null, "b": 1}}}})");
        const std::string commons = R"({"mcpServers": {"fs": {"command": "theirs"}, "same": {"command": "s"},
            "off": {"command": "o", "disabled": true}}})";
        write_file(h / ".agents/mcp.json", commons);
        auto r = h.run(c.args);
        EXPECT_EQ(r.out, c.out) << c.args.back();
        EXPECT_EQ(r.err, c.err) << c.args.back();
        EXPECT_EQ(r.code, c.code) << c.args.back();
        if (c.code == 1) {
            EXPECT_EQ(read_file(h / ".agents/mcp.json"), commons) << c.args.back();
            EXPECT_FALSE(fs::exists(h / ".config/mirthlode/mirthlode.toml")) << c.args.back();
        }
    }

    // Nothing to adopt: no lock taken, nothing written.
    Home empty;
    fs::create_directories(empty / ".pi");
    write_file(empty / ".cursor/mcp.json", R"({"mcpServers": {}})");
    auto r = empty.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out, "no servers found to adopt\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_FALSE(fs::exists(empty / ".local/state"));
    EXPECT_FALSE(fs::exists(empty / ".agents"));
}

// A server taken from every agent that has an MCP file in one run is not
// left scoped to the first of them, and no scope is named for it; a list
// written before the run stays.
TEST(McpAdopt, FromEveryAgentInOneRunLeavesNoShortAllowlist) {
    Home h;
    fs::create_directories(h / ".claude");
    write_file(h / ".claude.json", R"({"mcpServers": {"fs": {"command": "npx"}, "old": {"command": "o"}}})");
    write_file(h / ".codex/config.toml",
               "[mcp_servers.fs]\ncommand = \"npx\"\nstartup_timeout_sec = 9\n\n[mcp_servers.old]\ncommand = \"o\"\n");
    write_file(h / ".config/mirthlode/mirthlode.toml", "# mine\n[mcp.old]\nagents = [ \"claude\", \"codex\" ] # both\n");
    auto r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out,
              "adopted fs from claude\n"
              "adopted old from claude\n"
              "fs is already in the Commons\n"
              "  note: `fs`: startup_timeout_sec has no place in the standard shape and was kept as a Tweak for this agent alone\n"
              "old is already in the Commons\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(h / ".config/mirthlode/mirthlode.toml"),
              "# mine\n[mcp.old]\nagents = [ \"claude\", \"codex\" ] # both\n\n"
              "[mcp.fs.tweaks.codex]\nstartup_timeout_sec = 9\n");
    auto list = h.run({"mcp", "list"});
    EXPECT_EQ(list.out, "fs  (Commons)\n  managed    claude\n  managed    codex\nold  (Commons)\n  managed    claude\n  managed    codex\n");
    EXPECT_EQ(list.code, 0);
}

// A server taken from several agents in one run has its scope named once,
// after the last agent it was taken from, as the list written: none when
// every agent gave it, and an agent whose copy was refused is not in it.
TEST(McpAdopt, AScopeIsNamedOnceAsWritten) {
    Home h;
    fs::create_directories(h / ".claude");
    write_file(h / ".claude.json",
               R"({"mcpServers": {"all": {"command": "a"}, "two": {"command": "t"}, "part": {"command": "p"}}})");
    write_file(h / ".codex/config.toml", "[mcp_servers.all]\ncommand = \"a\"\n\n[mcp_servers.part]\ncommand = \"q\"\n");
    write_file(h / ".gemini/settings.json", R"({"mcpServers": {"all": {"command": "a"}, "two": {"command": "t"}}})");
    auto r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out,
              "adopted all from claude\n"
              "adopted two from claude\n"
              "adopted part from claude\n"
              "  scoped to claude — remove the allowlist in mirthlode.toml to share it\n"
              "all is already in the Commons\n"
              "all is already in the Commons\n"
              "two is already in the Commons\n"
              "  scoped to claude, gemini — remove the allowlist in mirthlode.toml to share it\n");
    EXPECT_EQ(r.err,
              "error: `part` differs from the Commons copy — merge it by hand; mirthlode will not choose which side to "
              "discard\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(read_file(h / ".config/mirthlode/mirthlode.toml"),
              "[mcp.two]\nagents = [\"claude\", \"gemini\"]\n\n[mcp.part]\nagents = [\"claude\"]\n");
    EXPECT_EQ(read_file(h / ".agents/mcp.json"),
              "{\n  \"mcpServers\": {\n    \"all\": {\n      \"command\": \"a\"\n    },\n    \"two\": {\n      \"command\": "
              "\"t\"\n    },\n    \"part\": {\n      \"command\": \"p\"\n    }\n  }\n}\n");
}

}  // namespace
