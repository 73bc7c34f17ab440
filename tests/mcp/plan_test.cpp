#include <gtest/gtest.h>

#include "mcp/merge.h"
#include "mcp/plan.h"
#include "support/support.h"

namespace {

using mcp::McpState;
using testing_support::TempDir;
using testing_support::write_file;

// A home with some agents installed and a Commons mcp.json.
struct Machine {
    TempDir home;
    core::Config config;
    core::EnvPairs env;

    core::RunContext context() const {
        core::RunContext ctx;
        ctx.home = home.path();
        ctx.commons = home / ".agents";
        ctx.env = core::EnvMap(env);
        return ctx;
    }
    void install(const char* dir) { std::filesystem::create_directories(home / dir); }
    void commons(const std::string& servers) { write_file(home / ".agents" / "mcp.json", servers); }
    std::vector<core::Target> targets() const { return core::select_targets(home.path(), config); }
    mcp::McpPlan plan() const { return mcp::plan_mcp(context(), config, targets(), home / ".agents" / "mcp.json"); }
};

// "agent/server:state" per item, keys of drifted items in brackets.
std::string summary(const mcp::McpPlan& plan) {
    std::string out;
    for (const auto& item : plan.items) {
        out += std::string(item.agent) + "/" + item.server + ":" + std::string(mcp::state_word(item.state));
        if (!item.keys.empty()) {
            out += "[";
            for (const auto& key : item.keys) out += key + (&key == &item.keys.back() ? "" : ",");
            out += "]";
        }
        out += " ";
    }
    return out;
}

const mcp::McpItem* find(const mcp::McpPlan& plan, const std::string& agent, const std::string& server) {
    for (const auto& item : plan.items) {
        if (item.agent == agent && item.server == server) return &item;
    }
    return nullptr;
}

TEST(PlanMcp, NoCommonsFileOrADirectoryIsAnEmptyPlan) {
    Machine m;
    m.install(".claude");
    write_file(m.home / ".claude.json", R"({"mcpServers":{"x":{"command":"x"}}})");
    auto plan = m.plan();
    EXPECT_TRUE(plan.items.empty() && plan.errors.empty() && plan.read_errors.empty());
    std::filesystem::create_directories(m.home / ".agents" / "mcp.json");
    plan = m.plan();
    EXPECT_TRUE(plan.items.empty() && plan.errors.empty() && plan.read_errors.empty());
}

TEST(PlanMcp, BrokenCommonsFileIsTheOnlyError) {
    Machine m;
    m.install(".claude");
    write_file(m.home / ".claude.json", "not json");
    m.commons(R"({"mcpServers":{"a":"npx a"}})");
    auto plan = m.plan();
    EXPECT_TRUE(plan.items.empty());
    EXPECT_TRUE(plan.read_errors.empty());
    ASSERT_EQ(plan.errors.size(), 1u);
    EXPECT_EQ(plan.errors[0], (m.home / ".agents" / "mcp.json").string() + ": server `a` must be an object");
}

TEST(PlanMcp, EmptyCommonsMakesEveryHeldServerForeign) {
    Machine m;
    m.install(".claude");
    m.install(".codex");
    m.install(".gemini");
    m.commons(R"({"mcpServers":{}})");
    write_file(m.home / ".claude.json", R"({"mcpServers":{"z":{},"a":{}}})");
    write_file(m.home / ".codex" / "config.toml", "[mcp_servers.q]\ncommand = \"q\"\n");
    EXPECT_EQ(summary(m.plan()), "claude/z:foreign claude/a:foreign codex/q:foreign ");
}

TEST(PlanMcp, EveryStateInPlanningOrder) {
    Machine m;
    for (const char* dir : {".claude", ".codex", ".cursor", ".pi", ".roo"}) m.install(dir);
    m.commons(R"({"mcpServers":{
        "e":{"command":"e"},
        "d":{"command":"d","disabled":true},
        "c":{"command":"c","args":["1"],"env":{"A":"1"}},
        "b":{"command":"b"},
        "a":{"type":"stdio","command":"a","args":["x"]}}})");
    write_file(m.home / ".claude.json", R"({"theme":"dark","mcpServers":{
        "x":{"command":"x"},
        "a":{"args":["x"],"command":"a","type":"stdio"},
        "d":{"command":"d"}}})");
    write_file(m.home / ".codex" / "config.toml", "[mcp_servers.e]\ncommand = \"e\"\n[mcp_servers.a]\ncommand = \"a\"\nargs = [\"x\"]\n");
    write_file(m.home / ".cursor" / "mcp.json", R"({"mcpServers":{"c":{"command":"c","args":["2"],"env":{},"cwd":"/"}}})");
    m.config.mcp["e"].agents = std::vector<std::string>{"claude"};
    auto plan = m.plan();
    EXPECT_TRUE(plan.errors.empty());
    EXPECT_TRUE(plan.read_errors.empty());
    EXPECT_EQ(summary(plan),
              "claude/a:managed claude/b:missing claude/c:missing claude/d:disabled claude/e:missing claude/x:foreign "
              "codex/a:managed codex/b:missing codex/c:missing codex/e:stranded "
              "cursor/a:missing cursor/b:missing cursor/c:drifted[args,cwd,env] ");

    const auto* claude_a = find(plan, "claude", "a");
    EXPECT_EQ(claude_a->file, m.home / ".claude.json");
    EXPECT_EQ(claude_a->servers_key, "mcpServers");
    EXPECT_FALSE(claude_a->toml);
    EXPECT_EQ(find(plan, "claude", "b")->expected->dump(), R"({"command":"b"})");
    const auto* codex_b = find(plan, "codex", "b");
    EXPECT_EQ(codex_b->file, m.home / ".codex" / "config.toml");
    EXPECT_EQ(codex_b->servers_key, "mcp_servers");
    EXPECT_TRUE(codex_b->toml);
    for (const auto& item : plan.items) {
        bool has_expected = item.state == McpState::missing || item.state == McpState::drifted;
        EXPECT_EQ(item.expected.has_value(), has_expected) << item.agent << "/" << item.server;
    }
    EXPECT_EQ(mcp::mcp_note(*find(plan, "cursor", "c")), "differs from the Commons (args, cwd, env) — will be restored");
}

