#include "core/lock.h"

#include <cstdint>
#include <limits>
#include <string_view>

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

LockOutcome acquire_lock(const fs::path& state_dir, std::chrono::milliseconds timeout) {
    using Kind = LockOutcome::Kind;
    fs::path path = state_dir / "lock";
    const auto start = platform::Clock::now();
    bool created = false;
    for (;;) {
        auto file = platform::open_for_writing(path);
        if (!file && !created &&
            (file.error() == std::errc::no_such_file_or_directory || file.error() == std::errc::not_a_directory)) {
            // The state directory is made, with its parents, the first time
            // it is missing; its own failure is the one reported.
            created = true;
            if (auto st = platform::create_directories(state_dir); !st) {
                return LockOutcome{Kind::failed, std::nullopt, st.error()};
            }
            continue;
        }
        if (!file) return LockOutcome{Kind::failed, std::nullopt, file.error()};
        auto taken = platform::try_lock_exclusive(*file);
        if (!taken) return LockOutcome{Kind::failed, std::nullopt, taken.error()};
        if (*taken) return LockOutcome{Kind::acquired, ProcessLock(std::move(file).value()), {}};
        // In milliseconds: a finer unit would overflow for the longest timeouts.
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(platform::Clock::now() - start);
        if (elapsed >= timeout) return LockOutcome{Kind::timed_out, std::nullopt, {}};
        platform::sleep_for(retry_interval);
    }
}

std::optional<ProcessLock> take_lock(const RunContext& ctx, Reporter& reporter) {
    LockOutcome outcome = acquire_lock(ctx.state_dir, lock_timeout(ctx.env));
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
