// Exclusive locks on directories' own descriptors, which every changing run
// on the same home and the same Commons shares.
#pragma once

#include <filesystem>
#include <vector>

#include "platform/platform.h"
#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

// One attempt: opens each directory (links followed; one that is missing or
// no directory is skipped) and locks them in the order of their device and
// inode numbers, each once however many paths lead to it. True with every
// lock held; false, holding none, when another run holds one or a path no
// longer leads to the directory locked through it.
util::IoResult<bool> lock_directories(const std::vector<fs::path>& paths, std::vector<platform::Directory>& held);

// Makes `dir` with its missing parents; returns those made, deepest first.
// A failure is left to whoever writes there next.
std::vector<fs::path> make_missing_directories(const fs::path& dir);

// Removes each of `dirs` that is still an empty directory, in order.
void remove_if_empty(const std::vector<fs::path>& dirs);

}  // namespace core
