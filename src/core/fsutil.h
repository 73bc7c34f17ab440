// Path clean-up and the atomic replacement of a whole file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

// Lexical clean-up: "." dropped, ".." removes the part before it (kept when
// nothing is left to remove, dropped above the root). Never touches the disk.
fs::path normalize_path(const fs::path& path);

// The normalised place a link's stored text designates, seen from the link.
fs::path resolve_link_target(const fs::path& link, const fs::path& text);

// ".<name>.mirthlode-": what the hidden names made beside `destination`
// while it is written begin with, a process id following. A long name is cut
// short (at a character boundary) so that the whole stays a valid file name.
std::string hidden_prefix(const fs::path& destination);

// Replaces the whole file at `path` (or the file a link at `path` points to)
// so that readers see the old or the new content, never a part. Keeps the
// permission bits of the file it replaces; a file that did not exist gets
// `new_file_mode` less the umask (0600 for one that holds secrets). The
// directory's entries are flushed to disk unless a caller writing many files
// flushes it once itself. Returns the path written.
//
// Called only while holding the process lock: the temporary files that
// killed runs left beside the destination are removed first, since no other
// run can be writing them then.
struct WriteOptions {
    unsigned new_file_mode = 0666;
    bool sync_directory = true;
    // The caller has just found nothing at `path`: nothing is looked up
    // before the write. Should anything be there by the time the new file
    // is moved into place, the move refuses and the write is done again as
    // for a file that is there.
    bool expect_absent = false;
};
util::IoResult<fs::path> write_atomic(const fs::path& path, std::string_view bytes, WriteOptions options = {});

}  // namespace core
