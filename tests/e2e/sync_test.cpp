// `mirthlode sync`: whole runs over a throw-away home, exact output and files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "support/support.h"

using namespace testing_support;

namespace {

void link(const fs::path& at, const std::string& text) {
    fs::create_directories(at.parent_path());
    fs::create_symlink(text, at);
}

// A Commons with four skills, a command, a subagent and AGENTS.md, and five
// agents whose folders hold every kind of link and instructions state.
struct BusyHome : Home {
    BusyHome() {
        const fs::path c = *this / ".agents";
        for (auto s : {"alpha", "beta", "gamma", "delta"}) write_file(c / "skills" / s / "SKILL.md", s);
        write_file(c / "commands/review.md", "review");
        write_file(c / "agents/helper.md", "helper");
        write_file(c / "AGENTS.md", "shared");

        link(*this / ".claude/skills/alpha", "../../.agents/skills/alpha");
        link(*this / ".claude/skills/beta", (c / "skills/beta").string());
        write_file(*this / ".claude/skills/gamma/SKILL.md", "gamma");
        write_file(*this / ".claude/skills/delta/SKILL.md", "my delta");
        link(*this / ".claude/skills/old", "../../.agents/skills/old");
        link(*this / ".claude/skills/mine", "../../projects/mine");
        write_file(*this / ".claude/CLAUDE.md", "# mine");

        link(*this / ".codex/skills/alpha", "../../.agents/skills/alpha");
        write_file(*this / ".codex/AGENTS.md", "<claude-mem-context>\n");

        link(*this / ".cursor/commands/review.md", "../../.agents/commands/review.md");

        write_file(*this / "elsewhere.md", "x");
        link(*this / ".pi/agent/AGENTS.md", "../../elsewhere.md");

        fs::create_directories(*this / ".roo");
    }

    std::string body() const {
        const std::string codex_file = (*this / ".codex/AGENTS.md").string();
        return "claude (.claude/skills)\n"
               "  stale     beta\n"
               "  variant   delta — left alone\n"
               "  variant-identical gamma — identical to the Commons — could be re-linked\n"
               "  foreign   mine — not ours — left alone\n"
               "  dangling  old\n"
               "codex (.codex/skills)\n"
               "  duplicate alpha\n"
               "pi (.pi/agent/skills)\n"
               "  missing   alpha\n"
               "  missing   beta\n"
               "  missing   delta\n"
               "  missing   gamma\n"
               "claude (.claude/commands)\n"
               "  missing   review\n"
               "codex (.codex/prompts)\n"
               "  missing   review\n"
               "roo (.roo/commands)\n"
               "  missing   review\n"
               "claude (.claude/agents)\n"
               "  missing   helper\n"
               "instructions (AGENTS.md)\n"
               "  import    claude\n"
               "  conflict  codex — " +
               codex_file +
               " is owned by claude-mem — move or merge it, then sync again\n"
               "  foreign   pi — points outside the Commons — left alone\n"
               "  missing   roo\n";
    }
};

// A Commons with one skill and claude installed.
struct SmallHome : Home {
    SmallHome() {
        write_file(*this / ".agents/skills/one/SKILL.md", "one");
        fs::create_directories(*this / ".claude");
    }
};

}  // namespace

