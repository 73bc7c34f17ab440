#include "fanout/hooks.h"
#include "fanout/hook_apply.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "json/json.h"
#include "support/support.h"

namespace fanout {
namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

json::Value parse_json(const std::string& text) { return *json::parse(text); }

TEST(HookEvents, GeminiNamesFourAndLacksTwo) {
    EXPECT_EQ(agent_event_name("gemini", "Stop"), "AfterAgent");
    EXPECT_EQ(agent_event_name("gemini", "PreToolUse"), "BeforeTool");
    EXPECT_EQ(agent_event_name("gemini", "PostToolUse"), "AfterTool");
    EXPECT_EQ(agent_event_name("gemini", "PreCompact"), "PreCompress");
    EXPECT_EQ(agent_event_name("gemini", "SessionStart"), "SessionStart");
    EXPECT_EQ(agent_event_name("gemini", "UserPromptSubmit"), std::nullopt);
    EXPECT_EQ(agent_event_name("gemini", "SubagentStop"), std::nullopt);
    EXPECT_EQ(agent_event_name("Gemini", "Stop"), "Stop");
    EXPECT_EQ(agent_event_name("claude", "SubagentStop"), "SubagentStop");
    EXPECT_EQ(agent_event_name("claude", "stop"), std::nullopt);
}

TEST(HookEntry, KeysInOrderAndTimeoutOnlyWhenSet) {
    EXPECT_EQ(hook_entry_json({"Stop", "say done", "Bash", 30}).dump(),
              R"({"type":"command","command":"say done","timeout":30})");
    EXPECT_EQ(hook_entry_json({"Stop", "", std::nullopt, std::nullopt}).dump(),
              R"({"type":"command","command":""})");
}

TEST(HookLabels, ForeignCommandsAndShownCommands) {
    EXPECT_EQ(foreign_command_label("  run   the  thing"), "run …");
    EXPECT_EQ(foreign_command_label("\"/opt/my tool/bin\""), "/opt/my tool/bin …");
    EXPECT_EQ(foreign_command_label("'/x y' --flag"), "/x y …");
    EXPECT_EQ(foreign_command_label("\"unclosed path"), "\"unclosed …");
    EXPECT_EQ(foreign_command_label("single"), "single");
    EXPECT_EQ(foreign_command_label("single \u3000"), "single");
    EXPECT_EQ(foreign_command_label(""), "");

    const std::string forty(40, 'a');
    EXPECT_EQ(shown_command(forty), forty);
    EXPECT_EQ(shown_command(forty + "b"), std::string(39, 'a') + "…");
    const std::string wide = "é" + std::string(40, 'x');  // counted in characters
    EXPECT_EQ(shown_command(wide), "é" + std::string(38, 'x') + "…");
}

// A home with claude and gemini installed and a Commons hooks directory.
struct HooksFixture : ::testing::Test {
    TempDir home;
    fs::path hooks_dir = home / ".agents/hooks";
    fs::path claude = home / ".claude/settings.json";
    fs::path gemini = home / ".gemini/settings.json";

