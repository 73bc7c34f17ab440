// Suggestions for a misspelt subcommand or option name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The Jaro similarity of two texts, compared character by character:
// 1 for equal texts, 0 for texts with nothing in common.
double jaro_similarity(std::string_view a, std::string_view b);

// The candidates more than 0.7 similar to `typed`, least similar first;
// equally similar ones keep their order.
std::vector<std::string> similar_names(std::string_view typed, const std::vector<std::string>& candidates);

}  // namespace cli
