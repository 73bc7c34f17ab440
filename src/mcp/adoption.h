// `mcp adopt`: servers the agents hold taken into the Commons. Everything is
// decided under the process lock from the files as they are then; the run's
// edits are written at the end, mirthlode.toml once and then mcp.json once,
// and only what was saved is reported as adopted.
#pragma once

#include <optional>
#include <vector>

#include "core/agents.h"
#include "core/context.h"
#include "core/report.h"
#include "mcp/adopt_tables.h"

namespace mcp {

// Adopts the `named` server, or with none every server of every agent among
// `targets`; the exit code.
int adopt_servers(const core::RunContext& ctx, core::Reporter& reporter, const std::vector<core::Target>& targets,
                  const std::optional<Candidate>& named);

}  // namespace mcp
