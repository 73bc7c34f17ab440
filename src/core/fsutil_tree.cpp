#include "core/fsutil_tree.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/fsutil.h"
#include "platform/platform.h"

namespace core {

namespace {

constexpr std::string_view special_kind = "a FIFO, a socket or a device cannot be copied";

TreeError tree_error(const fs::path& at, const std::error_code& error) { return {at, error.message()}; }

// The text a link at `link` (inside the tree `root`) gets in the copy: kept
// when it is absolute or leads inside the tree; else the absolute place it
// leads to, worked out from where the link's directory really is, with the
// directories on the way followed as the system follows them and the last
// name as written, so that a link there is still followed as a link.
fs::path copied_link_text(const fs::path& link, const fs::path& text, const fs::path& root) {
    if (text.is_absolute()) return text;
    const fs::path inside = normalize_path(link.parent_path().lexically_relative(root) / text);
    if (inside.empty() || *inside.begin() != "..") return text;
    auto real_dir = platform::final_path(link.parent_path());
    const fs::path lexical = normalize_path((real_dir ? *real_dir : link.parent_path()) / text);
    if (!lexical.has_filename()) return lexical;
    auto dir = platform::final_path(lexical.parent_path());
    return dir ? *dir / lexical.filename() : lexical;
}

// One copy run: remembers the directories it made so that their permission
// bits are set once every entry is in, and so that a failure can take them away.
// A walk-only run makes nothing: it goes where the copy would, reading what
// the copy reads (files only opened), and fails where the copy would for want
// of reading an entry or for an entry's kind.
class TreeCopy {
public:
    explicit TreeCopy(bool walk_only = false) : walk_only_(walk_only) {}

    // The copy is made under a hidden name beside `to` and renamed into place
    // whole, so that not even a run killed half way leaves a half entry at
    // `to` (a dot-prefixed name is never synced; the next run clears it).
    TreeStatus copy_top(const fs::path& from, const fs::path& to) {
        root_ = from;
        auto meta = platform::metadata(from);
        if (!meta) return tree_error(from, meta.error());
        if (walk_only_) return copy_kind(*meta, from, to);
        if (auto made = platform::create_directories(to.parent_path()); !made) return tree_error(to, made.error());
        if (platform::symlink_metadata(to)) return tree_error(from, std::make_error_code(std::errc::file_exists));
        fs::path temp = to;
        temp.replace_filename(hidden_prefix(to) + std::to_string(platform::process_id()));
        TreeStatus copied = copy_kind(*meta, from, temp);
        if (copied && meta->is_dir()) copied = finish();
        if (copied) {
            if (auto renamed = platform::rename_no_replace(temp, to); !renamed) copied = tree_error(from, renamed.error());
        }
        if (!copied) undo(temp);
        return copied;
    }

private:
    // A directory or a file; anything else is not copied.
    TreeStatus copy_kind(const platform::Metadata& meta, const fs::path& from, const fs::path& to) {
        if (meta.is_dir()) return copy_dir(from, to, meta.mode);
        if (meta.is_regular()) return file(from, to);
        return TreeError{from, std::string(special_kind)};
    }

    TreeStatus file(const fs::path& from, const fs::path& to) const {
        if (walk_only_) {
            if (auto opened = platform::open_for_reading(from); !opened) return tree_error(from, opened.error());
        } else if (auto copied = platform::copy_file(from, to); !copied) {
            return tree_error(from, copied.error());
        }
        return {};
    }

    TreeStatus copy_dir(const fs::path& from, const fs::path& to, unsigned mode) {
        // Owner-only while it fills, so that nobody reads a half copy and a
        // read-only original can still be copied into.
        if (!walk_only_) {
            if (auto made = platform::create_directory(to, 0700); !made) return tree_error(from, made.error());
            made_.emplace_back(to, mode);
        }
        auto names = platform::list_directory(from);
        if (!names) return tree_error(from, names.error());
        for (const std::string& name : *names) {
            if (auto copied = copy_entry(from / name, to / name); !copied) return copied;
        }
        return {};
    }

    TreeStatus copy_entry(const fs::path& from, const fs::path& to) {
        auto meta = platform::symlink_metadata(from);
        if (!meta) return tree_error(from, meta.error());
        if (!meta->is_symlink()) return copy_kind(*meta, from, to);
        auto text = platform::read_link(from);
        if (!text) return tree_error(from, text.error());
        if (walk_only_) return {};
        if (auto made = platform::create_symlink(copied_link_text(from, *text, root_), to, false); !made) {
            return tree_error(from, made.error());
        }
        return {};
    }

    // Deepest directories first, so that a read-only parent is set last.
    TreeStatus finish() {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            if (auto set = platform::set_permissions(it->first, it->second); !set) return tree_error(it->first, set.error());
        }
        return {};
    }

    void undo(const fs::path& temp) {
        if (platform::symlink_metadata(temp)) (void)remove_entry_whole(temp);
    }

