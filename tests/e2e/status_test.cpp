// `mirthlode status [--json]`: whole runs over a throw-away home, exact
// output, exit codes, and nothing written.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/support.h"

using namespace testing_support;

namespace {

using Json = nlohmann::ordered_json;

// A Commons with a skill, a command, AGENTS.md, an MCP server and a Stop
// hook, and claude, codex and gemini installed.
struct FullHome : Home {
    FullHome() {
        const fs::path c = *this / ".agents";
        write_file(c / "skills/one/SKILL.md", "one");
        write_file(c / "commands/review.md", "---\ndescription: Review the change\n---\nReview it.\n");
        write_file(c / "AGENTS.md", "shared");
        write_file(c / "mcp.json", R"({"mcpServers": {"files": {"command": "npx", "args": ["fs"]}}})");
        write_file(c / "hooks/Stop.toml", "[[hook]]\ncommand = \"notify-send done\"\n");
        fs::create_directories(*this / ".claude");
        fs::create_directories(*this / ".codex");
        fs::create_directories(*this / ".gemini");
    }
};

// The report of FullHome once synced.
const std::string in_sync =
    "claude (.claude/skills)  1 linked\n"
    "claude (.claude/commands)  1 linked\n"
    "codex (.codex/prompts)  1 linked\n"
    "instructions (AGENTS.md)\n"
    "  imported          claude — imports the Commons instructions\n"
    "  linked            codex\n"
    "  linked            gemini\n"
    "mcp (mcp.json)\n"
    "  managed           files → claude\n"
    "  managed           files → codex\n"
    "  managed           files → gemini\n"
    "hooks\n"
    "  managed           Stop notify-send done → claude\n"
    "  managed           Stop notify-send done → codex\n"
    "  managed           Stop notify-send done → gemini\n"
    "rendered commands\n"
    "  managed           review → gemini\n"
    "\n"
    "Everything is in sync.\n";

Json parse(const RunResult& r) {
    Json doc = Json::parse(r.out);  // throws, failing the test, unless stdout is one JSON document
    EXPECT_EQ(r.out.back(), '\n');
    return doc;
}

}  // namespace

TEST(Status, MachineInOrderAgreesWithSync) {
    FullHome h;
    auto before = h.run({"status"});
    EXPECT_EQ(before.code, 2);
    EXPECT_TRUE(before.out.ends_with("\n13 items need attention — run `mirthlode sync`.\n")) << before.out;
    EXPECT_TRUE(h.run({"sync", "--dry-run"}).out.ends_with("\n13 changes would be made.\n"));

    ASSERT_EQ(h.run({"sync"}).code, 0);
    ASSERT_EQ(h.run({"sync"}).out, "Everything is up to date.\n");
    const auto files = snapshot(h.path());

    auto r = h.run({"status"});
    EXPECT_EQ(r.out, in_sync);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);

    auto j = h.run({"status", "--json"});
    EXPECT_EQ(j.err, "");
    EXPECT_EQ(j.code, 0);
    const Json doc = parse(j);
    std::string keys;
    for (const auto& [key, value] : doc.items()) keys += key + " ";
    EXPECT_EQ(keys, "commons instructions mcp hooks rendered clean actionable targets ");
    EXPECT_EQ(doc["commons"], (h / ".agents").string());
    EXPECT_EQ(doc["clean"], true);
    EXPECT_EQ(doc["actionable"], 0);
    EXPECT_EQ(doc["hooks"][2].dump(),
              R"({"agent":"gemini","event":"Stop","hook":"notify-send done","state":"managed","actionable":false})");
    // Every link section, empty ones included, in plan order.
    EXPECT_EQ(doc["targets"].dump(),
              R"([{"agent":"claude","family":"skills","dir":".claude/skills","entries":[)"
              R"({"name":"one","state":"linked","actionable":false}]},)"
              R"({"agent":"codex","family":"skills","dir":".codex/skills","entries":[]},)"
              R"({"agent":"claude","family":"commands","dir":".claude/commands","entries":[)"
              R"({"name":"review","state":"linked","actionable":false}]},)"
              R"({"agent":"codex","family":"commands","dir":".codex/prompts","entries":[)"
              R"({"name":"review","state":"linked","actionable":false}]},)"
              R"({"agent":"claude","family":"agents","dir":".claude/agents","entries":[]}])");

    EXPECT_EQ(snapshot(h.path()), files);
}

