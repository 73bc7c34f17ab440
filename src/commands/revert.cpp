#include "commands/revert.h"

namespace commands {

int revert(const core::RunContext&, const core::Config&, core::Reporter& reporter, const std::string&) {
    reporter.report_error("`revert` is not available in this build yet");
    return 1;
}

}  // namespace commands
