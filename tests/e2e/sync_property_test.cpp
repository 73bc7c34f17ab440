// Sync on generated machines: a Commons and agents' files made up from a
// fixed seed each. After one sync a second one changes nothing and says so,
// and the first changed only what is the system's own: its links, its
// rendered files, and in the agents' files only the Commons' own entries.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "fanout/commons_hooks.h"
#include "json/json.h"
#include "run.h"
#include "support/support.h"

using namespace testing_support;

namespace {

class Gen {
public:
    explicit Gen(unsigned seed) : rng_(seed) {}
    bool chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    template <class T>
    const T& one(const std::vector<T>& items) {
        return items[static_cast<std::size_t>(below(static_cast<int>(items.size())))];
    }

private:
    std::mt19937 rng_;
};

const std::vector<std::string> hook_commands = {"x", "y", "echo hi"};
const std::vector<std::string> matchers = {"", "A", "B"};

struct CommonsHookSpec {
    std::string event, command, matcher;
};

// One generated machine, and what its Commons holds that the checks need.
struct Machine {
    Home home;
    std::vector<CommonsHookSpec> hooks;
    std::set<std::string> servers;
    std::set<std::string> disabled;

    explicit Machine(Gen& g) {
        make_commons(g);
        make_agents(g);
    }

    fs::path at(const std::string& rel) const { return home / rel; }

    void make_commons(Gen& g) {
        for (const char* skill : {"alpha", "beta", "b.md"}) {
            if (g.chance(60)) write_file(at(".agents/skills/" + std::string(skill) + "/SKILL.md"), skill);
        }
        const std::vector<std::string> bodies = {"Do it.\n", "---\ndescription: \"Ship\"\n---\n\nShip it.\n",
                                                 "---\ndescription:\n---\nbody  \r\n", "---\nopen\n"};
        for (const char* command : {"a.md", "a.md.md", "deploy.md", "x.md.md"}) {
            if (g.chance(50)) write_file(at(".agents/commands/" + std::string(command)), g.one(bodies));
        }
        if (g.chance(50)) write_file(at(".agents/agents/helper.md"), "helper");
        if (g.chance(70)) write_file(at(".agents/AGENTS.md"), "shared\n");
        if (g.chance(70)) {
            json::Value list = json::Value::object();
            for (const char* name : {"files", "web", "srv", "b"}) {
                if (!g.chance(60)) continue;
                servers.insert(name);
                list[name] = server(g);
                if (g.chance(15)) {
                    list[name]["disabled"] = true;
                    disabled.insert(name);
                }
            }
            write_file(at(".agents/mcp.json"), json::Value{{"mcpServers", list}}.dump());
        }
        for (const char* event : {"PreToolUse", "Stop", "UserPromptSubmit", "PreCompact"}) {
            if (!g.chance(40)) continue;
            std::string text;
            for (int i = 0, n = 1 + g.below(4); i < n; ++i) {
                CommonsHookSpec hook{event, g.one(hook_commands), g.chance(40) ? "" : g.one(matchers)};
                text += "[[hook]]\ncommand = \"" + hook.command + "\"\n";
                if (!hook.matcher.empty() || g.chance(30)) text += "matcher = \"" + hook.matcher + "\"\n";
                if (g.chance(30)) text += "timeout = " + std::to_string(1 + g.below(3)) + "\n";
                hooks.push_back(hook);
            }
            write_file(at(".agents/hooks/" + std::string(event) + ".toml"), text);
        }
        const std::vector<std::string> custom = {
            "[custom.mine]\nroot = \".claude\"\nskills = \".claude/skills\"\n",
            "[custom.twin]\nroot = \".codex\"\nskills = \".codex/skills\"\n",
            "[custom.own]\nroot = \".own\"\nskills = \".own/x\"\ncommands = \".own/x\"\nagents = \".own/x\"\n",
        };
        if (g.chance(30)) {
            fs::create_directories(at(".own"));
            const int first = g.below(3);
            const std::string second = g.chance(30) ? custom[static_cast<std::size_t>((first + 1) % 3)] : "";
            write_file(at(".config/mirthlode/mirthlode.toml"), custom[static_cast<std::size_t>(first)] + second);
        }
    }

