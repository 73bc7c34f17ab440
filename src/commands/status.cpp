#include "commands/status.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fanout/plan.h"
#include "json/json.h"
#include "platform/platform.h"
#include "util/text.h"
#include "util/utf8.h"

namespace commands {

using namespace fanout;

namespace {

constexpr std::size_t state_column = 17;

// "  {state:17} {subject} — {note}", or without the note when it is empty.
std::string row(std::string_view state, std::string_view subject, std::string_view note) {
    std::string line = util::row_start(state, state_column);
    line += subject;
    if (!note.empty()) {
        line += " — ";
        line += note;
    }
    return line;
}

// The header and one row per item, when there is at least one item.
template <class Item, class Row>
void print_section(core::Reporter& reporter, std::string_view header, const std::vector<Item>& items, Row row_of) {
    if (items.empty()) return;
    reporter.print_line(header);
    for (const Item& item : items) reporter.print_line(row_of(item));
}

void print_text(core::Reporter& reporter, const SyncPlan& plan, std::uint64_t actionable) {
    for (const LinkSection& section : plan.link_sections) {
        if (section.entries.empty() && section.linked == 0) continue;
        std::size_t linked = section.linked;
        for (const LinkEntry& entry : section.entries) linked += entry.state == LinkState::linked ? 1 : 0;
        reporter.print_line(section.agent + " (" + section.surface_dir + ")  " + std::to_string(linked) + " linked");
        for (const LinkEntry& entry : section.entries) {
            if (entry.state == LinkState::linked) continue;
            reporter.print_line(row(link_state_word(entry.state), entry.name, link_state_note(entry.state)));
        }
    }
    print_section(reporter, "instructions (AGENTS.md)", plan.instructions, [](const InstructionItem& item) {
        return row(instruction_state_word(item.state), item.agent, instruction_note(item));
    });
    print_section(reporter, "mcp (mcp.json)", plan.mcp.items, [](const mcp::McpItem& item) {
        return row(mcp::state_word(item.state), item.server + " → " + std::string(item.agent), mcp::mcp_note(item));
    });
    print_section(reporter, "hooks", plan.hooks.items, [](const HookItem& item) {
        return row(hook_state_word(item.state), item.event + " " + item.command + " → " + item.agent,
                   hook_note(item));
    });
    print_section(reporter, "rendered commands", plan.rendered, [](const RenderedCommand& item) {
        return row(render_state_word(item.state), item.name + " → " + item.agent, render_state_note(item.state));
    });
    reporter.print_blank_line();
    if (actionable > 0) {
        reporter.print_line(std::to_string(actionable) + " items need attention — run `mirthlode sync`.");
    } else if (reporter.errors() > 0) {
        // What could not be read may well be out of sync.
        reporter.print_line("Not everything could be checked — see the errors above.");
    } else {
        reporter.print_line("Everything is in sync.");
    }
}

// JSON texts must be UTF-8: the writer shows names and paths that are not
// with U+FFFD, as everywhere else.
void text(json::PrettyWriter& out, std::string_view key, std::string_view value) {
    out.key(key);
    out.string(value);
}

// An array of one object per item: the fields `fill` writes, then
// "actionable".
template <class Item, class Fill>
void items_json(json::PrettyWriter& out, std::string_view key, const std::vector<Item>& items, Fill fill) {
    out.key(key);
    out.begin_array();
    for (const Item& item : items) {
        out.begin_object();
        fill(item);
        out.key("actionable");
        out.boolean(needs_attention(item.state));
        out.end_object();
    }
    out.end_array();
}

// The document is written out as it is walked: a large machine has tens of
// thousands of entries, and a tree of them, or the whole text, would cost
// more than the plan.
void print_status_document(const core::RunContext& ctx, const SyncPlan& plan, std::uint64_t actionable,
                           core::Reporter& reporter) {
    json::PrettyWriter out([&](std::string_view part) { reporter.print_json_part(part); });
    out.begin_object();
    text(out, "commons", ctx.commons.native());
    items_json(out, "instructions", plan.instructions, [&](const InstructionItem& item) {
        text(out, "agent", item.agent);
        text(out, "state", instruction_state_word(item.state));
    });
    items_json(out, "mcp", plan.mcp.items, [&](const mcp::McpItem& item) {
        text(out, "agent", item.agent);
        text(out, "name", item.server);
        text(out, "state", mcp::state_word(item.state));
    });
    items_json(out, "hooks", plan.hooks.items, [&](const HookItem& item) {
        text(out, "agent", item.agent);
        text(out, "event", item.event);
        text(out, "hook", item.command);
        text(out, "state", hook_state_word(item.state));
    });
    items_json(out, "rendered", plan.rendered, [&](const RenderedCommand& item) {
        text(out, "agent", item.agent);
        text(out, "name", item.name);
        text(out, "state", render_state_word(item.state));
    });
    out.key("clean");
    out.boolean(actionable == 0);
    out.key("actionable");
    out.number(actionable);
    out.key("targets");
    out.begin_array();
    for (const LinkSection& section : plan.link_sections) {
        out.begin_object();
        text(out, "agent", section.agent);
        text(out, "family", core::family_name(section.family));
        text(out, "dir", section.surface_dir);
        items_json(out, "entries", section.entries, [&](const LinkEntry& entry) {
            text(out, "name", entry.name);
            text(out, "state", link_state_word(entry.state));
        });
        out.end_object();
    }
    out.end_array();
    out.end_object();
    (void)std::move(out).finish();
    reporter.print_json_end();
}

void report_all(core::Reporter& reporter, const std::vector<std::string>& texts) {
    for (const auto& error : texts) reporter.report_error(error);
}

// What could not be read, section by section: the surfaces, the agents' MCP
// files, their hook settings.
void report_read_errors(core::Reporter& reporter, const SyncPlan& plan) {
    for (const LinkSection& section : plan.link_sections) {
        if (section.error) reporter.report_error(*section.error);
    }
    report_all(reporter, plan.mcp.read_errors);
    report_all(reporter, plan.hooks.settings_errors);
}

}  // namespace

int status(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, bool json) {
    if (!platform::is_directory(ctx.commons)) {
        reporter.report_error("no Commons at " + ctx.commons.string() + " — run `mirthlode init` to create one");
        return 1;
    }
    // The text report only counts the links in place; the document names them.
    const SyncPlan plan = plan_sync(ctx, config, PlanOptions{.keep_linked = json, .keep_managed = true});
    for (const auto& warning : plan.warnings) reporter.report_warning(warning);
    if (!plan.errors.empty()) {
        report_all(reporter, plan.errors);
        report_read_errors(reporter, plan);
        return 1;
    }
    report_read_errors(reporter, plan);

    const std::uint64_t actionable = actionable_count(plan);
    if (json) {
        print_status_document(ctx, plan, actionable, reporter);
    } else {
        print_text(reporter, plan, actionable);
    }
    if (reporter.errors() > 0) return 1;
    return actionable > 0 ? 2 : 0;
}

}  // namespace commands
