#include "core/text_file.h"

#include <utility>

#include "platform/platform.h"
#include "util/utf8.h"

namespace core {

util::IoResult<std::string> read_utf8_file(const std::filesystem::path& path, platform::FileStamp& stamp) {
    auto bytes = platform::read_file(path, stamp);
    if (!bytes) return bytes.error();
    if (!util::is_utf8(*bytes)) return std::make_error_code(std::errc::illegal_byte_sequence);
    return std::move(*bytes);
}

util::IoResult<std::string> read_utf8_file(const std::filesystem::path& path) {
    platform::FileStamp stamp;
    return read_utf8_file(path, stamp);
}

util::Error cannot_read(const std::filesystem::path& path, std::error_code error) {
    const std::string reason = error == std::errc::illegal_byte_sequence ? "stream did not contain valid UTF-8"
                                                                         : error.message();
    return util::error("cannot read " + path.string() + ": " + reason);
}

util::Result<std::string> read_text_file(const std::filesystem::path& path) {
    auto text = read_utf8_file(path);
    if (!text) return cannot_read(path, text.error());
    return std::move(*text);
}

}  // namespace core
