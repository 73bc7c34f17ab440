// The process entry: collect the arguments and the environment once, run,
// and end with run's exit code. A fault that escapes a command ends the run
// with one error line and code 101.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    platform::ignore_broken_pipe();
    const std::vector<std::string> args(argv, argv + argc);
    int code = 101;
    try {
        code = run(args, platform::environment(), std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "error: internal fault: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "error: internal fault\n";
    }
    std::cout.flush();
    return code;
}