TEST(PlanMcp, WithoutManagedRecordsTheRestIsTheSame) {
    Machine m;
    for (const char* dir : {".claude", ".cursor"}) m.install(dir);
    m.commons(R"({"mcpServers":{"a":{"command":"a"},"b":{"command":"b"},"d":{"command":"d","disabled":true}}})");
    write_file(m.home / ".claude.json", R"({"mcpServers":{"a":{"command":"a"},"b":{"command":"old"},"d":{"command":"d"}}})");
    write_file(m.home / ".cursor" / "mcp.json", R"({"mcpServers":{"x":{"command":"x"},"a":{"command":"a"}}})");
    EXPECT_EQ(summary(m.plan()),
              "claude/a:managed claude/b:drifted[command] claude/d:disabled cursor/a:managed cursor/b:missing "
              "cursor/x:foreign ");
    auto lean = mcp::plan_mcp(m.context(), m.config, m.targets(), m.home / ".agents" / "mcp.json", false);
    EXPECT_EQ(summary(lean), "claude/b:drifted[command] claude/d:disabled cursor/b:missing cursor/x:foreign ");
}

// The merge starts from the file as planning read it, unless the file has
// changed since: an edit made in between is kept. A read handed over is
// merged into where it stands only while nothing else holds it.
TEST(PlanMcp, MergeStartsFromThePlannedReadUnlessTheFileChanged) {
    enum class Given { pointer, handed_over, handed_over_while_held };
    for (Given given : {Given::pointer, Given::handed_over, Given::handed_over_while_held})
    for (bool edited : {false, true}) {
        for (const char* dir : {".claude", ".codex"}) {
            SCOPED_TRACE(static_cast<int>(given));
            Machine m;
            m.install(dir);
            m.commons(R"({"mcpServers":{"a":{"command":"a"}}})");
            const bool toml = std::string(dir) == ".codex";
            const auto file = toml ? m.home / ".codex" / "config.toml" : m.home / ".claude.json";
            write_file(file, toml ? "model = \"o3\"\n" : R"({"theme":"dark"})");
            auto plan = m.plan();
            ASSERT_EQ(plan.items.size(), 1u);
            mcp::McpItem& item = plan.items[0];
            ASSERT_TRUE(item.read);
            const auto held = given == Given::handed_over_while_held ? item.read : nullptr;
            if (edited) write_file(file, toml ? "model = \"o4\"\nextra = 1\n" : R"({"theme":"light","extra":1})");
            auto merged = given == Given::pointer
                              ? mcp::merge_servers_into_agent_file(item.file, item.servers_key, item.toml, {&item},
                                                                   item.read.get())
                              : mcp::merge_servers_into_agent_file(item.file, item.servers_key, item.toml, {&item},
                                                                   std::move(item.read));
            ASSERT_TRUE(merged) << merged.error().message;
            if (held) {
                EXPECT_EQ(toml ? held->parsed->render() : held->document.dump(),
                          toml ? "model = \"o3\"\n" : R"({"theme":"dark"})");
            }
            const std::string text = testing_support::read_file(file);
            const std::string expected =
                toml ? (edited ? "model = \"o4\"\nextra = 1\n" : "model = \"o3\"\n") + std::string("\n[mcp_servers.a]\ncommand = \"a\"\n")
                     : (edited ? "{\n  \"theme\": \"light\",\n  \"extra\": 1,\n" : "{\n  \"theme\": \"dark\",\n") +
                           std::string("  \"mcpServers\": {\n    \"a\": {\n      \"command\": \"a\"\n    }\n  }\n}");
            EXPECT_EQ(text, expected) << dir << " edited=" << edited;
        }
    }
}

