#include "fanout/render.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "core/commons.h"
#include "core/fsutil.h"
#include "json/json.h"
#include "core/text_file.h"
#include "platform/platform.h"
#include "platform/tasks.h"
#include "toml/toml.h"
#include "util/text.h"

namespace fanout {

namespace {

// The value with every quote of either kind stripped from both ends.
std::string_view strip_quotes(std::string_view value) {
    const auto first = value.find_first_not_of("\"'");
    if (first == std::string_view::npos) return {};
    const auto last = value.find_last_not_of("\"'");
    return value.substr(first, last - first + 1);
}

util::Result<std::string> render_json(const std::optional<std::string>& description,
                                      std::string_view prompt) {
    json::Value object = json::Value::object();
    if (description) object["description"] = *description;
    object["prompt"] = std::string(prompt);
    auto text = json::print_pretty(object);
    if (!text) return util::error("cannot serialise a rendered command: " + text.error().message);
    return *text + "\n";
}

std::string render_toml(const std::optional<std::string>& description, std::string_view prompt) {
    toml::Document document;
    if (description) document.root().set("description", toml::Value::string(*description));
    document.root().set("prompt", toml::Value::string(std::string(prompt)));
    return std::string(generated_header) + "\n" + document.render();
}

// The file name up to its last "."; a name that is not text has none.
std::string file_stem(const std::string& name) {
    return util::is_utf8(name) ? fs::path(name).stem().string() : std::string();
}

// Only a file that shows the header is ever replaced: a file without it whose
// bytes are not text, or that cannot be read at all, is left alone as
// foreign; one with the header but not text is rendered afresh.
RenderState state_on_disk(const fs::path& path, const std::string& rendered) {
    const auto bytes = platform::read_file(path);
    if (!bytes) {
        const std::error_code& error = bytes.error();
        const bool no_file = error == std::errc::no_such_file_or_directory ||
                             error == std::errc::not_a_directory || error == std::errc::is_a_directory;
        // A file that is there but cannot be read may be someone's: left alone.
        // Where nothing can be there at all (a name too long, say), the write
        // will fail and say why.
        if (no_file || !platform::symlink_metadata(path)) return RenderState::missing;
        return RenderState::foreign;
    }
    if (!has_generated_header(*bytes)) return RenderState::foreign;
    if (!util::is_utf8(*bytes)) return RenderState::missing;
    return *bytes == rendered ? RenderState::managed : RenderState::drifted;
}

// A readable Commons command, read and parsed once for every rendering agent.
struct CommandSource {
    const core::CommonsEntry& entry;
    FrontMatter parsed;
};

// Of the commands whose names are equal once ".md" is taken off (a.md and
// a.md.md), the first by file name; each other one is passed over with a
// warning, since all of them would render to the same file.
std::vector<const core::CommonsEntry*> distinct_commands(const std::vector<core::CommonsEntry>& entries,
                                                         std::vector<std::string>& warnings) {
    std::vector<const core::CommonsEntry*> kept;
    for (auto first = entries.begin(); first != entries.end();) {
        auto last = std::find_if(first, entries.end(),
                                 [&](const core::CommonsEntry& entry) { return entry.name != first->name; });
        const core::CommonsEntry* chosen = &*std::min_element(
            first, last, [](const auto& a, const auto& b) { return a.file_name < b.file_name; });
        kept.push_back(chosen);
        std::vector<const core::CommonsEntry*> others;
        for (auto it = first; it != last; ++it) {
            if (&*it != chosen) others.push_back(&*it);
        }
        std::sort(others.begin(), others.end(),
                  [](const auto* a, const auto* b) { return a->file_name < b->file_name; });
        for (const core::CommonsEntry* other : others) {
            warnings.push_back("Commons commands/" + chosen->file_name + " and commands/" + other->file_name +
                               " are both the command `" + chosen->name + "` — only commands/" +
                               chosen->file_name + " is rendered");
        }
        first = last;
    }
    return kept;
}

// The commands that can be read; the others' errors go to `errors`.
std::vector<CommandSource> read_commands(const std::vector<const core::CommonsEntry*>& entries,
                                         std::vector<std::string>& errors) {
    // Read side by side, in blocks; kept and reported in the entries' order.
    std::vector<std::optional<util::Result<FrontMatter>>> read(entries.size());
    platform::for_each_parallel(entries.size(), [&](std::size_t i) {
        auto text = core::read_text_file(entries[i]->path);
        if (text) {
            read[i].emplace(parse_front_matter(*text));
        } else {
            read[i].emplace(text.error());
        }
    });
    std::vector<CommandSource> sources;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (*read[i]) {
            sources.push_back({*entries[i], std::move(*read[i]).value()});
        } else {
            errors.push_back(read[i]->error().message);
        }
    }
    return sources;
}

bool renders_commands(const core::Target& target) {
    return target.spec && target.spec->commands == core::CommandsMechanism::render;
}

void plan_orphans(const core::Target& target, const fs::path& dir,
                  const std::vector<core::CommonsEntry>& commands,
                  std::vector<RenderedCommand>& items) {
    const auto names = platform::list_directory(dir);
    if (!names) return;
    for (const std::string& file_name : *names) {
        std::string stem = file_stem(file_name);
        // The scan gives the commands sorted by name.
        const auto command = std::lower_bound(
            commands.begin(), commands.end(), stem,
            [](const core::CommonsEntry& entry, const std::string& name) { return entry.name < name; });
        if (command != commands.end() && command->name == stem) continue;
        const fs::path path = dir / file_name;
        const auto text = core::read_utf8_file(path);
        if (!text || !has_generated_header(*text)) continue;
        items.push_back({target.name, std::move(stem), path, std::nullopt, RenderState::orphaned});
    }
}

}  // namespace