    void SetUp() override {
        fs::create_directories(home / ".claude");
        fs::create_directories(home / ".gemini");
        fs::create_directories(hooks_dir);
    }
    void hook_file(const std::string& name, const std::string& text) { write_file(hooks_dir / name, text); }
    HookPlan plan() { return plan_hooks(home.path(), core::select_targets(home.path(), core::Config{}), hooks_dir); }
    std::vector<std::string> load(std::vector<CommonsHook>* hooks = nullptr) {
        std::vector<std::string> errors;
        auto loaded = load_commons_hooks(hooks_dir, errors);
        if (hooks) *hooks = loaded;
        return errors;
    }
};

TEST_F(HooksFixture, LoadsValidFilesInNameOrder) {
    hook_file("Stop.toml", "[[hook]]\ncommand = \"b\"\nmatcher = \"m\"\ntimeout = 5\n"
                           "[[hook]]\ncommand = \"c\"\ntype = 3\ntimeout = \"5\"\nmatcher = [\"m\"]\n");
    hook_file("PreToolUse.toml", "[[hook]]\ntype = \"command\"\ncommand = \"\"\nother = 1\n");
    hook_file("Stop.TOML", "not even toml");
    hook_file("notes.md", "ignored");

    std::vector<CommonsHook> hooks;
    EXPECT_TRUE(load(&hooks).empty());
    ASSERT_EQ(hooks.size(), 3u);
    EXPECT_EQ(hooks[0].event, "PreToolUse");
    EXPECT_EQ(hooks[0].command, "");
    EXPECT_EQ(hooks[1].event, "Stop");
    EXPECT_EQ(hooks[1].matcher, "m");
    EXPECT_EQ(hooks[1].timeout, 5);
    EXPECT_EQ(hooks[2].command, "c");
    EXPECT_FALSE(hooks[2].matcher);
    EXPECT_FALSE(hooks[2].timeout);
}

TEST_F(HooksFixture, EachBadFileCostsOnlyItself) {
    hook_file("stop.toml", "[[hook]]\ncommand = \"x\"\n");
    hook_file("Stop.toml", "[[hook]]\ncommand = \"x\"\n[[hook]]\nmatcher = \"y\"\n");
    hook_file("PreToolUse.toml", "hook = [{ command = \"x\" }]\n");
    hook_file("PostToolUse.toml", "[[hook]]\ncommand = \"x\"\ntype = \"prompt\"\n");
    hook_file("Notification.toml", "[[hook]]\ncommand = = 1\n");
    hook_file("PreCompact.toml", "[[hook]]\ncommand = \"kept\"\n");
    fs::create_directories(hooks_dir / "SessionStart.toml");

    std::vector<CommonsHook> hooks;
    const std::vector<std::string> errors = load(&hooks);
    const auto at = [&](const char* name) { return (hooks_dir / name).string(); };
    ASSERT_EQ(errors.size(), 6u);
    EXPECT_EQ(errors[0], at("Notification.toml") + " is not valid TOML (invalid TOML (line 2, column 11))");
    EXPECT_EQ(errors[1], at("PostToolUse.toml") +
                             ": `type = \"prompt\"` — mirthlode syncs command hooks only");
    EXPECT_EQ(errors[2], at("PreToolUse.toml") + ": expected one or more [[hook]] entries with a `command`");
    EXPECT_EQ(errors[3], "cannot read " + at("SessionStart.toml") + ": Is a directory");
    EXPECT_EQ(errors[4], at("Stop.toml") + ": every [[hook]] needs a `command`");
    EXPECT_EQ(errors[5], at("stop.toml") + ": `stop` is not a hook event — expected one of SessionStart, Stop, "
                                          "PreToolUse, PostToolUse, Notification, UserPromptSubmit, "
                                          "SubagentStop, PreCompact");
    ASSERT_EQ(hooks.size(), 1u);
    EXPECT_EQ(hooks[0].command, "kept");
}

TEST_F(HooksFixture, NoHooksDirectoryMeansAnEmptyPlan) {
    write_file(claude, R"({"hooks": {"Stop": [{"hooks": [{"type": "command", "command": "x"}]}]}})");
    fs::remove(hooks_dir);
    const HookPlan result = plan();
    EXPECT_TRUE(result.items.empty());
    EXPECT_TRUE(result.errors.empty());
    EXPECT_TRUE(result.settings_errors.empty());
}

TEST_F(HooksFixture, EveryStateForClaudeAndGemini) {
    hook_file("Stop.toml", "[[hook]]\ncommand = \"managed\"\ntimeout = 30\n"
                           "[[hook]]\ncommand = \"moved\"\nmatcher = \"Bash\"\n"
                           "[[hook]]\ncommand = \"blank\"\nmatcher = \"\"\n");
    hook_file("SubagentStop.toml", "[[hook]]\ncommand = \"sub\"\n");
    write_file(claude, R"({"hooks": {
        "Stop": [
            {"matcher": 5, "hooks": [{"timeout": 30, "command": "managed", "type": "command"},
                                     {"type": "command", "command": "blank"}]},
            {"matcher": "Edit", "hooks": [{"type": "command", "command": "moved"}]}
        ],
        "PostToolUse": [{"hooks": [{"type": "command", "command": "  mine  --now"}, {"command": 1}]}]
    }})");
    write_file(gemini, R"({"hooks": {"AfterAgent": [{"hooks": [{"type": "command", "command": "managed", "timeout": 30.0}]}]}})");

    const HookPlan result = plan();
    EXPECT_TRUE(result.errors.empty());
    EXPECT_TRUE(result.settings_errors.empty());
    std::vector<std::string> seen;
    for (const HookItem& item : result.items) {
        seen.push_back(item.agent + " " + item.event + " " + item.command + " " +
                       std::string(hook_state_word(item.state)));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "claude Stop managed managed",
                        "claude Stop moved missing",  // only under another matcher
                        "claude Stop blank managed",
                        "claude SubagentStop sub missing",
                        "claude Stop moved foreign",  // that other matcher's entry is not ours
                        "claude PostToolUse mine … foreign",
                        "gemini Stop managed drifted",  // 30.0 is not 30
                        "gemini Stop moved missing",
                        "gemini Stop blank missing",
                        "gemini SubagentStop sub unsupported",
                    }));
    const HookItem& unsupported = result.items[9];
    EXPECT_EQ(hook_note(unsupported), "gemini has no SubagentStop hook");
    EXPECT_FALSE(unsupported.agent_event);
    EXPECT_FALSE(unsupported.entry);
    EXPECT_EQ(result.items[6].agent_event, "AfterAgent");
    EXPECT_EQ(result.items[6].settings_path, gemini);
    EXPECT_EQ(result.items[6].key, "hooks");
    EXPECT_EQ(hook_line(result.items[5]),
              "  foreign      PostToolUse mine … → claude — not in the Commons — left alone");
}