    static json::Value server(Gen& g) {
        if (g.chance(25)) return {{"type", "http"}, {"url", "https://example.com/" + std::to_string(g.below(2))}};
        json::Value entry = {{"command", g.chance(50) ? "npx" : "old"}};
        if (g.chance(50)) entry["args"] = json::Value::array({"-y", std::to_string(g.below(2))});
        if (g.chance(40)) entry["env"] = g.chance(30) ? json::Value::object() : json::Value{{"A", "1"}};
        return entry;
    }

    // The user's own hooks, under agent-side event names.
    static json::Value user_hooks(Gen& g, const std::vector<std::string>& events) {
        json::Value hooks = json::Value::object();
        for (const std::string& event : events) {
            if (!g.chance(50)) continue;
            json::Value groups = json::Value::array();
            for (int i = 0, n = 1 + g.below(2); i < n; ++i) {
                json::Value group = json::Value::object();
                const int kind = g.below(5);
                if (kind == 1) group["matcher"] = "C";
                if (kind == 2) group["matcher"] = g.one(matchers);
                if (kind == 3) group["matcher"] = 5;
                if (g.chance(5)) {
                    group["hooks"] = "not a list";
                    groups.push_back(group);
                    continue;
                }
                json::Value entries = json::Value::array();
                for (int j = 0, m = g.below(3); j < m; ++j) {
                    json::Value entry = {{"type", "command"}, {"command", g.one(hook_commands)}};
                    if (g.chance(20)) entry["timeout"] = 2;
                    if (g.chance(15)) entry["mine"] = true;
                    entries.push_back(entry);
                }
                group["hooks"] = entries;
                groups.push_back(group);
            }
            hooks[event] = groups;
        }
        return hooks;
    }

    void make_agents(Gen& g) {
        const std::vector<std::string> events = {"PreToolUse", "Stop", "UserPromptSubmit", "Notification"};
        if (g.chance(70)) {
            fs::create_directories(at(".claude"));
            if (g.chance(60)) {
                const json::Value settings = {{"model", "opus"}, {"hooks", user_hooks(g, events)}};
                write_file(at(".claude/settings.json"), settings.dump(2));
            }
            if (g.chance(50)) write_file(at(".claude/CLAUDE.md"), "# mine\n");
            if (g.chance(50)) {
                json::Value mine = {{"mine", {{"command", "mine"}}}};
                if (g.chance(50)) mine["files"] = {{"command", "drifted"}};
                write_file(at(".claude.json"), json::Value{{"theme", "dark"}, {"mcpServers", mine}}.dump());
            }
            if (g.chance(20)) write_file(at(".claude/skills/alpha/SKILL.md"), "my own alpha");
            if (g.chance(20)) {
                fs::create_directories(at(".claude/skills"));
                fs::create_symlink("../../elsewhere", at(".claude/skills/mine"));
            }
        }
        if (g.chance(70)) {
            fs::create_directories(at(".codex"));
            if (g.chance(70)) write_file(at(".codex/config.toml"), codex_config(g));
            if (g.chance(30)) write_file(at(".codex/hooks.json"), json::Value{{"hooks", user_hooks(g, events)}}.dump());
        }
        if (g.chance(60)) {
            fs::create_directories(at(".gemini"));
            if (g.chance(50)) {
                const json::Value settings = {{"theme", "x"},
                                              {"hooks", user_hooks(g, {"BeforeTool", "AfterAgent", "Stop"})}};
                write_file(at(".gemini/settings.json"), settings.dump(2));
            }
            if (g.chance(30)) write_file(at(".gemini/commands/a.toml"), "prompt = \"mine\"\n");
            if (g.chance(20)) write_file(at(".gemini/commands/gone.toml"),
                                         "# mirthlode: this file is generated — edit the Commons instead\n");
        }
        if (g.chance(40)) write_file(at(".cursor/mcp.json"), R"({"mcpServers": {"mine": {"command": "m"}}})");
        if (g.chance(30)) fs::create_directories(at(".config/opencode"));
        if (g.chance(30)) fs::create_directories(at(".roo"));
    }

