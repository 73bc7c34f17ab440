// Whole runs under a hostile machine: runs that wait for each other, runs
// killed half way, special files where files belong, names that are not
// plain text.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <set>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "support/support.h"

using namespace testing_support;

// A run that waited for the lock plans with mirthlode.toml as the run before
// it left it, not as it was when the waiting run started.
TEST(Hostile, SyncReadsTheConfigAgainUnderTheLock) {
    Home h;
    for (auto dir : {".claude", ".cursor"}) fs::create_directories(h / dir);
    write_file(h / ".agents/mcp.json", R"({"mcpServers": {"fs": {"command": "f"}}})");
    write_file(h / ".cursor/mcp.json", "{}");
    h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "20000";
    HeldLock held(h);
    auto waiting = std::async(std::launch::async, [&] { return h.run({"sync"}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // What `mcp adopt cursor/fs` leaves: fs scoped to cursor alone.
    write_file(h / ".config/mirthlode/mirthlode.toml", "[mcp.fs]\nagents = [\"cursor\"]\n");
    held.release();
    auto r = waiting.get();
    EXPECT_EQ(r.out, "mcp (mcp.json)\n  missing   fs → cursor — not in this agent's config yet\n\n1 change made.\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(h / ".claude.json"));
    EXPECT_EQ(h.run({"sync"}).out, "Everything is up to date.\n");
}

// A copy into the Commons killed half way leaves its hidden half copy; the
// next copy of the same entry clears every one of them, whichever run made
// it, and leaves alone what only looks like one.
TEST(Hostile, HalfCopiesOfKilledAdoptsAreClearedByTheNextCopy) {
    Home h;
    fs::create_directories(h / ".claude");
    write_file(h / "notes/skills/big/SKILL.md", "big");
    write_file(h / "notes/skills/big/a/b.md", "b");
    const fs::path skills = h / ".agents/skills";
    write_file(skills / ".big.mirthlode-4194305/SKILL.md", "b");
    write_file(skills / ".big.mirthlode-4194307/a/half", "");
    ::chmod((skills / ".big.mirthlode-4194307/a").c_str(), 0500);
    write_file(skills / ".big.mirthlode-12x/keep", "mine");
    write_file(skills / ".other.mirthlode-1/keep", "mine");
    fs::create_symlink(h / "notes", skills / ".big.mirthlode-8");

    auto r = h.run({"adopt", (h / "notes/skills/big").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(skills)) left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{".big.mirthlode-12x", ".big.mirthlode-8", ".other.mirthlode-1", "big"}));
    EXPECT_EQ(read_file(skills / "big/a/b.md"), "b");
    EXPECT_EQ(read_file(h / "notes/skills/big/a/b.md"), "b");
}

// A large agent file with many servers is read once, not once per server:
// 1000 servers in 30 MB took minutes that way.
TEST(Hostile, AdoptingEveryServerOfALargeAgentFileTakesBoundedTime) {
    Home h;
    fs::create_directories(h / ".claude");
    std::string text = R"({"projects": {)";
    const std::string history(30000, 'x');
    for (int i = 0; i < 1000; ++i) text += (i ? ",\"/p/" : "\"/p/") + std::to_string(i) + "\": \"" + history + "\"";
    text += R"(}, "mcpServers": {)";
    for (int i = 0; i < 1000; ++i) text += (i ? ",\"s" : "\"s") + std::to_string(i) + R"(": {"command": "c"})";
    text += "}}";
    write_file(h / ".claude.json", text);
    const auto start = std::chrono::steady_clock::now();
    auto r = h.run({"mcp", "adopt", "--all"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_LT(took, std::chrono::seconds(20));
    EXPECT_NE(read_file(h / ".agents/mcp.json").find("\"s999\""), std::string::npos);
    EXPECT_EQ(read_file(h / ".claude.json"), text);
}

// adopt removes a copy it found identical to the other side only if it still
// is once the lock is held: an edit made while the run waited is kept.
TEST(Hostile, AdoptChecksAgainUnderTheLockBeforeRemovingAnIdenticalCopy) {
    struct Case {
        const char* path;    // what is adopted
        const char* edited;  // the copy edited while the run waits
        const char* variant;
    };
    const std::vector<Case> cases = {
        {".claude/skills/x", ".claude/skills/x/SKILL.md", ".claude/skills/x"},
        {"repo/skills/x", ".agents/skills/x/SKILL.md", "repo/skills/x"},
    };
    for (const Case& c : cases) {
        Home h;
        fs::create_directories(h / ".claude");
        fs::create_directories(h / "repo/.git");
        write_file(h / ".agents/skills/x/SKILL.md", "same");
        write_file(h / c.path / "SKILL.md", "same");
        h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "20000";
        HeldLock held(h);
        auto waiting = std::async(std::launch::async, [&] { return h.run({"adopt", (h / c.path).string()}); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        write_file(h / c.edited, "edited while waiting");
        held.release();
        auto r = waiting.get();
        EXPECT_EQ(r.out, "") << c.path;
        EXPECT_EQ(r.err, "error: " + (h / c.variant).string() + " differs from the Commons copy at " +
                             (h / ".agents/skills/x").string() +
                             " — this is a Variant. Merge it by hand if you want it in the Commons; mirthlode will "
                             "not choose which side to discard\n")
            << c.path;
        EXPECT_EQ(r.code, 1) << c.path;
        EXPECT_EQ(read_file(h / c.edited), "edited while waiting") << c.path;
    }
}

// The Commons mcp.json that is no regular file counts as no list; writing the
// adopted server then fails and leaves the FIFO, or what a link leads to, as
// it was instead of replacing it with a file.
TEST(Hostile, AWriteNeverReplacesWhatIsNoRegularFile) {
    for (bool through_link : {false, true}) {
        Home h;
        fs::create_directories(h / ".claude");
        write_file(h / ".claude.json", R"({"mcpServers": {"fs": {"command": "f"}}})");
        const fs::path fifo = through_link ? h / "elsewhere/pipe" : h / ".agents/mcp.json";
        fs::create_directories(fifo.parent_path());
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
        fs::create_directories(h / ".agents");
        if (through_link) fs::create_symlink(fifo, h / ".agents/mcp.json");
        auto r = h.run({"mcp", "adopt", "claude/fs"});
        EXPECT_EQ(r.err, "error: cannot write " + (h / ".agents/mcp.json").string() + ": not a regular file\n");
        EXPECT_EQ(r.code, 1);
        struct stat st {};
        ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << through_link;
        EXPECT_EQ(fs::is_symlink(h / ".agents/mcp.json"), through_link);
    }
}

// Names close to the longest a file name may be: the hidden name a write or
// a copy goes through is cut short to fit, so that what the user could name
// can be written.
TEST(Hostile, NamesNearTheLengthLimitAreWrittenAndCopied) {
    Home h;
    fs::create_directories(h / ".claude");
    fs::create_directories(h / ".gemini");
    const std::string command(245, 'c');  // 250 bytes with ".toml"
    write_file(h / ".agents/commands" / (command + ".md"), "---\ndescription: d\n---\nbody\n");
    auto r = h.run({"sync"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(read_file(h / ".gemini/commands" / (command + ".toml")).find("body"), std::string::npos);

    std::string skill;
    for (int i = 0; i < 125; ++i) skill += "é";  // 250 bytes
    write_file(h / "notes/skills" / skill / "SKILL.md", "x");
    r = h.run({"adopt", (h / "notes/skills" / skill).string()});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(h / ".agents/skills" / skill / "SKILL.md"), "x");
    EXPECT_EQ(h.run({"sync"}).out, "Everything is up to date.\n");
}
