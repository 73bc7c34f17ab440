#include "commands/mcp_adopt.h"

namespace commands {

int mcp_adopt(const core::RunContext&, const core::Config&, core::Reporter& reporter, const std::optional<std::string>&, bool) {
    reporter.report_error("`mcp adopt` is not available in this build yet");
    return 1;
}

}  // namespace commands
