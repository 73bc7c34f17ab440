// Placeholder until the command-line parser lands.
#include "core/cli.h"

namespace core {

CliOutcome parse_command_line(const std::vector<std::string>& args) {
    CliOutcome outcome;
    if (args.size() >= 2 && args[1] == "sync") {
        outcome.command = Subcommand{Subcommand::Sync{args.size() >= 3 && args[2] == "--dry-run"}};
        return outcome;
    }
    outcome.text = "Usage: mirthlode <COMMAND>\n";
    outcome.to_stdout = true;
    return outcome;
}

}  // namespace core
