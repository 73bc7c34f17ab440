// Prints how long the JSON module takes on a 100,000-key object and on deep
// documents.
#include <chrono>
#include <cstdio>
#include <string>

#include "json/json.h"

namespace {

template <class F>
double seconds(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    std::string wide = "{";
    for (int i = 0; i < 100'000; ++i) wide += (i ? ",\"key" : "\"key") + std::to_string(i) + "\":" + std::to_string(i);
    wide += "}";

    json::Value value;
    std::printf("100,000 keys: parse %.3f s\n", seconds([&] { value = *json::parse(wide); }));
    std::printf("100,000 keys: print %.3f s\n", seconds([&] { (void)json::print_pretty(value); }));
    std::printf("100,000 keys: equal %.3f s\n", seconds([&] { (void)json::equal(value, value); }));

    std::string deep = std::string(json::max_depth, '[') + std::string(json::max_depth, ']');
    std::printf("128 levels, 10,000 times: parse and print %.3f s\n", seconds([&] {
                    for (int i = 0; i < 10'000; ++i) (void)json::print_pretty(*json::parse(deep));
                }));
    std::string too_deep(10'000'000, '[');
    std::printf("10,000,000 open brackets: refused in %.3f s\n", seconds([&] { (void)json::parse(too_deep); }));
}
