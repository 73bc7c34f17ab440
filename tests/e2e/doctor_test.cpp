// `mirthlode doctor`: whole runs over a throw-away home, exact output, and
// nothing left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/support.h"

using namespace testing_support;

namespace {

std::string dirs(const Home& h, const fs::path& commons) {
    const std::string home = h.path().string();
    return "Commons " + commons.string() + "\nHome    " + home + "\nConfig  " + home + "/.config/mirthlode\n" +
           "State   " + home + "/.local/state/mirthlode\n\n";
}

const std::string pi_rows =
    "  pi         .pi\n"
    "               skills fan-out → .pi/agent/skills\n"
    "               instructions symlink → .pi/agent/AGENTS.md\n";
const std::string gemini_rows =
    "  gemini     .gemini\n"
    "               skills native (reads the Commons)\n"
    "               instructions symlink → .gemini/GEMINI.md\n"
    "               mcp key-merge → .gemini/settings.json\n"
    "               commands render → .gemini/commands\n"
    "               hooks key-merge → .gemini/settings.json\n";

// Runs mirthlode doctor in a child that has first created the probe file
// its own process id names in `root`, as a run killed half way leaves it.
RunResult doctor_with_leftover_probe(Home& h, const fs::path& root) {
    const fs::path out = h / "out.txt", err = h / "err.txt";
    std::vector<std::string> env;
    for (const auto& [k, v] : h.env()) env.push_back(k + "=" + v);
    const pid_t child = ::fork();
    if (child == 0) {
        write_file(root / (".mirthlode-probe-" + std::to_string(::getpid())), "");
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char bin[] = MIRTHLODE_BIN, doctor[] = "doctor";
        char* argv[] = {bin, doctor, nullptr};
        ::execve(bin, argv, envp.data());
        ::_exit(126);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return {read_file(out), read_file(err), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

TEST(Doctor, NoCommonsNoAgents) {
    Home h;
    auto r = h.run({"doctor"});
    EXPECT_EQ(r.out, dirs(h, h / ".agents") +
                         "Detected agents (0 of 12):\n"
                         "  none — no agent config root found\n"
                         "\n"
                         "12 known agents are not installed and were skipped.\n");
    EXPECT_EQ(r.err, "error: no Commons at " + (h / ".agents").string() + " — run `mirthlode init` to create one\n");
    EXPECT_EQ(r.code, 1);
}

TEST(Doctor, WholeReport) {
    Home h;
    const fs::path c = h / ".agents";
    write_file(c / "skills/real/SKILL.md", "real");
    write_file(h / "projects/mine/SKILL.md", "mine");
    fs::create_symlink("../../projects/mine", c / "skills/mine");
    fs::create_symlink(h / "deleted", c / "skills/zgone");
    write_file(c / "commands/review.md", "review");
    write_file(c / "hooks/Stop.toml", "");
    write_file(c / "hooks/Custom.toml", "");
    write_file(c / "hooks/notes.md", "");
    write_file(c / "AGENTS.md", "shared");
    fs::create_directories(c / "tasks");
    fs::create_directories(c / ".git");
    write_file(c / "notes.txt", "");
    write_file(c / "subagents/old.md", "");
    write_file(h / ".mirthlode/mirthlode.toml", "");
    write_file(h / ".config/mirthlode/mirthlode.toml", "[targets]\ncodex = false\n\n[custom.tool]\nroot = \".tool\"\nskills = \".tool/skills\"\n");
    for (auto dir : {".pi", ".codex", ".gemini", ".tool"}) fs::create_directories(h / dir);
    const auto before = snapshot(h.path());

    auto r = h.run({"doctor"});
    EXPECT_EQ(r.out, dirs(h, c) +
                         "Commons contents:\n"
                         "  skills        2 (2 sourced)\n"
                         "  commands      1\n"
                         "  agents        0\n"
                         "  hooks         2\n"
                         "  AGENTS.md     present\n"
                         "  mcp.json      absent\n"
                         "\n"
                         "Sourced entries:\n"
                         "  skills/mine ← " + (h / "projects/mine").string() + "\n"
                         "  skills/zgone ← " + (h / "deleted").string() + " (source missing)\n"
                         "\n"
                         ".agents Protocol surfaces:\n"
                         "  tasks\n"
                         "\n"
                         "Other tools in the Commons:\n"
                         "  .git\n"
                         "  notes.txt\n"
                         "  subagents\n"
                         "\n"
                         "Detected agents (3 of 12):\n" +
                         pi_rows + gemini_rows +
                         "  tool       .tool\n"
                         "               skills fan-out → .tool/skills\n"
                         "\n"
                         "9 known agents are not installed and were skipped.\n");
    EXPECT_EQ(r.err, "warning: " + (h / ".mirthlode").string() + " is no longer read — move mirthlode.toml to " +
                         (h / ".config/mirthlode").string() + " and delete the directory\n" +
                         "warning: Commons skills/zgone: symlink target is missing, skipped\n"
                         "warning: Commons hooks/notes.md: not a `<Event>.toml` file, skipped\n"
                         "warning: " + (c / "subagents").string() +
                         " is no longer a family — the agents family reads agents/; rename the directory\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(snapshot(h.path()), before);  // the probe files are gone, nothing else written
}

TEST(Doctor, CommonsOverride) {
    struct Case {
        std::string commons;  // relative to the home directory
        bool warned;
    };
    for (const Case& c : {Case{"./.agents", false}, Case{"other/commons", true}}) {
        SCOPED_TRACE(c.commons);
        Home h;
        for (auto dir : {".codex", ".pi", ".gemini"}) fs::create_directories(h / dir);
        fs::create_directories(h / c.commons);
        h.env()["MIRTHLODE_HOME"] = (h / c.commons).string();
        auto r = h.run({"doctor"});
        EXPECT_EQ(r.err, c.warned ? "warning: MIRTHLODE_HOME points the Commons at " + (h / c.commons).string() +
                                        ", but codex and gemini read " + (h / ".agents").string() +
                                        " directly and will not see it\n"
                                  : "");
        EXPECT_EQ(r.code, 0);
    }
}

TEST(Doctor, ReadOnlyConfigRoot) {
    Home h;
    fs::create_directories(h / ".agents");
    fs::create_directories(h / ".pi");
    fs::permissions(h.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    ASSERT_EQ(::chmod((h / ".pi").c_str(), 0555), 0);
    const std::string expected_err =
        "error: pi config root is not writable: " + (h / ".pi").string() + "\n";
    if (::geteuid() == 0) {
        // Root writes anywhere: the run goes to an unprivileged child, with a
        // copy of the binary it can reach wherever the build tree lies.
        const fs::path binary = copy_of_binary(h / "bin");
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            auto r = run_program(binary, {"doctor"}, h.env());
            ::_exit(r.code == 1 && r.err == expected_err && r.out.find(pi_rows) != std::string::npos ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    } else {
        auto r = h.run({"doctor"});
        EXPECT_EQ(r.err, expected_err);
        EXPECT_NE(r.out.find(pi_rows), std::string::npos);
        EXPECT_EQ(r.code, 1);
    }
    ::chmod((h / ".pi").c_str(), 0755);
    EXPECT_TRUE(fs::is_empty(h / ".pi"));
}

TEST(Doctor, ProbeLeftByAKilledRun) {
    Home h;
    fs::create_directories(h / ".agents");
    fs::create_directories(h / ".pi");
    auto r = doctor_with_leftover_probe(h, h / ".pi");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    // The leftover is not this run's to remove; nothing else is left.
    EXPECT_EQ(std::distance(fs::directory_iterator(h / ".pi"), fs::directory_iterator()), 1);
}