TEST(Status, WhatNeedsAttention) {
    Home h;
    for (auto s : {"alpha", "beta", "gamma", "delta", ".hidden"}) write_file(h / ".agents/skills" / s / "SKILL.md", s);
    write_file(h / ".claude/skills/gamma/SKILL.md", "gamma");     // variant-identical
    fs::create_symlink("../../.agents/skills/alpha", h / ".claude/skills/alpha");
    write_file(h / ".claude/skills/delta/SKILL.md", "my delta");  // variant
    fs::create_symlink("../../elsewhere", h / ".claude/skills/mine");
    const auto files = snapshot(h.path());

    auto r = h.run({"status"});
    EXPECT_EQ(r.out,
              "claude (.claude/skills)  1 linked\n"
              "  missing           beta — not linked yet\n"
              "  variant           delta — left alone\n"
              "  variant-identical gamma — identical to the Commons — could be re-linked\n"
              "  foreign           mine — not ours — left alone\n"
              "\n"
              "2 items need attention — run `mirthlode sync`.\n");
    const std::string warning =
        "warning: Commons skills/.hidden: dot-prefixed names are invisible to agents and are never synced\n";
    EXPECT_EQ(r.err, warning);
    EXPECT_EQ(r.code, 2);

    auto j = h.run({"status", "--json"});
    EXPECT_EQ(j.err, warning);
    EXPECT_EQ(j.code, 2);
    const Json doc = parse(j);
    EXPECT_EQ(doc["clean"], false);
    EXPECT_EQ(doc["actionable"], 2);
    EXPECT_EQ(doc["instructions"], Json::array());
    EXPECT_EQ(doc["targets"][0]["entries"][1].dump(), R"({"name":"beta","state":"missing","actionable":true})");
    EXPECT_EQ(doc["targets"][0]["entries"][3]["actionable"], true);  // variant-identical: could be re-linked
    EXPECT_EQ(snapshot(h.path()), files);
    EXPECT_FALSE(fs::exists(h / ".local"));  // no lock taken

    // Sync links what it can; the copy identical to the Commons is left for
    // the user to re-link, and status still asks for it.
    ASSERT_EQ(h.run({"sync"}).code, 0);
    auto after = h.run({"status"});
    EXPECT_TRUE(after.out.ends_with("\n1 items need attention — run `mirthlode sync`.\n")) << after.out;
    EXPECT_EQ(after.code, 2);
    fs::remove_all(h / ".claude/skills/gamma");
    ASSERT_EQ(h.run({"sync"}).code, 0);
    EXPECT_TRUE(h.run({"sync"}).out.ends_with("Everything is up to date.\n"));
    auto settled = h.run({"status"});
    EXPECT_TRUE(settled.out.ends_with("\nEverything is in sync.\n")) << settled.out;
    EXPECT_EQ(settled.code, 0);
}

