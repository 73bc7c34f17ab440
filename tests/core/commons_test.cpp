#include "core/commons.h"

#include <gtest/gtest.h>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;

using core::CommonsScan;
using core::Family;
using core::scan_commons_family;
using testing_support::TempDir;
using testing_support::write_file;

std::vector<std::string> entry_names(const CommonsScan& scan) {
    std::vector<std::string> names;
    for (const auto& e : scan.entries) names.push_back(e.name + "|" + e.file_name);
    return names;
}

std::vector<std::string> warning_texts(const CommonsScan& scan) {
    std::vector<std::string> texts;
    for (const auto& w : scan.warnings) texts.push_back(core::display_commons_warning(w));
    return texts;
}

TEST(CommonsScan, CommandsKeepMarkdownFilesAndWarnAboutTheRest) {
    TempDir commons;
    write_file(commons / "commands/a.md", "a");
    write_file(commons / "commands/.hidden.md", "h");
    write_file(commons / "commands/notes.txt", "n");
    fs::create_directories(commons / "commands/sub");
    fs::create_symlink(commons / "nowhere.md", commons / "commands/gone.md");

    auto scan = scan_commons_family(commons.path(), Family::commands);
    EXPECT_EQ(entry_names(scan), std::vector<std::string>{"a|a.md"});
    ASSERT_EQ(scan.entries.size(), 1u);
    EXPECT_EQ(scan.entries[0].path, commons / "commands/a.md");
    EXPECT_EQ(warning_texts(scan),
              (std::vector<std::string>{
                  "Commons commands/.hidden.md: dot-prefixed names are invisible to agents and are never synced",
                  "Commons commands/gone.md: symlink target is missing, skipped",
                  "Commons commands/notes.txt: not a markdown file, skipped",
                  "Commons commands/sub: not a markdown file, skipped",
              }));
    using Kind = core::CommonsWarning::Kind;
    EXPECT_EQ(scan.warnings[0].kind, Kind::dot_prefixed);
    EXPECT_EQ(scan.warnings[1].kind, Kind::missing_target);
    EXPECT_EQ(scan.warnings[3].kind, Kind::not_a);
}

TEST(CommonsScan, MarkdownSuffixesAreStrippedAndCaseSensitive) {
    TempDir commons;
    for (const char* name : {"review.md", "notes.md.md", "README.MD", "b.md", ".md.md"}) {
        write_file(commons / "agents" / name, "x");
    }
    auto scan = scan_commons_family(commons.path(), Family::agents);
    EXPECT_EQ(entry_names(scan), (std::vector<std::string>{"b|b.md", "notes|notes.md.md", "review|review.md"}));
    EXPECT_EQ(warning_texts(scan),
              (std::vector<std::string>{
                  "Commons agents/.md.md: dot-prefixed names are invisible to agents and are never synced",
                  "Commons agents/README.MD: not a markdown file, skipped",
              }));
}

TEST(CommonsScan, SkillsAreDirectoriesLinksFollowed) {
    TempDir commons;
    TempDir outside;
    fs::create_directories(commons / "skills/zeta");
    fs::create_directories(commons / "skills/Alpha");
    fs::create_directories(outside / "sourced");
    fs::create_directory_symlink(outside / "sourced", commons / "skills/linked");
    write_file(commons / "skills/file.md", "x");
    write_file(outside / "plain", "x");
    fs::create_symlink(outside / "plain", commons / "skills/to-file");

    auto scan = scan_commons_family(commons.path(), Family::skills);
    EXPECT_EQ(entry_names(scan), (std::vector<std::string>{"Alpha|Alpha", "linked|linked", "zeta|zeta"}));
    EXPECT_EQ(warning_texts(scan), (std::vector<std::string>{
                                       "Commons skills/file.md: not a directory, skipped",
                                       "Commons skills/to-file: not a directory, skipped",
                                   }));
}

TEST(CommonsScan, MissingFamilyIsEmptyAndUnreadableIsOneWarning) {
    TempDir commons;
    auto missing = scan_commons_family(commons.path(), Family::skills);
    EXPECT_TRUE(missing.entries.empty());
    EXPECT_TRUE(missing.warnings.empty());

    write_file(commons / "commands", "not a directory");
    auto unreadable = scan_commons_family(commons.path(), Family::commands);
    EXPECT_TRUE(unreadable.entries.empty());
    ASSERT_EQ(unreadable.warnings.size(), 1u);
    EXPECT_EQ(unreadable.warnings[0].kind, core::CommonsWarning::Kind::unreadable);
    EXPECT_EQ(core::display_commons_warning(unreadable.warnings[0]),
              "cannot read " + (commons / "commands").string() + ": " +
                  std::make_error_code(std::errc::not_a_directory).message());
}

TEST(CommonsScan, NamesThatAreNotUtf8AreSkippedWithTheirBytesEscaped) {
    TempDir commons;
    write_file(commons / "commands/bad\xFF\x1B.md", "x");
    write_file(commons / "commands/good.md", "x");
    auto scan = scan_commons_family(commons.path(), Family::commands);
    ASSERT_EQ(scan.entries.size(), 1u);
    EXPECT_EQ(scan.entries[0].name, "good");
    ASSERT_EQ(scan.warnings.size(), 1u);
    EXPECT_EQ(display_commons_warning(scan.warnings[0]),
              "Commons commands/bad\\xff\\u{1b}.md: name is not valid UTF-8, skipped");
}

}  // namespace
