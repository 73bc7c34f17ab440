// Copying and moving whole files and directory trees, for taking a user's
// own entry into the Commons. Neither ever leaves half an entry behind.
#pragma once

#include <filesystem>

#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

// Copies `from` (a link at `from` itself followed) to `to`, which must not
// exist yet; missing parents of `to` are created. Inside a directory tree a
// symbolic link is copied as a link with the same text, never followed, and
// every file and directory keeps its permission bits. An entry that is
// neither a file, a directory nor a link (a FIFO, a socket, a device) fails
// the copy. On failure everything the copy created is removed again.
util::IoStatus copy_tree(const fs::path& from, const fs::path& to);

// Moves `from` to `to`, which must not exist yet; missing parents of `to`
// are created. Between two file systems
// the entry is copied (as by copy_tree, a link at `from` moved as a link) and
// the original removed only once the copy is whole; a failed copy leaves the
// original as it was and nothing at `to`.
util::IoStatus move_path(const fs::path& from, const fs::path& to);

// Removes a real directory with its whole tree, anything else (a link
// included, never what it points to) as a file.
util::IoStatus remove_entry(const fs::path& path);

}  // namespace core
