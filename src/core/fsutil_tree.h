// Copying and comparing whole files and directory trees, for taking a user's
// own entry into the Commons, and clearing what killed runs left of them.
#pragma once

#include <filesystem>
#include <string>

#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

// Where a tree operation failed: the path inside the tree and why.
struct TreeError {
    fs::path at;
    std::string reason;
    // "{reason}" when the failure is at `top` itself, else "{at}: {reason}".
    std::string text(const fs::path& top) const;
};
using TreeStatus = util::Status<TreeError>;

// Copies `from` (a link at `from` itself followed) to `to`, which must not
// exist yet; missing parents of `to` are created. The copy is made under a
// hidden name beside `to` and renamed into place whole. Inside a directory
// tree a link stays a link, never followed: one whose text leads inside the
// tree keeps it, a relative one that leads out of it is written as an
// absolute link to the same place, so that each resolves as it did. Every
// file and directory keeps its permission bits. An entry that is neither a
// file, a directory nor a link (a FIFO, a socket, a device) fails the copy,
// named. On failure everything the copy created is removed again.
TreeStatus copy_tree(const fs::path& from, const fs::path& to);
// The same for a link at `from`: a link with the same text at `to`.
util::IoStatus copy_link(const fs::path& from, const fs::path& to);
// Walks `from` as copy_tree does, copying nothing, and fails as copy_tree
// would (the same error) on an entry it cannot read (a file is opened, not
// read) or of a kind it does not copy: what a run that only says what it
// would do checks before it promises a copy.
TreeStatus check_copyable(const fs::path& from);

// True when `copy` holds what copy_tree makes of `original`: the same names,
// kinds and bytes, and each link with the text the copy gives it.
bool is_copy_of(const fs::path& copy, const fs::path& original);

// Two regular files with the same bytes (links followed), read side by side
// up to the first difference.
bool same_file_bytes(const fs::path& a, const fs::path& b);

// Removes a real directory with its whole tree, anything else (a link
// included, never what it points to) as a file.
util::IoStatus remove_entry(const fs::path& path);
// The same, opening up read-only directories inside first: for a tree that
// is this program's to remove whole.
util::IoStatus remove_entry_whole(const fs::path& path);

// Removes from `dir` what runs that are gone left under a hidden name (a
// half copy, an entry taken out of its place): a file or directory named as
// hidden_prefix names them, followed by the id of a process that no longer
// runs. Links and anything else are left. Called under the process lock.
void clear_hidden_leftovers(const fs::path& dir);

}  // namespace core
