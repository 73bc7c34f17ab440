#include "fanout/text_file.h"

#include "platform/platform.h"
#include "util/utf8.h"

namespace fanout {

util::Result<std::string> read_text_file(const std::filesystem::path& path) {
    auto bytes = platform::read_file(path);
    if (!bytes) return util::error(bytes.error().message());
    if (!util::is_utf8(*bytes)) return util::error("stream did not contain valid UTF-8");
    return std::move(bytes).value();
}

}  // namespace fanout
