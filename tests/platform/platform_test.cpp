#include "platform/platform.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;

using testing_support::TempDir;

TEST(LossyText, KeepsUtf8AndReplacesEachInvalidSequence) {
    EXPECT_EQ(platform::lossy_text("plain/ascii.md"), "plain/ascii.md");
    EXPECT_EQ(platform::lossy_text("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(platform::lossy_text("a\xFF" "b"), "a" + fffd + "b");
    // A truncated sequence is one replacement; the byte that broke it starts anew.
    EXPECT_EQ(platform::lossy_text("\xE2\x82" "x"), fffd + "x");
    EXPECT_EQ(platform::lossy_text("\xE2\x82"), fffd);
    // Overlong forms and surrogates are not UTF-8.
    EXPECT_EQ(platform::lossy_text("\xC0\xAF"), fffd + fffd);
    EXPECT_EQ(platform::lossy_text("\xED\xA0\x80"), fffd + fffd + fffd);
}

TEST(Links, MetadataTellsTheLinkFromItsTarget) {
    TempDir dir;
    fs::create_directory(dir / "real");
    ASSERT_TRUE(platform::create_symlink("real", dir / "link", true));
    EXPECT_TRUE(platform::symlink_metadata(dir / "link")->is_symlink());
    EXPECT_TRUE(platform::metadata(dir / "link")->is_dir());
    EXPECT_TRUE(platform::is_directory(dir / "link"));
    EXPECT_EQ(*platform::read_link(dir / "link"), fs::path("real"));
    EXPECT_EQ(*platform::final_path(dir / "link"), fs::canonical(dir / "real"));

    ASSERT_TRUE(platform::create_symlink("missing", dir / "dangling", false));
    EXPECT_TRUE(platform::symlink_metadata(dir / "dangling")->is_symlink());
    EXPECT_EQ(platform::metadata(dir / "dangling").error(), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(platform::is_directory(dir / "dangling"));
    EXPECT_FALSE(platform::final_path(dir / "dangling"));

    ASSERT_TRUE(platform::remove_file(dir / "link"));
    EXPECT_TRUE(fs::is_directory(dir / "real"));
}

TEST(RemoveFile, RemovesFilesLinksAndEmptyDirectories) {
    TempDir dir;
    fs::create_directories(dir / "full/inner");
    fs::create_directory(dir / "empty");
    ASSERT_TRUE(platform::remove_file(dir / "empty"));
    EXPECT_FALSE(fs::exists(dir / "empty"));
    auto full = platform::remove_file(dir / "full");
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error(), std::errc::directory_not_empty);
    EXPECT_EQ(platform::remove_file(dir / "none").error(), std::errc::no_such_file_or_directory);
}

TEST(ReadFile, OnlyFilesAreRead) {
    TempDir dir;
    testing_support::write_file(dir / "file", "bytes");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    fs::create_symlink("fifo", dir / "to-fifo");
    EXPECT_EQ(*platform::read_file(dir / "file"), "bytes");
    // A FIFO with no writer would block for ever: it is refused at once.
    for (auto name : {"fifo", "to-fifo"}) EXPECT_EQ(platform::read_file(dir / name).error(), platform::not_a_regular_file());
    EXPECT_EQ(platform::read_file(dir.path()).error(), std::errc::is_a_directory);
}

TEST(ProcessId, IsAskedAgainInAForkedChild) {
    EXPECT_EQ(platform::process_id(), static_cast<std::uint64_t>(::getpid()));
    const pid_t child = ::fork();
    if (child == 0) ::_exit(platform::process_id() == static_cast<std::uint64_t>(::getpid()) ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(platform::process_id(), static_cast<std::uint64_t>(::getpid()));
}

TEST(ProcessAlive, OnlyAProcessThatIsGoneIsGone) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(platform::process_alive(child));  // reaped
    EXPECT_TRUE(platform::process_alive(::getpid()));
    EXPECT_TRUE(platform::process_alive(1));  // init, another user's when not root
    // Ids that name process groups or nothing at all.
    for (int id : {0, -1, -4242}) EXPECT_FALSE(platform::process_alive(id)) << id;
}

}  // namespace