std::string_view render_state_word(RenderState state) {
    switch (state) {
        case RenderState::managed: return "managed";
        case RenderState::missing: return "missing";
        case RenderState::drifted: return "drifted";
        case RenderState::orphaned: return "orphaned";
        case RenderState::foreign: return "foreign";
    }
    return "";
}

std::string_view render_state_note(RenderState state) {
    switch (state) {
        case RenderState::managed: return "";
        case RenderState::missing: return "not rendered yet";
        case RenderState::drifted: return "edited by hand — the Commons version will be restored";
        case RenderState::orphaned: return "no longer in the Commons — will be removed";
        case RenderState::foreign: return "not generated by mirthlode — left alone";
    }
    return "";
}

bool is_actionable(RenderState state) {
    return state == RenderState::missing || state == RenderState::drifted ||
           state == RenderState::orphaned;
}

bool has_generated_header(std::string_view text) {
    const auto lines = util::split_lines(text);
    const std::size_t count = std::min<std::size_t>(lines.size(), 3);
    return std::any_of(lines.begin(), lines.begin() + count,
                       [](std::string_view line) { return util::trim(line) == generated_header; });
}

FrontMatter parse_front_matter(std::string_view text) {
    const FrontMatter plain{std::nullopt, std::string(text)};
    const auto lines = util::split_lines(text);
    if (lines.empty() || util::trim(lines.front()) != "---") return plain;

    std::vector<std::pair<std::string_view, std::string_view>> pairs;
    bool in_body = false;
    std::string body;
    for (auto line = lines.begin() + 1; line != lines.end(); ++line) {
        if (in_body) {
            body.append(*line).push_back('\n');
        } else if (util::trim(*line) == "---") {
            in_body = true;
        } else if (const auto colon = line->find(':'); colon != std::string_view::npos) {
            pairs.emplace_back(util::trim(line->substr(0, colon)),
                               strip_quotes(util::trim(line->substr(colon + 1))));
        }
    }
    if (!in_body) return plain;

    FrontMatter result;
    result.body = body.substr(std::min(body.find_first_not_of('\n'), body.size()));
    const auto description = std::find_if(pairs.begin(), pairs.end(),
                                          [](const auto& pair) { return pair.first == "description"; });
    if (description != pairs.end()) result.description = std::string(description->second);
    return result;
}

util::Result<std::string> render_command(core::RenderFormat format,
                                         const std::optional<std::string>& description,
                                         std::string_view body) {
    const std::string_view prompt = util::trim_end(body);
    if (format == core::RenderFormat::json) return render_json(description, prompt);
    return render_toml(description, prompt);
}

