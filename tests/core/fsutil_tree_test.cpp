#include "core/fsutil_tree.h"
#include "core/replace_entry.h"

#include <map>
#include <set>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/platform.h"
#include "support/support.h"

namespace {

namespace fs = std::filesystem;

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

// Every entry under `root` (and `root` itself as "."): its mode bits and its
// link text or content; links are never followed.
std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> out;
    auto describe = [](const fs::path& path) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) return std::string("?");
        std::string mode = std::to_string(st.st_mode & 07777) + " ";
        if (S_ISLNK(st.st_mode)) return mode + "-> " + fs::read_symlink(path).string();
        if (S_ISDIR(st.st_mode)) return mode + "dir";
        if (S_ISREG(st.st_mode)) return mode + read_file(path);
        return mode + "other";
    };
    out["."] = describe(root);
    if (!fs::is_directory(fs::symlink_status(root))) return out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        out[fs::relative(it->path(), root).string()] = describe(it->path());
    }
    return out;
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

void chmod_to(const fs::path& path, unsigned mode) { ASSERT_EQ(::chmod(path.c_str(), mode), 0); }

// A skill with an executable script, a private file, a link to its own
// folder and one out of it, and a read-only subdirectory.
fs::path make_skill(const fs::path& at, bool read_only_part = true) {
    write_file(at / "SKILL.md", "# tool\n");
    write_file(at / "bin/run.sh", "#!/bin/sh\necho hi\n");
    chmod_to(at / "bin/run.sh", 0755);
    write_file(at / "secret", "key");
    chmod_to(at / "secret", 0600);
    fs::create_directory_symlink(".", at / "self");
    fs::create_symlink("../../outside/file", at / "bin/out");
    if (read_only_part) {
        write_file(at / "fixed/data", "d");
        chmod_to(at / "fixed/data", 0444);
        chmod_to(at / "fixed", 0555);
    }
    chmod_to(at, 0750);
    return at;
}

util::IoStatus nothing() { return {}; }

// The next rename fails as one between two file systems does.
void fail_next_rename(std::errc error) { platform::fail_next_rename_for_testing(std::make_error_code(error)); }

TEST(CopyTree, KeepsModesAndCopiesLinksAsLinks) {
    TempDir dir;
    const fs::path skill = make_skill(dir / "src/tool");
    auto before = tree(skill);
    ASSERT_TRUE(core::copy_tree(skill, dir / "commons/skills/tool"));
    EXPECT_TRUE(core::is_copy_of(dir / "commons/skills/tool", skill));
    auto copied = before;
    // The link out of the tree leads where it did, now by an absolute text.
    copied["bin/out"] = "511 -> " + (dir / "src/outside/file").string();
    EXPECT_EQ(tree(dir / "commons/skills/tool"), copied);
    EXPECT_EQ(tree(skill), before);
    EXPECT_EQ(names_in(dir / "commons/skills"), std::set<std::string>{"tool"}) << "no hidden copy left";

    write_file(dir / "one.md", "text");
    chmod_to(dir / "one.md", 0640);
    ASSERT_TRUE(core::copy_tree(dir / "one.md", dir / "commons/commands/one.md"));
    EXPECT_EQ(tree(dir / "commons/commands/one.md"), tree(dir / "one.md"));
}

TEST(CopyTree, AFailedCopyLeavesNothingAndNeverOverwrites) {
    TempDir dir;
    const fs::path skill = make_skill(dir / "src/tool");
    ASSERT_EQ(::mkfifo((skill / "bin/pipe").c_str(), 0644), 0);
    const auto before = tree(skill);
    auto copied = core::copy_tree(skill, dir / "commons/tool");
    ASSERT_FALSE(copied);
    EXPECT_EQ(copied.error().text(skill), (skill / "bin/pipe").string() + ": a FIFO, a socket or a device cannot be copied");
    EXPECT_TRUE(names_in(dir / "commons").empty()) << "nothing of the copy left, hidden or not";
    EXPECT_EQ(tree(skill), before);

    // Something already at the destination stays as it was.
    fs::remove(skill / "bin/pipe");
    write_file(dir / "taken/keep", "mine");
    const auto taken = tree(dir / "taken");
    auto refused = core::copy_tree(skill, dir / "taken");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().reason, std::make_error_code(std::errc::file_exists).message());
    EXPECT_EQ(tree(dir / "taken"), taken);
}

TEST(MovePath, FallsBackToCopyThenRemoveAcrossFileSystems) {
    struct Case {
        std::string what;
        bool cross_device;
    };
    for (const Case& c : {Case{"same file system", false}, Case{"across file systems", true}}) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path skill = make_skill(dir / "agent/skills/tool", false);
        write_file(dir / "agent/commands/one.md", "one");
        chmod_to(dir / "agent/commands/one.md", 0604);
        fs::create_symlink("../elsewhere.md", dir / "agent/commands/linked.md");
        std::map<std::string, std::map<std::string, std::string>> before;
        for (const char* name : {"skills/tool", "commands/one.md", "commands/linked.md"}) {
            before[name] = tree(dir / "agent" / name);
        }

        // A copy writes the link out of the tree as an absolute one to the same place.
        if (c.cross_device) before["skills/tool"]["bin/out"] = "511 -> " + (dir / "agent/skills/outside/file").string();
        for (const auto& [name, original] : before) {
            SCOPED_TRACE(name);
            if (c.cross_device) fail_next_rename(std::errc::cross_device_link);
            ASSERT_EQ(core::move_entry(dir / "agent" / name, dir / "commons" / name, nothing).failed,
                      core::Replaced::Failed::nothing);
            EXPECT_EQ(tree(dir / "commons" / name), original);
            EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "agent" / name)));
        }
    }
}

TEST(MovePath, AFailedMoveKeepsTheOriginalWhole) {
    TempDir dir;
    const fs::path skill = make_skill(dir / "agent/skills/tool", false);
    ASSERT_EQ(::mkfifo((skill / "bin/pipe").c_str(), 0644), 0);
    const auto before = tree(skill);
    for (std::errc error : {std::errc::cross_device_link, std::errc::permission_denied}) {
        fail_next_rename(error);
        ASSERT_EQ(core::move_entry(skill, dir / "commons/skills/tool", nothing).failed,
                  core::Replaced::Failed::take_out);
        EXPECT_EQ(tree(skill), before);
        EXPECT_TRUE(!fs::exists(dir / "commons/skills") || names_in(dir / "commons/skills").empty());
    }
    // A rename never replaces what is already there.
    write_file(dir / "commons/skills/tool/keep", "mine");
    auto refused = core::move_entry(skill, dir / "commons/skills/tool", nothing);
    ASSERT_EQ(refused.failed, core::Replaced::Failed::take_out);
    EXPECT_EQ(read_file(dir / "commons/skills/tool/keep"), "mine");
    EXPECT_EQ(tree(skill), before);
}

}  // namespace
