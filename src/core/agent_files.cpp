#include "core/agent_files.h"

#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <type_traits>
#include <utility>

#include "core/config.h"
#include "core/fsutil.h"
#include "core/text_file.h"
#include "toml/document.h"
#include "util/text.h"
#include "util/utf8.h"
#include "util/text_position.h"

namespace core {

namespace {


// The file's UTF-8 text, or nothing when the file does not exist; `stamp`
// is the read file's.
util::Result<std::optional<std::string>> read_text(const fs::path& path, platform::FileStamp& stamp) {
    auto text = read_utf8_file(path, stamp);
    if (!text) {
        if (text.error() == std::errc::no_such_file_or_directory) return std::optional<std::string>();
        return cannot_read(path, text.error());
    }
    return std::optional<std::string>(std::move(*text));
}

util::Result<std::optional<std::string>> read_text(const fs::path& path) {
    platform::FileStamp stamp;
    return read_text(path, stamp);
}

util::Result<RemoveOutcome> write_back(const fs::path& path, const std::string& text) {
    auto written = write_atomic(path, text);
    if (!written) return util::error("cannot write " + path.string() + ": " + written.error().message());
    return RemoveOutcome{true, std::move(*written)};
}

// The table under `key` of a JSON document, copied or moved out of it.
template <class Document>
util::Result<json::Value> json_table(const fs::path& path, Document&& document, std::string_view key) {
    json::Value table = json::Value::object();
    if (!document.is_object()) return table;
    auto member = document.find(key);
    if (member == document.end()) return table;
    if (!member->is_object()) return left_untouched(path, "`" + std::string(key) + "` is not an object");
    if constexpr (std::is_const_v<std::remove_reference_t<Document>>) {
        return json::Value(*member);
    } else {
        return std::move(*member);
    }
}

util::Result<json::Value> read_json_table(const fs::path& path, std::string_view key) {
    auto document = read_json_file(path);
    if (!document) return document.error();
    return json_table(path, std::move(*document), key);
}

// The document a JSON agent file's text holds; a blank one is an empty object.
util::Result<json::Value> parse_json_string(const fs::path& path, std::string_view text) {
    if (util::is_blank(text)) return json::Value::object();
    auto value = json::parse(text);
    if (!value)
        return util::error(path.string() + " is not valid JSON (line " + std::to_string(value.error().line) +
                           ", column " + std::to_string(value.error().column) + ") — left untouched");
    return std::move(*value);
}

// The same; no text (no file) is an empty object too.
util::Result<json::Value> parse_json_text(const fs::path& path, const std::optional<std::string>& text) {
    if (!text) return json::Value::object();
    return parse_json_string(path, *text);
}

// Takes the entries `goes` says yes to out of the table under `key`; gives
// their names in the order asked.
std::vector<std::string> take_out_entries(json::Value& document, std::string_view key,
                                          const std::vector<std::string>& names, const EntryTest& goes) {
    std::vector<std::string> taken;
    if (names.empty() || !document.is_object()) return taken;
    auto member = document.find(key);
    if (member == document.end() || !member->is_object()) return taken;
    auto& members = static_cast<json::Value::object_t::Container&>(member->get_ref<json::Value::object_t&>());
    std::unordered_map<std::string_view, std::size_t> position;
    position.reserve(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) position.emplace(members[i].first, i);

    std::vector<bool> going(members.size(), false);
    for (const std::string& name : names) {
        auto found = position.find(name);
        if (found == position.end() || going[found->second]) continue;
        if (goes && !goes(name, members[found->second].second)) continue;
        going[found->second] = true;
        taken.push_back(name);
    }
    if (taken.empty()) return taken;
    // The members that stay, moved once into a table of their own, in order.
    json::Value kept = json::Value::object();
    auto& kept_members = static_cast<json::Value::object_t::Container&>(kept.get_ref<json::Value::object_t&>());
    kept_members.reserve(members.size() - taken.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (!going[i]) kept_members.emplace_back(members[i].first, std::move(members[i].second));
    }
    *member = std::move(kept);
    return taken;
}

util::Result<RemovalText> json_without_entries(const fs::path& path, std::string_view key,
                                               const std::vector<std::string>& names, const EntryTest& goes,
                                               const DocumentEdit& also) {
    auto document = read_json_file(path);
    if (!document) return document.error();
    RemovalText removal;
    removal.names = take_out_entries(*document, key, names, goes);
    const bool changed = also && also(*document);
    if (removal.names.empty() && !changed) return removal;
    auto text = json::print_pretty(*document);
    if (!text) return util::error(serialise_error(path, text.error().message));
    removal.text = std::move(*text);
    return removal;
}

util::Result<toml::Document> parse_toml(const fs::path& path, std::string_view text) {
    auto document = toml::parse(text);
    if (!document) return left_untouched(path, invalid_toml_text(text, document.error().offset));
    return std::move(*document);
}

util::Result<json::Value> toml_table_of(const fs::path& path, const toml::Document& document, std::string_view key) {
    const toml::Item* item = document.root().get(key);
    if (!item) return json::Value::object();
    if (!item->is_table()) {
        std::string problem = "`";
        problem.append(key).append("` is not a table");
        return left_untouched(path, problem);
    }
    return toml_item_to_json(*item);
}

util::Result<json::Value> toml_table(const fs::path& path, std::string_view text, std::string_view key) {
    auto document = parse_toml(path, text);
    if (!document) return document.error();
    return toml_table_of(path, *document, key);
}

util::Result<json::Value> read_toml_table(const fs::path& path, std::string_view key) {
    auto text = read_toml_document(path);
    if (!text) return text.error();
    return toml_table(path, *text, key);
}

util::Result<RemovalText> toml_without_entries(const fs::path& path, std::string_view key,
                                               const std::vector<std::string>& names, const EntryTest& goes) {
    auto text = read_toml_document(path);
    if (!text) return text.error();
    if (util::is_blank(*text)) return RemovalText{};
    auto document = parse_toml(path, *text);
    if (!document) return document.error();
    toml::Table* table = nullptr;
    if (toml::Item* item = document->root().get(key)) table = item->as_table();
    if (!table) return RemovalText{};

    RemovalText removal;
    std::unordered_set<std::string_view> going;
    for (const std::string& name : names) {
        const toml::Item* entry = table->get(name);
        if (!entry || going.count(name) != 0 || (goes && !goes(name, toml_item_to_json(*entry)))) continue;
        going.insert(name);
        removal.names.push_back(name);
    }
    if (removal.names.empty()) return removal;
    table->remove_keeping_comments([&](std::string_view name) { return going.count(name) != 0; });
    // Rendered as read: a byte-order mark the file began with stays, as it
    // does on every other write of the file.
    removal.text = document->render();
    return removal;
}

}  // namespace

util::Error left_untouched(const fs::path& path, const std::string& problem) {
    return util::error(path.string() + ": " + problem + " — left untouched");
}

util::Result<std::string> read_toml_document(const fs::path& path) {
    auto text = read_text(path);
    if (!text) return text.error();
    return text->value_or(std::string());
}

util::Result<json::Value> read_json_file(const fs::path& path) {
    auto text = read_text(path);
    if (!text) return text.error();
    return parse_json_text(path, *text);
}

util::Result<json::Value> parse_json_document(const fs::path& path, const std::string& text) {
    return parse_json_string(path, text);
}

util::Result<AgentFileRead> read_agent_file(const fs::path& path, bool toml) {
    AgentFileRead read;
    read.toml = toml;
    platform::FileStamp stamp;
    auto text = read_text(path, stamp);
    if (!text) return text.error();
    if (*text) read.stamp = stamp;
    if (toml) {
        read.text = text->value_or(std::string());
        // Parsed once, for the plan and for a merge; a text that does not
        // parse is refused by config_table_of, which says where.
        if (auto parsed = toml::parse(read.text)) read.parsed = std::move(*parsed);
        return read;
    }
    auto document = parse_json_text(path, *text);
    if (!document) return document.error();
    read.document = std::move(*document);
    return read;
}

util::Result<json::Value> config_table_of(const fs::path& path, const AgentFileRead& read, std::string_view key) {
    if (!read.toml) return json_table(path, read.document, key);
    return read.parsed ? toml_table_of(path, *read.parsed, key) : toml_table(path, read.text, key);
}

util::Result<ConfigTableView> config_table_view(const fs::path& path, const AgentFileRead& read,
                                                std::string_view key) {
    ConfigTableView view;
    if (!read.toml) {
        if (!read.document.is_object()) return view;
        auto member = read.document.find(key);
        if (member == read.document.end()) return view;
        if (!member->is_object()) return left_untouched(path, "`" + std::string(key) + "` is not an object");
        view.json = &*member;
        return view;
    }
    // A text that did not parse is parsed again for the place of the error.
    if (!read.parsed) {
        auto document = parse_toml(path, read.text);
        if (!document) return document.error();
        return view;  // not reached: the read parsed the same text
    }
    const toml::Item* item = read.parsed->root().get(key);
    if (!item) return view;
    if (!item->is_table()) return left_untouched(path, "`" + std::string(key) + "` is not a table");
    view.toml = item->as_table();
    return view;
}

bool unchanged_since(const fs::path& path, const AgentFileRead& read) {
    auto now = platform::file_stamp(path);
    if (!read.stamp) return !now && now.error() == std::errc::no_such_file_or_directory;
    return now && *now == *read.stamp;
}

AgentFileReads::Shared AgentFileReads::read(const fs::path& path, bool toml) {
    std::unique_lock lock(mutex_);
    auto found = reads_.find({path, toml});
    if (found != reads_.end()) {
        std::shared_future<Shared> pending = found->second;
        lock.unlock();
        return pending.get();
    }
    // The first to ask reads, outside the lock; the others wait for it.
    std::promise<Shared> promise;
    reads_.emplace(std::pair(path, toml), promise.get_future().share());
    lock.unlock();
    Shared read = std::make_shared<util::Result<AgentFileRead>>(read_agent_file(path, toml));
    promise.set_value(read);
    return read;
}

void AgentFileReads::forget_all() {
    std::lock_guard lock(mutex_);
    reads_.clear();
}

util::Result<json::Value> read_config_table(const fs::path& path, std::string_view key, bool toml) {
    return toml ? read_toml_table(path, key) : read_json_table(path, key);
}

util::Result<RemovalText> config_without_entries(const fs::path& path, std::string_view key, bool toml,
                                                 const std::vector<std::string>& names, const EntryTest& goes,
                                                 const DocumentEdit& also) {
    // Nothing asked: the file is not even read.
    if (names.empty() && !(also && !toml)) return RemovalText{};
    return toml ? toml_without_entries(path, key, names, goes) : json_without_entries(path, key, names, goes, also);
}

util::Result<RemovedEntries> remove_config_entries(const fs::path& path, std::string_view key, bool toml,
                                                   const std::vector<std::string>& names, const EntryTest& goes,
                                                   const DocumentEdit& also) {
    auto removal = config_without_entries(path, key, toml, names, goes, also);
    if (!removal) return removal.error();
    RemovedEntries removed{std::move(removal->names), {}};
    if (!removal->text) return removed;
    auto written = write_back(path, *removal->text);
    if (!written) return written.error();
    removed.written = std::move(written->written);
    return removed;
}

util::Result<RemoveOutcome> remove_config_entry(const fs::path& path, std::string_view key, bool toml,
                                                std::string_view name) {
    auto removed = remove_config_entries(path, key, toml, {std::string(name)}, {});
    if (!removed) return removed.error();
    return RemoveOutcome{!removed->names.empty(), std::move(removed->written)};
}

std::string invalid_toml_text(std::string_view text, std::size_t offset) {
    auto position = util::position_of(text, offset);
    return "invalid TOML (line " + std::to_string(position.line) + ", column " + std::to_string(position.column) +
           ")";
}

std::string serialise_error(const fs::path& path, std::string_view error) {
    return "cannot serialise " + path.string() + ": " + std::string(error);
}

}  // namespace core
