// The three Commons families.
#pragma once

#include <array>
#include <string_view>

namespace core {

enum class Family { skills, commands, agents };

inline constexpr std::array<Family, 3> all_families = {Family::skills, Family::commands,
                                                       Family::agents};

// Also the Commons directory names and the keys of a custom agent's table.
constexpr std::string_view family_name(Family family) {
    switch (family) {
        case Family::skills: return "skills";
        case Family::commands: return "commands";
        case Family::agents: return "agents";
    }
    return "";
}

}  // namespace core