TEST(Sync, FullRunOverSeveralAgents) {
    BusyHome h;
    auto r = h.run({"sync"});
    EXPECT_EQ(r.out, h.body() + "\n13 changes made.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);

    EXPECT_EQ(fs::read_symlink(h / ".claude/skills/beta"), "../../.agents/skills/beta");
    EXPECT_FALSE(fs::exists(fs::symlink_status(h / ".claude/skills/old")));
    EXPECT_EQ(read_file(h / ".claude/skills/delta/SKILL.md"), "my delta");
    EXPECT_EQ(fs::read_symlink(h / ".claude/skills/mine"), "../../projects/mine");
    EXPECT_FALSE(fs::exists(fs::symlink_status(h / ".codex/skills/alpha")));
    EXPECT_EQ(fs::read_symlink(h / ".pi/agent/skills/gamma"), "../../../.agents/skills/gamma");
    EXPECT_EQ(fs::read_symlink(h / ".claude/commands/review.md"), "../../.agents/commands/review.md");
    EXPECT_EQ(fs::read_symlink(h / ".codex/prompts/review.md"), "../../.agents/commands/review.md");
    EXPECT_EQ(fs::read_symlink(h / ".claude/agents/helper.md"), "../../.agents/agents/helper.md");
    EXPECT_EQ(read_file(h / ".claude/CLAUDE.md"), "# mine\n@~/.agents/AGENTS.md\n");
    EXPECT_EQ(read_file(h / ".codex/AGENTS.md"), "<claude-mem-context>\n");
    EXPECT_EQ(fs::read_symlink(h / ".roo/rules/AGENTS.md"), "../../.agents/AGENTS.md");
    EXPECT_EQ(read_file(h / ".roo/rules/AGENTS.md"), "shared");

    // What is left is only listed: nothing to change.
    auto again = h.run({"sync"});
    EXPECT_EQ(again.out,
              "claude (.claude/skills)\n"
              "  variant   delta — left alone\n"
              "  variant-identical gamma — identical to the Commons — could be re-linked\n"
              "  foreign   mine — not ours — left alone\n"
              "instructions (AGENTS.md)\n"
              "  conflict  codex — " +
                  (h / ".codex/AGENTS.md").string() +
                  " is owned by claude-mem — move or merge it, then sync again\n"
                  "  foreign   pi — points outside the Commons — left alone\n"
                  "Everything is up to date.\n");
    EXPECT_EQ(again.code, 0);
}

TEST(Sync, DryRunListsTheSameAndChangesNothing) {
    BusyHome h;
    const auto before = snapshot(h.path());
    auto r = h.run({"sync", "--dry-run"});
    EXPECT_EQ(r.out, "dry run — no changes will be made\n\n" + h.body() + "\n13 changes would be made.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(snapshot(h.path()), before);  // no lock file either
}

TEST(Sync, UpToDateAndSummaries) {
    SmallHome h;
    auto first = h.run({"sync"});
    EXPECT_EQ(first.out, "claude (.claude/skills)\n  missing   one\n\n1 change made.\n");
    EXPECT_EQ(first.code, 0);

    auto second = h.run({"sync"});
    EXPECT_EQ(second.out, "Everything is up to date.\n");
    EXPECT_EQ(second.err, "");
    EXPECT_EQ(second.code, 0);

    auto dry = h.run({"sync", "--dry-run"});
    EXPECT_EQ(dry.out, "dry run — no changes will be made\n\nEverything is up to date.\n");

    write_file(h / ".agents/skills/two/SKILL.md", "two");
    auto dry_one = h.run({"sync", "--dry-run"});
    EXPECT_EQ(dry_one.out,
              "dry run — no changes will be made\n\nclaude (.claude/skills)\n  missing   two\n\n"
              "1 change would be made.\n");
}

TEST(Sync, OneFailureDoesNotStopTheRest) {
    SmallHome h;
    fs::create_directories(h / ".roo");
    write_file(h / ".agents/commands/review.md", "r");
    write_file(h / ".roo/commands", "a file where the directory should be");
    auto r = h.run({"sync"});
    EXPECT_EQ(r.out,
              "claude (.claude/skills)\n  missing   one\n"
              "claude (.claude/commands)\n  missing   review\n"
              "roo (.roo/commands)\n\n2 changes made.\n");
    EXPECT_EQ(r.err, "error: cannot fix .roo/commands/review.md: Not a directory\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(fs::is_symlink(h / ".claude/commands/review.md"));
}

TEST(Sync, NothingDoneWhenEveryFixFails) {
    SmallHome h;
    write_file(h / ".claude/skills", "a file where the directory should be");
    write_file(h / ".agents/AGENTS.md", "shared");
    fs::create_directories(h / ".claude/CLAUDE.md");
    fs::create_directories(h / ".pi");
    write_file(h / ".pi/agent", "a file");
    auto r = h.run({"sync"});
    EXPECT_EQ(r.out,
              "claude (.claude/skills)\n"
              "pi (.pi/agent/skills)\n"
              "instructions (AGENTS.md)\n"
              "\nNo changes were made — see the errors above.\n");
    EXPECT_EQ(r.err, "error: cannot fix .claude/skills/one: Not a directory\n"
                     "error: cannot fix .pi/agent/skills/one: Not a directory\n"
                     "error: cannot write " +
                         (h / ".claude/CLAUDE.md").string() + ": Is a directory\n"
                         "error: cannot write " +
                         (h / ".pi/agent/AGENTS.md").string() + ": Not a directory\n");
    EXPECT_EQ(r.code, 1);
}

TEST(Sync, NoCommons) {
    Home h;
    fs::create_directories(h / ".claude");
    const std::string expected =
        "error: no Commons at " + (h / ".agents").string() + " — run `mirthlode init` to create one\n";
    for (bool dry : {false, true}) {
        auto r = h.run(dry ? std::vector<std::string>{"sync", "--dry-run"} : std::vector<std::string>{"sync"});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, expected);
        EXPECT_EQ(r.code, 1);
    }
    write_file(h / ".agents", "a file");
    EXPECT_EQ(h.run({"sync"}).err, expected);
    EXPECT_FALSE(fs::exists(h / ".local/state/mirthlode/lock"));
}

TEST(Sync, CommonsThatIsALinkIsAccepted) {
    Home h;
    write_file(h / "dotfiles/agents/skills/one/SKILL.md", "one");
    fs::create_directory_symlink("dotfiles/agents", h / ".agents");
    fs::create_directories(h / ".claude");
    auto r = h.run({"sync"});
    EXPECT_EQ(r.out, "claude (.claude/skills)\n  missing   one\n\n1 change made.\n");
    EXPECT_EQ(read_file(h / ".claude/skills/one/SKILL.md"), "one");
}

TEST(Sync, BusyLock) {
    SmallHome h;
    const fs::path state = h / ".local/state/mirthlode";
    fs::create_directories(state);
    int fd = ::open((state / "lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "0";
    auto r = h.run({"sync"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error: another mirthlode process is running — try again when it finishes\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(h / ".claude/skills/one")));

    // A dry run takes no lock.
    EXPECT_EQ(h.run({"sync", "--dry-run"}).code, 0);
    ::close(fd);
    EXPECT_EQ(h.run({"sync"}).code, 0);
}

TEST(Sync, ScanWarningsComeFirstAndKeepExitZero) {
    SmallHome h;
    fs::create_directories(h / ".agents/skills/.hidden");
    write_file(h / ".agents/commands/notes.txt", "x");
    auto r = h.run({"sync"});
    EXPECT_EQ(r.err,
              "warning: Commons skills/.hidden: dot-prefixed names are invisible to agents and are never synced\n"
              "warning: Commons commands/notes.txt: not a markdown file, skipped\n");
    EXPECT_EQ(r.out, "claude (.claude/skills)\n  missing   one\n\n1 change made.\n");
    EXPECT_EQ(r.code, 0);
}

TEST(Sync, AgentDirectoryThatIsALink) {
    SmallHome h;
    fs::remove(h / ".claude");
    fs::create_directories(h / "dotfiles/claude");
    fs::create_directory_symlink("dotfiles/claude", h / ".claude");
    EXPECT_EQ(h.run({"sync"}).code, 0);
    EXPECT_EQ(read_file(h / ".claude/skills/one/SKILL.md"), "one");
    EXPECT_EQ(h.run({"sync"}).out, "Everything is up to date.\n");
}

TEST(Sync, RelativeCommonsIsTakenFromTheCurrentDirectory) {
    SmallHome h;
    write_file(h / ".agents/AGENTS.md", "shared");
    fs::rename(h / ".agents", h / "shared");
    h.env()["MIRTHLODE_HOME"] = "shared";
    auto r = run_mirthlode({"sync"}, h.env(), "", h.path());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fs::read_symlink(h / ".claude/skills/one"), "../../shared/skills/one");
    EXPECT_EQ(read_file(h / ".claude/skills/one/SKILL.md"), "one");
    EXPECT_EQ(read_file(h / ".claude/CLAUDE.md"), "@~/shared/AGENTS.md\n");
    EXPECT_EQ(run_mirthlode({"sync"}, h.env(), "", h.path()).out, "Everything is up to date.\n");
}

namespace {

// A file that loses a disabled server and gains a missing one is written
// whole, with both; a file that cannot be written is reported for the
// removal and again for the merge, in that order, and left as it was.
TEST(Sync, AFileThatLosesAndGainsServers) {
    struct Case {
        const char* name;
        const char* file;
        std::string before;
        unsigned dir_mode;  // of the file's directory during the sync
        std::string err;    // {file} stands for the file's path
        std::string after;  // empty: as before
        int code;
    };
    const std::string banner = "\xEF\xBB\xBF# mine\r\n\r\n# ---- servers ----\r\n\r\n";
    const std::vector<Case> cases = {
        {"claude", ".claude.json", R"({"theme": 1, "mcpServers": {"off": {"command": "o"}, "mine": {"command": "m"}}})",
         0755, "",
         "{\n  \"theme\": 1,\n  \"mcpServers\": {\n    \"mine\": {\n      \"command\": \"m\"\n    },\n"
         "    \"on\": {\n      \"command\": \"n\"\n    }\n  }\n}",
         0},
        {"codex", ".codex/config.toml",
         banner + "[mcp_servers.off]\r\ncommand = \"o\"\r\n\r\n[mcp_servers.mine]  # keep\r\ncommand = \"m\"\r\n", 0755, "",
         banner + "[mcp_servers.mine]  # keep\r\ncommand = \"m\"\r\n\r\n[mcp_servers.on]\r\ncommand = \"n\"\r\n", 0},
        {"codex, read-only", ".codex/config.toml", "[mcp_servers.off]\ncommand = \"o\"\n", 0555,
         "error: cannot write {file}: Permission denied\nerror: cannot write {file}: Permission denied\n", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        write_file(h / ".agents/mcp.json",
                   R"({"mcpServers": {"off": {"command": "o", "disabled": true}, "on": {"command": "n"}}})");
        write_file(h / c.file, c.before);
        const std::string agent = std::string(c.file) == ".claude.json" ? "claude" : "codex";
        if (agent == "claude") fs::create_directories(h / ".claude");
        const fs::path dir = (h / c.file).parent_path();
        ASSERT_EQ(::chmod(dir.c_str(), c.dir_mode), 0);
        auto r = run_unprivileged(h, {"sync"});
        ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
        std::string err = c.err;
        const std::string file = (h / c.file).string();
        for (auto at = err.find("{file}"); at != std::string::npos; at = err.find("{file}")) err.replace(at, 6, file);
        const std::string listed = "mcp (mcp.json)\n  disabled  off → " + agent +
                                   " — disabled in the Commons — will be removed\n  missing   on → " + agent +
                                   " — not in this agent's config yet\n";
        const std::string mine =
            c.code == 0 ? "  foreign   mine → " + agent + " — not in the Commons — left alone\n" : "";
        EXPECT_EQ(r.out, c.code == 0 ? listed + mine + "\n2 changes made.\n"
                                     : listed + "\nNo changes were made — see the errors above.\n");
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(read_file(h / c.file), c.after.empty() ? c.before : c.after);
    }
}

}  // namespace

namespace {

// gemini's one settings file takes its servers and its hooks in one write,
// each reported in its own section; a file that cannot be written is
// reported in both, and left as it was.
TEST(Sync, GeminisSettingsTakeServersAndHooksTogether) {
    struct Case {
        const char* name;
        unsigned dir_mode;  // of ~/.gemini during the sync
        std::string err;    // {file} stands for the settings file
        std::string after;  // empty: as before
        int code;
    };
    const std::string before = R"({"theme": "dark", "mcpServers": {"off": {"command": "o"}}, "hooks": {"PreToolUse": []}})";
    const std::vector<Case> cases = {
        {"written", 0755, "",
         "{\n  \"theme\": \"dark\",\n  \"mcpServers\": {\n    \"x\": {\n      \"command\": \"npx\"\n    }\n  },\n"
         "  \"hooks\": {\n    \"PreToolUse\": [],\n    \"AfterAgent\": [\n      {\n        \"hooks\": [\n          {\n"
         "            \"type\": \"command\",\n            \"command\": \"notify done\"\n          }\n        ]\n"
         "      }\n    ]\n  }\n}",
         0},
        {"read-only", 0555,
         "error: cannot write {file}: Permission denied\nerror: cannot write {file}: Permission denied\n"
         "error: cannot write {file}: Permission denied\n",
         "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        write_file(h / ".agents/mcp.json",
                   R"({"mcpServers": {"x": {"command": "npx"}, "off": {"command": "o", "disabled": true}}})");
        write_file(h / ".agents/hooks/Stop.toml", "[[hook]]\ncommand = \"notify done\"\n");
        write_file(h / ".gemini/settings.json", before);
        ASSERT_EQ(::chmod((h / ".gemini").c_str(), c.dir_mode), 0);
        auto r = run_unprivileged(h, {"sync"});
        ASSERT_EQ(::chmod((h / ".gemini").c_str(), 0755), 0);
        std::string err = c.err;
        const std::string file = (h / ".gemini/settings.json").string();
        for (auto at = err.find("{file}"); at != std::string::npos; at = err.find("{file}")) err.replace(at, 6, file);
        const std::string mcp =
            "mcp (mcp.json)\n  disabled  off → gemini — disabled in the Commons — will be removed\n"
            "  missing   x → gemini — not in this agent's config yet\n";
        const std::string hooks = "hooks\n  missing      Stop notify done → gemini — not in this agent's hooks yet\n";
        EXPECT_EQ(r.out, mcp + hooks +
                             (c.code == 0 ? "\n3 changes made.\n" : "\nNo changes were made — see the errors above.\n"));
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(read_file(h / ".gemini/settings.json"), c.after.empty() ? before : c.after);
    }
}

}  // namespace