TEST(PlanMcp, DisabledWinsOverTheAllowlistAndAnEmptyAllowlistStrandsCopiesOnly) {
    Machine m;
    m.install(".claude");
    m.install(".cursor");
    m.commons(R"({"mcpServers":{"off":{"command":"o","disabled":true},"none":{"command":"n"}}})");
    // Outside the allowlist an entry is mirthlode's only while it is a copy.
    write_file(m.home / ".claude.json", R"({"mcpServers":{"off":{"command":"o"},"none":{}}})");
    write_file(m.home / ".cursor" / "mcp.json", R"({"mcpServers":{"none":{"command":"n"},"off":{"command":"mine"}}})");
    m.config.mcp["off"].agents = std::vector<std::string>{"cursor"};
    m.config.mcp["none"].agents = std::vector<std::string>{};
    EXPECT_EQ(summary(m.plan()), "claude/none:excluded claude/off:disabled cursor/none:stranded cursor/off:disabled ");
}

TEST(PlanMcp, AllowlistMatchesExactBytes) {
    Machine m;
    m.install(".claude");
    m.commons(R"({"mcpServers":{"s":{"command":"s"}}})");
    m.config.mcp["s"].agents = std::vector<std::string>{"Claude", "claude "};
    EXPECT_EQ(summary(m.plan()), "");
    m.config.mcp["s"].agents->push_back("claude");
    EXPECT_EQ(summary(m.plan()), "claude/s:missing ");
}

TEST(PlanMcp, UnsetVariableIsOneErrorAndNoItems) {
    Machine m;
    for (const char* dir : {".claude", ".codex", ".gemini", ".cline"}) m.install(dir);
    m.commons(R"({"mcpServers":{"a":{"command":"${env:TOKEN}"},"b":{"command":"b"}}})");
    write_file(m.home / ".claude.json", R"({"mcpServers":{"a":{"command":"old"}}})");
    auto plan = m.plan();
    EXPECT_EQ(plan.errors, std::vector<std::string>{"mcp server `a`: ${env:TOKEN} is not set in the environment"});
    EXPECT_EQ(summary(plan), "claude/b:missing codex/b:missing gemini/b:missing cline/b:missing ");
}

TEST(PlanMcp, ResolvedValuesAndTweaks) {
    Machine m;
    m.install(".claude");
    m.install(".gemini");
    m.env = {{"TOKEN", "s3cret"}, {"REGION", "eu"}};
    m.commons(R"({"mcpServers":{
        "env":{"command":"e","env":{"T":"${env:TOKEN}"}},
        "tweaked":{"command":"t","args":["a"]},
        "plain":{"command":"p"}}})");
    m.config.mcp["tweaked"].tweaks["gemini"] = json::Value::parse(R"({"args":["--region=${env:REGION}"],"trust":true})");
    auto plan = m.plan();
    EXPECT_EQ(summary(plan), "claude/env:missing claude/plain:missing claude/tweaked:missing "
                             "gemini/env:missing gemini/plain:missing gemini/tweaked:missing ");
    EXPECT_TRUE(find(plan, "claude", "env")->resolved);
    EXPECT_EQ(find(plan, "claude", "env")->expected->dump(), R"({"command":"e","env":{"T":"s3cret"}})");
    EXPECT_FALSE(find(plan, "claude", "tweaked")->resolved);
    EXPECT_FALSE(find(plan, "claude", "plain")->resolved);
    EXPECT_TRUE(find(plan, "gemini", "tweaked")->resolved);
    EXPECT_EQ(find(plan, "gemini", "tweaked")->expected->dump(), R"({"command":"t","args":["--region=eu"],"trust":true})");
}

TEST(PlanMcp, UnreadableAgentFileCostsOnlyThatAgent) {
    Machine m;
    m.install(".codex");
    m.install(".cursor");
    m.commons(R"({"mcpServers":{"a":{"command":"a"}}})");
    write_file(m.home / ".codex" / "config.toml", "[mcp_servers.a]\ncommand = \n");
    auto plan = m.plan();
    EXPECT_EQ(summary(plan), "cursor/a:missing ");
    ASSERT_EQ(plan.read_errors.size(), 1u);
    EXPECT_EQ(plan.read_errors[0],
              (m.home / ".codex" / "config.toml").string() + ": invalid TOML (line 2, column 11) — left untouched");
    EXPECT_TRUE(plan.errors.empty());
}

