#include "core/lock.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <string_view>

#include "core/lock_directories.h"

namespace core {

namespace {

constexpr std::chrono::milliseconds default_timeout = std::chrono::seconds(30);
constexpr std::chrono::milliseconds retry_interval{20};

// Decimal digits with one optional leading "+", within the unsigned 64-bit range.
std::optional<std::uint64_t> parse_millis(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

ProcessLock::ProcessLock(platform::File file, std::vector<platform::Directory> directories,
                         std::vector<fs::path> made)
    : file_(std::move(file)), directories_(std::move(directories)), made_(std::move(made)) {}

// Still holding every lock: no other run can have begun to fill them.
ProcessLock::~ProcessLock() { remove_if_empty(made_); }

std::chrono::milliseconds lock_timeout(const EnvMap& env) {
    auto text = env.get("MIRTHLODE_LOCK_TIMEOUT_MS");
    if (!text) return default_timeout;
    auto millis = parse_millis(*text);
    if (!millis) return default_timeout;
    // Beyond the clock's range every wait is endless anyway.
    constexpr auto longest = static_cast<std::uint64_t>(std::chrono::milliseconds::max().count());
    return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(
        *millis > longest ? longest : *millis));
}

namespace {

using Clock = platform::Clock;

// Calls `attempt` at once, then every 20 ms while it finds the lock held,
// until `timeout` has passed since `start`: true when taken, false when the
// time ran out. The time is only looked at after a failed attempt.
util::IoResult<bool> retry_until_taken(Clock::time_point start, std::chrono::milliseconds timeout,
                                       const std::function<util::IoResult<bool>()>& attempt) {
    for (;;) {
        auto taken = attempt();
        if (!taken || *taken) return taken;
        // In milliseconds: a finer unit would overflow for the longest timeouts.
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        if (elapsed >= timeout) return false;
        platform::sleep_for(retry_interval);
    }
}

// One attempt at the lock file; the state directory is made, with its
// parents, the first time it is missing, and its own failure is the one
// reported.
util::IoResult<bool> take_lock_file(const fs::path& state_dir, std::optional<platform::File>& held,
                                    bool& made_state_dir) {
    const fs::path path = state_dir / "lock";
    auto file = platform::open_for_writing(path);
    if (!file && !made_state_dir &&
        (file.error() == std::errc::no_such_file_or_directory || file.error() == std::errc::not_a_directory)) {
        made_state_dir = true;
        if (auto st = platform::create_directories(state_dir); !st) return st.error();
        file = platform::open_for_writing(path);
    }
    if (!file) return file.error();
    auto taken = platform::try_lock_exclusive(*file);
    if (!taken) return taken.error();
    if (*taken) held = std::move(file).value();
    return *taken;
}

util::IoResult<platform::File> lock_file(const fs::path& state_dir, Clock::time_point start,
                                         std::chrono::milliseconds timeout, bool& timed_out) {
    std::optional<platform::File> held;
    bool made_state_dir = false;
    auto taken = retry_until_taken(start, timeout, [&] { return take_lock_file(state_dir, held, made_state_dir); });
    if (!taken) return taken.error();
    timed_out = !*taken;
    return held ? std::move(*held) : platform::File();
}

// Nothing there, nor any directory that could hold it.
bool nothing_at(const fs::path& path) {
    auto found = platform::symlink_metadata(path);
    return !found && (found.error() == std::errc::no_such_file_or_directory ||
                      found.error() == std::errc::not_a_directory);
}

LockOutcome outcome_of(util::IoResult<platform::File> file, bool timed_out) {
    using Kind = LockOutcome::Kind;
    if (!file) return LockOutcome{Kind::failed, std::nullopt, file.error()};
    if (timed_out) return LockOutcome{Kind::timed_out, std::nullopt, {}};
    return LockOutcome{Kind::acquired, ProcessLock(std::move(file).value()), {}};
}

}  // namespace

LockOutcome acquire_lock(const fs::path& state_dir, std::chrono::milliseconds timeout) {
    bool timed_out = false;
    auto file = lock_file(state_dir, Clock::now(), timeout, timed_out);
    return outcome_of(std::move(file), timed_out);
}

LockOutcome acquire_lock(const RunContext& ctx, std::chrono::milliseconds timeout, MissingCommons missing,
                         MissingState missing_state) {
    using Kind = LockOutcome::Kind;
    const auto start = Clock::now();
    bool timed_out = false;
    // A run that makes the state directory meanwhile still waits for this
    // one at the home directory.
    const bool without_file = missing_state == MissingState::left_alone && nothing_at(ctx.state_dir);
    auto file = without_file ? util::IoResult<platform::File>(platform::File())
                             : lock_file(ctx.state_dir, start, timeout, timed_out);
    if (!file || timed_out) return outcome_of(std::move(file), timed_out);

    std::vector<fs::path> made;
    if (missing == MissingCommons::made) made = make_missing_directories(ctx.commons);
    std::vector<platform::Directory> held;
    auto taken = retry_until_taken(start, timeout, [&] { return lock_directories({ctx.commons, ctx.home}, held); });
    if (!taken || !*taken) {
        remove_if_empty(made);
        if (!taken) return LockOutcome{Kind::failed, std::nullopt, taken.error()};
        return LockOutcome{Kind::timed_out, std::nullopt, {}};
    }
    return LockOutcome{Kind::acquired, ProcessLock(std::move(file).value(), std::move(held), std::move(made)), {}};
}

std::optional<ProcessLock> take_lock(const RunContext& ctx, Reporter& reporter, MissingCommons missing,
                                     MissingState missing_state) {
    LockOutcome outcome = acquire_lock(ctx, lock_timeout(ctx.env), missing, missing_state);
    switch (outcome.kind) {
        case LockOutcome::Kind::acquired:
            return std::move(outcome.lock);
        case LockOutcome::Kind::timed_out:
            reporter.report_error("another mirthlode process is running — try again when it finishes");
            break;
        case LockOutcome::Kind::failed:
            if (outcome.error == platform::not_a_regular_file()) {
                // A FIFO or a device there is refused at once: say where it is.
                reporter.report_error("cannot take the mirthlode lock: " + (ctx.state_dir / "lock").string() +
                                      " is not a regular file");
            } else {
                reporter.report_error("cannot take the mirthlode lock: " + outcome.error.message());
            }
            break;
    }
    return std::nullopt;
}

}  // namespace core