RenderPlan plan_rendered_commands(const fs::path& home, const std::vector<core::Target>& targets,
                                  const fs::path& commons, bool keep_managed) {
    if (std::none_of(targets.begin(), targets.end(), renders_commands)) return {};
    const core::CommonsScan scan = core::scan_commons_family(commons, core::Family::commands);
    return plan_rendered_commands(home, targets, scan.entries, keep_managed);
}

RenderPlan plan_rendered_commands(const fs::path& home, const std::vector<core::Target>& targets,
                                  const std::vector<core::CommonsEntry>& commands, bool keep_managed) {
    RenderPlan plan;
    if (std::none_of(targets.begin(), targets.end(), renders_commands)) return plan;
    const std::vector<CommandSource> sources = read_commands(distinct_commands(commands, plan.warnings), plan.errors);
    for (const core::Target& target : targets) {
        if (!renders_commands(target)) continue;
        const core::RenderFormat format = target.spec->render_format;
        const fs::path dir = home / target.spec->commands_dir;
        const std::string_view extension = format == core::RenderFormat::toml ? "toml" : "json";
        // No directory there, or a file in its place: every file is missing,
        // without trying to read each one.
        const auto found = platform::metadata(dir);
        const bool no_directory = !found && (found.error() == std::errc::no_such_file_or_directory ||
                                             found.error() == std::errc::not_a_directory);

        // Rendered and compared with the disk side by side, in blocks; kept
        // in the commands' order.
        std::vector<std::optional<util::Result<RenderedCommand>>> done(sources.size());
        platform::for_each_parallel(sources.size(), [&](std::size_t i) {
            const CommandSource& source = sources[i];
            auto rendered = render_command(format, source.parsed.description, source.parsed.body);
            if (!rendered) {
                done[i].emplace(rendered.error());
                return;
            }
            const std::string& name = source.entry.name;
            fs::path path = dir / (name + "." + std::string(extension));
            const RenderState state = no_directory ? RenderState::missing : state_on_disk(path, *rendered);
            if (state == RenderState::managed && !keep_managed) return;
            done[i].emplace(RenderedCommand{target.name, name, std::move(path), std::move(rendered).value(), state});
        });
        for (auto& item : done) {
            if (!item) continue;  // managed, not kept
            if (*item) {
                plan.items.push_back(std::move(*item).value());
            } else {
                plan.errors.push_back(item->error().message);
            }
        }
        plan_orphans(target, dir, commands, plan.items);
    }
    return plan;
}

std::string render_line(const RenderedCommand& item) {
    return util::row_start(render_state_word(item.state), 10) + item.name + " → " + item.agent + " — " +
           std::string(render_state_note(item.state));
}

util::Status<> apply_rendered_command(const RenderedCommand& item) {
    RenderApplier applier;
    auto done = applier.apply(item);
    applier.finish();
    return done;
}

util::Status<> RenderApplier::apply(const RenderedCommand& item) {
    if (item.state == RenderState::orphaned) {
        if (auto removed = platform::remove_file(item.path); !removed) {
            return util::error("cannot remove " + item.path.string() + ": " +
                               removed.error().message());
        }
        return {};
    }
    if (item.state != RenderState::missing && item.state != RenderState::drifted) return {};
    const fs::path dir = item.path.parent_path();
    if (dirs_.empty() || dirs_.back() != dir) {
        if (auto created = platform::create_directories(dir); !created) {
            return util::error("cannot create " + dir.string() + ": " + created.error().message());
        }
        if (std::find(dirs_.begin(), dirs_.end(), dir) == dirs_.end()) dirs_.push_back(dir);
    }
    // The directory is flushed once, by finish.
    const core::WriteOptions options{.sync_directory = false, .expect_absent = item.state == RenderState::missing};
    if (auto written = core::write_atomic(item.path, item.text.value_or(""), options); !written) {
        return util::error("cannot write " + item.path.string() + ": " + written.error().message());
    }
    return {};
}

void RenderApplier::finish() {
    for (const fs::path& dir : dirs_) (void)platform::sync_directory(dir);
    dirs_.clear();
}

}  // namespace fanout
