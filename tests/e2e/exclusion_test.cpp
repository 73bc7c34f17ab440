// Changing runs on one home or one Commons wait for each other, whatever
// state directory their environment names.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "support/support.h"

using namespace testing_support;

namespace {

const std::string busy = "error: another mirthlode process is running — try again when it finishes\n";

// Holds an exclusive lock on a directory's own descriptor until released;
// close-on-exec, so that the runs started meanwhile do not hold it too.
class HeldDirectory {
public:
    explicit HeldDirectory(const fs::path& dir) {
        fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0) << dir;
    }
    ~HeldDirectory() { release(); }
    HeldDirectory(const HeldDirectory&) = delete;
    HeldDirectory& operator=(const HeldDirectory&) = delete;
    void release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// The home's environment with a state directory of its own.
auto with_state(Home& h, const std::string& state) {
    auto env = h.env();
    env["XDG_STATE_HOME"] = (h / state).string();
    return env;
}

RunResult run_with_state(Home& h, const std::string& state, const std::vector<std::string>& args) {
    return run_mirthlode(args, with_state(h, state));
}

}  // namespace

TEST(Exclusion, ChangingRunsWaitForEachOtherWhateverTheStateDirectory) {
    // Two adoptions from one home, each with its own state directory, both
    // waiting while the home is held: each keeps the other's server.
    {
        Home h;
        fs::create_directories(h / ".claude");
        write_file(h / ".claude.json", R"({"mcpServers": {"a": {"command": "a"}, "b": {"command": "b"}}})");
        fs::create_directories(h / ".agents");
        h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "20000";
        HeldDirectory held(h.path());
        // Each run's environment is copied before it starts: the home's
        // changes below must not race with the runs reading it.
        auto first = std::async(std::launch::async, [env = with_state(h, "one")] {
            return run_mirthlode({"mcp", "adopt", "claude/a"}, env);
        });
        auto second = std::async(std::launch::async, [env = with_state(h, "two")] {
            return run_mirthlode({"mcp", "adopt", "claude/b"}, env);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "0";
        auto third = run_with_state(h, "three", {"sync"});
        EXPECT_EQ(third.err, busy);
        EXPECT_EQ(third.code, 1);
        held.release();
        for (auto* run : {&first, &second}) {
            auto r = run->get();
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.code, 0);
        }
        // Both adoptions are kept, in the order the two runs got the lock.
        const std::string a = "    \"a\": {\n      \"command\": \"a\"\n    }";
        const std::string b = "    \"b\": {\n      \"command\": \"b\"\n    }";
        const std::string saved = read_file(h / ".agents/mcp.json");
        EXPECT_TRUE(saved == "{\n  \"mcpServers\": {\n" + a + ",\n" + b + "\n  }\n}\n" ||
                    saved == "{\n  \"mcpServers\": {\n" + b + ",\n" + a + "\n  }\n}\n")
            << saved;
    }
    // The Commons is locked where it really is: through a link, and when it
    // is the home directory itself, which is locked once.
    struct Case {
        const char* name;
        const char* commons;  // MIRTHLODE_HOME inside the home; empty: the home itself
        const char* held;     // the directory another run holds; empty: none
        std::string err;
        int code;
    };
    const std::vector<Case> cases = {
        {"Commons through a link, held where it lies", "link", "real", busy, 1},
        {"Commons elsewhere, held by a run on another home", "real", "real", busy, 1},
        {"Commons is the home", "", "", "", 0},
        {"Commons is the home, held", "", ".", busy, 1},
    };
    for (const Case& c : cases) {
        Home h;
        fs::create_directories(h / "real");
        fs::create_symlink("real", h / "link");
        h.env()["MIRTHLODE_HOME"] = (h / c.commons).string();
        h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "0";
        std::optional<HeldDirectory> held;
        if (*c.held) held.emplace(h / c.held);
        auto r = run_with_state(h, "mine", {"sync"});
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.code, c.code) << c.name;
    }
    // A Commons that `mcp adopt` is the first to write into is made and
    // locked; a run that cannot take the lock leaves nothing made.
    {
        Home h;
        fs::create_directories(h / ".claude");
        write_file(h / ".claude.json", R"({"mcpServers": {"a": {"command": "a"}}})");
        h.env()["MIRTHLODE_HOME"] = (h / "new/agents").string();
        h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "0";
        {
            HeldDirectory held(h.path());
            auto refused = run_with_state(h, "mine", {"mcp", "adopt", "claude/a"});
            EXPECT_EQ(refused.err, busy);
            EXPECT_EQ(refused.code, 1);
            EXPECT_FALSE(fs::exists(h / "new"));
        }
        auto r = run_with_state(h, "mine", {"mcp", "adopt", "claude/a"});
        EXPECT_EQ(r.out, "adopted a from claude\n");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(fs::exists(h / "new/agents/mcp.json"));
    }
}
