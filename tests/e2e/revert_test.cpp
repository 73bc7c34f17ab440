// `mirthlode revert AGENT`: whole runs over a throw-away home, exact output
// and files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include "support/support.h"

using namespace testing_support;

namespace {

// Every entry under `root` with its mode bits and its link text or bytes;
// the Commons, the config and the state directories left out.
std::map<std::string, std::string> user_tree(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (rel.starts_with(".agents") || rel.starts_with(".config") || rel.starts_with(".local")) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st;
        ::lstat(it->path().c_str(), &st);
        std::string entry = std::to_string(st.st_mode & 07777) + " ";
        if (S_ISLNK(st.st_mode)) {
            entry += "-> " + fs::read_symlink(it->path()).string();
        } else if (S_ISDIR(st.st_mode)) {
            entry += "dir";
        } else {
            entry += read_file(it->path());
        }
        out[rel] = entry;
    }
    return out;
}

ino_t inode_of(const fs::path& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

void disable(const Home& h, const std::string& agents) {
    write_file(h / ".config/mirthlode/mirthlode.toml", "[targets]\n" + agents);
}

// A Commons with a skill, a command, AGENTS.md, an MCP server and a Stop
// hook, and claude, codex and gemini with files of their own, written the
// way the agents themselves write them.
struct RoundTripHome : Home {
    RoundTripHome() {
        const fs::path c = *this / ".agents";
        write_file(c / "skills/one/SKILL.md", "one");
        write_file(c / "commands/review.md", "---\ndescription: Review\n---\nReview it.\n");
        write_file(c / "AGENTS.md", "shared");
        write_file(c / "mcp.json", R"({"mcpServers": {"files": {"command": "npx", "args": ["fs"]}}})");
        write_file(c / "hooks/Stop.toml", "[[hook]]\ncommand = \"notify-send done\"\ntimeout = 30\n");

        write_file(*this / ".claude.json",
                   "{\n  \"theme\": \"dark\",\n  \"mcpServers\": {\n    \"mine\": {\n      \"command\": \"m\"\n"
                   "    }\n  }\n}");
        file(".claude/settings.json",
             "{\n  \"model\": \"opus\",\n  \"hooks\": {\n    \"Stop\": [\n      {\n        \"hooks\": [\n"
             "          {\n            \"type\": \"command\",\n            \"command\": \"say bye\"\n          }\n"
             "        ]\n      }\n    ]\n  }\n}",
             0600);
        file(".claude/CLAUDE.md", "# My notes\r\nBe brief.\r\n", 0640);
        write_file(*this / ".claude/skills/own/SKILL.md", "own");
        fs::create_directories(*this / ".claude/commands");

        file(".codex/config.toml", "# mine\nmodel = \"o3\"\n\n[mcp_servers.mine]\ncommand = \"m\"\n", 0600);
        write_file(*this / ".codex/hooks.json", "{\n  \"hooks\": {\n    \"SessionStart\": []\n  }\n}");
        fs::create_directories(*this / ".codex/prompts");

        file(".gemini/settings.json",
             "{\n  \"mcpServers\": {},\n  \"hooks\": {\n    \"AfterAgent\": [\n      {\n        \"matcher\": \"x\",\n"
             "        \"hooks\": [\n          {\n            \"type\": \"command\",\n            \"command\": \"own\"\n"
             "          }\n        ]\n      }\n    ]\n  }\n}",
             0644);
        write_file(*this / ".gemini/commands/mine.toml", "prompt = \"mine\"\n");
    }

    void file(const std::string& rel, const std::string& content, unsigned mode) {
        write_file(*this / rel, content);
        ASSERT_EQ(::chmod((*this / rel).c_str(), mode), 0);
    }
};

TEST(Revert, GivesBackExactlyWhatTheUserHadBeforeTheFirstSync) {
    RoundTripHome h;
    const auto before = user_tree(h.path());
    auto synced = h.run({"sync"});
    ASSERT_EQ(synced.code, 0) << synced.out << synced.err;
    ASSERT_NE(user_tree(h.path()), before);

    disable(h, "claude = false\ncodex = false\ngemini = false\n");
    // The import line is cut by replacing the file whole, never by rewriting it in place.
    const auto inode_before = fs::status(h / ".claude/CLAUDE.md").type() == fs::file_type::regular
                                  ? inode_of(h / ".claude/CLAUDE.md") : 0;
    auto claude = h.run({"revert", "claude"});
    EXPECT_NE(inode_of(h / ".claude/CLAUDE.md"), inode_before);
    EXPECT_EQ(claude.out,
              "removed .claude/skills/one\n"
              "removed .claude/commands/review.md\n"
              "removed the import line from .claude/CLAUDE.md\n"
              "removed mcp server files from .claude.json\n"
              "removed the Stop hook notify-send done from .claude/settings.json\n"
              "\n"
              "5 removals made.\n");
    EXPECT_EQ(claude.err, "");
    EXPECT_EQ(claude.code, 0);

    auto codex = h.run({"revert", "codex"});
    EXPECT_EQ(codex.out,
              "removed .codex/prompts/review.md\n"
              "removed .codex/AGENTS.md\n"
              "removed mcp server files from .codex/config.toml\n"
              "removed the Stop hook notify-send done from .codex/hooks.json\n"
              "\n"
              "4 removals made.\n");
    EXPECT_EQ(codex.code, 0);

    auto gemini = h.run({"revert", "gemini"});
    EXPECT_EQ(gemini.out,
              "removed .gemini/GEMINI.md\n"
              "removed mcp server files from .gemini/settings.json\n"
              "removed .gemini/commands/review.toml\n"
              "removed the Stop hook notify-send done from .gemini/settings.json\n"
              "\n"
              "4 removals made.\n");
    EXPECT_EQ(gemini.code, 0);

    EXPECT_EQ(user_tree(h.path()), before);
    for (const char* agent : {"claude", "codex", "gemini"}) {
        auto again = h.run({"revert", agent});
        EXPECT_EQ(again.out, std::string("nothing of mirthlode's in ") + agent + " — nothing to revert\n");
        EXPECT_EQ(again.code, 0);
    }
}

TEST(Revert, RefusesAnAgentThatIsUnknownOrStillEnabledAndSkipsOneNotInstalled) {
    struct Case {
        std::string config;
        std::string agent;
        std::string out;
        std::string err;
        int code;
    };
    Home h;
    const std::string toml = (h / ".config/mirthlode/mirthlode.toml").string();
    const std::string enabled =
        "error: claude is still enabled — set targets.claude = false in " + toml +
        " first, so sync will not redo what revert undoes\n";
    const std::vector<Case> cases = {
        {"", "claude", "", enabled, 1},
        {"claude = true\n", "claude", "", enabled, 1},
        {"Claude = false\n", "claude", "", enabled, 1},
        {"claude = false\n", "Claude", "", "error: `Claude` is not an agent mirthlode knows about\n", 1},
        {"cline = false\n", "cline", "cline is not installed on this machine — nothing to revert\n", "", 0},
    };
    fs::create_directories(h / ".claude");
    fs::create_directories(h / ".claude/skills");
    fs::create_directory_symlink("../../.agents/skills/x", h / ".claude/skills/x");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config + c.agent);
        disable(h, c.config);
        const auto before = snapshot(h.path());
        auto r = h.run({"revert", c.agent});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(snapshot(h.path()), before);
        EXPECT_FALSE(fs::exists(h / ".local")) << "nothing is locked";
    }
}

