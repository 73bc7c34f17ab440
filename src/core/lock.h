// The process lock that keeps two changing runs apart.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "core/context.h"
#include "core/report.h"
#include "platform/platform.h"

namespace core {

namespace fs = std::filesystem;

// The open lock file; holding it is holding the lock. Released when destroyed.
class ProcessLock {
public:
    explicit ProcessLock(platform::File file) : file_(std::move(file)) {}

private:
    platform::File file_;
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

// For the changing commands: takes the lock, or reports why not and returns nullopt.
std::optional<ProcessLock> take_lock(const RunContext& ctx, Reporter& reporter);

}  // namespace core
