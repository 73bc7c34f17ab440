#include "commands/init.h"

namespace commands {

int init(const core::RunContext&, const core::Config&, core::Reporter& reporter) {
    reporter.report_error("`init` is not available in this build yet");
    return 1;
}

}  // namespace commands
