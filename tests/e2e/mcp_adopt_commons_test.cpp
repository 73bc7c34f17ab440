// `mirthlode mcp adopt` against a Commons that already holds servers, runs
// that fail, wait or are killed: it says what is so and does only that.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "support/support.h"

using namespace testing_support;

namespace {

ino_t inode(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

std::string repeated(const std::string& line, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += line;
    return out;
}

// Right after sync every agent's entry is the Commons copy, whatever its
// dialect cannot give back ("disabled", "type", an empty "args") and with
// the agent's Tweak merged: each is already in the Commons.
TEST(McpAdoptCommons, InSyncServersAreAlreadyInTheCommons) {
    Home h;
    for (auto dir : {".claude", ".codex", ".gemini", ".config/opencode"}) fs::create_directories(h / dir);
    write_file(h / ".agents/mcp.json",
               R"({"mcpServers": {"fs": {"type": "stdio", "command": "npx", "args": [], "cwd": "/w", "disabled": false},
                   "web": {"type": "http", "url": "https://w", "headers": {"X": "1"}}}})");
    write_file(h / ".config/mirthlode/mirthlode.toml", "[mcp.fs.tweaks.gemini]\ntrust = true\n");
    ASSERT_EQ(h.run({"sync"}).code, 0);
    const auto before = snapshot(h.path());
    auto r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out, repeated("fs is already in the Commons\nweb is already in the Commons\n", 4));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(snapshot(h.path()), before);
}

// A server the Commons held before the run keeps its reach: no allowlist is
// written or narrowed, so an agent that lacks it still gets it; an entry
// that differs is refused and nothing is written.
TEST(McpAdoptCommons, NeverNarrowsAServerAlreadyInTheCommons) {
    Home h;
    for (auto dir : {".claude", ".codex"}) fs::create_directories(h / dir);
    write_file(h / ".agents/mcp.json", R"({"mcpServers": {"web": {"url": "https://w"}}})");
    ASSERT_EQ(h.run({"sync"}).code, 0);
    fs::create_directories(h / ".cursor");
    auto r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out, "web is already in the Commons\nweb is already in the Commons\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_FALSE(fs::exists(h / ".config/mirthlode"));
    EXPECT_EQ(h.run({"sync"}).code, 0);
    EXPECT_NE(read_file(h / ".cursor/mcp.json").find("https://w"), std::string::npos);

    write_file(h / ".codex/config.toml", "[mcp_servers.web]\nurl = \"https://w\"\nstartup_timeout_sec = 9\n");
    const auto before = snapshot(h.path());
    r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out, "web is already in the Commons\nweb is already in the Commons\n");
    EXPECT_EQ(r.err, "error: `web` differs from the Commons copy — merge it by hand; mirthlode will not choose which "
                     "side to discard\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(snapshot(h.path()), before);
}

// sync would write the agent's own reference back as the variable's value,
// set or not: the server is refused and nothing is written.
TEST(McpAdoptCommons, AReferenceInTheAgentsEntryIsRefused) {
    for (bool set : {false, true}) {
        Home h;
        fs::create_directories(h / ".cursor");
        write_file(h / ".cursor/mcp.json",
                   R"({"mcpServers": {"github": {"url": "https://gh",
                       "headers": {"Authorization": "Bearer ${env:GITHUB_MCP_TOKEN}"}}, "plain": {"url": "${env:"}}})");
        if (set) h.env()["GITHUB_MCP_TOKEN"] = "secret";
        auto r = h.run({"mcp", "adopt", "cursor/github"});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "error: `github` in cursor: `${env:GITHUB_MCP_TOKEN}` would be written back as the "
                         "variable's value — not adopted\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_FALSE(fs::exists(h / ".agents"));
        EXPECT_FALSE(fs::exists(h / ".config/mirthlode"));
        // An opening with no end is no reference: it comes back as written.
        EXPECT_EQ(h.run({"mcp", "adopt", "cursor/plain"}).code, 0);
    }
}

TEST(McpAdoptCommons, AnErrorReportedGivesExitOne) {
    Home h;
    fs::create_directories(h / ".claude");
    write_file(h / ".claude.json", "{not json");
    auto r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out, "no servers found to adopt\n");
    EXPECT_EQ(r.err, "error: " + (h / ".claude.json").string() + " is not valid JSON (line 1, column 3) — left untouched\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(fs::exists(h / ".agents"));

    write_file(h / ".codex/config.toml", "[mcp_servers.fs]\ncommand = \"f\"\n");
    r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out, "adopted fs from codex\n  scoped to codex — remove the allowlist in mirthlode.toml to share it\n");
    EXPECT_EQ(r.code, 1);
}

