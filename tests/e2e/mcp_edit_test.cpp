// `mirthlode mcp remove|disable|enable NAME`: one Commons server deleted,
// parked or restored across every agent.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/support.h"

using namespace testing_support;

namespace {

const char* commons_json = R"({
  "mcpServers": {
    "fs": {
      "command": "npx",
      "args": [
        "fs"
      ],
      "env": {
        "T": "${env:TOKEN}"
      }
    },
    "other": {
      "command": "o"
    }
  }
}
)";

// fs allowlisted to claude, codex and cursor, with a Tweak for codex;
// claude and cursor hold it, codex does not yet; cline is installed too.
struct EditHome : Home {
    EditHome() {
        env()["TOKEN"] = "tok";
        write_file(*this / ".agents/mcp.json", commons_json);
        write_file(*this / ".config/mirthlode/mirthlode.toml",
                   "[mcp.fs]\nagents = [\"claude\", \"codex\", \"cursor\"]\n\n[mcp.fs.tweaks.codex]\nstartup_timeout_sec = 9\n");
        fs::create_directories(*this / ".claude");
        write_file(*this / ".claude.json", R"({"theme": "dark", "mcpServers": {"fs": {"command": "npx", "args": ["fs"], "env": {"T": "tok"}}, "other": {"command": "o"}}})");
        ::chmod((*this / ".claude.json").c_str(), 0600);
        write_file(*this / ".codex/config.toml", "\xEF\xBB\xBFmodel = \"o3\"\r\n\r\n[mcp_servers.other]\r\ncommand = \"o\"\r\n");
        write_file(*this / ".cursor/mcp.json", R"({"mcpServers": {"other": {"command": "o"}, "fs": {"command": "npx", "args": ["fs"], "env": {"T": "tok"}}}})");
        for (const char* file : {".codex/config.toml", ".cursor/mcp.json"}) ::chmod((*this / file).c_str(), 0600);
        write_file(*this / ".cline/mcp.json", R"({"mcpServers": {"other": {"command": "o"}}})");
    }
};

TEST(McpEdit, DisableThenEnableRestoresEveryAllowlistedAgent) {
    EditHome h;
    auto disable = h.run({"mcp", "disable", "fs"});
    EXPECT_EQ(disable.out,
              "removed fs from claude\nremoved fs from cursor\n"
              "disabled fs — definition kept; enable restores it everywhere\n");
    EXPECT_EQ(disable.code, 0);
    EXPECT_NE(read_file(h / ".agents/mcp.json").find("      },\n      \"disabled\": true\n    },"), std::string::npos);
    EXPECT_EQ(h.run({"mcp", "disable", "fs"}).out, "fs is already disabled\n");

    // An agent that takes an old copy back is listed as needing a sync.
    write_file(h / ".cursor/mcp.json", R"({"mcpServers": {"other": {"command": "o"}, "fs": {"command": "old"}}})");
    auto listed = h.run({"mcp", "list"});
    EXPECT_EQ(listed.out,
              "fs  (disabled)\n  disabled   cursor\n"
              "other  (Commons)\n  managed    claude\n  managed    codex\n  managed    cursor\n  managed    cline\n");
    EXPECT_EQ(listed.code, 2);

    auto enable = h.run({"mcp", "enable", "fs"});
    EXPECT_EQ(enable.out, "restored fs to claude\nrestored fs to codex\nrestored fs to cursor\nenabled fs\n");
    EXPECT_EQ(enable.err, "");
    EXPECT_EQ(enable.code, 0);
    EXPECT_EQ(read_file(h / ".agents/mcp.json"), commons_json);
    EXPECT_EQ(h.run({"mcp", "enable", "fs"}).out, "fs is already enabled\n");

    auto again = h.run({"mcp", "list"});
    EXPECT_EQ(again.out,
              "fs  (Commons)\n  managed    claude\n  managed    codex\n  managed    cursor\n"
              "other  (Commons)\n  managed    claude\n  managed    codex\n  managed    cursor\n  managed    cline\n");
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(h.run({"sync"}).out, "Everything is up to date.\n");

    // Written as sync writes: mode, byte-order mark, line ends and other keys kept.
    for (const char* file : {".claude.json", ".codex/config.toml", ".cursor/mcp.json"}) {
        EXPECT_EQ(mode_of(h / file), 0600u) << file;
    }
    EXPECT_EQ(read_file(h / ".codex/config.toml"),
              "\xEF\xBB\xBFmodel = \"o3\"\r\n\r\n[mcp_servers.other]\r\ncommand = \"o\"\r\n\r\n"
              "[mcp_servers.fs]\r\ncommand = \"npx\"\r\nargs = [\"fs\"]\r\nstartup_timeout_sec = 9\r\n\r\n"
              "[mcp_servers.fs.env]\r\nT = \"tok\"\r\n");
    EXPECT_EQ(read_file(h / ".cline/mcp.json"), R"({"mcpServers": {"other": {"command": "o"}}})");
}

