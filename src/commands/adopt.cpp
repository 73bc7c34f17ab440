#include "commands/adopt.h"

namespace commands {

int adopt(const core::RunContext&, const core::Config&, core::Reporter& reporter, const std::string&, bool) {
    reporter.report_error("`adopt` is not available in this build yet");
    return 1;
}

}  // namespace commands
