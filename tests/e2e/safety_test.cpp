// What a hostile machine may hand the program: secrets, files left by killed
// runs, FIFOs and devices where files belong, endless trees, names and
// environment entries that are not text, control characters. Whole runs over
// a throw-away home.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

#include "support/support.h"

using namespace testing_support;

namespace {

void link(const fs::path& at, const std::string& text) {
    fs::create_directories(at.parent_path());
    fs::create_symlink(text, at);
}

void fifo(const fs::path& at) {
    fs::create_directories(at.parent_path());
    ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0) << at;
}

TEST(Safety, FilesMadeToHoldSecretsAreReadableByTheOwnerOnly) {
    Home h;
    for (auto dir : {".claude", ".codex", ".gemini", ".cursor", ".cline"}) fs::create_directories(h / dir);
    h.env()["TOKEN"] = "s3cret";
    // Headers hold the secret: a stdio server keeps them only in the agents
    // that copy every key (claude, cursor, cline), not in codex or gemini.
    write_file(h / ".agents/mcp.json",
               R"({"mcpServers": {"api": {"command": "api", "headers": {"Authorization": "Bearer ${env:TOKEN}"}}}})");
    write_file(h / ".codex/config.toml", "model = \"o3\"\n");
    write_file(h / ".cursor/mcp.json", "{}");
    write_file(h / ".cline/mcp.json", "{}");
    ::chmod((h / ".codex/config.toml").c_str(), 0644);
    ::chmod((h / ".cursor/mcp.json").c_str(), 0640);
    ::chmod((h / ".cline/mcp.json").c_str(), 0600);
    const mode_t old_umask = ::umask(022);
    auto r = h.run({"sync"});
    ::umask(old_umask);

    // Only the existing file that now holds the secret and others can read warns.
    EXPECT_EQ(r.err, "warning: " + (h / ".cursor/mcp.json").string() +
                         " has mode 0640 — it now holds resolved secrets and can be read by others\n");
    EXPECT_EQ(r.code, 0);
    struct Case {
        const char* file;
        unsigned mode;
        bool secret;
    };
    for (const Case& c : std::vector<Case>{{".claude.json", 0600, true},
                                           {".codex/config.toml", 0644, false},
                                           {".gemini/settings.json", 0644, false},
                                           {".cursor/mcp.json", 0640, true},
                                           {".cline/mcp.json", 0600, true}}) {
        EXPECT_EQ(mode_of(h / c.file), c.mode) << c.file;
        EXPECT_EQ(read_file(h / c.file).find("s3cret") != std::string::npos, c.secret) << c.file;
    }
}

