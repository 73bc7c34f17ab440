// An agent's entry of a Commons server outside the server's allowlist:
// mirthlode's only while it is a copy of what mirthlode writes there; the
// user's own differing entry is reported, never removed.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

namespace {

const std::string server = R"({"command": "npx", "args": ["-y", "@upstash/context7-mcp"]})";
const std::string codex_own =
    "# mine\n[mcp_servers.context7]\ncommand = \"npx\"\nargs = [\"-y\", \"@upstash/context7-mcp\", \"--api-key\"]\n";
const std::string cursor_copy = R"({"mcpServers": {"context7": )" + server + "}}";

// context7 scoped to claude, which holds it; codex holds its own differing
// entry, cursor a copy of mirthlode's.
struct ScopedHome : Home {
    explicit ScopedHome(bool disabled, const std::string& targets) {
        std::string commons = server;
        if (disabled) commons.insert(commons.size() - 1, R"(, "disabled": true)");
        write_file(*this / ".agents/mcp.json", R"({"mcpServers": {"context7": )" + commons + "}}");
        write_file(*this / ".config/mirthlode/mirthlode.toml", targets + "[mcp.context7]\nagents = [\"claude\"]\n");
        fs::create_directories(*this / ".claude");
        write_file(*this / ".claude.json", R"({"mcpServers": {"context7": )" + server + "}}");
        write_file(*this / ".codex/config.toml", codex_own);
        write_file(*this / ".cursor/mcp.json", cursor_copy);
    }
};

const std::string excluded_note = "not allowlisted for this agent — its own entry, left alone";

TEST(McpOwnership, OutsideTheAllowlistOnlyACopyIsMirthlodes) {
    struct Case {
        bool disabled;
        std::string targets;
        std::vector<std::string> args;
        std::string out;  // for --json: a part of the document
        int code;
        bool claude_kept;
        bool cursor_kept;
    };
    const std::string status_mcp =
        "    {\n      \"agent\": \"codex\",\n      \"name\": \"context7\",\n      \"state\": \"excluded\",\n"
        "      \"actionable\": false\n    },\n";
    const std::string list_json =
        "{\n  \"servers\": [\n    {\n      \"name\": \"context7\",\n      \"managed\": true,\n      \"targets\": [\n"
        "        {\n          \"agent\": \"claude\",\n          \"state\": \"managed\",\n          \"actionable\": false\n"
        "        },\n        {\n          \"agent\": \"codex\",\n          \"state\": \"excluded\",\n"
        "          \"actionable\": false\n        },\n        {\n          \"agent\": \"cursor\",\n"
        "          \"state\": \"stranded\",\n          \"actionable\": false\n        }\n      ]\n    }\n  ]\n}\n";
    const std::vector<Case> cases = {
        {false, "", {"status"},
         "mcp (mcp.json)\n  managed           context7 → claude\n  excluded          context7 → codex — " + excluded_note +
             "\n  stranded          context7 → cursor — still here but no longer allowlisted — `mirthlode mcp remove` "
             "clears it\n\nEverything is in sync.\n",
         0, true, true},
        {false, "", {"status", "--json"}, status_mcp, 0, true, true},
        {false, "", {"mcp", "list"},
         "context7  (Commons)\n  managed    claude\n  excluded   codex\n  stranded   cursor\n", 0, true, true},
        {false, "", {"mcp", "list", "--json"}, list_json, 0, true, true},
        {false, "[targets]\ncodex = false\n", {"revert", "codex"},
         "nothing of mirthlode's in codex — nothing to revert\n", 0, true, true},
        {false, "[targets]\ncursor = false\n", {"revert", "cursor"},
         "removed mcp server context7 from .cursor/mcp.json\n\n1 removal made.\n", 0, true, false},
        {false, "", {"mcp", "disable", "context7"},
         "removed context7 from claude\nremoved context7 from cursor\n"
         "disabled context7 — definition kept; enable restores it everywhere\n",
         0, false, false},
        {false, "", {"mcp", "remove", "context7"},
         "removed context7 from claude\nremoved context7 from cursor\nremoved context7 from the Commons\n", 0, false,
         false},
        // Parked: the copies go, inside the allowlist or not; the user's entry stays.
        {true, "", {"status"},
         "mcp (mcp.json)\n  disabled          context7 → claude — disabled in the Commons — will be removed\n"
         "  excluded          context7 → codex — " + excluded_note +
             "\n  disabled          context7 → cursor — disabled in the Commons — will be removed\n\n"
             "2 items need attention — run `mirthlode sync`.\n",
         2, true, true},
        {true, "", {"sync"},
         "mcp (mcp.json)\n  disabled  context7 → claude — disabled in the Commons — will be removed\n"
         "  excluded  context7 → codex — " + excluded_note +
             "\n  disabled  context7 → cursor — disabled in the Commons — will be removed\n\n2 changes made.\n",
         0, false, false},
        {true, "[targets]\ncodex = false\n", {"revert", "codex"},
         "nothing of mirthlode's in codex — nothing to revert\n", 0, true, true},
    };
    for (const Case& c : cases) {
        std::string what;
        for (const auto& arg : c.args) what += arg + " ";
        SCOPED_TRACE(what + (c.disabled ? "(disabled)" : ""));
        ScopedHome h(c.disabled, c.targets);
        auto r = h.run(c.args);
        if (c.args.back() == "--json") {
            EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.out, c.out);
        }
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(read_file(h / ".codex/config.toml"), codex_own);
        EXPECT_EQ(read_file(h / ".claude.json").find("context7") != std::string::npos, c.claude_kept);
        EXPECT_EQ(read_file(h / ".cursor/mcp.json").find("context7") != std::string::npos, c.cursor_kept);
        if (c.args.front() == "sync") {
            // Nothing is left to do, and the user's entry is still not touched.
            auto again = h.run({"sync"});
            EXPECT_EQ(again.out, "mcp (mcp.json)\n  excluded  context7 → codex — " + excluded_note +
                                     "\nEverything is up to date.\n");
            EXPECT_EQ(read_file(h / ".codex/config.toml"), codex_own);
        }
    }
}

}  // namespace
