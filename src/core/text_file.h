// Reading a whole file as UTF-8 text.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "util/result.h"

namespace platform {
struct FileStamp;
}

namespace core {

// The file's bytes when they are valid UTF-8; otherwise the system's error,
// or std::errc::illegal_byte_sequence for bytes that are not UTF-8.
util::IoResult<std::string> read_utf8_file(const std::filesystem::path& path);
// The same, with the stamp of the file read when it could be opened.
util::IoResult<std::string> read_utf8_file(const std::filesystem::path& path, platform::FileStamp& stamp);

// "cannot read {path}: {the system's text}", with "stream did not contain
// valid UTF-8" for bytes that are not UTF-8.
util::Error cannot_read(const std::filesystem::path& path, std::error_code error);

// read_utf8_file with its failure worded by cannot_read.
util::Result<std::string> read_text_file(const std::filesystem::path& path);

}  // namespace core
