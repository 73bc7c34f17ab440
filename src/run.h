// One run of the program: parse, resolve the context, load the configuration,
// dispatch to one command handler.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "core/context.h"

// Returns the process exit code: 0, 1, 2 as the commands decide.
int run(const std::vector<std::string>& args, const core::EnvPairs& env, std::ostream& out,
        std::ostream& err);
