#include "core/fsutil.h"

#include <functional>
#include <set>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;

using core::normalize_path;
using core::resolve_link_target;
using core::write_atomic;
using testing_support::mode_of;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

unsigned current_umask() {
    mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

std::string temp_name_of(const std::string& name) {
    return "." + name + ".mirthlode-" + std::to_string(::getpid());
}

TEST(NormalizePath, IsLexical) {
    EXPECT_EQ(normalize_path("a/./b/../c"), fs::path("a/c"));
    EXPECT_EQ(normalize_path("../../x"), fs::path("../../x"));
    EXPECT_EQ(normalize_path("a/../.."), fs::path(".."));
    EXPECT_EQ(normalize_path("a/b/../../../c"), fs::path("../c"));
    EXPECT_EQ(normalize_path("/a/../.."), fs::path("/"));
    EXPECT_EQ(normalize_path("/../x/./y"), fs::path("/x/y"));
    EXPECT_EQ(normalize_path("//a//b/"), fs::path("/a/b"));
    EXPECT_EQ(normalize_path(""), fs::path());
    EXPECT_EQ(normalize_path("."), fs::path());
    EXPECT_EQ(normalize_path("a/.."), fs::path());
}

TEST(ResolveLinkTarget, ReadsTheTextFromTheLinksDirectory) {
    EXPECT_EQ(resolve_link_target("/h/.claude/skills/x", "../../.agents/skills/x"),
              fs::path("/h/.agents/skills/x"));
    EXPECT_EQ(resolve_link_target("/h/.claude/skills/x", "/a/./b/../c"), fs::path("/a/c"));
    EXPECT_EQ(resolve_link_target("x", "../y"), fs::path("../y"));
}

TEST(WriteAtomic, CreatesMissingDirectoriesAndANewFileWithTheUsualMode) {
    TempDir dir;
    fs::path path = dir / "a/b/c.json";
    auto written = write_atomic(path, "{}");
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, path);
    EXPECT_EQ(read_file(path), "{}");
    EXPECT_EQ(mode_of(path), 0666u & ~current_umask());
    EXPECT_EQ(names_in(dir / "a/b"), std::set<std::string>{"c.json"});
}

TEST(WriteAtomic, ReplacingKeepsThePermissionBits) {
    TempDir dir;
    for (unsigned mode : {0600u, 0640u, 0755u, 0400u}) {
        fs::path path = dir / ("f" + std::to_string(mode));
        write_file(path, "old secret");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(write_atomic(path, "new secret"));
        EXPECT_EQ(read_file(path), "new secret");
        EXPECT_EQ(mode_of(path), mode);
    }
}

TEST(WriteAtomic, WritesThroughALinkAndKeepsTheLink) {
    TempDir dir;
    fs::path target = dir / "elsewhere/settings.json";
    write_file(target, "old");
    fs::create_directories(dir / "home/.claude");
    fs::path link = dir / "home/.claude/settings.json";
    fs::create_symlink(target, link);

    auto written = write_atomic(link, "new");
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, fs::canonical(target));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), target);
    EXPECT_EQ(read_file(target), "new");
    EXPECT_EQ(names_in(dir / "elsewhere"), std::set<std::string>{"settings.json"});
}

TEST(WriteAtomic, ADanglingRelativeLinkCreatesItsTargetWithParents) {
    TempDir dir;
    fs::create_directories(dir / "home");
    fs::path link = dir / "home/config.toml";
    fs::create_symlink("../store/deep/config.toml", link);

    auto written = write_atomic(link, "x = 1\n");
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, dir / "store/deep/config.toml");
    EXPECT_EQ(read_file(dir / "store/deep/config.toml"), "x = 1\n");
    EXPECT_TRUE(fs::is_symlink(link));
}