TEST_F(HooksFixture, RepeatedCommandAndMatcherKeepsTheFirstWithOneWarning) {
    hook_file("Stop.toml", "[[hook]]\ncommand = \"x\"\ntimeout = 1\n"
                           "[[hook]]\ncommand = \"x\"\nmatcher = \"\"\ntimeout = 2\n"
                           "[[hook]]\ncommand = \"x\"\ntimeout = 3\n"
                           "[[hook]]\ncommand = \"x\"\nmatcher = \"B\"\n"
                           "[[hook]]\ncommand = \"y\"\nmatcher = \"B\"\n"
                           "[[hook]]\ncommand = \"y\"\nmatcher = \"B\"\n");
    hook_file("PreToolUse.toml", "[[hook]]\ncommand = \"x\"\n");
    fs::remove_all(home / ".gemini");
    const HookPlan result = plan();
    EXPECT_EQ(result.warnings,
              (std::vector<std::string>{
                  (hooks_dir / "Stop.toml").string() +
                      ": more than one [[hook]] runs `x` without a matcher — only the first is synced",
                  (hooks_dir / "Stop.toml").string() +
                      ": more than one [[hook]] runs `y` with the matcher `B` — only the first is synced",
              }));
    std::vector<std::string> seen;
    for (const HookItem& item : result.items) seen.push_back(item.event + " " + item.command + " " + item.matcher.value_or("-"));
    EXPECT_EQ(seen, (std::vector<std::string>{"PreToolUse x -", "Stop x -", "Stop x B", "Stop y B"}));
    EXPECT_EQ(result.items[1].entry->dump(), R"({"type":"command","command":"x","timeout":1})");
}

TEST_F(HooksFixture, AnEmptyCommonsMakesEveryAgentCommandForeign) {
    write_file(claude, R"({"hooks": {"Stop": [{"hooks": [{"command": "a"}]}, {"hooks": [{"command": "b c"}]}]}})");
    const HookPlan result = plan();
    ASSERT_EQ(result.items.size(), 2u);
    EXPECT_EQ(result.items[0].command, "a");
    EXPECT_EQ(result.items[1].command, "b …");
    EXPECT_EQ(result.items[1].state, HookState::foreign);
}

