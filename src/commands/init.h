// `mirthlode init`: create the Commons and report what the machine already has.
#pragma once

#include <optional>
#include <string>

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"

namespace commands {

int init(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter);

}  // namespace commands