TEST(Revert, RemovesOnlyLinksIntoTheCommonsAndNeverFollowsOne) {
    Home h;
    write_file(h / ".agents/skills/one/SKILL.md", "one");
    fs::create_directory_symlink("one", h / ".agents/skills/alias");
    write_file(h / "projects/mine/SKILL.md", "mine");
    // claude: a live and a dangling fan-out link go; a foreign link and a real
    // directory stay. codex reads skills natively: its leftover link goes.
    fs::create_directories(h / ".claude/skills");
    fs::create_directory_symlink("../../.agents/skills/one", h / ".claude/skills/one");
    fs::create_directory_symlink("../../.agents/skills/gone", h / ".claude/skills/gone");
    fs::create_directory_symlink("../../projects/mine", h / ".claude/skills/mine");
    write_file(h / ".claude/skills/own/SKILL.md", "own");
    fs::create_directories(h / ".codex/skills");
    fs::create_directory_symlink("../../.agents/skills/one", h / ".codex/skills/one");
    // A custom agent whose skills directory is itself a link into the Commons:
    // what is there is the Commons' own, the alias link included.
    fs::create_directories(h / ".tool");
    fs::create_directory_symlink("../.agents/skills", h / ".tool/skills");
    write_file(h / ".tool/AGENTS.md", "not touched for a custom agent");
    write_file(h / ".config/mirthlode/mirthlode.toml",
               "[targets]\nclaude = false\ncodex = false\ntool = false\n\n"
               "[custom.tool]\nroot = \".tool\"\nskills = \".tool/skills\"\n");

    auto claude = h.run({"revert", "claude"});
    EXPECT_EQ(claude.out, "removed .claude/skills/gone\nremoved .claude/skills/one\n\n2 removals made.\n");
    EXPECT_EQ(claude.code, 0);
    EXPECT_TRUE(fs::is_symlink(h / ".claude/skills/mine"));
    EXPECT_EQ(read_file(h / ".claude/skills/own/SKILL.md"), "own");
    EXPECT_EQ(read_file(h / ".agents/skills/one/SKILL.md"), "one") << "a link is removed as a link";

    auto codex = h.run({"revert", "codex"});
    EXPECT_EQ(codex.out, "removed .codex/skills/one\n\n1 removal made.\n");

    const auto before = snapshot(h.path());
    auto tool = h.run({"revert", "tool"});
    EXPECT_EQ(tool.out, "nothing of mirthlode's in tool — nothing to revert\n");
    EXPECT_EQ(tool.code, 0);
    EXPECT_EQ(snapshot(h.path()), before);
    EXPECT_EQ(fs::read_symlink(h / ".agents/skills/alias"), "one");
}

