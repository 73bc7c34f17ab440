// Which keys of an agent's entry differ from the entry it should hold.
#pragma once

#include <string>
#include <vector>

#include "json/json.h"

namespace mcp {

// Keys missing from `actual`, holding another value there, or present only
// there; sorted byte-wise, each once. A non-object counts as empty.
std::vector<std::string> diff_server_entries(const json::Value* actual, const json::Value& expected);

}  // namespace mcp
