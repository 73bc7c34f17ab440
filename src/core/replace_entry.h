// Putting something (a link) in the place of a whole entry, so that no tree
// is ever removed in place file by file: a failure or a kill at any moment
// leaves the entry whole, under its name or a hidden one.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include "core/fsutil_tree.h"
#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

// Makes what stands in the place an entry leaves.
using PutInPlace = std::function<util::IoStatus()>;

// How a replacement ended.
struct Replaced {
    enum class Failed { nothing, take_out, put_in };
    Failed failed = Failed::nothing;
    TreeError error;                    // of the step that failed
    std::optional<TreeError> leftover;  // the hidden entry that could not be removed at the end
};

// Replaces the entry at `path` (a file, a link, or a directory with its tree)
// by what `put_in` makes there: the entry is first renamed to a hidden name
// in its own directory, in one step; then `put_in` is called (should it fail,
// the entry is renamed back); then the hidden entry is removed. A failure of
// that last step leaves it as a leftover that clear_hidden_leftovers takes
// away later. Only for an entry that has a whole copy elsewhere.
Replaced replace_entry(const fs::path& path, const PutInPlace& put_in);

// Moves `from` to `to` (which must not exist yet; missing parents are
// created), then calls `put_in` for the place `from` leaves. Between two file
// systems the entry is copied (as by copy_tree; a link at `from` as a link),
// the copy checked whole against the original, and only then the original
// replaced as by replace_entry; a failed or unequal copy is removed again
// and leaves the original as it was. Within one file system the move is one
// rename, and a failure of `put_in` leaves the entry moved.
Replaced move_entry(const fs::path& from, const fs::path& to, const PutInPlace& put_in);

}  // namespace core