TEST(Revert, HooksGoWhateverTheirDriftAndOneBadFileDoesNotStopTheRest) {
    Home h;
    write_file(h / ".agents/hooks/Stop.toml", "[[hook]]\ncommand = \"done\"\n");
    write_file(h / ".agents/hooks/UserPromptSubmit.toml", "[[hook]]\ncommand = \"check\"\n");
    write_file(h / ".agents/hooks/Bad.toml", "[[hook]]\ncommand = \"x\"\n");
    // gemini: the Stop hook drifted into a group of its own with another
    // timeout, next to a group that also holds the user's entry.
    write_file(h / ".gemini/settings.json", R"({"hooks": {"AfterAgent": [
        {"matcher": "a", "hooks": [{"type": "command", "command": "done", "timeout": 5}]},
        {"hooks": [{"command": "mine"}, {"type": "command", "command": "done"}]}],
        "UserPromptSubmit": [{"hooks": [{"command": "check"}]}]}})");
    write_file(h / ".claude/settings.json", "{ not json");
    disable(h, "claude = false\ngemini = false\n");
    const std::string bad = "error: " + (h / ".agents/hooks/Bad.toml").string() +
                            ": `Bad` is not a hook event — expected one of SessionStart, Stop, PreToolUse, "
                            "PostToolUse, Notification, UserPromptSubmit, SubagentStop, PreCompact\n";

    auto gemini = h.run({"revert", "gemini"});
    EXPECT_EQ(gemini.out, "removed the Stop hook done from .gemini/settings.json\n\n1 removal made.\n");
    EXPECT_EQ(gemini.err, bad);
    EXPECT_EQ(gemini.code, 1);
    EXPECT_EQ(read_file(h / ".gemini/settings.json"),
              "{\n  \"hooks\": {\n    \"AfterAgent\": [\n      {\n        \"hooks\": [\n          {\n"
              "            \"command\": \"mine\"\n          }\n        ]\n      }\n    ],\n"
              "    \"UserPromptSubmit\": [\n      {\n        \"hooks\": [\n          {\n"
              "            \"command\": \"check\"\n          }\n        ]\n      }\n    ]\n  }\n}");

    auto claude = h.run({"revert", "claude"});
    EXPECT_EQ(claude.out, "");
    EXPECT_EQ(claude.err, "error: " + (h / ".claude/settings.json").string() +
                              " is not valid JSON (line 1, column 4) — left untouched\n");
    EXPECT_EQ(claude.code, 1);
    EXPECT_EQ(read_file(h / ".claude/settings.json"), "{ not json");
}

