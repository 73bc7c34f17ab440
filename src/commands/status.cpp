#include "commands/status.h"

namespace commands {

int status(const core::RunContext&, const core::Config&, core::Reporter& reporter, bool) {
    reporter.report_error("`status` is not available in this build yet");
    return 1;
}

}  // namespace commands
