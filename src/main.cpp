// The process entry: collect the arguments and the environment once, run,
// and end with run's exit code.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "run.h"

extern char** environ;

namespace {

core::EnvPairs collect_environment() {
    core::EnvPairs pairs;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string text = *entry;
        auto eq = text.find('=');
        if (eq == std::string::npos) continue;
        pairs.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    }
    return pairs;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv, argv + argc);
    int code;
    try {
        code = run(args, collect_environment(), std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "error: internal fault: " << e.what() << "\n";
        code = 101;
    } catch (...) {
        std::cerr << "error: internal fault\n";
        code = 101;
    }
    std::cout.flush();
    return code;
}
