#include "core/lock.h"

#include <chrono>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;

using core::acquire_lock;
using core::LockOutcome;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;
using namespace std::chrono_literals;
using Kind = LockOutcome::Kind;

std::chrono::milliseconds timeout_for(const std::string& value) {
    return core::lock_timeout(core::EnvMap(core::EnvPairs{{"MIRTHLODE_LOCK_TIMEOUT_MS", value}}));
}

TEST(LockTimeout, ParsesMillisecondsStrictly) {
    EXPECT_EQ(core::lock_timeout(core::EnvMap{}), 30s);
    EXPECT_EQ(timeout_for("0"), 0ms);
    EXPECT_EQ(timeout_for("250"), 250ms);
    EXPECT_EQ(timeout_for("+500"), 500ms);
    EXPECT_EQ(timeout_for("007"), 7ms);
    for (const char* bad : {"", "+", "-", "-5", "5s", " 5", "5 ", "++5", "1e3", "18446744073709551616",
                            "99999999999999999999"}) {
        EXPECT_EQ(timeout_for(bad), 30s) << "value: [" << bad << "]";
    }
    // The largest 64-bit value is valid and waits as long as the clock can count.
    EXPECT_GT(timeout_for("18446744073709551615"), std::chrono::hours(24 * 365 * 1000));
}