// A machine where claude and gemini hold the same 300 servers, gemini's
// each with a key of its own.
struct SharedServers : Home {
    SharedServers() {
        fs::create_directories(*this / ".claude");
        fs::create_directories(*this / ".gemini");
        std::string claude, gemini;
        for (int i = 0; i < 300; ++i) {
            const std::string entry = (i ? ", \"s" : "\"s") + std::to_string(i) + R"(": {"command": "c", "args": [")" +
                                      std::to_string(i) + "\"]";
            claude += entry + "}";
            gemini += entry + R"(, "trust": true})";
        }
        write_file(*this / ".claude.json", "{\"mcpServers\": {" + claude + "}}");
        write_file(*this / ".gemini/settings.json", "{\"mcpServers\": {" + gemini + "}}");
    }
};

// Killed anywhere, then run again: the files are those of one clean run,
// also from the one state a killed run can leave between its two writes.
TEST(McpAdoptCommons, AKilledRunThenARerunEndsWhereOneCleanRunEnds) {
    SharedServers clean;
    ASSERT_EQ(clean.run({"mcp", "adopt", "--all"}).code, 0);
    const fs::path settings = ".config/mirthlode/mirthlode.toml";
    const std::string commons = read_file(clean / ".agents/mcp.json");
    const std::string tweaks = read_file(clean / settings);
    ASSERT_NE(commons.find("\"s299\""), std::string::npos);
    ASSERT_EQ(tweaks.find("agents"), std::string::npos);
    ASSERT_NE(tweaks.find("[mcp.s299.tweaks.gemini]"), std::string::npos);
    auto settled = [&](const SharedServers& h, const std::string& when) {
        auto r = h.run({"mcp", "adopt", "--all"});
        EXPECT_EQ(r.code, 0) << when << r.err;
        EXPECT_EQ(read_file(h / ".agents/mcp.json"), commons) << when;
        EXPECT_EQ(read_file(h / settings), tweaks) << when;
        EXPECT_EQ(h.run({"status"}).out.find("stranded"), std::string::npos) << when;
    };
    for (int micros : {0, 2000, 5000, 10000, 20000, 40000}) {
        SharedServers h;
        run_mirthlode_killed({"mcp", "adopt", "--all"}, h.env(), std::chrono::microseconds(micros));
        settled(h, "killed after " + std::to_string(micros) + " us");
    }
    SharedServers between;
    write_file(between / settings, tweaks);
    const ino_t written = inode(between / settings);
    settled(between, "mirthlode.toml written, mcp.json not yet");
    EXPECT_EQ(inode(between / settings), written) << "mirthlode.toml is not written again";
}

// A run that waited for the lock adopts what the agents hold once it has
// it: a server removed meanwhile is no candidate, one added meanwhile is,
// also when the agent held none before.
TEST(McpAdoptCommons, CandidatesAreGatheredUnderTheLock) {
    struct Case {
        const char* before;
        const char* after;
        const char* out;
        const char* commons;
    };
    const std::vector<Case> cases = {
        {R"({"mcpServers": {"x": {"command": "x"}}})",
         R"({"mcpServers": {"y": {"command": "y"}, "z": {"command": "z"}}})", "adopted y from claude\nadopted z from claude\n",
         "{\n  \"mcpServers\": {\n    \"y\": {\n      \"command\": \"y\"\n    },\n    \"z\": {\n      \"command\": \"z\"\n"
         "    }\n  }\n}\n"},
        {"", R"({"mcpServers": {"y": {"command": "y"}}})", "adopted y from claude\n",
         "{\n  \"mcpServers\": {\n    \"y\": {\n      \"command\": \"y\"\n    }\n  }\n}\n"},
    };
    for (const Case& c : cases) {
        Home h;
        fs::create_directories(h / ".claude");
        write_file(h / ".claude.json", c.before);
        h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "20000";
        HeldLock held(h);
        auto waiting = std::async(std::launch::async, [&] { return h.run({"mcp", "adopt", "--all"}); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        write_file(h / ".claude.json", c.after);
        held.release();
        auto r = waiting.get();
        EXPECT_EQ(r.out, c.out) << c.before;
        EXPECT_EQ(r.err, "") << c.before;
        EXPECT_EQ(r.code, 0) << c.before;
        EXPECT_EQ(read_file(h / ".agents/mcp.json"), c.commons) << c.before;
        EXPECT_FALSE(fs::exists(h / ".config/mirthlode")) << c.before;
    }
}

// With nothing to change a run writes and creates nothing, however often
// it runs, and says only that each server is already in the Commons.
TEST(McpAdoptCommons, ARunWithNothingToChangeWritesNothing) {
    for (bool settings : {true, false}) {
        Home h;
        fs::create_directories(h / ".claude");
        fs::create_directories(h / ".gemini");
        write_file(h / ".agents/mcp.json", R"({"mcpServers": {"S": {"command": "s"}, "other": {"command": "o"}}})");
        const fs::path file = h / ".config/mirthlode/mirthlode.toml";
        const std::string text = "[mcp.other]\nagents = [\"claude\"]\n\n[mcp.S.tweaks.gemini]\ntrust = true\n";
        if (settings) write_file(file, text);
        ASSERT_EQ(h.run({"sync"}).code, 0);
        const ino_t before = settings ? inode(file) : 0;
        for (int run = 0; run < 3; ++run) {
            auto r = h.run({"mcp", "adopt", "--all"});
            EXPECT_EQ(r.out, settings ? "S is already in the Commons\nother is already in the Commons\n"
                                        "S is already in the Commons\n"
                                      : "S is already in the Commons\nother is already in the Commons\n"
                                        "S is already in the Commons\nother is already in the Commons\n");
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.code, 0);
        }
        if (settings) {
            EXPECT_EQ(read_file(file), text);
            EXPECT_EQ(inode(file), before);
        } else {
            EXPECT_FALSE(fs::exists(h / ".config/mirthlode"));
        }
    }
}

// A server whose save failed is not reported as adopted but named as not
// adopted; the file that could not be written is as it was.
TEST(McpAdoptCommons, OnlyWhatWasSavedIsReportedAsAdopted) {
    Home h;
    fs::create_directories(h / ".claude");
    write_file(h / ".claude.json", R"({"mcpServers": {"a": {"command": "a", "timeout": 5}, "b": {"command": "b"}}})");
    fs::create_directories(h / ".agents");
    ASSERT_EQ(::mkfifo((h / ".agents/mcp.json").c_str(), 0644), 0);
    auto r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out, "not adopted: a, b\n");
    EXPECT_EQ(r.err, "error: cannot write " + (h / ".agents/mcp.json").string() + ": not a regular file\n");
    EXPECT_EQ(r.code, 1);
    // The Tweak written for `a` goes again with it: a list or a Tweak left
    // for a server the Commons lacks would shape it when a later run adopts
    // it. A file that was there is put back as it was.
    EXPECT_FALSE(fs::exists(h / ".config/mirthlode/mirthlode.toml"));
    write_file(h / ".config/mirthlode/mirthlode.toml", "# mine\r\n[targets]\r\npi = false\r\n");
    r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out, "not adopted: a, b\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(read_file(h / ".config/mirthlode/mirthlode.toml"), "# mine\r\n[targets]\r\npi = false\r\n");
    // A link that leads nowhere stays so: the file made where it leads goes again.
    fs::remove(h / ".config/mirthlode/mirthlode.toml");
    fs::create_symlink(h / "elsewhere.toml", h / ".config/mirthlode/mirthlode.toml");
    r = h.run({"mcp", "adopt", "--all"});
    EXPECT_EQ(r.out, "not adopted: a, b\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(fs::is_symlink(h / ".config/mirthlode/mirthlode.toml"));
    EXPECT_FALSE(fs::exists(h / "elsewhere.toml"));
    fs::remove_all(h / ".config");

    // mirthlode.toml cannot be written: the server it had to scope is not
    // adopted, the one that needs nothing there is.
    fs::remove(h / ".agents/mcp.json");
    const fs::path config = h / ".config/mirthlode";
    fs::create_directories(config);
    write_file(config / "mirthlode.toml", "# mine\n");
    const std::string expected_out = "adopted b from claude\nnot adopted: a\n";
    const std::string expected_err =
        "error: cannot write " + (config / "mirthlode.toml").string() + ": Permission denied\n";
    if (::geteuid() == 0) {
        // Root writes anywhere: the run goes to an unprivileged child that
        // owns the home but not the config directory.
        const fs::path binary = copy_of_binary(h / "bin");
        for (const auto& entry : fs::recursive_directory_iterator(h.path())) {
            ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(::chown(h.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(config.c_str(), 0, 0), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            r = run_program(binary, {"mcp", "adopt", "--all"}, h.env());
            ::_exit(r.out == expected_out && r.err == expected_err && r.code == 1 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    } else {
        ASSERT_EQ(::chmod(config.c_str(), 0555), 0);
        r = h.run({"mcp", "adopt", "--all"});
        EXPECT_EQ(r.out, expected_out);
        EXPECT_EQ(r.err, expected_err);
        EXPECT_EQ(r.code, 1);
        ::chmod(config.c_str(), 0755);
    }
    EXPECT_EQ(read_file(config / "mirthlode.toml"), "# mine\n");
    const std::string commons = read_file(h / ".agents/mcp.json");
    EXPECT_NE(commons.find("\"b\""), std::string::npos);
    EXPECT_EQ(commons.find("\"a\""), std::string::npos);
}

}  // namespace