    bool walk_only_;
    fs::path root_;
    std::vector<std::pair<fs::path, unsigned>> made_;
};

// Every directory in the tree owner-writable again, links not followed.
void open_up(const fs::path& dir) {
    (void)platform::set_permissions(dir, 0700);
    auto names = platform::list_directory(dir);
    if (!names) return;
    for (const std::string& name : *names) {
        auto meta = platform::symlink_metadata(dir / name);
        if (meta && meta->is_dir()) open_up(dir / name);
    }
}

// Fills `buffer` from the file, short only at its end.
util::IoResult<std::size_t> read_full(platform::File& file, std::string& buffer) {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        auto n = file.read_some(buffer.data() + filled, buffer.size() - filled);
        if (!n) return n.error();
        if (*n == 0) break;
        filled += *n;
    }
    return filled;
}

bool same_copy(const fs::path& copy, const fs::path& original, const fs::path& root);

// Both directories list the same names, and each is the copy of its original.
bool same_dir_copy(const fs::path& copy, const fs::path& original, const fs::path& root) {
    auto names = platform::list_directory(original);
    auto copied = platform::list_directory(copy);
    if (!names || !copied || names->size() != copied->size()) return false;
    std::sort(names->begin(), names->end());
    std::sort(copied->begin(), copied->end());
    if (*names != *copied) return false;
    return std::all_of(names->begin(), names->end(), [&](const std::string& name) {
        return same_copy(copy / name, original / name, root);
    });
}

bool same_copy(const fs::path& copy, const fs::path& original, const fs::path& root) {
    auto mine = platform::symlink_metadata(original);
    auto theirs = platform::symlink_metadata(copy);
    if (!mine || !theirs || mine->kind != theirs->kind) return false;
    switch (mine->kind) {
        case platform::FileKind::regular: return same_file_bytes(copy, original);
        case platform::FileKind::symlink: {
            auto text = platform::read_link(original);
            auto copied = platform::read_link(copy);
            return text && copied && *copied == copied_link_text(original, *text, root);
        }
        case platform::FileKind::directory: return same_dir_copy(copy, original, root);
        case platform::FileKind::other: break;
    }
    return false;
}

// The process id that ends a hidden name, when the name is one.
std::optional<int> leftover_process(std::string_view name) {
    constexpr std::string_view marker = ".mirthlode-";
    const std::size_t at = name.rfind(marker);
    if (!name.starts_with('.') || at == std::string_view::npos || at < 2) return std::nullopt;
    const std::string_view digits = name.substr(at + marker.size());
    if (digits.empty() || digits.size() > 10) return std::nullopt;
    long long id = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        id = id * 10 + (c - '0');
    }
    if (id <= 0 || id > INT_MAX) return std::nullopt;
    return static_cast<int>(id);
}

}  // namespace

std::string TreeError::text(const fs::path& top) const {
    if (at == top) return reason;
    return at.string() + ": " + reason;
}

TreeStatus copy_tree(const fs::path& from, const fs::path& to) { return TreeCopy().copy_top(from, to); }

TreeStatus check_copyable(const fs::path& from) { return TreeCopy(true).copy_top(from, {}); }

util::IoStatus copy_link(const fs::path& from, const fs::path& to) {
    auto text = platform::read_link(from);
    if (!text) return text.error();
    return platform::create_symlink(*text, to, platform::is_directory(from));
}

bool is_copy_of(const fs::path& copy, const fs::path& original) {
    auto meta = platform::metadata(original);
    if (!meta) return false;
    if (!meta->is_dir()) return meta->is_regular() && same_file_bytes(copy, original);
    auto theirs = platform::symlink_metadata(copy);
    return theirs && theirs->is_dir() && same_dir_copy(copy, original, original);
}

bool same_file_bytes(const fs::path& a, const fs::path& b) {
    auto left = platform::open_for_reading(a);
    if (!left) return false;
    auto right = platform::open_for_reading(b);
    if (!right) return false;
    auto left_size = left->size();
    auto right_size = right->size();
    if (!left_size || !right_size || *left_size != *right_size) return false;
    const auto chunk = static_cast<std::size_t>(std::min<std::uintmax_t>(*left_size + 1, 65536));
    std::string left_chunk(chunk, '\0');
    std::string right_chunk(chunk, '\0');
    for (;;) {
        auto l = read_full(*left, left_chunk);
        auto r = read_full(*right, right_chunk);
        if (!l || !r || *l != *r) return false;
        if (std::string_view(left_chunk).substr(0, *l) != std::string_view(right_chunk).substr(0, *r)) return false;
        if (*l < left_chunk.size()) return true;
    }
}

util::IoStatus remove_entry(const fs::path& path) {
    auto meta = platform::symlink_metadata(path);
    if (meta && meta->is_dir()) return platform::remove_tree(path);
    return platform::remove_file(path);
}

util::IoStatus remove_entry_whole(const fs::path& path) {
    auto meta = platform::symlink_metadata(path);
    if (meta && meta->is_dir()) open_up(path);
    return remove_entry(path);
}

void clear_hidden_leftovers(const fs::path& dir) {
    // Only the hidden names are kept: a directory of thousands of entries
    // holds few of them, if any.
    std::vector<std::string> hidden;
    (void)platform::for_each_name(dir, [&](const std::string& name) {
        if (leftover_process(name)) hidden.push_back(name);
    });
    for (const std::string& name : hidden) {
        if (platform::process_alive(*leftover_process(name))) continue;
        const fs::path leftover = dir / name;
        auto meta = platform::symlink_metadata(leftover);
        if (meta && (meta->is_dir() || meta->is_regular())) (void)remove_entry_whole(leftover);
    }
}

}  // namespace core
