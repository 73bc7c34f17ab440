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
