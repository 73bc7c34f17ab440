// Bringing the Commons AGENTS.md to every agent: a link at the agent's
// instructions file, an import line in it, or a link in its rules directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/agents.h"
#include "core/context.h"
#include "util/result.h"

namespace fanout {

namespace fs = std::filesystem;

enum class InstructionState : std::uint8_t { linked, missing, imported, import, conflict, foreign };

std::string_view instruction_state_word(InstructionState state);

struct InstructionItem {
    std::string agent;
    fs::path path;                           // the agent-side file
    std::optional<std::string> link_target;  // link mechanisms: the link text
    std::optional<std::string> import_line;  // import mechanism: "@" and the path
    std::optional<std::string> owner;        // a conflict whose owner is known
    InstructionState state = InstructionState::missing;
};

// One item per selected built-in agent among `targets` with an instructions
// mechanism; none at all when `commons_file` is not a file.
std::vector<InstructionItem> plan_instructions(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                                               const fs::path& commons_file);

InstructionItem classify_instruction_path(const std::string& agent, const fs::path& path,
                                          const fs::path& commons_file);

// The Commons AGENTS.md as the import line names it: "~/" and the rest when
// it lies under the home directory, else the whole path.
std::string import_line(const core::RunContext& ctx);

util::IoStatus apply_instruction(const InstructionItem& item);

std::string instruction_note(const InstructionItem& item);

// Cuts every import line out of the file; true when one was there.
util::IoResult<bool> remove_import_line(const core::RunContext& ctx, const fs::path& path);

}  // namespace fanout