TEST(PlanMcp, SkipsCustomSwitchedOffAndNonMergingAgents) {
    Machine m;
    for (const char* dir : {".claude", ".cursor", ".pi", ".omp", "tools/mine"}) m.install(dir);
    m.commons(R"({"mcpServers":{"a":{"command":"a"}}})");
    m.config.disabled = {"claude"};
    m.config.custom.push_back(core::CustomAgent{"mine", "tools/mine", {}});
    EXPECT_EQ(summary(m.plan()), "cursor/a:missing ");
}

TEST(PlanMcpAgent, AppendsToAPlanWithoutRepeatingErrors) {
    Machine m;
    m.install(".claude");
    mcp::McpServers servers;
    servers.set("a", json::Value::parse(R"({"command":"${env:MISSING}"})"));
    mcp::McpPlan plan;
    plan.errors.push_back("mcp server `a`: ${env:MISSING} is not set in the environment");
    mcp::plan_mcp_agent(m.context(), m.config, m.targets(), servers, plan);
    EXPECT_EQ(plan.errors.size(), 1u);
    EXPECT_TRUE(plan.items.empty());
}

// A listing keeps the states alone, and a check for errors gives the errors
// a full plan gives, reading an agent's file only when a server does not
// translate for it.
TEST(PlanMcpAgent, EachDetailKeepsWhatItsCallerNeeds) {
    Machine m;
    for (const char* dir : {".claude", ".codex", ".cursor"}) m.install(dir);
    write_file(m.home / ".claude.json", R"({"mcpServers":{"a":{"command":"old"},"x":{"command":"x"}}})");
    write_file(m.home / ".codex" / "config.toml",
               "[mcp_servers.a]\ncommand = \"a\"\n[mcp_servers.b]\ncommand = \"old\"\n");
    write_file(m.home / ".cursor" / "mcp.json", "not json");
    // With a server that does not translate (T is not set), then without.
    for (const char* commons :
         {R"({"mcpServers":{"a":{"command":"a"},"b":{"command":"b"},"u":{"command":"${env:T}"}}})",
          R"({"mcpServers":{"a":{"command":"a"},"b":{"command":"b"}}})"}) {
        m.commons(commons);
        auto servers = mcp::parse_commons_servers(m.home / ".agents" / "mcp.json");
        ASSERT_TRUE(servers);
        auto plan = [&](mcp::McpDetail detail) {
            mcp::McpPlan made;
            mcp::plan_mcp_agent(m.context(), m.config, m.targets(), *servers, made, true, nullptr, detail);
            return made;
        };
        const mcp::McpPlan full = plan(mcp::McpDetail::full);
        const mcp::McpPlan states = plan(mcp::McpDetail::states);
        const mcp::McpPlan errors = plan(mcp::McpDetail::errors);

        EXPECT_EQ(summary(full), "claude/a:drifted[command] claude/b:missing claude/x:foreign codex/a:managed "
                                 "codex/b:drifted[command] ") << commons;
        EXPECT_EQ(summary(states), "claude/a:drifted claude/b:missing claude/x:foreign codex/a:managed "
                                   "codex/b:drifted ") << commons;
        for (const auto& item : states.items) EXPECT_FALSE(item.expected || item.read) << item.server;
        EXPECT_EQ(states.errors, full.errors);
        EXPECT_EQ(states.read_errors, full.read_errors);

        EXPECT_TRUE(errors.items.empty());
        EXPECT_EQ(errors.errors, full.errors);
        EXPECT_EQ(errors.read_errors, full.errors.empty() ? std::vector<std::string>{} : full.read_errors) << commons;
    }
}

TEST(McpNote, EveryState) {
    mcp::McpItem item;
    const std::vector<std::pair<McpState, std::string>> notes = {
        {McpState::managed, ""},
        {McpState::missing, "not in this agent's config yet"},
        {McpState::drifted, "differs from the Commons — will be restored"},
        {McpState::foreign, "not in the Commons — left alone"},
        {McpState::excluded, "not allowlisted for this agent — its own entry, left alone"},
        {McpState::stranded, "still here but no longer allowlisted — `mirthlode mcp remove` clears it"},
        {McpState::disabled, "disabled in the Commons — will be removed"},
    };
    for (const auto& [state, note] : notes) {
        item.state = state;
        EXPECT_EQ(mcp::mcp_note(item), note);
    }
    item.state = McpState::drifted;
    item.keys = {"args"};
    EXPECT_EQ(mcp::mcp_note(item), "differs from the Commons (args) — will be restored");
    EXPECT_TRUE(mcp::is_actionable(McpState::missing) && mcp::is_actionable(McpState::drifted) &&
                mcp::is_actionable(McpState::disabled));
    EXPECT_FALSE(mcp::is_actionable(McpState::managed) || mcp::is_actionable(McpState::foreign) ||
                 mcp::is_actionable(McpState::stranded) || mcp::is_actionable(McpState::excluded));
}

}  // namespace
