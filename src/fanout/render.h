// Commons commands rendered into the command files of agents that have
// their own command format, and the plan that compares them with the disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/agents.h"
#include "core/commons.h"
#include "util/result.h"

namespace fanout {

namespace fs = std::filesystem;

// The line by which a rendered file is known as ours.
inline constexpr std::string_view generated_header =
    "# mirthlode: this file is generated — edit the Commons instead";

enum class RenderState : std::uint8_t { managed, missing, drifted, orphaned, foreign };

std::string_view render_state_word(RenderState state);
std::string_view render_state_note(RenderState state);
// Missing, drifted and orphaned files are written or removed by sync.
bool is_actionable(RenderState state);

struct RenderedCommand {
    std::string agent;
    std::string name;                 // an orphan's file stem
    fs::path path;
    std::optional<std::string> text;  // absent for an orphan
    RenderState state;
};

struct RenderPlan {
    std::vector<RenderedCommand> items;
    std::vector<std::string> errors;  // every one blocks sync
    std::vector<std::string> warnings;  // Commons commands passed over
};

// True when one of the first three lines, trimmed, is the header.
bool has_generated_header(std::string_view text);

struct FrontMatter {
    std::optional<std::string> description;
    std::string body;
};

FrontMatter parse_front_matter(std::string_view text);

// The content of one rendered file; fails only when JSON cannot be printed.
util::Result<std::string> render_command(core::RenderFormat format,
                                         const std::optional<std::string>& description,
                                         std::string_view body);

// Reads the Commons commands and the command directories under `home` of the
// rendering agents among `targets`; changes nothing. Without `keep_managed`
// the plan holds no item whose state is managed.
RenderPlan plan_rendered_commands(const fs::path& home, const std::vector<core::Target>& targets,
                                  const fs::path& commons, bool keep_managed = true);
// The same with the Commons commands already scanned, in the scan's order.
RenderPlan plan_rendered_commands(const fs::path& home, const std::vector<core::Target>& targets,
                                  const std::vector<core::CommonsEntry>& commands, bool keep_managed);

// "  {state:10} {name} → {agent} — {note}", as sync lists an item.
std::string render_line(const RenderedCommand& item);

// Writes a missing or drifted file (parent directories created) or removes
// an orphan. The error is the finished text to report.
util::Status<> apply_rendered_command(const RenderedCommand& item);

// Carries out items one after another as apply_rendered_command does,
// creating each directory once, and flushing each directory written to
// disk once, in finish, rather than after every file.
class RenderApplier {
public:
    util::Status<> apply(const RenderedCommand& item);
    // Best effort: a directory that cannot be flushed is not an error.
    void finish();

private:
    std::vector<fs::path> dirs_;  // created or found, the last one used at the back
};

}  // namespace fanout