// Thousands of Commons servers leave an agent's file in one read and one
// write, whether revert takes them out or sync removes them as disabled:
// the lines come in the Commons order and the user's own entries stay.
TEST(Revert, ThousandsOfServersLeaveEachFileInOneWrite) {
    constexpr int count = 3000;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* file;
        std::string before;  // the user's part of the file
        std::string after;
        bool disabled;
    };
    const std::string codex = "# my codex\r\nmodel = \"o3\"\r\n\r\n[mcp_servers.mine]\r\ncommand = \"m\"\r\n";
    const std::string claude = "{\n  \"theme\": \"dark\",\n  \"mcpServers\": {\n    \"mine\": {\n      \"command\": \"m\"\n    }";
    const std::vector<Case> cases = {
        {"revert claude", {"revert", "claude"}, ".claude.json", claude, claude + "\n  }\n}", false},
        {"revert codex", {"revert", "codex"}, ".codex/config.toml", codex, codex, false},
        {"sync, every server disabled", {"sync"}, ".claude.json", claude, claude + "\n  }\n}", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        fs::create_directories(h / ".claude");
        fs::create_directories(h / ".codex");
        const bool toml = std::string(c.file).ends_with(".toml");
        std::string commons = "{\"mcpServers\": {";
        std::string file = c.before;
        std::string out;
        for (int i = 0; i < count; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "s%04d", i);
            const std::string n = std::to_string(i);
            commons += std::string(i ? ", " : "") + "\"" + name + "\": {\"command\": \"c" + n + "\"" +
                       (c.disabled ? ", \"disabled\": true}" : "}");
            file += toml ? "\r\n[mcp_servers." + std::string(name) + "]\r\ncommand = \"c" + n + "\"\r\n"
                         : ",\n    \"" + std::string(name) + "\": {\n      \"command\": \"c" + n + "\"\n    }";
            out += c.disabled ? "  disabled  " + std::string(name) + " → claude — disabled in the Commons — will be removed\n"
                              : "removed mcp server " + std::string(name) + " from " + c.file + "\n";
        }
        if (!toml) file += "\n  }\n}";
        write_file(h / ".agents/mcp.json", commons + "}}");
        write_file(h / c.file, file);
        disable(h, c.disabled ? "codex = false\n" : "claude = false\ncodex = false\n");
        out = c.disabled ? "mcp (mcp.json)\n" + out + "  foreign   mine → claude — not in the Commons — left alone\n\n"
                           "3000 changes made.\n"
                         : out + "\n3000 removals made.\n";

        const auto start = std::chrono::steady_clock::now();
        auto r = h.run(c.args);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(r.out == out) << r.out.substr(0, 400);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(read_file(h / c.file), c.after);
        // A write per server takes many seconds here; one write per file, a fraction of one.
        EXPECT_LT(took, std::chrono::seconds(5));
    }
}

