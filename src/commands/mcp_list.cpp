#include "commands/mcp_list.h"

namespace commands {

int mcp_list(const core::RunContext&, const core::Config&, core::Reporter& reporter, bool) {
    reporter.report_error("`mcp list` is not available in this build yet");
    return 1;
}

}  // namespace commands
