#include "core/replace_entry.h"

#include <string>

#include "core/fsutil.h"
#include "platform/platform.h"

namespace core {

namespace {

Replaced failed(Replaced::Failed step, const fs::path& at, const std::error_code& error) {
    return Replaced{step, TreeError{at, error.message()}, std::nullopt};
}

// Between two file systems: `from` copied to `to`, the copy checked whole.
TreeStatus copy_whole(const fs::path& from, const fs::path& to) {
    auto meta = platform::symlink_metadata(from);
    if (!meta) return TreeError{from, meta.error().message()};
    if (meta->is_symlink()) {
        if (auto copied = copy_link(from, to); !copied) return TreeError{from, copied.error().message()};
        auto text = platform::read_link(from);
        auto copied = platform::read_link(to);
        if (text && copied && *text == *copied) return {};
    } else {
        if (auto copied = copy_tree(from, to); !copied) return copied;
        if (is_copy_of(to, from)) return {};
    }
    // Changed while it was copied: the copy is not what the original holds.
    (void)remove_entry_whole(to);
    return TreeError{from, "it changed while it was being copied — nothing was moved"};
}

}  // namespace

Replaced replace_entry(const fs::path& path, const PutInPlace& put_in) {
    fs::path hidden = path;
    hidden.replace_filename(hidden_prefix(path) + std::to_string(platform::process_id()));
    if (auto taken = platform::rename_no_replace(path, hidden); !taken) {
        return failed(Replaced::Failed::take_out, path, taken.error());
    }
    if (auto put = put_in(); !put) {
        (void)platform::rename_no_replace(hidden, path);
        return failed(Replaced::Failed::put_in, path, put.error());
    }
    Replaced done;
    if (auto removed = remove_entry_whole(hidden); !removed) {
        done.leftover = TreeError{hidden, removed.error().message()};
    }
    return done;
}

Replaced move_entry(const fs::path& from, const fs::path& to, const PutInPlace& put_in) {
    if (auto made = platform::create_directories(to.parent_path()); !made) {
        return failed(Replaced::Failed::take_out, to.parent_path(), made.error());
    }
    auto renamed = platform::rename_no_replace(from, to);
    if (renamed) {
        if (auto put = put_in(); !put) return failed(Replaced::Failed::put_in, from, put.error());
        return {};
    }
    if (renamed.error() != std::errc::cross_device_link) return failed(Replaced::Failed::take_out, from, renamed.error());
    if (auto copied = copy_whole(from, to); !copied) return Replaced{Replaced::Failed::take_out, copied.error(), std::nullopt};
    return replace_entry(from, put_in);
}

}  // namespace core
