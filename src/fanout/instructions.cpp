#include "fanout/instructions.h"

#include <array>
#include <utility>

#include "core/agents.h"
#include "core/fsutil.h"
#include "core/text_file.h"
#include "fanout/link.h"
#include "platform/platform.h"
#include "util/text.h"

namespace fanout {

using core::normalize_path;

namespace {

constexpr std::size_t owner_search_chars = 2048;

constexpr std::array<std::pair<std::string_view, std::string_view>, 2> owner_markers = {{
    {"<claude-mem-context>", "claude-mem"},
    {"claude-mem", "claude-mem"},
}};

// Either the exact import line or "@" and the path text with white space.
bool is_import_line(std::string_view line, std::string_view wanted_line, std::string_view path_text) {
    line = util::trim(line);
    if (line == wanted_line) return true;
    return !line.empty() && line.front() == '@' && util::trim(line.substr(1)) == path_text;
}

std::optional<std::string> find_owner(const fs::path& path) {
    auto text = core::read_utf8_file(path);
    if (!text) return std::nullopt;
    std::string_view head = util::first_chars(*text, owner_search_chars);
    for (const auto& [marker, owner] : owner_markers) {
        if (head.find(marker) != std::string_view::npos) return std::string(owner);
    }
    return std::nullopt;
}

bool same_file(const fs::path& a, const fs::path& b) {
    auto left = platform::final_path(a);
    auto right = platform::final_path(b);
    return left && right && *left == *right;
}

InstructionItem plan_import(const std::string& agent, const fs::path& path, const std::string& path_text,
                            const fs::path& commons_file) {
    const std::string line = "@" + path_text;
    InstructionState state = InstructionState::import;
    if (same_file(path, commons_file)) {
        // The agent's file is the Commons file itself (a link either way): it
        // holds the shared instructions already, and appending would write
        // the import line into the Commons.
        state = InstructionState::linked;
    } else if (auto text = core::read_utf8_file(path)) {
        for (std::string_view each : util::split_lines(*text)) {
            if (is_import_line(each, line, path_text)) {
                state = InstructionState::imported;
                break;
            }
        }
    }
    return {agent, path, std::nullopt, line, std::nullopt, state};
}

util::IoResult<std::string> read_existing_text(const fs::path& path) {
    auto text = core::read_utf8_file(path);
    if (!text && text.error() == std::errc::no_such_file_or_directory) return std::string();
    return text;
}

util::IoStatus write_text(const fs::path& path, std::string_view text) {
    auto written = core::write_atomic(path, text);
    if (!written) return written.error();
    return {};
}

util::IoStatus link_to_commons(const InstructionItem& item) {
    if (auto made = platform::create_directories(item.path.parent_path()); !made) return made;
    // A link of ours that does not reach the Commons is replaced.
    auto meta = platform::symlink_metadata(item.path);
    if (meta && meta->is_symlink()) {
        if (auto removed = platform::remove_file(item.path); !removed) return removed;
    }
    return make_symlink(item.link_target.value_or(""), item.path);
}

util::IoStatus append_import_line(const InstructionItem& item) {
    if (auto made = platform::create_directories(item.path.parent_path()); !made) return made;
    auto text = read_existing_text(item.path);
    if (!text) return text.error();
    if (!text->empty() && text->back() != '\n') *text += '\n';
    *text += item.import_line.value_or("");
    *text += '\n';
    return write_text(item.path, *text);
}

}  // namespace

std::string_view instruction_state_word(InstructionState state) {
    switch (state) {
        case InstructionState::linked: return "linked";
        case InstructionState::missing: return "missing";
        case InstructionState::imported: return "imported";
        case InstructionState::import: return "import";
        case InstructionState::conflict: return "conflict";
        case InstructionState::foreign: return "foreign";
    }
    return "";
}

std::string import_line(const core::RunContext& ctx) {
    const fs::path file = normalize_path(ctx.commons / "AGENTS.md");
    if (auto relative = relative_to_home(file, ctx.home)) return "~/" + relative->string();
    return file.string();
}

InstructionItem classify_instruction_path(const std::string& agent, const fs::path& path,
                                          const fs::path& commons_file) {
    const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const fs::path base = link_base(parent, commons_file);
    InstructionItem item{agent, path, relative_path(base, commons_file), std::nullopt, std::nullopt,
                         InstructionState::missing};

    auto meta = platform::symlink_metadata(path);
    if (!meta) return item;
    if (!meta->is_symlink()) {
        item.state = InstructionState::conflict;
        item.owner = find_owner(path);
        return item;
    }
    auto stored = platform::read_link(path);
    const fs::path text = stored ? *stored : fs::path();
    const fs::path wanted = normalize_path(commons_file);
    const bool names_commons = core::resolve_link_target(path, text) == wanted ||
                               core::resolve_link_target(base / path.filename(), text) == wanted;
    if (!names_commons) {
        item.state = InstructionState::foreign;
    } else if (same_file(path, commons_file)) {
        item.state = InstructionState::linked;
    }
    return item;
}

std::vector<InstructionItem> plan_instructions(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                                               const fs::path& commons_file) {
    std::vector<InstructionItem> plan;
    auto meta = platform::metadata(commons_file);
    if (!meta || meta->is_dir()) return plan;

    const std::string path_text = import_line(ctx);
    for (const auto& target : targets) {
        if (target.spec == nullptr) continue;
        const fs::path path = ctx.home / target.spec->instructions_path;
        switch (target.spec->instructions) {
            case core::InstructionMechanism::symlink:
                plan.push_back(classify_instruction_path(target.name, path, commons_file));
                break;
            case core::InstructionMechanism::import_line:
                plan.push_back(plan_import(target.name, path, path_text, commons_file));
                break;
            case core::InstructionMechanism::rules_dir_link:
                plan.push_back(classify_instruction_path(target.name, path / "AGENTS.md", commons_file));
                break;
            case core::InstructionMechanism::none:
                break;
        }
    }
    return plan;
}

util::IoStatus apply_instruction(const InstructionItem& item) {
    switch (item.state) {
        case InstructionState::missing: return link_to_commons(item);
        case InstructionState::import: return append_import_line(item);
        case InstructionState::linked:
        case InstructionState::imported:
        case InstructionState::conflict:
        case InstructionState::foreign:
            break;
    }
    return {};
}

std::string instruction_note(const InstructionItem& item) {
    switch (item.state) {
        case InstructionState::linked: return "";
        case InstructionState::missing: return "will be linked to the Commons";
        case InstructionState::imported: return "imports the Commons instructions";
        case InstructionState::import: return "the import line will be added";
        case InstructionState::conflict:
            if (item.owner) {
                return item.path.string() + " is owned by " + *item.owner +
                       " — move or merge it, then sync again";
            }
            return item.path.string() + " is owned by something else — move or merge it, then sync again";
        case InstructionState::foreign: return "points outside the Commons — left alone";
    }
    return "";
}

util::IoResult<bool> remove_import_line(const core::RunContext& ctx, const fs::path& path) {
    const std::string path_text = import_line(ctx);
    const std::string line = "@" + path_text;
    auto existing = read_existing_text(path);  // a missing file holds no import line
    if (!existing) return existing.error();

    std::string_view text = *existing;
    std::string kept;
    bool removed = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t size = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view piece = text.substr(0, size);
        std::string_view bare = piece;
        while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.remove_suffix(1);
        if (is_import_line(bare, line, path_text)) {
            removed = true;
        } else {
            kept += piece;
        }
        text.remove_prefix(size);
    }
    if (!removed) return false;
    if (auto written = write_text(path, kept); !written) return written.error();
    return true;
}

}  // namespace fanout
