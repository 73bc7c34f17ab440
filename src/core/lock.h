// The process lock that keeps two changing runs apart.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "core/context.h"
#include "core/report.h"
#include "platform/platform.h"

namespace core {

namespace fs = std::filesystem;

// The open lock file and the locked directories; holding them is holding the
// lock. Released when destroyed, after removing again the directories made
// only to be locked that are still empty.
class ProcessLock {
public:
    explicit ProcessLock(platform::File file) : file_(std::move(file)) {}
    ProcessLock(platform::File file, std::vector<platform::Directory> directories, std::vector<fs::path> made);
    ProcessLock(ProcessLock&&) = default;
    ProcessLock& operator=(ProcessLock&&) = default;
    ~ProcessLock();

private:
    platform::File file_;
    std::vector<platform::Directory> directories_;
    std::vector<fs::path> made_;  // deepest first
};

// MIRTHLODE_LOCK_TIMEOUT_MS as milliseconds; 30 seconds when absent or malformed.
std::chrono::milliseconds lock_timeout(const EnvMap& env);

struct LockOutcome {
    enum class Kind { acquired, timed_out, failed } kind;
    std::optional<ProcessLock> lock;
    std::error_code error;
};

// Takes `<state_dir>/lock`, retrying every 20 ms while another process holds it
// until `timeout` has passed (0: a single attempt).
LockOutcome acquire_lock(const fs::path& state_dir, std::chrono::milliseconds timeout);

// Whether a missing Commons is made before it is locked: by the commands
// that would make it anyway when they write into it.
enum class MissingCommons { left_alone, made };

// Whether a missing state directory is made for the lock file, or the run
// makes do with the Commons and the home directory, which every other run
// on them locks too: a run that may well change nothing then leaves nothing
// behind.
enum class MissingState { made, left_alone };

// The lock file, then the Commons and the home directory themselves (links
// followed), which every run on them shares whatever its state directory
// says. Each is retried every 20 ms within the one `timeout`.
LockOutcome acquire_lock(const RunContext& ctx, std::chrono::milliseconds timeout,
                         MissingCommons missing = MissingCommons::left_alone,
                         MissingState missing_state = MissingState::made);

// For the changing commands: takes the lock, or reports why not and returns nullopt.
std::optional<ProcessLock> take_lock(const RunContext& ctx, Reporter& reporter,
                                     MissingCommons missing = MissingCommons::left_alone,
                                     MissingState missing_state = MissingState::made);

}  // namespace core
