#include "core/lock_directories.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace core {

namespace {

struct OpenDirectory {
    platform::Directory dir;
    std::uint64_t device;
    std::uint64_t inode;
    std::vector<fs::path> paths;
};

bool missing(const std::error_code& error) {
    return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

util::IoResult<std::vector<OpenDirectory>> open_in_order(const std::vector<fs::path>& paths) {
    std::vector<OpenDirectory> open;
    for (const fs::path& path : paths) {
        auto dir = platform::open_directory(path);
        if (!dir) {
            if (missing(dir.error())) continue;
            return dir.error();
        }
        auto stamp = platform::file_stamp(dir->file());
        if (!stamp) return stamp.error();
        auto same = std::find_if(open.begin(), open.end(), [&](const OpenDirectory& o) {
            return o.device == stamp->device && o.inode == stamp->inode;
        });
        if (same != open.end()) {
            same->paths.push_back(path);
        } else {
            open.push_back(OpenDirectory{std::move(dir).value(), stamp->device, stamp->inode, {path}});
        }
    }
    std::sort(open.begin(), open.end(), [](const OpenDirectory& a, const OpenDirectory& b) {
        return std::pair(a.device, a.inode) < std::pair(b.device, b.inode);
    });
    return open;
}

// A directory renamed or replaced while this run waited is not the one the
// path names any more.
bool still_in_place(const OpenDirectory& open) {
    return std::all_of(open.paths.begin(), open.paths.end(), [&](const fs::path& path) {
        auto stamp = platform::file_stamp(path);
        return stamp && stamp->device == open.device && stamp->inode == open.inode;
    });
}

}  // namespace

util::IoResult<bool> lock_directories(const std::vector<fs::path>& paths, std::vector<platform::Directory>& held) {
    held.clear();
    auto open = open_in_order(paths);
    if (!open) return open.error();
    for (OpenDirectory& each : *open) {
        auto taken = platform::try_lock_exclusive(each.dir.file());
        if (!taken || !*taken || !still_in_place(each)) {
            held.clear();
            if (!taken) return taken.error();
            return false;
        }
        held.push_back(std::move(each.dir));
    }
    return true;
}

std::vector<fs::path> make_missing_directories(const fs::path& dir) {
    std::vector<fs::path> absent;
    for (fs::path at = dir; !at.empty(); at = at.parent_path()) {
        auto meta = platform::symlink_metadata(at);
        if (meta || meta.error() != std::errc::no_such_file_or_directory) break;
        absent.push_back(at);
        if (at == at.parent_path()) break;
    }
    if (absent.empty()) return {};
    (void)platform::create_directories(dir);
    return absent;
}

void remove_if_empty(const std::vector<fs::path>& dirs) {
    for (const fs::path& dir : dirs) {
        auto meta = platform::symlink_metadata(dir);
        // Removing a directory fails unless it is empty.
        if (meta && meta->is_dir()) (void)platform::remove_file(dir);
    }
}

}  // namespace core
