// Path clean-up and the atomic replacement of a whole file.
#pragma once

#include <filesystem>
#include <string_view>

#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

// Lexical clean-up: "." dropped, ".." removes the part before it (kept when
// nothing is left to remove, dropped above the root). Never touches the disk.
fs::path normalize_path(const fs::path& path);

// The normalised place a link's stored text designates, seen from the link.
fs::path resolve_link_target(const fs::path& link, const fs::path& text);

// Replaces the whole file at `path` (or the file a link at `path` points to)
// so that readers see the old or the new content, never a part. Keeps the
// permission bits of the file it replaces; returns the path written.
util::IoResult<fs::path> write_atomic(const fs::path& path, std::string_view bytes);
// The same; the directory's entries are flushed to disk only when
// `sync_directory` (a caller writing many files flushes it once itself).
util::IoResult<fs::path> write_atomic(const fs::path& path, std::string_view bytes, bool sync_directory);

}  // namespace core
