// Reading a whole file as UTF-8 text.
#pragma once

#include <filesystem>
#include <string>

#include "util/result.h"

namespace fanout {

// The file's bytes when they are valid UTF-8; else the system's error text,
// or "stream did not contain valid UTF-8".
util::Result<std::string> read_text_file(const std::filesystem::path& path);

}  // namespace fanout
