// The built-in agent table and the selection of this machine's targets.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "core/family.h"

namespace core {

namespace fs = std::filesystem;

enum class SkillsMechanism { fan_out, native, none };
enum class InstructionMechanism { symlink, import_line, rules_dir_link, none };
enum class McpMechanism { key_merge, native, none };
enum class CommandsMechanism { fan_out, render, native, none };
enum class ConfigFormat { json, toml };
enum class RenderFormat { json, toml };
enum class McpDialect { Standard, Codex, OpenCode, Gemini, Windsurf };

// One agent. Every text is relative to the home directory; "" means none.
struct AgentSpec {
    std::string_view name, home;
    SkillsMechanism skills;
    std::string_view skills_dir;
    InstructionMechanism instructions;
    std::string_view instructions_path;
    McpMechanism mcp;
    McpDialect dialect;
    ConfigFormat config_format;
    std::string_view mcp_file, servers_key;
    CommandsMechanism commands;
    RenderFormat render_format;
    std::string_view commands_dir;
    std::string_view agents_dir;
    std::string_view hooks_file, hooks_key;
};

// The twelve agents in the fixed order every command follows.
const std::array<AgentSpec, 12>& agent_table();

// The built-in agent with exactly this name, or nullptr.
const AgentSpec* agent_by_name(std::string_view name);

// A directory of a target into which one family's Commons entries are linked.
struct Surface {
    Family family;
    std::string dir;  // relative to the home directory unless absolute
};

struct Target {
    std::string name;
    std::string home;
    std::vector<Surface> surfaces;  // family order, at most one per family
    const AgentSpec* spec;          // nullptr for a custom agent
};

// The directory the family's entries are linked into, when the agent has one.
std::optional<std::string_view> link_surface(const AgentSpec& spec, Family family);

Target target_from_spec(const AgentSpec& spec);

// True when `root`/`dir` (an absolute `dir` stands for itself) is a directory,
// links followed.
bool dir_exists_under(std::string_view dir, const fs::path& root);

// The enabled and installed agents: built-ins in table order, then custom
// agents in file order.
std::vector<Target> select_targets(const fs::path& root, const Config& config);

}  // namespace core
