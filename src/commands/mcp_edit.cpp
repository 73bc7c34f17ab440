#include "commands/mcp_edit.h"

namespace commands {

int mcp_remove(const core::RunContext&, const core::Config&, core::Reporter& reporter, const std::string&) {
    reporter.report_error("`mcp remove` is not available in this build yet");
    return 1;
}

int mcp_disable(const core::RunContext&, const core::Config&, core::Reporter& reporter, const std::string&) {
    reporter.report_error("`mcp disable` is not available in this build yet");
    return 1;
}

int mcp_enable(const core::RunContext&, const core::Config&, core::Reporter& reporter, const std::string&) {
    reporter.report_error("`mcp enable` is not available in this build yet");
    return 1;
}

}  // namespace commands
