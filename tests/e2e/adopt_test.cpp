// `mirthlode adopt PATH [--dry-run]`: whole runs over a throw-away home,
// exact output and files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <algorithm>
#include <set>
#include <thread>

#include "support/support.h"

using namespace testing_support;

namespace {

const std::string notice = "dry run — no changes will be made\n\n";

// A dry run first: the same report in its "would" form, and nothing changed,
// not even the state directory of the lock.
void expect_dry_run(const Home& h, const fs::path& path, const std::string& out) {
    const auto before = snapshot(h.path());
    auto r = h.run({"adopt", path.string(), "--dry-run"});
    EXPECT_EQ(r.out, notice + out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(snapshot(h.path()), before);
    EXPECT_FALSE(fs::exists(h / ".local")) << "a dry run takes no lock";
}

// A Commons and three installed agents: claude and pi take skills by links,
// gemini reads them natively.
struct AdoptHome : Home {
    AdoptHome() {
        fs::create_directories(*this / ".agents/skills");
        fs::create_directories(*this / ".pi/agent");
        fs::create_directories(*this / ".gemini");
        write_file(*this / ".claude/skills/review/SKILL.md", "# review\n");
        write_file(*this / ".claude/skills/review/run.sh", "#!/bin/sh\n");
        fs::permissions(*this / ".claude/skills/review/run.sh", fs::perms::owner_exec, fs::perm_options::add);
    }
    fs::path review() const { return *this / ".claude/skills/review"; }
};

TEST(Adopt, AbsorbsAnAgentsSkillAndLinksItEverywhere) {
    AdoptHome h;
    const std::string p = h.review().string();
    const unsigned script_mode = mode_of(h.review() / "run.sh");
    expect_dry_run(h, h.review(),
                   "absorb: review from claude into the Commons (skills)\n"
                   "  would move " + p + " into the Commons\n"
                   "  would leave a link at " + p + " → ../../.agents/skills/review\n"
                   "  would link into pi (.pi/agent/skills)\n");

    auto r = h.run({"adopt", p});
    EXPECT_EQ(r.out, "adopted review from claude into the Commons (skills)\n"
                     "  " + p + " → ../../.agents/skills/review\n"
                     "  linked into pi (.pi/agent/skills)\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(h / ".agents/skills/review/SKILL.md"), "# review\n");
    EXPECT_EQ(mode_of(h / ".agents/skills/review/run.sh"), script_mode);
    EXPECT_EQ(fs::read_symlink(h.review()), "../../.agents/skills/review");
    EXPECT_EQ(fs::read_symlink(h / ".pi/agent/skills/review"), "../../../.agents/skills/review");
    EXPECT_EQ(h.run({"sync"}).out, "Everything is up to date.\n");

    // Adopting the link that is left is refused.
    auto again = h.run({"adopt", p});
    EXPECT_EQ(again.err, "error: " + p + " is already a symlink — there is nothing to adopt\n");
    EXPECT_EQ(again.code, 1);
}

TEST(Adopt, AnIdenticalCommonsCopyIsRelinkedAVariantIsRefused) {
    AdoptHome h;
    const std::string p = h.review().string();
    const fs::path commons_copy = h / ".agents/skills/review";
    // A link inside the agent's copy leads out of it; removing the copy must
    // not follow it.
    write_file(h / "outside.txt", "keep me");
    fs::create_symlink("../../../outside.txt", h.review() / "notes.txt");
    fs::copy(h.review(), commons_copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);

    write_file(commons_copy / "SKILL.md", "# the Commons review\n");
    const auto before = snapshot(h.path());
    for (bool dry : {true, false}) {
        auto r = dry ? h.run({"adopt", p, "--dry-run"}) : h.run({"adopt", p});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "error: " + p + " differs from the Commons copy at " + commons_copy.string() +
                             " — this is a Variant. Merge it by hand if you want it in the Commons; mirthlode will "
                             "not choose which side to discard\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(snapshot(h.path()), before) << "both sides are kept";
    }

    write_file(commons_copy / "SKILL.md", "# review\n");
    expect_dry_run(h, h.review(),
                   "absorb: review from claude into the Commons (skills)\n"
                   "  would remove " + p + " — identical to the Commons copy\n"
                   "  would leave a link at " + p + " → ../../.agents/skills/review\n"
                   "  would link into pi (.pi/agent/skills)\n");
    auto r = h.run({"adopt", p});
    EXPECT_EQ(r.out, "review in claude was identical to the Commons copy — re-linked\n"
                     "  " + p + " → ../../.agents/skills/review\n"
                     "  linked into pi (.pi/agent/skills)\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(fs::read_symlink(h.review()), "../../.agents/skills/review");
    EXPECT_EQ(read_file(commons_copy / "SKILL.md"), "# review\n");
    EXPECT_EQ(read_file(h / "outside.txt"), "keep me");
}

TEST(Adopt, AbsorbsAnInstructionsFileAsTheCommonsAgentsMd) {
    Home h;
    fs::create_directories(h / ".agents");
    write_file(h / ".gemini/GEMINI.md", "be brief\n");
    write_file(h / ".claude/CLAUDE.md", "# mine\n");
    fs::create_directories(h / ".codex");
    // A link left by an earlier sync already names the Commons file: the
    // move makes it whole, in the dry run's words as in the real run's.
    fs::create_directories(h / ".pi/agent");
    fs::create_symlink("../../.agents/AGENTS.md", h / ".pi/agent/AGENTS.md");
    const fs::path gemini = h / ".gemini/GEMINI.md";
    const std::string p = gemini.string();
    expect_dry_run(h, gemini,
                   "absorb: GEMINI.md from gemini into the Commons (instructions)\n"
                   "  would move " + p + " into the Commons\n"
                   "  would leave a link at " + p + " → ../.agents/AGENTS.md\n"
                   "  would add the import line to claude (.claude/CLAUDE.md)\n"
                   "  would link into codex (.codex/AGENTS.md)\n");
    auto r = h.run({"adopt", p});
    EXPECT_EQ(r.out, "adopted GEMINI.md from gemini into the Commons (instructions)\n"
                     "  " + p + " → ../.agents/AGENTS.md\n"
                     "  added the import line to claude (.claude/CLAUDE.md)\n"
                     "  linked into codex (.codex/AGENTS.md)\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(h / ".agents/AGENTS.md"), "be brief\n");
    EXPECT_EQ(read_file(h / ".claude/CLAUDE.md"), "# mine\n@~/.agents/AGENTS.md\n");
    EXPECT_EQ(fs::read_symlink(h / ".codex/AGENTS.md"), "../.agents/AGENTS.md");
    EXPECT_EQ(read_file(h / ".pi/agent/AGENTS.md"), "be brief\n");
}

TEST(Adopt, APathInAGitWorkingTreeBecomesASourcedEntry) {
    AdoptHome h;
    fs::create_directories(h / "projects/tools/.git");
    write_file(h / "projects/tools/skills/lint/SKILL.md", "# lint\n");
    const fs::path lint = h / "projects/tools/skills/lint";
    const std::string p = lint.string();
    const std::string c = (h / ".agents/skills/lint").string();
    expect_dry_run(h, lint,
                   "source: lint — Sourced from " + p + " (skills)\n"
                   "  would link " + c + " → " + p + "\n"
                   "  would link into claude (.claude/skills)\n"
                   "  would link into pi (.pi/agent/skills)\n");
    auto r = h.run({"adopt", p});
    EXPECT_EQ(r.out, "adopted lint — Sourced from " + p + " (skills)\n"
                     "  " + c + " → " + p + "\n"
                     "  linked into claude (.claude/skills)\n"
                     "  linked into pi (.pi/agent/skills)\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(fs::read_symlink(h / ".agents/skills/lint"), lint);
    EXPECT_EQ(read_file(h / ".claude/skills/lint/SKILL.md"), "# lint\n");

    const auto before = snapshot(h.path());
    auto again = h.run({"adopt", p});
    EXPECT_EQ(again.out, "skills/lint is already Sourced from " + p + " — nothing to do\n");
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(snapshot(h.path()), before);
}

TEST(Adopt, AnythingElseIsCopiedIn) {
    AdoptHome h;
    write_file(h / "notes/commands/deploy.md", "Deploy it.\n");
    const fs::path deploy = h / "notes/commands/deploy.md";
    const std::string p = deploy.string();
    const std::string diverge =
        "  the original at " + p + " is no longer consulted; edits there will diverge from the Commons copy\n";
    expect_dry_run(h, deploy,
                   "copy: deploy.md — copied into the Commons (commands)\n"
                   "  would copy " + p + " into the Commons\n" + diverge +
                   "  would link into claude (.claude/commands)\n");
    // A relative path is taken from the current directory.
    auto r = run_mirthlode({"adopt", "notes/commands/deploy.md"}, h.env(), "", h.path());
    EXPECT_EQ(r.out, "adopted deploy.md — copied into the Commons (commands)\n" + diverge +
                         "  linked into claude (.claude/commands)\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(h / ".agents/commands/deploy.md"), "Deploy it.\n");
    EXPECT_EQ(read_file(deploy), "Deploy it.\n");
    EXPECT_EQ(fs::read_symlink(h / ".claude/commands/deploy.md"), "../../.agents/commands/deploy.md");

    auto again = h.run({"adopt", p});
    EXPECT_EQ(again.out, "commands/deploy.md is already in the Commons — nothing to do\n");
    EXPECT_EQ(again.code, 0);
}

TEST(Adopt, RefusalsChangeNothing) {
    struct Case {
        std::string name;
        std::string path;  // relative to the home directory
        std::string error;  // "{}" stands for the full path
    };
    const std::vector<Case> cases = {
        {"missing", "nowhere/skills/x", "{} does not exist"},
        {"inside the Commons", ".agents/skills/kept", "{} is already in the Commons — nothing to adopt"},
        {"through an agent directory linked into the Commons", ".cursor/commands/kept.md",
         "{} is already in the Commons — nothing to adopt"},
        {"not under a family", "notes/todo.md",
         "{}: parent directory \"notes\" is not a family — adopt takes paths from skills/, commands/, or agents/"},
        {"an import-line instructions file", ".claude/CLAUDE.md",
         "{}: parent directory \".claude\" is not a family — adopt takes paths from skills/, commands/, or "
         "agents/"},
        {"a skill that is a file", "notes/skills/tool.md", "{}: skills entries are directories — this is a file"},
        {"a command that is a directory", "notes/commands/dir",
         "{}: commands entries are single .md files — this is a directory"},
        // What the Commons scan would skip, and a link (dangling or not), is
        // refused whatever the mechanic.
        {"absorb: a file among skills", ".claude/skills/README.md",
         "{}: skills entries are directories — this is a file"},
        {"copy: a command that is no .md file", "dl/commands/notes.txt",
         "{}: commands entries are single .md files — this name does not end in .md"},
        {"copy: a dot-prefixed skill", "dl/skills/.hidden",
         "{}: dot-prefixed names are invisible to agents and are never synced"},
        {"source: a file among skills", "repo/skills/tool.md", "{}: skills entries are directories — this is a file"},
        {"source: a dangling link", "repo/skills/gone", "{} is already a symlink — there is nothing to adopt"},
        {"copy: a link to a directory", "work/skills/tools", "{} is already a symlink — there is nothing to adopt"},
    };
    AdoptHome h;
    write_file(h / ".agents/skills/kept/SKILL.md", "kept");
    write_file(h / ".agents/commands/kept.md", "kept");
    fs::create_directories(h / ".cursor");
    fs::create_directory_symlink("../.agents/commands", h / ".cursor/commands");
    write_file(h / ".claude/CLAUDE.md", "# mine\n");
    write_file(h / "notes/todo.md", "x");
    write_file(h / "notes/skills/tool.md", "x");
    fs::create_directories(h / "notes/commands/dir");
    write_file(h / ".claude/skills/README.md", "read me");
    write_file(h / "dl/commands/notes.txt", "notes");
    write_file(h / "dl/skills/.hidden/SKILL.md", "hidden");
    fs::create_directories(h / "repo/.git");
    write_file(h / "repo/skills/tool.md", "tool");
    fs::create_directory_symlink(h / "repo/nowhere", h / "repo/skills/gone");
    fs::create_directories(h / "work/skills");
    fs::create_directory_symlink("/usr", h / "work/skills/tools");
    const auto before = snapshot(h.path());
    for (const Case& c : cases) {
        for (bool dry : {true, false}) {
            SCOPED_TRACE(c.name + (dry ? " (dry run)" : ""));
            const std::string path = (h / c.path).string();
            auto r = dry ? h.run({"adopt", path, "--dry-run"}) : h.run({"adopt", path});
            std::string error = c.error;
            error.replace(error.find("{}"), 2, path);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "error: " + error + "\n");
            EXPECT_EQ(r.code, 1);
            EXPECT_EQ(snapshot(h.path()), before);
        }
    }
    fs::remove_all(h / ".agents");
    auto r = h.run({"adopt", h.review().string()});
    EXPECT_EQ(r.err, "error: no Commons at " + (h / ".agents").string() + " — run `mirthlode init` to create one\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(fs::exists(h.review() / "SKILL.md"));
}

}  // namespace

namespace {

// Equal content is no reason to remove a side that the other side shows
// through a link: that would take the only real copy.
TEST(Adopt, EqualContentHeldOnlyThroughALinkIsNotRemoved) {
    struct Case {
        std::string name;
        std::string adopted;   // relative to the home directory
        std::string linked;    // the file that is a link to its twin on the other side
        std::string original;  // the one real file
    };
    const std::vector<Case> cases = {
        {"absorb: the Commons copy links into the agent's", ".claude/skills/review",
         ".agents/skills/review/SKILL.md", ".claude/skills/review/SKILL.md"},
        {"source: the working tree links into the Commons copy", "repo/skills/review",
         "repo/skills/review/SKILL.md", ".agents/skills/review/SKILL.md"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home h;
        fs::create_directories(h / "repo/.git");
        fs::create_directories(h / ".claude");
        write_file(h / c.original, "only here\n");
        fs::create_directories((h / c.linked).parent_path());
        fs::create_symlink(h / c.original, h / c.linked);
        const auto before = snapshot(h.path());
        const std::string p = (h / c.adopted).string();
        auto r = h.run({"adopt", p});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "error: " + p + " differs from the Commons copy at " + (h / ".agents/skills/review").string() +
                             " — this is a Variant. Merge it by hand if you want it in the Commons; mirthlode will "
                             "not choose which side to discard\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(snapshot(h.path()), before);
    }
}

}  // namespace


namespace {

// An agent's own entry is absorbed however the path reaches it: through an
// agent directory that is a link, from a current directory where the home
// really is, by its real place, or with a relative home directory. The dry
// run names the link text the real run makes, and sync agrees with it
// (with an absolute home directory).
TEST(Adopt, AnAgentsEntryReachedThroughLinksIsAbsorbed) {
    struct Case {
        std::string name;
        std::string home;   // HOME and MIRTHLODE_TARGET_ROOT; {root} stands for the throw-away root
        std::string cwd;    // relative to the root; empty: none
        std::string typed;  // the PATH argument
        std::string shown;  // the path in the report, under the root
        std::string text;   // the link text left there
    };
    const std::vector<Case> cases = {
        {"as written", "{root}/home", "", "{root}/home/.claude/skills/review", "home/.claude/skills/review",
         "../../../home/.agents/skills/review"},
        {"relative, in a home behind a link", "{root}/home", "home/.claude/skills", "review",
         "home/.claude/skills/review", "../../../home/.agents/skills/review"},
        {"by the real place of the agent directory", "{root}/home", "", "{root}/dotfiles/claude/skills/review",
         "home/.claude/skills/review", "../../../home/.agents/skills/review"},
        {"with a relative home directory", ".", "home", ".claude/skills/review", "real/.claude/skills/review",
         "../../../real/.agents/skills/review"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        auto at_root = [&](std::string text) {
            if (text.starts_with("{root}")) text = root.path().string() + text.substr(6);
            return text;
        };
        fs::create_directories(root / "real/.agents/skills");
        fs::create_directories(root / "real/.pi");
        write_file(root / "dotfiles/claude/skills/review/SKILL.md", "# review\n");
        fs::create_directory_symlink("real", root / "home");
        fs::create_directory_symlink("../dotfiles/claude", root / "real/.claude");
        const std::map<std::string, std::string> env = {{"HOME", at_root(c.home)},
                                                        {"MIRTHLODE_TARGET_ROOT", at_root(c.home)}};
        const fs::path cwd = c.cwd.empty() ? fs::path() : root / c.cwd;
        const std::string shown = (root / c.shown).string();

        auto dry = run_mirthlode({"adopt", at_root(c.typed), "--dry-run"}, env, "", cwd);
        EXPECT_EQ(dry.out, notice + "absorb: review from claude into the Commons (skills)\n"
                           "  would move " + shown + " into the Commons\n"
                           "  would leave a link at " + shown + " → " + c.text + "\n"
                           "  would link into pi (.pi/agent/skills)\n");
        auto r = run_mirthlode({"adopt", at_root(c.typed)}, env, "", cwd);
        EXPECT_EQ(r.out, "adopted review from claude into the Commons (skills)\n"
                         "  " + shown + " → " + c.text + "\n"
                         "  linked into pi (.pi/agent/skills)\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(read_file(root / "real/.agents/skills/review/SKILL.md"), "# review\n");
        EXPECT_EQ(fs::read_symlink(root / "dotfiles/claude/skills/review"), c.text);
        if (c.home != ".") {
            EXPECT_EQ(run_mirthlode({"sync"}, env, "", cwd).out, "Everything is up to date.\n");
        }
    }
}

}  // namespace

namespace {

// A run that waited for the lock compares the two copies again before it
// removes one: an edit made meanwhile is never thrown away.
TEST(Adopt, IdenticalCopiesAreComparedAgainUnderTheLock) {
    for (const std::string adopted : {".claude/skills/review", "repo/skills/review"}) {
        SCOPED_TRACE(adopted);
        Home h;
        fs::create_directories(h / ".claude");
        fs::create_directories(h / "repo/.git");
        write_file(h / adopted / "SKILL.md", "# review\n");
        write_file(h / ".agents/skills/review/SKILL.md", "# review\n");
        const fs::path state = h / ".local/state/mirthlode";
        fs::create_directories(state);
        // Close-on-exec: the run started below must not hold the lock too.
        int fd = ::open((state / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        h.env()["MIRTHLODE_LOCK_TIMEOUT_MS"] = "20000";
        const std::string p = (h / adopted).string();
        auto waiting = std::async(std::launch::async, [&] { return h.run({"adopt", p}); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        write_file(h / adopted / "SKILL.md", "# review, edited\n");
        ::close(fd);
        auto r = waiting.get();
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "error: " + p + " differs from the Commons copy at " + (h / ".agents/skills/review").string() +
                             " — this is a Variant. Merge it by hand if you want it in the Commons; mirthlode will "
                             "not choose which side to discard\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(read_file(h / adopted / "SKILL.md"), "# review, edited\n");
        EXPECT_EQ(read_file(h / ".agents/skills/review/SKILL.md"), "# review\n");
    }
}

}  // namespace

namespace {

// Inside a copied tree links stay links and lead where they did; a FIFO
// stops the copy, named, and leaves nothing in the Commons.
TEST(Adopt, ACopiedTreeKeepsItsLinksAndRefusesAFifo) {
    AdoptHome h;
    write_file(h / "dl/shared/ref.txt", "shared");
    write_file(h / "dl/skills/foo/SKILL.md", "# foo\n");
    fs::create_symlink("../../shared/ref.txt", h / "dl/skills/foo/ref.txt");
    fs::create_symlink("SKILL.md", h / "dl/skills/foo/again.md");
    auto r = h.run({"adopt", (h / "dl/skills/foo").string()});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    const fs::path copy = h / ".agents/skills/foo";
    EXPECT_EQ(fs::read_symlink(copy / "ref.txt"), h / "dl/shared/ref.txt");
    EXPECT_EQ(fs::read_symlink(copy / "again.md"), "SKILL.md");
    EXPECT_EQ(read_file(copy / "ref.txt"), "shared");
    auto again = h.run({"adopt", (h / "dl/skills/foo").string()});
    EXPECT_EQ(again.out, "skills/foo is already in the Commons — nothing to do\n");

    write_file(h / "dl/skills/bar/SKILL.md", "# bar\n");
    ASSERT_EQ(::mkfifo((h / "dl/skills/bar/pipe").c_str(), 0644), 0);
    const std::string bar = (h / "dl/skills/bar").string();
    auto refused = h.run({"adopt", bar});
    EXPECT_EQ(refused.err, "error: cannot copy " + bar + " into the Commons: " + bar +
                               "/pipe: a FIFO, a socket or a device cannot be copied\n");
    EXPECT_EQ(refused.code, 1);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(h / ".agents/skills")) left.insert(entry.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{"foo"});
}

// Absorbing over an identical Commons copy takes the agent's copy out of
// place whole; what a killed run left under a hidden name is cleared by the
// next run and never called a Variant.
TEST(Adopt, ATreeIsTakenOutOfPlaceWholeAndItsLeftoverCleared) {
    AdoptHome h;
    fs::copy(h.review(), h / ".agents/skills/review", fs::copy_options::recursive);
    write_file(h.review() / "ro/a.txt", "a");
    write_file(h / ".agents/skills/review/ro/a.txt", "a");
    ::chmod((h.review() / "ro").c_str(), 0555);
    // A killed run's agent copy taken out of place, and one of a live run.
    const fs::path gone = h / ".claude/skills/.old.mirthlode-4194305";
    const fs::path live = h / (".claude/skills/.old.mirthlode-" + std::to_string(::getpid()));
    write_file(gone / "SKILL.md", "old");
    write_file(live / "SKILL.md", "old");
    EXPECT_EQ(h.run({"status"}).out.find(".old"), std::string::npos) << "a hidden leftover is no Variant";
    auto r = h.run({"adopt", h.review().string()});
    EXPECT_EQ(r.out, "review in claude was identical to the Commons copy — re-linked\n"
                     "  " + h.review().string() + " → ../../.agents/skills/review\n"
                     "  linked into pi (.pi/agent/skills)\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read_file(h.review() / "ro/a.txt"), "a");
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_TRUE(fs::exists(live));
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(h / ".claude/skills")) left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"review", live.filename().string()}));
}

}  // namespace

namespace {

// A refusal made before anything changes: the same error in the dry run as
// in the real run, exit code 1, and the home as it was.
void expect_refused(const Home& h, const fs::path& path, const std::string& error) {
    const auto before = snapshot(h.path());
    for (bool dry : {true, false}) {
        SCOPED_TRACE(dry ? "dry run" : "real run");
        auto r = dry ? h.run({"adopt", path.string(), "--dry-run"}) : h.run({"adopt", path.string()});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "error: " + error + "\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(snapshot(h.path()), before);
    }
}

// The Commons instructions are one regular file: an agent's instructions
// path that is anything else is refused, and no AGENTS.md appears.
TEST(Adopt, InstructionsThatAreNoRegularFileAreRefused) {
    struct Case {
        std::string name;
        std::string path;  // relative to the home directory
        std::string what;
    };
    const std::vector<Case> cases = {
        {"a directory", ".codex/AGENTS.md", "a directory"},
        {"a FIFO", ".gemini/GEMINI.md", "a FIFO"},
    };
    Home h;
    fs::create_directories(h / ".agents");
    write_file(h / ".codex/AGENTS.md/notes.md", "notes\n");
    fs::create_directories(h / ".gemini");
    ASSERT_EQ(::mkfifo((h / ".gemini/GEMINI.md").c_str(), 0644), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expect_refused(h, h / c.path, (h / c.path).string() + ": AGENTS.md is a single file — this is " + c.what);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(h / ".agents/AGENTS.md")));
    EXPECT_TRUE(fs::is_fifo(h / ".gemini/GEMINI.md"));
}

// A socket at `path`, left when the descriptor closes.
void make_socket(const fs::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.native().size(), sizeof address.sun_path);
    std::copy(path.native().begin(), path.native().end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

// A command or subagent is one regular .md file and a skill a directory: a
// FIFO or a socket in their place is refused by every mechanic.
TEST(Adopt, AFifoOrASocketIsRefusedWhateverTheMechanic) {
    struct Case {
        std::string name;
        std::string path;  // relative to the home directory
        bool socket;       // else a FIFO
        std::string error;  // after "{path}: "
    };
    const std::vector<Case> cases = {
        {"absorb: a command", ".claude/commands/pipe.md", false,
         "commands entries are single .md files — this is a FIFO"},
        {"source: a subagent", "repo/agents/helper.md", true, "agents entries are single .md files — this is a socket"},
        {"copy: a subagent", "dl/agents/helper.md", false, "agents entries are single .md files — this is a FIFO"},
        {"copy: a skill", "dl/skills/pipe", false, "skills entries are directories — this is a FIFO"},
    };
    Home h;
    fs::create_directories(h / ".agents/commands");
    fs::create_directories(h / ".claude/commands");
    fs::create_directories(h / "repo/.git");
    for (const char* dir : {"repo/agents", "dl/agents", "dl/skills"}) fs::create_directories(h / dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = h / c.path;
        if (c.socket) {
            make_socket(path);
        } else {
            ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        }
        expect_refused(h, path, path.string() + ": " + c.error);
        EXPECT_EQ(fs::status(path).type(), c.socket ? fs::file_type::socket : fs::file_type::fifo);
    }
    EXPECT_TRUE(fs::is_empty(h / ".agents/commands"));
}

// Hands the whole tree to the unprivileged user.
void give_away(const fs::path& root) {
    ASSERT_EQ(::lchown(root.c_str(), 65534, 65534), 0);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
    }
}

// The dry run promises a copy only when the copy can be made: what stops
// the copy (an entry it does not copy, one it cannot read) stops the dry run
// with the same error. Root reads everything, so as root the runs go to the
// unprivileged user, the home handed over to it.
TEST(Adopt, TheDryRunRefusesWhatTheCopyWouldStopAt) {
    struct Case {
        std::string name;
        std::string path;       // relative to the home directory
        std::string at;         // where the copy stops, relative to the path
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"a FIFO in a skill", "dl/skills/bar", "pipe", "a FIFO, a socket or a device cannot be copied"},
        {"an unreadable folder in a skill", "dl/skills/big", "sub", "Permission denied"},
        {"an unreadable file in a skill", "dl/skills/keys", "secret.txt", "Permission denied"},
        {"an unreadable command", "dl/commands/secret.md", "", "Permission denied"},
    };
    Home h;
    fs::create_directories(h / ".agents/skills");
    fs::create_directories(h / ".agents/commands");
    write_file(h / "dl/skills/bar/SKILL.md", "# bar\n");
    ASSERT_EQ(::mkfifo((h / "dl/skills/bar/pipe").c_str(), 0644), 0);
    write_file(h / "dl/skills/big/SKILL.md", "# big\n");
    write_file(h / "dl/skills/big/sub/notes.md", "notes\n");
    write_file(h / "dl/skills/keys/SKILL.md", "# keys\n");
    write_file(h / "dl/skills/keys/secret.txt", "secret\n");
    write_file(h / "dl/commands/secret.md", "secret\n");
    std::string program = MIRTHLODE_BIN;
    std::vector<std::string> as_user;
    TempDir bin;  // beside the home, so that the snapshots leave the binary out
    if (::geteuid() == 0) {
        program = "/usr/bin/setpriv";
        fs::permissions(bin.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
        as_user = {"--reuid=65534", "--regid=65534", "--clear-groups", copy_of_binary(bin.path()).string()};
        give_away(h.path());
    }
    for (const char* locked : {"dl/skills/big/sub", "dl/skills/keys/secret.txt", "dl/commands/secret.md"}) {
        ASSERT_EQ(::chmod((h / locked).c_str(), 0), 0);
    }
    const auto before = snapshot(h / ".agents");
    for (const Case& c : cases) {
        const fs::path path = h / c.path;
        const std::string at = c.at.empty() ? "" : (path / c.at).string() + ": ";
        for (bool dry : {true, false}) {
            SCOPED_TRACE(c.name + (dry ? " (dry run)" : ""));
            std::vector<std::string> args = as_user;
            for (std::string arg : {"adopt", path.c_str(), dry ? "--dry-run" : ""}) {
                if (!arg.empty()) args.push_back(arg);
            }
            auto r = run_program(program, args, h.env());
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "error: cannot copy " + path.string() + " into the Commons: " + at + c.reason + "\n");
            EXPECT_EQ(r.code, 1);
            EXPECT_EQ(snapshot(h / ".agents"), before) << "nothing in the Commons";
        }
    }
    ::chmod((h / "dl/skills/big/sub").c_str(), 0755);
}

// What a killed adopt left in the Commons family directories under a hidden
// name is warned about by status, which changes nothing, and cleared by sync
// before it scans; what a running process left stays.
TEST(Adopt, WhatAKilledRunLeftInTheCommonsIsClearedBySync) {
    Home h;
    const fs::path tree = h / ".agents/skills/.big.mirthlode-4194305";
    const fs::path file = h / ".agents/commands/.deploy.md.mirthlode-4194305";
    const fs::path live = h / (".agents/agents/.helper.md.mirthlode-" + std::to_string(::getpid()));
    write_file(h / ".agents/skills/review/SKILL.md", "# review\n");
    fs::create_directories(h / ".claude");
    ASSERT_EQ(h.run({"sync"}).code, 0);
    write_file(tree / "SKILL.md", "# big\n");
    write_file(tree / "ro/a.txt", "a");
    ::chmod((tree / "ro").c_str(), 0555);
    write_file(file, "half");
    write_file(live, "half");

    const std::string warning = "warning: Commons agents/" + live.filename().string() +
                                ": dot-prefixed names are invisible to agents and are never synced\n";
    const std::string dead = "warning: Commons skills/.big.mirthlode-4194305: dot-prefixed names are invisible to "
                             "agents and are never synced\n"
                             "warning: Commons commands/.deploy.md.mirthlode-4194305: dot-prefixed names are "
                             "invisible to agents and are never synced\n";
    const auto before = snapshot(h.path());
    for (const std::vector<std::string>& args : {std::vector<std::string>{"status"}, {"sync", "--dry-run"}}) {
        SCOPED_TRACE(args.size() == 1 ? "status" : "sync --dry-run");
        auto r = h.run(args);
        EXPECT_EQ(r.err, dead + warning);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(snapshot(h.path()), before);
    }
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "sync" : "sync again");
        auto r = h.run({"sync"});
        EXPECT_EQ(r.out, "Everything is up to date.\n");
        EXPECT_EQ(r.err, warning);
        EXPECT_EQ(r.code, 0);
    }
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(read_file(live), "half");
    EXPECT_EQ(fs::read_symlink(h / ".claude/skills/review"), "../../.agents/skills/review");
    EXPECT_EQ(h.run({"status"}).err, warning);
}

}  // namespace
