// Any input: parsing never crashes; an accepted document renders back byte
// for byte, and stays valid TOML after new keys and tables are added.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "toml/document.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto document = toml::parse(text);
    if (!document) {
        check(document.error().offset <= size);
        return 0;
    }
    check(document->render() == text);

    toml::Table& root = document->root();
    for (toml::Entry& entry : root) {
        if (toml::Table* table = entry.item().as_table()) {
            table->set("fuzz key", toml::Value::string("a'b\"c\\\n\x01\xC3\xA9"));
            table->set_implicit(!table->is_implicit());
        }
    }
    toml::Table added;
    added.set("n", toml::Value::floating(1e300));
    added.set("sub", toml::Table::new_implicit());
    root.set("fuzz-table", std::move(added));
    root.set("x", toml::Value::integer(-1));
    std::string edited = document->render();
    auto again = toml::parse(edited);
    if (!again) {
        std::fprintf(stderr, "edited text does not parse (offset %zu: %s):\n%s\n", again.error().offset,
                     again.error().message.c_str(), edited.c_str());
        std::abort();
    }
    check(again->render() == edited);
    return 0;
}