TEST(Status, Failures) {
    struct Case {
        const char* name;
        std::string mcp_json;          // the Commons mcp.json
        std::string claude_json;       // claude's MCP file
        std::string err;               // {home} stands for the home directory
        bool report;                   // a report follows the errors
    };
    const std::vector<Case> cases = {
        {"broken agent file", R"({"mcpServers": {"files": {"command": "npx"}}})", "{oops",
         "error: {home}/.claude.json is not valid JSON (line 1, column 2) — left untouched\n", true},
        {"broken Commons mcp.json", "{\"mcpServers\": ", "{}",
         "error: {home}/.agents/mcp.json is not valid JSON: ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        write_file(h / ".agents/skills/one/SKILL.md", "one");
        write_file(h / ".agents/mcp.json", c.mcp_json);
        write_file(h / ".claude.json", c.claude_json);
        fs::create_directories(h / ".claude");
        std::string err = c.err;
        err.replace(err.find("{home}"), 6, h.path().string());

        for (bool json : {false, true}) {
            auto r = h.run(json ? std::vector<std::string>{"status", "--json"} : std::vector<std::string>{"status"});
            EXPECT_TRUE(r.err.starts_with(err)) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(r.code, 1);
            if (!c.report) {
                EXPECT_EQ(r.out, "");
            } else if (json) {
                EXPECT_EQ(parse(r)["actionable"], 1);
            } else {
                EXPECT_EQ(r.out, "claude (.claude/skills)  0 linked\n  missing           one — not linked yet\n\n"
                                 "1 items need attention — run `mirthlode sync`.\n");
            }
        }
    }
}

// After an error with nothing to sync, the closing line does not claim that
// all is well: what could not be read is not known to be in sync.
TEST(Status, AnErrorWithNothingActionableDoesNotEndInSync) {
    struct Case {
        const char* name;
        const char* agent_dir;
        const char* file;  // the agent's file that is not valid JSON
        const char* commons_file;
        const char* commons_text;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"an agent's MCP file", ".cursor", ".cursor/mcp.json", ".agents/mcp.json",
         R"({"mcpServers": {"files": {"command": "npx"}}})",
         "error: {home}/.cursor/mcp.json is not valid JSON (line 1, column 2) — left untouched\n"},
        {"an agent's hook settings", ".claude", ".claude/settings.json", ".agents/hooks/Stop.toml",
         "[[hook]]\ncommand = \"notify-send done\"\n", "error: {home}/.claude/settings.json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        fs::create_directories(h / c.agent_dir);
        write_file(h / c.file, "{oops");
        write_file(h / c.commons_file, c.commons_text);
        std::string err = c.err;
        err.replace(err.find("{home}"), 6, h.path().string());
        auto r = h.run({"status"});
        EXPECT_TRUE(r.err.starts_with(err)) << r.err;
        EXPECT_EQ(r.out, "\nNot everything could be checked — see the errors above.\n");
        EXPECT_EQ(r.code, 1);
    }
}

// A link directory that cannot be examined is an error, never "missing":
// status says what it could not read and exits 1, and sync makes nothing
// over it. Only a directory that is not there plans its links missing.
TEST(Status, ALinkDirectoryThatCannotBeExaminedIsAnError) {
    struct Case {
        const char* name;
        const char* dir;  // made with this mode; none: not made
        unsigned mode;
        std::string err;  // {home} stands for the home directory
        std::string status_out;
        int status_code;
    };
    const std::string not_checked = "\nNot everything could be checked — see the errors above.\n";
    const std::vector<Case> cases = {
        {"cannot be listed", ".claude/skills", 0000, "error: cannot list {home}/.claude/skills: Permission denied\n",
         not_checked, 1},
        {"entries cannot be looked at", ".claude/skills", 0444,
         "error: cannot read {home}/.claude/skills/foo: Permission denied\n", not_checked, 1},
        {"native agent's leftovers cannot be listed", ".codex/skills", 0000,
         "error: cannot list {home}/.codex/skills: Permission denied\n",
         "claude (.claude/skills)  1 linked\n" + not_checked, 1},
        {"not there", nullptr, 0, "", "claude (.claude/skills)  0 linked\n  missing           foo — not linked yet\n\n"
                                      "1 items need attention — run `mirthlode sync`.\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        write_file(h / ".agents/skills/foo/SKILL.md", "foo");
        fs::create_directories(h / ".claude");
        fs::create_directories(h / ".codex");
        if (c.dir) {
            fs::create_directories(h / c.dir);
            if (std::string(c.dir) == ".codex/skills") {
                fs::create_directories(h / ".claude/skills");
                fs::create_directory_symlink("../../.agents/skills/foo", h / ".claude/skills/foo");
            }
            fs::create_directory_symlink("../../.agents/skills/foo", h / c.dir / "foo");
            ASSERT_EQ(::chmod((h / c.dir).c_str(), c.mode), 0);
        }
        std::string err = c.err;
        if (!err.empty()) err.replace(err.find("{home}"), 6, h.path().string());

        auto status = run_unprivileged(h, {"status"});
        EXPECT_EQ(status.out, c.status_out);
        EXPECT_EQ(status.err, err);
        EXPECT_EQ(status.code, c.status_code);
        auto json = run_unprivileged(h, {"status", "--json"});
        EXPECT_EQ(json.err, err);
        EXPECT_EQ(json.code, c.status_code);
        EXPECT_EQ(parse(json)["actionable"], c.status_code == 2 ? 1 : 0);
        if (!c.dir) continue;

        auto sync = run_unprivileged(h, {"sync"});
        EXPECT_EQ(sync.err, err);
        EXPECT_EQ(sync.code, 1);
        ASSERT_EQ(::chmod((h / c.dir).c_str(), 0755), 0);
        EXPECT_EQ(fs::read_symlink(h / c.dir / "foo"), "../../.agents/skills/foo");
        EXPECT_EQ(std::distance(fs::directory_iterator(h / c.dir), fs::directory_iterator()), 1);
    }
}
