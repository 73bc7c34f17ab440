// What the merge writes, the next plan must read back as managed.
#include <gtest/gtest.h>

#include "mcp/merge.h"
#include "mcp/plan.h"
#include "support/support.h"

namespace {

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

struct Home {
    TempDir dir;
    core::Config config;
    core::RunContext context(core::EnvPairs env) const {
        core::RunContext ctx;
        ctx.home = dir.path();
        ctx.env = core::EnvMap(env);
        return ctx;
    }
};

// Merges every actionable item per file, as a sync does; the merge errors.
std::vector<std::string> apply(const mcp::McpPlan& plan) {
    std::vector<std::string> errors;
    std::vector<std::filesystem::path> files;
    for (const auto& item : plan.items) {
        if (std::find(files.begin(), files.end(), item.file) == files.end()) files.push_back(item.file);
    }
    for (const auto& file : files) {
        std::vector<const mcp::McpItem*> items;
        for (const auto& item : plan.items) {
            if (item.file == file && item.expected && item.state != mcp::McpState::managed) items.push_back(&item);
        }
        if (items.empty()) continue;
        auto outcome = mcp::merge_servers_into_agent_file(file, items[0]->servers_key, items[0]->toml, items);
        if (!outcome) errors.push_back(outcome.error().message);
    }
    return errors;
}

TEST(RoundTrip, EveryDialectReadsBackAsManaged) {
    Home home;
    for (const char* dir : {".claude", ".codex", ".config/opencode", ".gemini", ".cursor", ".codeium/windsurf", ".cline"}) {
        std::filesystem::create_directories(home.dir / dir);
    }
    write_file(home.dir / ".codex" / "config.toml", "# mine\r\nmodel = \"o3\"\r\n\r\n[mcp_servers.\"a.b\"]\r\ncommand = \"x\"\r\n");
    write_file(home.dir / ".agents" / "mcp.json", R"({"mcpServers":{
        "a.b":{"command":"npx","args":["-y","quote\"back\\slash","line\nbreak","tab\t","ünï ☃"],"env":{"KEY WITH SPACE":"${env:TOKEN}","e":""}},
        "remote":{"type":"sse","url":"https://h/${env:TOKEN}","headers":{"Authorization":"Bearer x"},"timeout":-7,"ratio":0.1,"huge":1e300},
        "nested":{"command":"n","extra":{"deep":{"list":[1,2,3],"flag":false}},"empty":{}}}})");
    home.config.mcp["nested"].tweaks["codex"] = json::Value::parse(R"({"startup_timeout_sec":12.5,"tool_timeout_sec":null})");
    const auto ctx = home.context({{"TOKEN", "t0k=en"}});
    const auto mcp_json = home.dir / ".agents" / "mcp.json";

    auto first = mcp::plan_mcp(ctx, home.config, core::select_targets(ctx.home, home.config), mcp_json);
    ASSERT_TRUE(first.errors.empty() && first.read_errors.empty());
    EXPECT_EQ(first.items.size(), 21u);
    EXPECT_EQ(apply(first), std::vector<std::string>{});

    auto second = mcp::plan_mcp(ctx, home.config, core::select_targets(ctx.home, home.config), mcp_json);
    ASSERT_TRUE(second.errors.empty() && second.read_errors.empty());
    EXPECT_EQ(second.items.size(), 21u);
    for (const auto& item : second.items) {
        EXPECT_EQ(item.state, mcp::McpState::managed) << item.agent << "/" << item.server << " " << mcp::mcp_note(item);
    }
    std::string codex = read_file(home.dir / ".codex" / "config.toml");
    EXPECT_EQ(codex.rfind("# mine\r\nmodel = \"o3\"\r\n\r\n[mcp_servers.\"a.b\"]\r\n", 0), 0u);
    EXPECT_EQ(codex.find("\r\r"), std::string::npos);
}

TEST(RoundTrip, CommonsFileThatIsNotUtf8CannotBeRead) {
    TempDir dir;
    write_file(dir / "mcp.json", "{\"mcpServers\":{\"s\":{\"command\":\"\xc3\x28\"}}}");
    auto servers = mcp::load_commons_servers(dir / "mcp.json");
    ASSERT_FALSE(servers);
    EXPECT_EQ(servers.error().message,
              "cannot read " + (dir / "mcp.json").string() + ": stream did not contain valid UTF-8");
}

}  // namespace