// A child process that holds the lock until told to let go.
class LockHolder {
public:
    explicit LockHolder(const fs::path& state_dir) {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            auto outcome = acquire_lock(state_dir, 0ms);
            char byte = outcome.kind == Kind::acquired ? 'y' : 'n';
            (void)::write(ready[1], &byte, 1);
            (void)::read(release[0], &byte, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        char byte = 0;
        acquired_ = ::read(ready[0], &byte, 1) == 1 && byte == 'y';
        ::close(ready[0]);
        release_fd_ = release[1];
    }
    ~LockHolder() { let_go(); }

    bool acquired() const { return acquired_; }
    void let_go() {
        if (pid_ <= 0) return;
        ::close(release_fd_);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int release_fd_ = -1;
    bool acquired_ = false;
};

TEST(AcquireLock, AnotherProcessHoldingItMakesUsWaitThenGiveUp) {
    TempDir dir;
    fs::path state = dir / "state/mirthlode";
    LockHolder holder(state);
    ASSERT_TRUE(holder.acquired());

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(acquire_lock(state, 0ms).kind, Kind::timed_out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);

    start = std::chrono::steady_clock::now();
    auto outcome = acquire_lock(state, 150ms);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(outcome.kind, Kind::timed_out);
    EXPECT_FALSE(outcome.lock.has_value());
    EXPECT_GE(waited, 150ms);
    EXPECT_LT(waited, 2s);

    holder.let_go();
    auto after = acquire_lock(state, 0ms);
    EXPECT_EQ(after.kind, Kind::acquired);
    EXPECT_TRUE(after.lock.has_value());
}

TEST(AcquireLock, WaitingPicksUpALockReleasedMeanwhile) {
    TempDir dir;
    LockHolder holder(dir.path());
    ASSERT_TRUE(holder.acquired());
    std::thread releaser([&] {
        std::this_thread::sleep_for(100ms);
        holder.let_go();
    });
    // Even the longest timeout is a real wait, not one that ends at once.
    const auto start = std::chrono::steady_clock::now();
    auto outcome = acquire_lock(dir.path(), timeout_for("18446744073709551615"));
    releaser.join();
    EXPECT_EQ(outcome.kind, Kind::acquired);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
}

TEST(AcquireLock, TheLockFileIsKeptAndNeverTruncated) {
    TempDir dir;
    write_file(dir / "lock", "left alone");
    {
        auto outcome = acquire_lock(dir.path(), 0ms);
        ASSERT_EQ(outcome.kind, Kind::acquired);
        // Within one process a second take is refused as well.
        EXPECT_EQ(acquire_lock(dir.path(), 0ms).kind, Kind::timed_out);
    }
    EXPECT_EQ(read_file(dir / "lock"), "left alone");
    EXPECT_EQ(acquire_lock(dir.path(), 0ms).kind, Kind::acquired);
    EXPECT_TRUE(fs::exists(dir / "lock"));
}

TEST(TakeLock, ReportsBothFailures) {
    TempDir dir;
    std::ostringstream out, err;
    core::Reporter reporter(out, err);
    core::RunContext ctx;
    ctx.env = core::EnvMap(core::EnvPairs{{"MIRTHLODE_LOCK_TIMEOUT_MS", "0"}});

    write_file(dir / "blocked", "a file where the state directory should be");
    ctx.state_dir = dir / "blocked/mirthlode";
    EXPECT_FALSE(core::take_lock(ctx, reporter));
    EXPECT_EQ(err.str(), "error: cannot take the mirthlode lock: " +
                             std::make_error_code(std::errc::not_a_directory).message() + "\n");

    ctx.state_dir = dir / "state";
    LockHolder holder(ctx.state_dir);
    ASSERT_TRUE(holder.acquired());
    err.str("");
    EXPECT_FALSE(core::take_lock(ctx, reporter));
    EXPECT_EQ(err.str(), "error: another mirthlode process is running — try again when it finishes\n");
    EXPECT_EQ(reporter.errors(), 2u);

    holder.let_go();
    EXPECT_TRUE(core::take_lock(ctx, reporter));
    EXPECT_EQ(out.str(), "");
}

TEST(AcquireRunLock, HoldsTheCommonsAndTheHomeWhereverTheyAreReachedFrom) {
    TempDir dir;
    fs::create_directories(dir / "home");
    fs::create_directories(dir / "commons");
    fs::create_directory_symlink("commons", dir / "link");
    auto context = [&](const char* state, fs::path commons, fs::path home) {
        core::RunContext ctx;
        ctx.state_dir = dir / state;
        ctx.commons = std::move(commons);
        ctx.home = std::move(home);
        return ctx;
    };
    {
        // The home as its own Commons is locked once.
        auto held = core::acquire_lock(context("one", dir / "home", dir / "home"), 0ms);
        ASSERT_EQ(held.kind, Kind::acquired);
        // Another state directory, the same home.
        EXPECT_EQ(core::acquire_lock(context("two", dir / "commons", dir / "home"), 0ms).kind, Kind::timed_out);
    }
    {
        auto held = core::acquire_lock(context("one", dir / "link", dir / "home"), 0ms);
        ASSERT_EQ(held.kind, Kind::acquired);
        // The same Commons, reached without the link, from another home.
        EXPECT_EQ(core::acquire_lock(context("two", dir / "commons", dir / "other"), 0ms).kind, Kind::timed_out);
        EXPECT_EQ(core::acquire_lock(context("two", dir / "other", dir / "commons"), 0ms).kind, Kind::timed_out);
        EXPECT_EQ(core::acquire_lock(context("two", dir / "missing", dir / "missing"), 0ms).kind, Kind::acquired);
    }
    // A missing Commons is made to be locked, and removed again with its
    // parents when nothing was written into it.
    const auto fresh = context("one", dir / "new/agents", dir / "home");
    {
        auto held = core::acquire_lock(fresh, 0ms, core::MissingCommons::made);
        ASSERT_EQ(held.kind, Kind::acquired);
        EXPECT_TRUE(fs::is_directory(dir / "new/agents"));
        EXPECT_EQ(core::acquire_lock(context("two", dir / "new/agents", dir / "other"), 0ms).kind, Kind::timed_out);
    }
    EXPECT_FALSE(fs::exists(dir / "new"));
    {
        auto held = core::acquire_lock(fresh, 0ms, core::MissingCommons::made);
        write_file(dir / "new/agents/mcp.json", "{}");
    }
    EXPECT_EQ(read_file(dir / "new/agents/mcp.json"), "{}");
    EXPECT_FALSE(fs::exists(dir / "missing"));
    // A missing state directory left alone: the home alone keeps the runs
    // apart, whichever of them makes the directory.
    {
        auto held = core::acquire_lock(context("unmade", dir / "commons", dir / "home"), 0ms,
                                       core::MissingCommons::left_alone, core::MissingState::left_alone);
        ASSERT_EQ(held.kind, Kind::acquired);
        EXPECT_FALSE(fs::exists(dir / "unmade"));
        EXPECT_EQ(core::acquire_lock(context("unmade", dir / "other", dir / "home"), 0ms).kind, Kind::timed_out);
    }
    EXPECT_TRUE(fs::exists(dir / "unmade/lock"));
}

}  // namespace
