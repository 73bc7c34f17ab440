// Times parsing and rendering of a 1 MB document with 20,000 tables.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "toml/document.h"

namespace {

std::string big_document(std::size_t tables) {
    std::string text = "# generated\ntitle = \"bench\"\n";
    for (std::size_t i = 0; i < tables; ++i) {
        std::string n = std::to_string(i);
        text += "\n[servers.s" + n + "]  # " + n + "\ncmd = 'npx'\nargs = [\"-y\"]\n";
    }
    return text;
}

double millis(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main() {
    const std::size_t tables = 20000;
    const std::string text = big_document(tables);
    std::vector<double> parse_ms, render_ms;
    for (int run = 0; run < 7; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        auto document = toml::parse(text);
        auto t1 = std::chrono::steady_clock::now();
        if (!document) {
            std::fprintf(stderr, "parse failed at %zu: %s\n", document.error().offset, document.error().message.c_str());
            return 1;
        }
        std::string out = document->render();
        auto t2 = std::chrono::steady_clock::now();
        if (out != text) {
            std::fprintf(stderr, "render differs from the input\n");
            return 1;
        }
        parse_ms.push_back(millis(t1 - t0));
        render_ms.push_back(millis(t2 - t1));
    }
    std::sort(parse_ms.begin(), parse_ms.end());
    std::sort(render_ms.begin(), render_ms.end());
    std::printf("document: %zu bytes, %zu tables\n", text.size(), tables);
    std::printf("parse:  median %.1f ms (best %.1f ms)\n", parse_ms[3], parse_ms[0]);
    std::printf("render: median %.1f ms (best %.1f ms)\n", render_ms[3], render_ms[0]);
    std::printf("total:  median %.1f ms\n", parse_ms[3] + render_ms[3]);
    return 0;
}
