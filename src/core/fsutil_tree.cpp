#include "core/fsutil_tree.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/fsutil.h"
#include "platform/platform.h"

namespace core {

namespace {

// One copy run: remembers the directories it made so that their permission
// bits are set once every entry is in, and so that a failure can take them away.
class TreeCopy {
public:
    // The copy is made under a hidden name beside `to` and renamed into place
    // whole, so that not even a run killed half way leaves a half entry at
    // `to` (a dot-prefixed name is never synced).
    util::IoStatus copy_top(const fs::path& from, const fs::path& to) {
        auto meta = platform::metadata(from);
        if (!meta) return meta.error();
        if (auto made = platform::create_directories(to.parent_path()); !made) return made;
        if (platform::symlink_metadata(to)) return std::make_error_code(std::errc::file_exists);
        const fs::path temp = hidden_beside(to);
        remove_leftover_copies(to);
        util::IoStatus copied = meta->is_dir() ? copy_dir(from, temp, meta->mode) : platform::copy_file(from, temp);
        if (copied && meta->is_dir()) copied = finish();
        if (copied) copied = platform::rename_no_replace(temp, to);
        if (!copied) undo(temp);
        return copied;
    }

    util::IoStatus copy_link(const fs::path& from, const fs::path& to) {
        auto text = platform::read_link(from);
        if (!text) return text.error();
        return platform::create_symlink(*text, to, platform::is_directory(from));
    }

private:
    util::IoStatus copy_dir(const fs::path& from, const fs::path& to, unsigned mode) {
        // Owner-only while it fills, so that nobody reads a half copy and a
        // read-only original can still be copied into.
        if (auto made = platform::create_directory(to, 0700); !made) return made;
        made_.emplace_back(to, mode);
        auto names = platform::list_directory(from);
        if (!names) return names.error();
        for (const std::string& name : *names) {
            if (auto copied = copy_entry(from / name, to / name); !copied) return copied;
        }
        return {};
    }

    util::IoStatus copy_entry(const fs::path& from, const fs::path& to) {
        auto meta = platform::symlink_metadata(from);
        if (!meta) return meta.error();
        switch (meta->kind) {
            case platform::FileKind::symlink: return copy_link(from, to);
            case platform::FileKind::directory: return copy_dir(from, to, meta->mode);
            case platform::FileKind::regular: return platform::copy_file(from, to);
            case platform::FileKind::other: break;
        }
        return std::make_error_code(std::errc::not_supported);
    }

    // Deepest directories first, so that a read-only parent is set last.
    util::IoStatus finish() {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            if (auto set = platform::set_permissions(it->first, it->second); !set) return set;
        }
        return {};
    }

    void undo(const fs::path& temp) {
        for (const auto& [dir, mode] : made_) (void)platform::set_permissions(dir, 0700);
        if (platform::symlink_metadata(temp)) (void)remove_entry(temp);
    }

    static fs::path hidden_beside(const fs::path& to) {
        fs::path temp = to;
        temp.replace_filename(hidden_prefix(to) + std::to_string(platform::process_id()));
        return temp;
    }

    // The half copies of `to` that killed runs left under their hidden names
    // (any process id: copies run under the lock, so none is in use). A link
    // so named is not ours and stays.
    static void remove_leftover_copies(const fs::path& to) {
        auto names = platform::list_directory(to.parent_path());
        if (!names) return;
        const std::string prefix = hidden_prefix(to);
        for (const std::string& name : *names) {
            if (!name.starts_with(prefix) || name.size() == prefix.size()) continue;
            if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                             [](char c) { return c >= '0' && c <= '9'; })) {
                continue;
            }
            const fs::path leftover = to.parent_path() / name;
            auto meta = platform::symlink_metadata(leftover);
            if (!meta || meta->is_symlink()) continue;
            // A run killed while it set the modes may have left read-only
            // directories inside: opened up first so that everything goes.
            if (meta->is_dir()) open_up(leftover);
            (void)remove_entry(leftover);
        }
    }

    static void open_up(const fs::path& dir) {
        (void)platform::set_permissions(dir, 0700);
        auto names = platform::list_directory(dir);
        if (!names) return;
        for (const std::string& name : *names) {
            auto meta = platform::symlink_metadata(dir / name);
            if (meta && meta->is_dir()) open_up(dir / name);
        }
    }

    std::vector<std::pair<fs::path, unsigned>> made_;
};

}  // namespace

util::IoStatus copy_tree(const fs::path& from, const fs::path& to) { return TreeCopy().copy_top(from, to); }

util::IoStatus remove_entry(const fs::path& path) {
    auto meta = platform::symlink_metadata(path);
    if (meta && meta->is_dir()) return platform::remove_tree(path);
    return platform::remove_file(path);
}

util::IoStatus move_path(const fs::path& from, const fs::path& to) {
    if (auto made = platform::create_directories(to.parent_path()); !made) return made;
    auto renamed = platform::rename_no_replace(from, to);
    if (renamed || renamed.error() != std::errc::cross_device_link) return renamed;

    auto meta = platform::symlink_metadata(from);
    if (!meta) return meta.error();
    util::IoStatus copied;
    if (meta->is_symlink()) {
        copied = TreeCopy().copy_link(from, to);
    } else {
        copied = copy_tree(from, to);
    }
    if (!copied) return copied;
    return remove_entry(from);
}

}  // namespace core