TEST_F(HooksFixture, UnusableSettingsCostOnlyTheirAgent) {
    hook_file("Stop.toml", "[[hook]]\ncommand = \"x\"\n");
    write_file(claude, "{ not json");
    write_file(gemini, R"({"hooks": []})");
    const HookPlan result = plan();
    ASSERT_EQ(result.settings_errors.size(), 2u);
    EXPECT_EQ(result.settings_errors[0].rfind(claude.string() + " is not valid JSON", 0), 0u);
    EXPECT_EQ(result.settings_errors[1], gemini.string() + ": `hooks` is not an object — left untouched");
    EXPECT_TRUE(result.items.empty());

    write_file(claude, "[1]");  // a root that is not an object plans as empty
    fs::remove(gemini);          // a missing file too
    const HookPlan again = plan();
    ASSERT_EQ(again.items.size(), 2u);
    EXPECT_EQ(again.items[0].state, HookState::missing);
    EXPECT_EQ(again.items[1].state, HookState::missing);
}

// The same command under another matcher is someone else's entry: applying
// a hook touches only entries of its own command and matcher.
TEST_F(HooksFixture, ApplyingKeepsHandWrittenHooksAndOtherKeys) {
    hook_file("Stop.toml", "[[hook]]\ncommand = \"moved\"\nmatcher = \"Bash\"\ntimeout = 9\n"
                           "[[hook]]\ncommand = \"new\"\n");
    hook_file("PreToolUse.toml", "[[hook]]\ncommand = \"pre\"\n");
    write_file(claude, R"({"model": "x", "hooks": {"Stop": [
        {"matcher": "Edit", "hooks": [{"type": "command", "command": "moved"}, {"command": "mine"}]},
        {"matcher": "Bash", "hooks": [{"command": "other"}]},
        {"hooks": [{"type": "command", "command": "moved"}]}
    ]}, "theme": "dark"})");
    write_file(gemini, R"({"ui": {"a": 1}})");

    const HookPlan result = plan();
    const std::vector<HookFileGroup> groups = group_actionable_hooks(result.items);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].items.size(), 3u);
    for (const HookFileGroup& group : groups) EXPECT_TRUE(apply_hook_group(group).ok());

    EXPECT_EQ(read_file(claude), R"({
  "model": "x",
  "hooks": {
    "Stop": [
      {
        "matcher": "Edit",
        "hooks": [
          {
            "type": "command",
            "command": "moved"
          },
          {
            "command": "mine"
          }
        ]
      },
      {
        "matcher": "Bash",
        "hooks": [
          {
            "command": "other"
          },
          {
            "type": "command",
            "command": "moved",
            "timeout": 9
          }
        ]
      },
      {
        "hooks": [
          {
            "type": "command",
            "command": "moved"
          },
          {
            "type": "command",
            "command": "new"
          }
        ]
      }
    ],
    "PreToolUse": [
      {
        "hooks": [
          {
            "type": "command",
            "command": "pre"
          }
        ]
      }
    ]
  },
  "theme": "dark"
})");
    EXPECT_EQ(parse_json(read_file(gemini)).dump(),
              R"({"ui":{"a":1},"hooks":{"BeforeTool":[{"hooks":[{"type":"command","command":"pre"}]}],)"
              R"("AfterAgent":[{"matcher":"Bash","hooks":[{"type":"command","command":"moved","timeout":9}]},)"
              R"({"hooks":[{"type":"command","command":"new"}]}]}})");

    for (const HookItem& item : plan().items) {
        EXPECT_TRUE(item.state == HookState::managed || item.state == HookState::foreign) << item.command;
    }
}

