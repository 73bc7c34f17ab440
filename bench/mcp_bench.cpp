// Prints how long planning and merging take with 200 Commons servers and
// every agent that takes MCP servers installed, half of the servers already
// in each agent's file (some of them drifted).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/agent_files.h"
#include "core/agents.h"
#include "mcp/merge.h"
#include "mcp/plan.h"

namespace {

namespace fs = std::filesystem;

constexpr int server_count = 200;

template <class F>
double milliseconds(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string name(int i) { return "server-" + std::to_string(1000 + i); }

json::Value commons_server(int i) {
    if (i % 3 == 0) {
        return json::Value::parse(R"({"type":"http","url":"https://mcp.example.com/)" + std::to_string(i) +
                                  R"(","headers":{"Authorization":"Bearer ${env:TOKEN}"}})");
    }
    return json::Value::parse(R"({"command":"npx","args":["-y","@example/server-)" + std::to_string(i) +
                              R"(","--region=${env:REGION}"],"env":{"LOG":"info"},"timeout":30})");
}

// Every agent holds the even servers, one in ten of them with an old argument.
void seed_agent_files(const mcp::McpPlan& plan) {
    std::map<fs::path, std::vector<const mcp::McpItem*>> by_file;
    for (const auto& item : plan.items) {
        int i = std::stoi(item.server.substr(7)) - 1000;
        if (i % 2 == 0) by_file[item.file].push_back(&item);
    }
    for (auto& [file, items] : by_file) {
        if (file.extension() == ".json") write(file, R"({"theme":"dark","projects":{}})");
        else write(file, "# settings\nmodel = \"o3\"\n");
        if (!mcp::merge_servers_into_agent_file(file, items.front()->servers_key, items.front()->toml, items)) {
            std::fprintf(stderr, "seeding %s failed\n", file.c_str());
        }
    }
}

}  // namespace

int main() {
    fs::path home = fs::temp_directory_path() / ("mcp-bench-" + std::to_string(::getpid()));
    for (const char* dir : {".claude", ".codex", ".config/opencode", ".gemini", ".cursor", ".codeium/windsurf", ".cline"}) {
        fs::create_directories(home / dir);
    }
    json::Value servers = json::Value::object();
    for (int i = 0; i < server_count; ++i) servers[name(i)] = commons_server(i);
    json::Value document = {{"mcpServers", servers}};
    write(home / ".agents" / "mcp.json", document.dump(2));

    core::RunContext ctx;
    ctx.home = home;
    ctx.commons = home / ".agents";
    ctx.env = core::EnvMap(core::EnvPairs{{"TOKEN", "t0k3n"}, {"REGION", "eu"}});
    core::Config config;
    const fs::path mcp_json = home / ".agents" / "mcp.json";
    const std::vector<core::Target> targets = core::select_targets(ctx.home, config);

    seed_agent_files(mcp::plan_mcp(ctx, config, targets, mcp_json));
    // Drift one in ten held servers in claude's file.
    {
        std::ifstream in(home / ".claude.json");
        std::string text((std::istreambuf_iterator<char>(in)), {});
        int seen = 0;
        for (std::size_t at = 0; (at = text.find("\"--region=eu\"", at)) != std::string::npos; at += 13) {
            if (seen++ % 10 == 0) text.replace(at, 13, "\"--region=us\"");
        }
        write(home / ".claude.json", text);
    }

    mcp::McpPlan plan;
    double plan_ms = milliseconds([&] { plan = mcp::plan_mcp(ctx, config, targets, mcp_json); });
    std::map<mcp::McpState, int> states;
    for (const auto& item : plan.items) ++states[item.state];
    std::printf("%d servers x 7 agents: plan %.1f ms (%zu items: %d managed, %d missing, %d drifted)\n",
                server_count, plan_ms, plan.items.size(), states[mcp::McpState::managed],
                states[mcp::McpState::missing], states[mcp::McpState::drifted]);

    std::map<fs::path, std::vector<const mcp::McpItem*>> groups;
    for (const auto& item : plan.items) {
        if (item.state == mcp::McpState::missing || item.state == mcp::McpState::drifted) {
            groups[item.file].push_back(&item);
        }
    }
    // The same merges without the write: reading, merging and rendering.
    double texts_ms = milliseconds([&] {
        for (auto& [file, items] : groups) {
            const auto* first = items.front();
            if (first->toml) {
                (void)mcp::merge_into_toml(file, *core::read_toml_document(file), first->servers_key, items);
            } else {
                (void)mcp::merge_into_json(file, *core::read_json_file(file), first->servers_key, items);
            }
        }
    });
    std::printf("read, merge and render %zu files: %.1f ms\n", groups.size(), texts_ms);

    int failures = 0;
    double merge_ms = milliseconds([&] {
        for (auto& [file, items] : groups) {
            if (!mcp::merge_servers_into_agent_file(file, items.front()->servers_key, items.front()->toml, items)) {
                ++failures;
            }
        }
    });
    std::printf("merge into %zu files, each flushed to disk: %.1f ms (%d failed)\n", groups.size(), merge_ms, failures);

    double again_ms = milliseconds([&] { plan = mcp::plan_mcp(ctx, config, targets, mcp_json); });
    int managed = 0;
    for (const auto& item : plan.items) managed += item.state == mcp::McpState::managed;
    std::printf("plan again: %.1f ms (%d of %zu items managed)\n", again_ms, managed, plan.items.size());
    std::printf("plan + merge without the disk flushes: %.1f ms\n", plan_ms + texts_ms);

    fs::remove_all(home);
    return failures == 0 ? 0 : 1;
}