// revert keeps what the user had in the hook settings: an event list or a
// group that was empty already stays; only what the removal itself empties
// goes.
TEST(Revert, KeepsTheUsersEmptyHookListsAndGroups) {
    struct Case {
        const char* name;
        const char* hook_file;  // in the Commons hooks directory
        std::string hook;
        std::string settings;  // the user's
        std::string after;     // after sync and revert
        std::string out;
    };
    const std::vector<Case> cases = {
        {"an empty event list and an empty group under other events", "Stop.toml",
         "[[hook]]\ncommand = \"notify-send done\"\n",
         R"({"hooks": {"PreToolUse": [ ], "PostToolUse": [{"matcher": "Bash", "hooks": []}]}})",
         "{\n  \"hooks\": {\n    \"PreToolUse\": [],\n    \"PostToolUse\": [\n      {\n        \"matcher\": \"Bash\",\n"
         "        \"hooks\": []\n      }\n    ]\n  }\n}",
         "removed the Stop hook notify-send done from .claude/settings.json\n\n1 removal made.\n"},
        {"empty groups beside the removed one", "PreToolUse.toml", "[[hook]]\ncommand = \"lint.sh\"\nmatcher = \"Edit\"\n",
         R"({"hooks": {"PreToolUse": [{"matcher": "Bash", "hooks": []}, {"matcher": "Write", "hooks": [ ]}]}})",
         "{\n  \"hooks\": {\n    \"PreToolUse\": [\n      {\n        \"matcher\": \"Bash\",\n        \"hooks\": []\n"
         "      },\n      {\n        \"matcher\": \"Write\",\n        \"hooks\": []\n      }\n    ]\n  }\n}",
         "removed the PreToolUse hook lint.sh from .claude/settings.json\n\n1 removal made.\n"},
        {"the user's entry and an empty group in the same event", "Stop.toml", "[[hook]]\ncommand = \"lint.sh\"\n",
         R"({"hooks": {"PreToolUse": [ ], "Stop": [{"hooks": [{"type": "command", "command": "mine.sh"}]},)"
         R"( {"matcher": "Edit", "hooks": []}]}})",
         "{\n  \"hooks\": {\n    \"PreToolUse\": [],\n    \"Stop\": [\n      {\n        \"hooks\": [\n          {\n"
         "            \"type\": \"command\",\n            \"command\": \"mine.sh\"\n          }\n        ]\n      },\n"
         "      {\n        \"matcher\": \"Edit\",\n        \"hooks\": []\n      }\n    ]\n  }\n}",
         "removed the Stop hook lint.sh from .claude/settings.json\n\n1 removal made.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        write_file(h / ".agents/hooks" / c.hook_file, c.hook);
        write_file(h / ".claude/settings.json", c.settings);
        auto synced = h.run({"sync"});
        ASSERT_EQ(synced.code, 0) << synced.err;
        disable(h, "claude = false\n");
        auto r = h.run({"revert", "claude"});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(read_file(h / ".claude/settings.json"), c.after);
        EXPECT_EQ(h.run({"revert", "claude"}).out, "nothing of mirthlode's in claude — nothing to revert\n");
    }
}

// A directory revert cannot list is an error, and the rest of the revert
// still runs; a directory that is not there is nothing to revert.
TEST(Revert, ADirectoryThatCannotBeListedIsAnError) {
    struct Case {
        const char* name;
        const char* agent;
        const char* dir;  // the directory made unreadable; none: not made
        unsigned mode;
        const char* link;  // a link of mirthlode's that revert can remove
        std::string out;
        std::string err;  // {home} stands for the home directory
        int code;
    };
    const std::vector<Case> cases = {
        {"pi's skills", "pi", ".pi/agent/skills", 0000, ".pi/agent/AGENTS.md",
         "removed .pi/agent/AGENTS.md\n\n1 removal made.\n",
         "error: cannot list {home}/.pi/agent/skills: Permission denied\n", 1},
        {"pi's skills, nothing else", "pi", ".pi/agent/skills", 0000, nullptr, "",
         "error: cannot list {home}/.pi/agent/skills: Permission denied\n", 1},
        {"pi's skills, entries that cannot be looked at", "pi", ".pi/agent/skills", 0444, nullptr, "",
         "error: cannot read {home}/.pi/agent/skills/one: Permission denied\n", 1},
        {"gemini's rendered commands", "gemini", ".gemini/commands", 0000, ".gemini/GEMINI.md",
         "removed .gemini/GEMINI.md\n\n1 removal made.\n",
         "error: cannot list {home}/.gemini/commands: Permission denied\n", 1},
        {"pi's skills not there", "pi", nullptr, 0, nullptr, "nothing of mirthlode's in pi — nothing to revert\n", "",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        write_file(h / ".agents/AGENTS.md", "shared");
        write_file(h / ".agents/skills/one/SKILL.md", "one");
        fs::create_directories(h / ".pi/agent");
        fs::create_directories(h / ".gemini");
        if (c.link) fs::create_symlink(std::string(c.agent) == "pi" ? "../../.agents/AGENTS.md" : "../.agents/AGENTS.md",
                                       h / c.link);
        if (c.dir) {
            fs::create_directories(h / c.dir);
            // A link of mirthlode's, and a generated command file: revert's if it could see them.
            fs::create_directory_symlink("../../../.agents/skills/one", h / c.dir / "one");
            write_file(h / c.dir / "review.toml", "# mirthlode: this file is generated — edit the Commons instead\n");
            ASSERT_EQ(::chmod((h / c.dir).c_str(), c.mode), 0);
        }
        disable(h, std::string(c.agent) + " = false\n");
        std::string err = c.err;
        if (!err.empty()) err.replace(err.find("{home}"), 6, h.path().string());
        auto r = run_unprivileged(h, {"revert", c.agent});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.code, c.code);
        if (c.link) {
            EXPECT_FALSE(fs::is_symlink(h / c.link));
        }
        if (c.dir) {
            ASSERT_EQ(::chmod((h / c.dir).c_str(), 0755), 0);
            EXPECT_EQ(std::distance(fs::directory_iterator(h / c.dir), fs::directory_iterator()), 2);
        }
    }
}

// Where a directory's link texts are followed from is worked out once for
// the directory and holds for every entry in it: an agent directory that is
// a link to a folder elsewhere, whose links were made from either place, and
// one that lies in the Commons itself.
TEST(Revert, EveryLinkOfADirectoryIsJudgedFromWhereTheDirectoryReallyIs) {
    constexpr int count = 300;
    struct Case {
        const char* name;
        const char* real;         // where .claude/skills really is; none: it is a plain directory
        std::string link_prefix;  // the text of each link, before the entry's name
        int removed;
    };
    const std::vector<Case> cases = {
        {"a plain directory", nullptr, "../../.agents/skills/", count},
        {"a link to a folder as deep", "data/skills", "../../.agents/skills/", count},
        {"a link to a deeper folder, texts from where it really is", "data/agents/claude/skills",
         "../../../../.agents/skills/", count},
        // Followed from the link's own place these texts reach the Commons too.
        {"a link to a deeper folder, texts from the link's place", "data/agents/claude/skills",
         "../../.agents/skills/", count},
        {"a link into the Commons", ".agents/skills", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        fs::create_directories(h / ".claude");
        fs::create_directories(h / ".agents/skills");
        if (c.real) {
            fs::create_directories(h / c.real);
            fs::create_directory_symlink(h / c.real, h / ".claude/skills");
        } else {
            fs::create_directories(h / ".claude/skills");
        }
        std::string out;
        for (int i = 0; i < count; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "s%03d", i);
            write_file(h / ".agents/skills" / name / "SKILL.md", "x");
            if (!c.link_prefix.empty()) fs::create_directory_symlink(c.link_prefix + name, h / ".claude/skills" / name);
            out += "removed .claude/skills/" + std::string(name) + "\n";
        }
        // Beside them, what is not mirthlode's: a real folder and a foreign link.
        fs::create_directories(h / ".claude/skills/own");
        fs::create_directory_symlink("/elsewhere", h / ".claude/skills/theirs");
        disable(h, "claude = false\n");
        auto r = h.run({"revert", "claude"});
        if (c.removed == 0) {
            EXPECT_EQ(r.out, "nothing of mirthlode's in claude — nothing to revert\n");
        } else {
            EXPECT_EQ(r.out, out + "\n" + std::to_string(c.removed) + " removals made.\n");
        }
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(fs::is_directory(h / ".claude/skills/own"));
        EXPECT_TRUE(fs::is_symlink(h / ".claude/skills/theirs"));
        EXPECT_EQ(std::distance(fs::directory_iterator(h / ".agents/skills"), fs::directory_iterator()),
                  c.real && std::string(c.real) == ".agents/skills" ? count + 2 : count);
    }
}

}  // namespace