TEST(Safety, TemporaryFilesOfKilledRunsAreRemovedByTheNextWrite) {
    Home h;
    fs::create_directories(h / ".claude");
    fs::create_directories(h / ".codex");
    write_file(h / ".agents/mcp.json", R"({"mcpServers": {"files": {"command": "fs"}}})");
    write_file(h / ".claude.json", "{}");
    // The temporary of ".claude.json" is "..claude.json.mirthlode-" and a process id.
    // Left by processes that are gone (no process id reaches these), and one
    // a living process (this test) may be writing.
    const std::vector<fs::path> leftovers = {h / "..claude.json.mirthlode-999999999",
                                             h / ".codex/.config.toml.mirthlode-999999998"};
    const std::vector<fs::path> others = {h / "..claude.json.mirthlode-old", h / ".claude.json.mirthlode-4242",
                                          h / "..other.json.mirthlode-4242",
                                          h / ("..claude.json.mirthlode-" + std::to_string(::getpid()))};
    for (const auto& path : leftovers) write_file(path, "{\"mcpServers\": {\"secret\": \"copy\"}}");
    for (const auto& path : others) write_file(path, "someone's");

    // A dry run takes no lock and writes nothing: it leaves them.
    EXPECT_EQ(h.run({"sync", "--dry-run"}).code, 0);
    for (const auto& path : leftovers) EXPECT_TRUE(fs::exists(path)) << path;

    auto r = h.run({"sync"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    for (const auto& path : leftovers) EXPECT_FALSE(fs::exists(path)) << path;
    for (const auto& path : others) EXPECT_EQ(read_file(path), "someone's") << path;
}

TEST(Safety, WhatIsNoRegularFileWhereAFileBelongsIsRefusedAtOnce) {
    struct Case {
        std::string name;
        std::function<void(const Home&)> setup;
        std::string err;  // with {home} for the home directory
        int code;
    };
    const std::vector<Case> cases = {
        {"lock FIFO", [](const Home& h) { fifo(h / ".local/state/mirthlode/lock"); },
         "error: cannot take the mirthlode lock: {home}/.local/state/mirthlode/lock is not a regular file\n", 1},
        {"lock device", [](const Home& h) { link(h / ".local/state/mirthlode/lock", "/dev/null"); },
         "error: cannot take the mirthlode lock: {home}/.local/state/mirthlode/lock is not a regular file\n", 1},
        {"agent file FIFO", [](const Home& h) { fifo(h / ".claude.json"); },
         "error: cannot read {home}/.claude.json: not a regular file\n", 1},
        {"agent file /dev/zero", [](const Home& h) { link(h / ".claude.json", "/dev/zero"); },
         "error: cannot read {home}/.claude.json: not a regular file\n", 1},
        {"settings FIFO", [](const Home& h) { fifo(h / ".claude/settings.json"); },
         "error: cannot read {home}/.claude/settings.json: not a regular file\n", 1},
        {"agent file too large",
         [](const Home& h) {
             write_file(h / ".claude.json", "{}");
             fs::resize_file(h / ".claude.json", (std::uintmax_t{256} << 20) + 1);  // sparse
         },
         "error: cannot read {home}/.claude.json: File too large\n", 1},
        {"Commons mcp.json FIFO", [](const Home& h) { fifo(h / ".agents/mcp.json"); }, "", 0},
    };
    for (const auto& c : cases) {
        Home h;
        fs::create_directories(h / ".claude");
        write_file(h / ".agents/skills/one/SKILL.md", "one");
        if (c.name != "Commons mcp.json FIFO") {
            write_file(h / ".agents/mcp.json", R"({"mcpServers": {"files": {"command": "fs"}}})");
        }
        write_file(h / ".agents/hooks/Stop.toml", "[[hook]]\ncommand = \"done\"\n");
        c.setup(h);
        h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "60000";
        const auto start = std::chrono::steady_clock::now();
        auto r = h.run({"sync"});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << c.name;
        std::string err = c.err;
        if (auto at = err.find("{home}"); at != std::string::npos) err.replace(at, 6, h.path().string());
        EXPECT_EQ(r.err, err) << c.name;
        EXPECT_EQ(r.code, c.code) << c.name;
        // Everything else still goes on: the skill is linked unless the lock was refused.
        EXPECT_EQ(fs::is_symlink(h / ".claude/skills/one"), c.name.rfind("lock", 0) != 0) << c.name;
    }
}

TEST(Safety, VariantCheckComparesLinksByTextAndFilesByContent) {
    Home h;
    const fs::path commons = h / ".agents/skills";
    const fs::path copies = h / ".claude/skills";
    // Each skill in the Commons and a real copy in claude's folder.
    for (const fs::path& root : {commons, copies}) {
        for (auto skill : {"same", "other-link", "other-byte", "extra-empty-dir"}) {
            write_file(root / skill / "SKILL.md", std::string(100000, 'x') + "end");
            link(root / skill / "zero", "/dev/zero");
            link(root / skill / "usr", "/usr");
            link(root / skill / "gone", "nowhere");
        }
    }
    fs::remove(copies / "other-link/zero");
    link(copies / "other-link/zero", "/dev/null");
    write_file(copies / "other-byte/SKILL.md", std::string(100000, 'x') + "End");
    fs::create_directories(copies / "extra-empty-dir/empty");

    const auto start = std::chrono::steady_clock::now();
    auto r = h.run({"sync", "--dry-run"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.out,
              "dry run — no changes will be made\n\n"
              "claude (.claude/skills)\n"
              "  variant-identical extra-empty-dir — identical to the Commons — could be re-linked\n"
              "  variant   other-byte — left alone\n"
              "  variant   other-link — left alone\n"
              "  variant-identical same — identical to the Commons — could be re-linked\n"
              "Everything is up to date.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
}

TEST(Safety, EnvironmentVariablesThatAreNotTextAreRefusedWhenRead) {
    struct Case {
        std::string var;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"MIRTHLODE_TARGET_ROOT", true}, {"MIRTHLODE_HOME", true}, {"XDG_CONFIG_HOME", true},
        {"XDG_STATE_HOME", true},        {"USERPROFILE", false},   {"JUNK", false},
    };
    for (const auto& c : cases) {
        Home h;
        fs::create_directories(h / ".claude");
        write_file(h / ".agents/skills/one/SKILL.md", "one");
        h.env()[c.var] = "/tmp/\xff\xfe";
        auto r = h.run({"sync"});
        EXPECT_EQ(r.err, c.refused ? "error: the environment variable " + c.var + " is not valid UTF-8\n" : "")
            << c.var;
        EXPECT_EQ(r.code, c.refused ? 1 : 0) << c.var;
        EXPECT_EQ(fs::is_symlink(h / ".claude/skills/one"), !c.refused) << c.var;
    }

    // HOME counts only when MIRTHLODE_TARGET_ROOT is not set: a real home is
    // never changed because the variable meant to move the run was not text.
    Home h;
    fs::create_directories(h / ".agents");
    h.env()["HOME"] = "/tmp/\xff";
    EXPECT_EQ(h.run({"sync"}).code, 0);
    h.env().erase("MIRTHLODE_TARGET_ROOT");
    auto r = h.run({"sync"});
    EXPECT_EQ(r.err, "error: the environment variable HOME is not valid UTF-8\n");
    EXPECT_EQ(r.code, 1);

    // An MCP value that names such a variable says so.
    Home m;
    fs::create_directories(m / ".claude");
    write_file(m / ".agents/mcp.json", R"({"mcpServers": {"api": {"command": "api", "env": {"T": "${env:BAD}"}}}})");
    m.env()["BAD"] = "\xff";
    r = m.run({"sync"});
    EXPECT_EQ(r.err, "error: mcp server `api`: ${env:BAD} is not valid UTF-8\n");
    EXPECT_EQ(r.code, 1);
}

TEST(Safety, CommonsNamesThatAreNotTextAreSkippedAndNeverLinked) {
    Home h;
    fs::create_directories(h / ".claude");
    write_file(h / ".agents/skills/b\xff" "d/SKILL.md", "bad");
    write_file(h / ".agents/commands/caf\xe9.md", "bad");
    write_file(h / ".agents/commands/ok.md", "ok");
    // What an earlier run made of the name: a link that points nowhere.
    link(h / ".claude/skills/b\xEF\xBF\xBD" "d", "../../.agents/skills/b\xEF\xBF\xBD" "d");
    // A link of someone else's whose name is not text is shown as text.
    link(h / ".claude/skills/x\xff", "/elsewhere");

    const std::string warnings =
        "warning: Commons skills/b\\xffd: name is not valid UTF-8, skipped\n"
        "warning: Commons commands/caf\\xe9.md: name is not valid UTF-8, skipped\n";
    auto r = h.run({"sync"});
    EXPECT_EQ(r.out,
              "claude (.claude/skills)\n"
              "  dangling  b\xEF\xBF\xBD" "d\n"
              "  foreign   x\xEF\xBF\xBD — not ours — left alone\n"
              "claude (.claude/commands)\n"
              "  missing   ok\n"
              "\n2 changes made.\n");
    EXPECT_EQ(r.err, warnings);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(h / ".claude/skills"), fs::directory_iterator()), 1);
    EXPECT_EQ(fs::read_symlink(h / ".claude/commands/ok.md"), "../../.agents/commands/ok.md");
    EXPECT_EQ(std::distance(fs::directory_iterator(h / ".claude/commands"), fs::directory_iterator()), 1);

    r = h.run({"sync"});
    EXPECT_EQ(r.out,
              "claude (.claude/skills)\n"
              "  foreign   x\xEF\xBF\xBD — not ours — left alone\n"
              "Everything is up to date.\n");
    EXPECT_EQ(r.err, warnings);
}

TEST(Safety, ControlCharactersInNamesAreEscapedInTheReport) {
    Home h;
    fs::create_directories(h / ".claude");
    write_file(h / ".agents/skills/evil\n  linked   fake/SKILL.md", "x");
    write_file(h / ".agents/skills/red\x1b[31m\x7f\xc2\x9b/SKILL.md", "x");
    write_file(h / ".agents/skills/tab\there/SKILL.md", "x");
    auto r = h.run({"sync", "--dry-run"});
    EXPECT_EQ(r.out,
              "dry run — no changes will be made\n\n"
              "claude (.claude/skills)\n"
              "  missing   evil\\n  linked   fake\n"
              "  missing   red\\u{1b}[31m\\u{7f}\\u{9b}\n"
              "  missing   tab\\there\n"
              "\n3 changes would be made.\n");
    EXPECT_EQ(r.err, "");
}

TEST(Safety, RemovingAServerKeepsTheByteOrderMarkOfConfigToml) {
    Home h;
    fs::create_directories(h / ".codex");
    write_file(h / ".agents/mcp.json", R"({"mcpServers": {"old": {"command": "old", "disabled": true}}})");
    const std::string bom = "\xEF\xBB\xBF";
    write_file(h / ".codex/config.toml",
               bom + "model = \"o3\"\r\n\r\n[mcp_servers.old]\r\ncommand = \"old\"\r\n\r\n[mcp_servers.mine]\r\n"
                     "command = \"mine\"\r\n");
    auto r = h.run({"sync"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(h / ".codex/config.toml"),
              bom + "model = \"o3\"\r\n\r\n[mcp_servers.mine]\r\ncommand = \"mine\"\r\n");
}

}  // namespace
