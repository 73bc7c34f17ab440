// `mirthlode doctor`: how ready the machine is.
#pragma once

#include <optional>
#include <string>

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"

namespace commands {

int doctor(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter);

}  // namespace commands