namespace {

// gemini keeps its servers and its hooks in one settings file: revert takes
// both out in one write and reports them in their turn; a file it cannot
// read, or write, is reported for the servers and again for the hooks.
TEST(Revert, ServersAndHooksInOneSettingsFile) {
    struct Case {
        const char* name;
        std::string settings;  // after sync; empty: as sync left it
        unsigned dir_mode;     // of ~/.gemini during the revert
        bool servers;          // the Commons still has its server
        std::string out;
        std::string err;  // {file} stands for the settings file
        std::string after;
        int code;
    };
    const std::string synced =
        "{\n  \"theme\": \"dark\",\n  \"hooks\": {\n    \"PreToolUse\": [],\n    \"AfterAgent\": [\n      {\n"
        "        \"hooks\": [\n          {\n            \"type\": \"command\",\n            \"command\": \"notify done\"\n"
        "          }\n        ]\n      }\n    ]\n  },\n  \"mcpServers\": {\n    \"x\": {\n      \"command\": \"npx\"\n"
        "    }\n  }\n}";
    const std::vector<Case> cases = {
        {"both taken out", "", 0755, true,
         "removed mcp server x from .gemini/settings.json\n"
         "removed the Stop hook notify done from .gemini/settings.json\n\n2 removals made.\n",
         "",
         "{\n  \"theme\": \"dark\",\n  \"hooks\": {\n    \"PreToolUse\": []\n  },\n  \"mcpServers\": {}\n}", 0},
        {"hooks alone", R"({"theme": "dark", "hooks": {"AfterAgent": [{"hooks": [{"type": "command", "command": "notify done"}]}]}})",
         0755, true, "removed the Stop hook notify done from .gemini/settings.json\n\n1 removal made.\n", "",
         "{\n  \"theme\": \"dark\",\n  \"hooks\": {}\n}", 0},
        {"not valid JSON", "{\"theme\": ", 0755, true, "",
         "error: {file} is not valid JSON (line 1, column 11) — left untouched\n"
         "error: {file} is not valid JSON (line 1, column 11) — left untouched\n",
         "{\"theme\": ", 1},
        {"not valid JSON, no servers to look for", "{\"theme\": ", 0755, false, "",
         "error: {file} is not valid JSON (line 1, column 11) — left untouched\n", "{\"theme\": ", 1},
        {"cannot be written", "", 0555, true, "",
         "error: cannot write {file}: Permission denied\nerror: cannot write {file}: Permission denied\n", synced, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        write_file(h / ".agents/mcp.json", R"({"mcpServers": {"x": {"command": "npx"}}})");
        write_file(h / ".agents/hooks/Stop.toml", "[[hook]]\ncommand = \"notify done\"\n");
        write_file(h / ".gemini/settings.json", R"({"theme": "dark", "hooks": {"PreToolUse": []}})");
        ASSERT_EQ(h.run({"sync"}).code, 0);
        ASSERT_EQ(read_file(h / ".gemini/settings.json"), synced);
        if (!c.settings.empty()) write_file(h / ".gemini/settings.json", c.settings);
        if (!c.servers) write_file(h / ".agents/mcp.json", R"({"mcpServers": {}})");
        disable(h, "gemini = false\n");
        ASSERT_EQ(::chmod((h / ".gemini").c_str(), c.dir_mode), 0);
        auto r = run_unprivileged(h, {"revert", "gemini"});
        ASSERT_EQ(::chmod((h / ".gemini").c_str(), 0755), 0);
        std::string err = c.err;
        const std::string file = (h / ".gemini/settings.json").string();
        for (auto at = err.find("{file}"); at != std::string::npos; at = err.find("{file}")) err.replace(at, 6, file);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(read_file(h / ".gemini/settings.json"), c.after);
    }
}

}  // namespace
