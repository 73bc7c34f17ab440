#include "commands/doctor.h"

namespace commands {

int doctor(const core::RunContext&, const core::Config&, core::Reporter& reporter) {
    reporter.report_error("`doctor` is not available in this build yet");
    return 1;
}

}  // namespace commands
