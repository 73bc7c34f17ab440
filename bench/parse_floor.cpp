// The floor of a command that must read and parse some files: reads each
// file given whole and parses it with the program's own parser, TOML for a
// ".toml" file and JSON for the rest, one after the other on one thread.
// Exits 1 when a file cannot be read or parsed.
// Usage: parse_floor FILE...
#include <string>
#include <string_view>

#include "json/json.h"
#include "platform/platform.h"
#include "toml/toml.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view path = argv[i];
        auto text = platform::read_file(argv[i]);
        if (!text) return 1;
        const bool parsed = path.ends_with(".toml") ? toml::parse(*text).ok() : json::parse(*text).ok();
        if (!parsed) return 1;
    }
    return 0;
}
