// `mirthlode sync` on Commons and agent files that once kept a second sync
// from settling, or made a sync touch what the user wrote: whole runs, exact
// output and files, then a second run that has nothing to do.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

namespace {

// Runs sync once more and expects nothing to change.
void expect_settled(const Home& h, const std::string& listed = "", const std::string& warnings = "") {
    const auto before = snapshot(h.path());
    const auto again = h.run({"sync"});
    EXPECT_EQ(again.out, listed + "Everything is up to date.\n");
    EXPECT_EQ(again.err, warnings);
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(snapshot(h.path()), before);
}

TEST(SyncSettles, HooksMatchOnCommandAndMatcher) {
    Home h;
    const fs::path stop = h / ".agents/hooks/PreToolUse.toml";
    write_file(stop,
               "[[hook]]\ncommand = \"x\"\nmatcher = \"A\"\n"
               "[[hook]]\ncommand = \"x\"\nmatcher = \"B\"\ntimeout = 5\n"
               "[[hook]]\ncommand = \"x\"\nmatcher = \"A\"\ntimeout = 9\n");
    // A hook the user wrote by hand under a matcher of their own.
    write_file(h / ".claude/settings.json",
               R"({"hooks": {"PreToolUse": [{"matcher": "C", "hooks": [{"type": "command", "command": "x"}]}]}})");

    const std::string warning = "warning: " + stop.string() +
                                ": more than one [[hook]] runs `x` with the matcher `A` — only the first is synced\n";
    const std::string foreign = "  foreign      PreToolUse x → claude — not in the Commons — left alone\n";
    auto r = h.run({"sync"});
    EXPECT_EQ(r.out,
              "hooks\n"
              "  missing      PreToolUse x → claude — not in this agent's hooks yet\n"
              "  missing      PreToolUse x → claude — not in this agent's hooks yet\n" +
                  foreign + "\n2 changes made.\n");
    EXPECT_EQ(r.err, warning);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(h / ".claude/settings.json"), R"({
  "hooks": {
    "PreToolUse": [
      {
        "matcher": "C",
        "hooks": [
          {
            "type": "command",
            "command": "x"
          }
        ]
      },
      {
        "matcher": "A",
        "hooks": [
          {
            "type": "command",
            "command": "x"
          }
        ]
      },
      {
        "matcher": "B",
        "hooks": [
          {
            "type": "command",
            "command": "x",
            "timeout": 5
          }
        ]
      }
    ]
  }
})");
    expect_settled(h, "hooks\n" + foreign, warning);

    // A drifted hook is restored in its own group only.
    write_file(stop, "[[hook]]\ncommand = \"x\"\nmatcher = \"A\"\ntimeout = 1\n"
                     "[[hook]]\ncommand = \"x\"\nmatcher = \"B\"\ntimeout = 5\n");
    r = h.run({"sync"});
    EXPECT_EQ(r.out, "hooks\n"
                     "  drifted      PreToolUse x → claude — differs from the Commons — will be restored\n" +
                         foreign + "\n1 change made.\n");
    EXPECT_NE(read_file(h / ".claude/settings.json").find("\"matcher\": \"C\""), std::string::npos);
    expect_settled(h, "hooks\n" + foreign);
}

TEST(SyncSettles, CommandNamesThatClashRenderOnce) {
    Home h;
    write_file(h / ".agents/commands/a.md.md", "second\n");
    write_file(h / ".agents/commands/a.md", "first\n");
    fs::create_directories(h / ".gemini");

    const std::string warning = "warning: Commons commands/a.md and commands/a.md.md are both the command `a` — "
                                "only commands/a.md is rendered\n";
    auto r = h.run({"sync"});
    EXPECT_EQ(r.out, "rendered commands\n  missing    a → gemini — not rendered yet\n\n1 change made.\n");
    EXPECT_EQ(r.err, warning);
    EXPECT_EQ(read_file(h / ".gemini/commands/a.toml"),
              "# mirthlode: this file is generated — edit the Commons instead\nprompt = \"first\"\n");
    expect_settled(h, "", warning);
}

