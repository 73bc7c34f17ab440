#include "core/agents.h"

#include <algorithm>

#include "platform/platform.h"

namespace core {

namespace {

using SM = SkillsMechanism;
using IM = InstructionMechanism;
using MM = McpMechanism;
using CM = CommandsMechanism;
using D = McpDialect;
using CF = ConfigFormat;
using RF = RenderFormat;

// name, home,
// skills, skills dir, instructions, instructions path,
// mcp, dialect, config format, mcp file, servers key,
// commands, render format, commands dir, agents dir, hooks file, hooks key
constexpr std::array<AgentSpec, 12> table{{
    {"claude", ".claude",
     SM::fan_out, ".claude/skills", IM::import_line, ".claude/CLAUDE.md",
     MM::key_merge, D::Standard, CF::json, ".claude.json", "mcpServers",
     CM::fan_out, RF::json, ".claude/commands", ".claude/agents", ".claude/settings.json", "hooks"},
    {"codex", ".codex",
     SM::native, ".codex/skills", IM::symlink, ".codex/AGENTS.md",
     MM::key_merge, D::Codex, CF::toml, ".codex/config.toml", "mcp_servers",
     CM::fan_out, RF::json, ".codex/prompts", "", ".codex/hooks.json", "hooks"},
    {"opencode", ".config/opencode",
     SM::native, "", IM::symlink, ".config/opencode/AGENTS.md",
     MM::key_merge, D::OpenCode, CF::json, ".config/opencode/opencode.json", "mcp",
     CM::fan_out, RF::json, ".config/opencode/commands", ".config/opencode/agents", "", ""},
    {"pi", ".pi",
     SM::fan_out, ".pi/agent/skills", IM::symlink, ".pi/agent/AGENTS.md",
     MM::none, D::Standard, CF::json, "", "",
     CM::none, RF::json, "", "", "", ""},
    {"oh-my-pi", ".omp",
     SM::native, "", IM::symlink, ".omp/agent/AGENTS.md",
     MM::native, D::Standard, CF::json, "", "",
     CM::native, RF::json, "", "", "", ""},
    {"openclaw", ".openclaw",
     SM::fan_out, ".openclaw/skills", IM::none, "",
     MM::none, D::Standard, CF::json, "", "",
     CM::none, RF::json, "", "", "", ""},
    {"hermes", ".hermes",
     SM::fan_out, ".hermes/skills", IM::none, "",
     MM::none, D::Standard, CF::json, "", "",
     CM::none, RF::json, "", "", "", ""},
    {"gemini", ".gemini",
     SM::native, "", IM::symlink, ".gemini/GEMINI.md",
     MM::key_merge, D::Gemini, CF::json, ".gemini/settings.json", "mcpServers",
     CM::render, RF::toml, ".gemini/commands", "", ".gemini/settings.json", "hooks"},
    {"cursor", ".cursor",
     SM::native, ".cursor/skills", IM::none, "",
     MM::key_merge, D::Standard, CF::json, ".cursor/mcp.json", "mcpServers",
     CM::fan_out, RF::json, ".cursor/commands", "", "", ""},
    {"windsurf", ".codeium/windsurf",
     SM::none, "", IM::symlink, ".codeium/windsurf/memories/global_rules.md",
     MM::key_merge, D::Windsurf, CF::json, ".codeium/windsurf/mcp_config.json", "mcpServers",
     CM::fan_out, RF::json, ".codeium/windsurf/global_workflows", "", "", ""},
    {"roo", ".roo",
     SM::none, "", IM::rules_dir_link, ".roo/rules",
     MM::none, D::Standard, CF::json, "", "",
     CM::fan_out, RF::json, ".roo/commands", "", "", ""},
    {"cline", ".cline",
     SM::none, "", IM::none, "",
     MM::key_merge, D::Standard, CF::json, ".cline/mcp.json", "mcpServers",
     CM::none, RF::json, "", "", "", ""},
}};

bool is_disabled(const Config& config, std::string_view name) {
    return std::find(config.disabled.begin(), config.disabled.end(), name) != config.disabled.end();
}

}  // namespace

const std::array<AgentSpec, 12>& agent_table() { return table; }

const AgentSpec* agent_by_name(std::string_view name) {
    for (const AgentSpec& spec : table) {
        if (spec.name == name) return &spec;
    }
    return nullptr;
}

std::optional<std::string_view> link_surface(const AgentSpec& spec, Family family) {
    switch (family) {
        case Family::skills:
            if (spec.skills == SkillsMechanism::fan_out) return spec.skills_dir;
            break;
        case Family::commands:
            if (spec.commands == CommandsMechanism::fan_out) return spec.commands_dir;
            break;
        case Family::agents:
            if (!spec.agents_dir.empty()) return spec.agents_dir;
            break;
    }
    return std::nullopt;
}

Target target_from_spec(const AgentSpec& spec) {
    Target target{std::string(spec.name), std::string(spec.home), {}, &spec};
    for (Family family : all_families) {
        if (auto dir = link_surface(spec, family)) {
            target.surfaces.push_back(Surface{family, std::string(*dir)});
        }
    }
    return target;
}

bool dir_exists_under(std::string_view dir, const fs::path& root) {
    return platform::is_directory(root / fs::path(dir));
}

std::vector<Target> select_targets(const fs::path& root, const Config& config) {
    std::vector<Target> built;
    for (const AgentSpec& spec : table) {
        if (!is_disabled(config, spec.name)) built.push_back(target_from_spec(spec));
    }
    for (const CustomAgent& custom : config.custom) {
        if (is_disabled(config, custom.name)) continue;
        Target target{custom.name, custom.root, {}, nullptr};
        for (const auto& [family, dir] : custom.surfaces) {
            target.surfaces.push_back(Surface{family, dir});
        }
        built.push_back(std::move(target));
    }
    std::vector<Target> installed;
    for (Target& target : built) {
        if (dir_exists_under(target.home, root)) installed.push_back(std::move(target));
    }
    return installed;
}

}  // namespace core