    // Servers in every form codex reads: dotted keys and inline tables among
    // the top-level keys, tables under headers; comments around them.
    static std::string codex_config(Gen& g) {
        std::string top = "# codex settings\nmodel = \"o3\"  # the model\n";
        std::string tables;
        std::string section;  // under [mcp_servers]
        for (const char* name : {"files", "srv", "b", "mine"}) {
            if (!g.chance(40)) continue;
            const std::string about = "# about " + std::string(name) + "\n";
            const std::string key = std::string("mcp_servers.") + name;
            switch (g.below(4)) {
                case 0: tables += "\n" + about + "[" + key + "]\ncommand = \"old\"\n"; break;
                case 1: top += about + key + " = { command = \"old\" }  # inline\n"; break;
                case 2: section += about + name + ".command = \"old\"\n" + name + ".env.A = \"2\"\n"; break;
                default: top += about + key + ".command = \"old\"\n" + key + ".args = [\"1\"]\n";
            }
        }
        if (!section.empty() && top.find("mcp_servers.") == std::string::npos) {
            tables = "\n[mcp_servers]\n" + section + tables;
        }
        return top + tables + "\n[tui]\nnotifications = true\n";
    }
};

struct RunOutput {
    std::string out, err;
    int code;
};

RunOutput sync_in_process(Home& home) {
    core::EnvPairs env;
    for (const auto& [name, value] : home.env()) env.emplace_back(name, value);
    std::ostringstream out, err;
    const int code = run({"mirthlode", "sync"}, env, out, err);
    return {out.str(), err.str(), code};
}

RunOutput sync(Home& home, bool through_binary) {
    if (!through_binary) return sync_in_process(home);
    const RunResult r = home.run({"sync"});
    return {r.out, r.err, r.code};
}

bool is_ours(const std::string& shown) {
    return shown.rfind("-> ", 0) == 0 && shown.find(".agents/") != std::string::npos;
}

bool has_errors(const std::string& err) {
    return err.rfind("error:", 0) == 0 || err.find("\nerror:") != std::string::npos;
}

std::string group_matcher(const json::Value& group) {
    const auto found = group.find("matcher");
    return found != group.end() && found->is_string() ? found->get<std::string>() : "";
}

// Every entry of the agent's hooks that no Commons hook accounts for is still
// there, in a group with the same matcher.
void expect_user_hooks_kept(const Machine& m, const std::string& agent, const json::Value& before,
                            const json::Value& after, const std::string& file) {
    const json::Value empty = json::Value::object();
    const json::Value& was = before.contains("hooks") ? before["hooks"] : empty;
    const json::Value& now = after.contains("hooks") ? after["hooks"] : empty;
    for (const auto& [event, groups] : was.items()) {
        const json::Value* later_groups = now.contains(event) ? &now[event] : nullptr;
        for (const json::Value& group : groups) {
            if (!group["hooks"].is_array()) {
                const bool kept =
                    later_groups && std::any_of(later_groups->begin(), later_groups->end(),
                                                [&](const json::Value& g) { return json::equal(g, group); });
                EXPECT_TRUE(kept) << file << ": " << event << " " << group.dump() << " is gone";
                continue;
            }
            for (const json::Value& entry : group["hooks"]) {
                const std::string matcher = group_matcher(group);
                const std::string command = entry["command"];
                const std::string& name = event;  // clang 14 cannot capture a structured binding
                const bool commons = std::any_of(m.hooks.begin(), m.hooks.end(), [&](const CommonsHookSpec& h) {
                    return fanout::agent_event_name(agent, h.event) == name && h.command == command &&
                           h.matcher == matcher;
                });
                if (commons) continue;
                bool kept = false;
                if (later_groups) {
                    for (const json::Value& later : *later_groups) {
                        const bool listed = later.contains("hooks") && later["hooks"].is_array();
                        if (!listed || group_matcher(later) != matcher) continue;
                        for (const json::Value& other : later["hooks"]) kept = kept || json::equal(other, entry);
                    }
                }
                EXPECT_TRUE(kept) << file << ": " << event << " " << entry.dump() << " under `" << matcher
                                  << "` is gone";
            }
        }
    }
}

// What the first sync changed in one path must be the system's own.
void expect_owned_change(const Machine& m, const std::string& path, const std::string* before,
                         const std::string* after) {
    if ((before && is_ours(*before)) || (after && is_ours(*after))) return;  // a link of ours
    if (!before && after && *after == "dir") return;                          // a folder made for one
    static const std::string header = "# mirthlode: this file is generated";
    if ((before && before->rfind(header, 0) == 0) || (after && after->rfind(header, 0) == 0)) return;
    ASSERT_TRUE(after) << path << " was removed";
    if (path == ".claude/CLAUDE.md") {
        EXPECT_EQ(after->rfind(before ? *before : "", 0), 0u) << path << " lost its text";
        return;
    }
    const std::map<std::string, std::pair<std::string, std::string>> merged = {
        {".claude.json", {"", "mcpServers"}},          {".cursor/mcp.json", {"", "mcpServers"}},
        {".claude/settings.json", {"claude", ""}},     {".codex/hooks.json", {"codex", ""}},
        {".gemini/settings.json", {"gemini", "mcpServers"}}, {".config/opencode/opencode.json", {"", "mcp"}},
    };
    if (path == ".codex/config.toml") {
        std::istringstream lines(before ? *before : "");
        for (std::string line; std::getline(lines, line);) {
            // Comments stay, unless they are about a server the Commons
            // disables (and so removes); so do the top-level keys and the
            // user's own server.
            const bool removed = line.rfind("# about ", 0) == 0 && m.disabled.count(line.substr(8)) != 0;
            const bool kept = (line.rfind("#", 0) == 0 && !removed) || line.rfind("model", 0) == 0 ||
                              line.rfind("[tui]", 0) == 0 || line.rfind("notifications", 0) == 0 ||
                              line.find("mcp_servers.mine") != std::string::npos;
            if (kept) {
                EXPECT_NE(after->find(line), std::string::npos)
                    << path << " lost the line " << line << ":\n" << *before << "---\n" << *after;
            }
        }
        return;
    }
    const auto found = merged.find(path);
    ASSERT_NE(found, merged.end()) << path << " is not the system's to change:\n" << (before ? *before : "(none)")
                                   << "\n---\n" << *after;
    const json::Value was = before ? *json::parse(*before) : json::Value::object();
    const json::Value now = *json::parse(*after);
    const auto& [agent, servers_key] = found->second;
    for (const auto& [key, value] : was.items()) {
        if (key == "hooks" && !agent.empty()) continue;
        if (key == servers_key) {
            for (const auto& [name, server] : value.items()) {
                if (m.servers.count(name) == 0) {
                    EXPECT_TRUE(json::equal(now[key][name], server)) << path << " " << name;
                }
            }
            continue;
        }
        EXPECT_TRUE(now.contains(key) && json::equal(now[key], value)) << path << " changed " << key;
    }
    if (!agent.empty()) expect_user_hooks_kept(m, agent, was, now, path);
}

void check_machine(unsigned seed, bool through_binary) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Gen g(seed);
    Machine m(g);
    const auto before = snapshot(m.home.path());

