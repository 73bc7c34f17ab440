// `mirthlode init`: whole runs over a throw-away home, exact output and files.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

namespace {

const std::string fresh_tail =
    "\n"
    "Nothing to adopt — no agent config here is outside the Commons.\n"
    "\n"
    "Put a skill in skills/, instructions in AGENTS.md, then run `mirthlode sync`.\n";

std::string commons_lines(const Home& h, bool existed) {
    return std::string(existed ? "Commons already present at " : "Created the Commons at ") +
           (h / ".agents").string() + "\n  skills/\n  commands/\n  agents/\n\n";
}

TEST(Init, FreshMachineThenASecondRun) {
    Home h;
    auto r = h.run({"init"});
    EXPECT_EQ(r.out, commons_lines(h, false) +
                         "No agents found — mirthlode syncs to agents that are already installed.\n" + fresh_tail);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    for (const char* family : {"skills", "commands", "agents"}) EXPECT_TRUE(fs::is_directory(h / ".agents" / family));
    EXPECT_FALSE(fs::exists(h / ".local")) << "init takes no lock";

    // Again, with a family directory gone: it comes back, the rest stays.
    fs::remove(h / ".agents/agents");
    write_file(h / ".agents/skills/mine/SKILL.md", "mine");
    auto again = h.run({"init"});
    EXPECT_EQ(again.out, commons_lines(h, true) +
                             "No agents found — mirthlode syncs to agents that are already installed.\n" + fresh_tail);
    EXPECT_EQ(again.code, 0);
    EXPECT_TRUE(fs::is_directory(h / ".agents/agents"));
    EXPECT_EQ(read_file(h / ".agents/skills/mine/SKILL.md"), "mine");
}

TEST(Init, ListsWhatTheAgentsHoldOutsideTheCommons) {
    Home h;
    const fs::path c = h / ".agents";
    write_file(c / "skills/shared/SKILL.md", "s");
    write_file(c / "commands/review.md", "r");
    write_file(c / "mcp.json", R"({"mcpServers": {"known": {"command": "k"}}})");
    write_file(c / "AGENTS.md", "shared");

    // Ten skills of claude's own, the Commons one, a link and a hidden entry.
    for (int i = 0; i < 10; ++i) write_file(h / ".claude/skills" / ("s" + std::to_string(i)) / "SKILL.md", "x");
    write_file(h / ".claude/skills/shared/SKILL.md", "s");
    fs::create_directory_symlink("../../.agents/skills/shared", h / ".claude/skills/linked");
    write_file(h / ".claude/skills/.hidden/SKILL.md", "x");
    // The same command under its own name is in the Commons; another name is not.
    write_file(h / ".claude/commands/review.md", "mine");
    write_file(h / ".cursor/commands/Review.md", "mine");
    // Servers: one the Commons has, one held by two agents, one in codex's TOML.
    write_file(h / ".claude.json", R"({"mcpServers": {"known": {}, "local": {"command": "l"}}})");
    write_file(h / ".cursor/mcp.json", R"({"mcpServers": {"local": {"command": "l"}}})");
    write_file(h / ".codex/config.toml", "[mcp_servers.alpha]\ncommand = \"a\"\n");
    write_file(h / ".gemini/settings.json", "not json");  // skipped without a message
    // A conflicting instructions file owned by another tool.
    write_file(h / ".codex/AGENTS.md", "<claude-mem-context>\n");

    const auto before = snapshot(h.path());
    auto r = h.run({"init"});
    EXPECT_EQ(r.out, commons_lines(h, true) +
                         "Found 4 agents: claude, codex, gemini, cursor\n"
                         "\n"
                         "10 skills not in the Commons:\n"
                         "  claude/skills/s0\n  claude/skills/s1\n  claude/skills/s2\n  claude/skills/s3\n"
                         "  claude/skills/s4\n  claude/skills/s5\n  claude/skills/s6\n  claude/skills/s7\n"
                         "  … and 2 more\n"
                         "  take one with `mirthlode adopt <path>`\n"
                         "\n"
                         "1 commands not in the Commons:\n"
                         "  cursor/commands/Review.md\n"
                         "  take one with `mirthlode adopt <path>`\n"
                         "\n"
                         "2 MCP servers not in the Commons: alpha, local\n"
                         "  take them all with `mirthlode mcp adopt --all`\n"
                         "\n"
                         "1 conflicts:\n"
                         "  codex — " + (h / ".codex/AGENTS.md").string() +
                         " is owned by claude-mem — move or merge it, then sync again\n"
                         "\n"
                         "Adopt what you want to share, then run `mirthlode sync`.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    auto after = snapshot(h.path());
    after.erase(".agents/agents");
    EXPECT_EQ(after, before) << "only the missing family directory is created";
}

TEST(Init, ACommonsPathThatIsAFileCannotBeCreated) {
    Home h;
    write_file(h / ".agents", "a file");
    auto r = h.run({"init"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error: cannot create " + (h / ".agents").string() + ": Not a directory\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(read_file(h / ".agents"), "a file");
}

}  // namespace