TEST(McpEdit, RemoveKeepsTheRestOfMirthlodeToml) {
    EditHome h;
    const std::string config_file = (h / ".config/mirthlode/mirthlode.toml").string();
    write_file(config_file,
               "\xEF\xBB\xBF# my settings\r\n[targets]\r\npi = false\r\n\r\n# the fs server\r\n[mcp.fs]\r\n"
               "agents = [\"claude\", \"cursor\"]\r\n\r\n[mcp.fs.tweaks.codex]\r\nstartup_timeout_sec = 9\r\n\r\n"
               "# keep this\r\n[mcp.other]\r\nagents = [\"claude\"] # only\r\n");
    auto r = h.run({"mcp", "remove", "fs"});
    EXPECT_EQ(r.out, "removed fs from claude\nremoved fs from cursor\nremoved fs from the Commons\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(config_file),
              "\xEF\xBB\xBF# my settings\r\n[targets]\r\npi = false\r\n\r\n# keep this\r\n[mcp.other]\r\n"
              "agents = [\"claude\"] # only\r\n");
    EXPECT_EQ(read_file(h / ".agents/mcp.json"), "{\n  \"mcpServers\": {\n    \"other\": {\n      \"command\": \"o\"\n    }\n  }\n}\n");
    EXPECT_EQ(read_file(h / ".claude.json"),
              "{\n  \"theme\": \"dark\",\n  \"mcpServers\": {\n    \"other\": {\n      \"command\": \"o\"\n    }\n  }\n}");

    // No settings for the server: mirthlode.toml is not rewritten.
    fs::remove(config_file);
    EXPECT_EQ(h.run({"mcp", "remove", "other"}).code, 0);
    EXPECT_FALSE(fs::exists(config_file));
}

TEST(McpEdit, Refusals) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"mcp", "remove", "mine"}, "error: `mine` is not in the Commons — mirthlode only removes servers it manages\n"},
        {{"mcp", "disable", "mine"}, "error: `mine` is not in the Commons — mirthlode only disables servers it manages\n"},
        {{"mcp", "enable", "mine"}, "error: `mine` is not in the Commons — mirthlode only enables servers it manages\n"},
        {{"mcp", "enable", "parked"}, "error: mcp server `parked`: ${env:UNSET} is not set in the environment\n"},
    };
    for (const Case& c : cases) {
        Home h;
        fs::create_directories(h / ".claude");
        write_file(h / ".claude.json", R"({"mcpServers": {"mine": {"command": "m"}}})");
        write_file(h / ".agents/mcp.json", R"({"mcpServers": {"parked": {"command": "${env:UNSET}", "disabled": true}}})");
        const auto before = snapshot(h.path());
        auto r = h.run(c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(snapshot(h.path()), before) << c.args[1];
        EXPECT_FALSE(fs::exists(h / ".local/state")) << "no lock was taken";
    }
}

// A run waiting for the lock works from mcp.json as it is once it has the
// lock: a server another run added meanwhile is kept.
TEST(McpEdit, CommonsListIsReadAgainUnderTheLock) {
    struct Case {
        std::vector<std::string> args;
        bool keep_x;  // the other run leaves x in the Commons
        int code;
    };
    const std::vector<Case> cases = {
        {{"mcp", "adopt", "claude/fs"}, true, 0}, {{"mcp", "remove", "x"}, true, 0},
        {{"mcp", "disable", "x"}, true, 0},       {{"mcp", "enable", "y"}, true, 0},
        {{"mcp", "remove", "x"}, false, 1},
    };
    for (const Case& c : cases) {
        Home h;
        fs::create_directories(h / ".claude");
        write_file(h / ".claude.json", R"({"mcpServers": {"fs": {"command": "f"}}})");
        write_file(h / ".agents/mcp.json", R"({"mcpServers": {"x": {"command": "x"}, "y": {"command": "y", "disabled": true}}})");
        const fs::path state = h / ".local/state/mirthlode";
        fs::create_directories(state);
        // Close-on-exec: the run started below must not hold the lock too.
        int fd = ::open((state / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "20000";
        auto waiting = std::async(std::launch::async, [&] { return h.run(c.args); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        write_file(h / ".agents/mcp.json", std::string(R"({"mcpServers": {)") + (c.keep_x ? R"("x": {"command": "x"},)" : "") +
                                               R"("y": {"command": "y", "disabled": true}, "added": {"command": "a"}}})");
        ::close(fd);
        auto r = waiting.get();
        EXPECT_EQ(r.code, c.code) << c.args[1] << r.err;
        const std::string after = read_file(h / ".agents/mcp.json");
        EXPECT_NE(after.find("\"added\""), std::string::npos) << c.args[1];
        if (!c.keep_x) {
            EXPECT_EQ(r.err, "error: `x` is not in the Commons — mirthlode only removes servers it manages\n");
        }
    }
}

}  // namespace