    const RunOutput first = sync(m.home, through_binary);
    ASSERT_FALSE(has_errors(first.err)) << first.out << first.err;
    const auto after = snapshot(m.home.path());
    std::set<std::string> paths;
    for (const auto& [path, shown] : before) paths.insert(path);
    for (const auto& [path, shown] : after) paths.insert(path);
    for (const std::string& path : paths) {
        const auto was = before.find(path);
        const auto now = after.find(path);
        const std::string* a = was == before.end() ? nullptr : &was->second;
        const std::string* b = now == after.end() ? nullptr : &now->second;
        if (a && b && *a == *b) continue;
        expect_owned_change(m, path, a, b);
    }

    const RunOutput second = sync(m.home, through_binary);
    const std::string settled = "Everything is up to date.\n";
    EXPECT_TRUE(second.out.size() >= settled.size() &&
                second.out.compare(second.out.size() - settled.size(), settled.size(), settled) == 0)
        << "first:\n" << first.out << first.err << "second:\n" << second.out << second.err;
    EXPECT_FALSE(has_errors(second.err)) << second.err;
    EXPECT_EQ(second.code, 0);
    EXPECT_EQ(snapshot(m.home.path()), after);
}

// The machines live in memory where the system has a memory file system:
// every file a sync writes is flushed to disk, which costs more than all the
// rest of a run.
class InMemoryTemp {
public:
    InMemoryTemp() {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        std::error_code error;
        if (fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
    }
    ~InMemoryTemp() {
        if (old_) ::setenv("TMPDIR", old_->c_str(), 1);
        else ::unsetenv("TMPDIR");
    }

private:
    std::optional<std::string> old_;
};

TEST(SyncProperty, SecondSyncChangesNothingAndFirstTouchesOnlyItsOwn) {
    InMemoryTemp in_memory;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        // Every 30th machine through the built program, the rest in process.
        check_machine(seed, seed % 30 == 0);
        if (::testing::Test::HasFailure()) break;  // the first failing seed says enough
    }
}

}  // namespace