TEST(SyncSettles, SharedLinkDirectoriesArePlannedOnce) {
    Home h;
    write_file(h / ".agents/skills/s/SKILL.md", "s");
    write_file(h / ".agents/commands/c.md", "c");
    fs::create_directories(h / ".claude");
    fs::create_directories(h / ".codex");
    // mine shares claude's skills folder, also through a link to it; twin
    // links skills into the folder codex would clean of leftovers; both put
    // their commands into one folder with their skills.
    fs::create_directory_symlink(".claude", h / ".mine");
    write_file(h / ".config/mirthlode/mirthlode.toml",
               "[custom.mine]\nroot = \".mine\"\nskills = \".mine/skills\"\n"
               "[custom.also]\nroot = \".claude\"\nskills = \".claude/skills\"\ncommands = \".claude/skills\"\n"
               "[custom.twin]\nroot = \".codex\"\nskills = \".codex/skills\"\n");

    auto r = h.run({"sync"});
    EXPECT_EQ(r.out,
              "claude (.claude/skills)\n  missing   s\n"
              "twin (.codex/skills)\n  missing   s\n"
              "claude (.claude/commands)\n  missing   c\n"
              "codex (.codex/prompts)\n  missing   c\n"
              "also (.claude/skills)\n  missing   c\n"
              "\n5 changes made.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(fs::read_symlink(h / ".codex/skills/s"), "../../.agents/skills/s");
    expect_settled(h);
}

// A link an earlier family finds dangling, in a folder it shares with the
// family whose Commons entry wants that name, is that family's to mend.
TEST(SyncSettles, SharedLinkDirectoriesLeaveAWantedNameToItsFamily) {
    Home h;
    write_file(h / ".agents/commands/c.md", "c");
    write_file(h / ".agents/agents/b.md", "b");
    fs::create_directories(h / ".claude/commands");
    fs::create_directory_symlink("commands", h / ".claude/agents");
    fs::create_symlink("../../.agents/agents/gone.md", h / ".claude/commands/b.md");
    fs::create_symlink("../../.agents/commands/c.md", h / ".claude/commands/c.md");

    auto s = h.run({"status"});
    EXPECT_EQ(s.out, "claude (.claude/commands)  1 linked\n"
                     "claude (.claude/agents)  0 linked\n"
                     "  stale             b — not in canonical form\n"
                     "\n1 items need attention — run `mirthlode sync`.\n");
    auto r = h.run({"sync"});
    EXPECT_EQ(r.out, "claude (.claude/agents)\n  stale     b\n\n1 change made.\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(fs::read_symlink(h / ".claude/commands/b.md"), "../../.agents/agents/b.md");
    expect_settled(h);
}

TEST(SyncSettles, CodexServersKeepTheirFormPlaceAndComments) {
    Home h;
    write_file(h / ".agents/mcp.json", R"({"mcpServers": {
        "b": {"command": "new", "args": ["-v"]},
        "srv": {"command": "new", "env": {"A": "2"}}}})");
    write_file(h / ".codex/config.toml",
               "model = \"o3\"\n"
               "# b's note\n"
               "mcp_servers.b = { command = \"old\" }  # note\n"
               "# the server\n"
               "mcp_servers.srv.command = \"old\"  # kept\n"
               "mcp_servers.srv.env.A = \"1\"\n"
               "after = true\n");

    auto r = h.run({"sync"});
    EXPECT_EQ(r.out, "mcp (mcp.json)\n"
                     "  drifted   b → codex — differs from the Commons (args, command) — will be restored\n"
                     "  drifted   srv → codex — differs from the Commons (command, env) — will be restored\n"
                     "\n2 changes made.\n");
    EXPECT_EQ(read_file(h / ".codex/config.toml"),
              "model = \"o3\"\n"
              "# b's note\n"
              "mcp_servers.b = { command = \"new\", args = [\"-v\"] }  # note\n"
              "# the server\n"
              "mcp_servers.srv.command = \"new\"  # kept\n"
              "mcp_servers.srv.env.A = \"2\"\n"
              "after = true\n");
    expect_settled(h);
}

}  // namespace