// An entry is judged by the first copy of its command under its matcher;
// the write takes every such copy out, drops a group that this empties (not
// one that was empty already, nor one an earlier hook joined) and adds the
// entry to the first group left with the matcher.
TEST_F(HooksFixture, CopiesUnderTheMatcherGoAndTheEntryJoinsTheFirstGroupLeft) {
    struct Case {
        const char* name;
        const char* commons;  // Stop.toml
        const char* before;   // claude's "Stop" list
        const char* states;   // the Commons hooks' states, in order
        const char* after;
    };
    const Case cases[] = {
        {"an emptied group goes",
         "[[hook]]\ncommand = \"x\"\nmatcher = \"M\"\ntimeout = 5\n",
         R"([{"matcher": "M", "hooks": [{"type": "command", "command": "x"}]},
             {"matcher": "N", "hooks": [{"command": "y"}]}, {"matcher": "M", "hooks": [{"command": "z"}]}])",
         "drifted",
         R"([{"matcher":"N","hooks":[{"command":"y"}]},)"
         R"({"matcher":"M","hooks":[{"command":"z"},{"type":"command","command":"x","timeout":5}]}])"},
        {"a group an earlier hook joined stays",
         "[[hook]]\ncommand = \"a\"\nmatcher = \"M\"\n[[hook]]\ncommand = \"x\"\nmatcher = \"M\"\ntimeout = 5\n",
         R"([{"matcher": "M", "hooks": [{"type": "command", "command": "x"}]}])",
         "missing drifted",
         R"([{"matcher":"M","hooks":[{"type":"command","command":"a"},{"type":"command","command":"x","timeout":5}]}])"},
        {"the first copy decides, every copy goes, an empty group stays",
         "[[hook]]\ncommand = \"x\"\nmatcher = \"M\"\n",
         R"([{"matcher": "M", "hooks": []}, {"matcher": "M", "hooks": [{"command": "x", "timeout": 1}, {"command": "w"}]},
             {"matcher": "K", "hooks": [{"command": "x"}]},
             {"matcher": "M", "hooks": [{"type": "command", "command": "x"}]}])",
         "drifted",
         R"([{"matcher":"M","hooks":[{"type":"command","command":"x"}]},{"matcher":"M","hooks":[{"command":"w"}]},)"
         R"({"matcher":"K","hooks":[{"command":"x"}]}])"},
    };
    fs::remove_all(home / ".gemini");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hook_file("Stop.toml", c.commons);
        write_file(claude, std::string(R"({"hooks": {"Stop": )") + c.before + "}}");
        const HookPlan planned = plan();
        std::string states;
        for (const HookItem& item : planned.items) {
            if (item.state == HookState::foreign) continue;
            states += (states.empty() ? "" : " ") + std::string(hook_state_word(item.state));
        }
        EXPECT_EQ(states, c.states);
        for (const HookFileGroup& group : group_actionable_hooks(planned.items)) {
            ASSERT_TRUE(apply_hook_group(group).ok());
        }
        EXPECT_EQ(parse_json(read_file(claude)).at("hooks").at("Stop").dump(), c.after);
    }
}

TEST_F(HooksFixture, ApplyingWritesAFileWholeOrNotAtAll) {
    hook_file("Stop.toml", "[[hook]]\ncommand = \"a\"\n");
    hook_file("PreToolUse.toml", "[[hook]]\ncommand = \"b\"\n");
    const std::string settings = R"({"hooks": {"Stop": "oops"}})";
    write_file(claude, settings);
    fs::remove_all(home / ".gemini");

    const HookPlan planned = plan();
    const std::vector<HookFileGroup> groups = group_actionable_hooks(planned.items);
    ASSERT_EQ(groups.size(), 1u);
    const auto applied = apply_hook_group(groups[0]);
    ASSERT_FALSE(applied.ok());
    EXPECT_EQ(applied.error().message, claude.string() + ": `hooks.Stop` is not a list");
    EXPECT_EQ(read_file(claude), settings);

    write_file(claude, "[]");
    const auto refused = apply_hook_group(groups[0]);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, claude.string() + " does not hold a JSON object — left untouched");
    EXPECT_EQ(read_file(claude), "[]");
}

// The write starts from the settings as planning read them, unless the file
// changed since: then from what it holds now.
TEST_F(HooksFixture, ApplyingStartsFromTheFileAsItIsNow) {
    hook_file("Stop.toml", "[[hook]]\ncommand = \"a\"\n");
    fs::remove_all(home / ".gemini");
    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed);
        write_file(claude, R"({"theme": "dark"})");
        const HookPlan planned = plan();
        const std::vector<HookFileGroup> groups = group_actionable_hooks(planned.items);
        ASSERT_EQ(groups.size(), 1u);
        if (changed) write_file(claude, R"({"theme": "light", "model": "x"})");
        ASSERT_TRUE(apply_hook_group(groups[0]).ok());
        EXPECT_EQ(parse_json(read_file(claude)).dump(),
                  std::string(changed ? R"({"theme":"light","model":"x",)" : R"({"theme":"dark",)") +
                      R"("hooks":{"Stop":[{"hooks":[{"type":"command","command":"a"}]}]}})");
    }
}

}  // namespace
}  // namespace fanout