// Through a dangling link to another link the file the last one names is
// written, and no link on the way becomes a file; links in a circle name none.
TEST(WriteAtomic, ADanglingChainOfLinksKeepsEveryLink) {
    TempDir dir;
    fs::path link = dir / "home/settings.json";
    fs::create_directories(dir / "home");
    fs::create_symlink("s1.json", link);
    fs::create_symlink("../store/s2.json", dir / "home/s1.json");

    auto written = write_atomic(link, "new");
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, dir / "store/s2.json");
    EXPECT_EQ(read_file(dir / "store/s2.json"), "new");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(dir / "home/s1.json"));

    fs::create_symlink("b", dir / "a");
    fs::create_symlink("a", dir / "b");
    EXPECT_FALSE(write_atomic(dir / "a", "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "a"));
    EXPECT_TRUE(fs::is_symlink(dir / "b"));
}

// A caller that found nothing at the path may say so; whatever came there
// since is written as it would have been without the hint.
TEST(WriteAtomic, ExpectedAbsentButThereIsWrittenAsWithoutTheHint) {
    struct Case {
        std::string name;
        std::function<void(const fs::path& dir)> put;  // what came meanwhile
        fs::path written;                              // relative to the case's directory
        unsigned mode;
    };
    const unsigned fresh = 0600u & ~current_umask();
    const std::vector<Case> cases = {
        {"nothing", [](const fs::path&) {}, "file.json", fresh},
        {"nothing, nor a parent", [](const fs::path&) {}, "file.json", fresh},
        {"a file", [](const fs::path& dir) { write_file(dir / "file.json", "old"); ::chmod((dir / "file.json").c_str(), 0644); },
         "file.json", 0644},
        {"a link", [](const fs::path& dir) {
             write_file(dir / "elsewhere/real.json", "old");
             ::chmod((dir / "elsewhere/real.json").c_str(), 0640);
             fs::create_symlink("elsewhere/real.json", dir / "file.json");
         }, "elsewhere/real.json", 0640},
        {"a dangling link", [](const fs::path& dir) { fs::create_symlink("deep/new.json", dir / "file.json"); },
         "deep/new.json", fresh},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        const fs::path dir = c.name == "nothing, nor a parent" ? root / "sub" : root.path();
        c.put(dir);
        const core::WriteOptions options{.new_file_mode = 0600, .expect_absent = true};
        auto written = write_atomic(dir / "file.json", "new", options);
        ASSERT_TRUE(written);
        EXPECT_EQ(fs::canonical(*written), fs::canonical(dir / c.written));
        EXPECT_EQ(read_file(dir / c.written), "new");
        EXPECT_EQ(mode_of(dir / c.written), c.mode);
        EXPECT_EQ(fs::is_symlink(dir / "file.json"), c.written != "file.json");
        EXPECT_FALSE(fs::exists(dir / temp_name_of("file.json")));
    }

    // A directory that came there is refused and left as it was.
    TempDir dir;
    write_file(dir / "file.json/inside", "kept");
    ASSERT_FALSE(write_atomic(dir / "file.json", "new", {.expect_absent = true}));
    EXPECT_EQ(read_file(dir / "file.json/inside"), "kept");
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"file.json"});
}

// Every failure leaves the old content and no temporary file.
class WriteAtomicFailure : public ::testing::Test {
protected:
    void SetUp() override { write_file(path, "old"); }
    void ExpectUntouched() {
        EXPECT_EQ(read_file(path), "old");
        EXPECT_FALSE(fs::exists(dir / temp_name_of("file.json")));
    }
    TempDir dir;
    fs::path path = dir / "file.json";
};

TEST_F(WriteAtomicFailure, DestinationIsADirectory) {
    fs::path target = dir / "sub";
    fs::create_directory(target);
    write_file(target / "inside", "kept");
    auto written = write_atomic(target, "new");
    ASSERT_FALSE(written);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(read_file(target / "inside"), "kept");
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"file.json", "sub"}));
}

TEST(WriteAtomic, RemovesTheTemporariesKilledRunsLeftBesideItsFileOnly) {
    TempDir dir;
    write_file(dir / "file.json", "old");
    // This run's own, and those of processes that are gone: no process id
    // reaches 999999999, nor one beyond the range of ids.
    const std::vector<std::string> leftovers = {temp_name_of("file.json"), ".file.json.mirthlode-999999999",
                                                ".file.json.mirthlode-99999999999999999999999",
                                                ".odd\xEF\xBF\xBD.json.mirthlode-999999998"};
    // A living process (the one that started this test) may be writing its own.
    const std::string living = ".file.json.mirthlode-" + std::to_string(::getppid());
    const std::set<std::string> kept = {".file.json.mirthlode-", ".file.json.mirthlode-12x", living,
                                        ".other.json.mirthlode-5", "file.json.mirthlode-5", ".file.json.mirthlode-9"};
    for (const auto& name : leftovers) write_file(dir / name, "secret copy");
    for (const auto& name : kept) write_file(dir / name, "someone's");
    fs::remove(dir / ".file.json.mirthlode-9");
    fs::create_directory(dir / ".file.json.mirthlode-9");  // not a file: never ours

    ASSERT_TRUE(write_atomic(dir / "file.json", "new"));
    // A name that is not text names its temporary with a replacement character.
    ASSERT_TRUE(write_atomic(dir / "odd\xFF.json", "new"));
    std::set<std::string> expected = kept;
    expected.insert({"file.json", "odd\xFF.json"});
    EXPECT_EQ(names_in(dir.path()), expected);
    EXPECT_EQ(read_file(dir / "file.json"), "new");
}

TEST_F(WriteAtomicFailure, ParentCannotBeCreated) {
    auto written = write_atomic(path / "child.json", "new");
    ASSERT_FALSE(written);
    ExpectUntouched();
}

TEST_F(WriteAtomicFailure, WriteFailsPartWay) {
    // A file size limit makes the write itself fail, whoever runs the test.
    struct rlimit old_limit;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    auto written = write_atomic(path, std::string(4096, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    ::signal(SIGXFSZ, old_handler);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), std::errc::file_too_large);
    ExpectUntouched();
}

// Permission bits do not stop root, so as root the attempt is made by a child
// that has given up its privileges first.
TEST_F(WriteAtomicFailure, ReadOnlyDirectory) {
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    if (::geteuid() == 0) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            auto written = write_atomic(path, "new");
            ::_exit(!written && written.error() == std::errc::permission_denied ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ::chmod(dir.path().c_str(), 0755);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    } else {
        auto written = write_atomic(path, "new");
        ::chmod(dir.path().c_str(), 0755);
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error(), std::errc::permission_denied);
    }
    EXPECT_EQ(read_file(path), "old");
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"file.json"}));
}

}  // namespace
