// Rewriting the [mcp.<server>] part of mirthlode.toml as a document.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "core/config_write.h"
#include "support/support.h"

namespace {

using core::McpSettingsEdit;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

using Names = std::optional<std::vector<std::string>>;

toml::Table tweak_of(std::int64_t timeout) {
    toml::Table table;
    table.set("timeout", toml::Item(toml::Value::integer(timeout)));
    return table;
}

McpSettingsEdit edit_of(const char* server, Names agents, bool tweak, std::int64_t timeout = 5) {
    McpSettingsEdit edit{server, std::move(agents), {}};
    if (tweak) edit.tweaks.emplace_back("codex", tweak_of(timeout));
    return edit;
}

ino_t inode(const std::filesystem::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

struct Case {
    const char* before;  // nullptr: no file
    Names agents;
    bool tweak;
    const char* after;
};

TEST(SaveMcpConfig, EditsOnlyTheServersPart) {
    const std::vector<Case> cases = {
        {nullptr, Names{{"claude", "codex"}}, false, "[mcp.fs]\nagents = [\"claude\", \"codex\"]\n"},
        {nullptr, {}, true, "[mcp.fs.tweaks.codex]\ntimeout = 5\n"},
        {"\n \n", Names{{"claude"}}, false, "[mcp.fs]\nagents = [\"claude\"]\n"},
        // A list given replaces the old one in place; none given keeps it.
        {"[mcp.fs] # mine\nagents = [ \"cursor\" ] # one\nx.y = 1\n", Names{{"claude"}}, false,
         "[mcp.fs] # mine\nagents = [\"claude\"] # one\nx.y = 1\n"},
        {"[mcp.fs]\nagents = [ \"cursor\" ]\n", {}, true,
         "[mcp.fs]\nagents = [ \"cursor\" ]\n\n[mcp.fs.tweaks.codex]\ntimeout = 5\n"},
        // The old Tweak is replaced whole, its comment stays above its header.
        {"[targets]\npi = false\n\n# old tweak\n[mcp.fs.tweaks.codex]\nold = 1\n\n[custom.x]\nroot = \"x\"\n", {}, true,
         "[targets]\npi = false\n\n# old tweak\n[mcp.fs.tweaks.codex]\ntimeout = 5\n\n[custom.x]\nroot = \"x\"\n"},
        // What the file already holds is left as written.
        {"[mcp.fs]\nagents=[ \"claude\",\"codex\" ]\n[mcp.fs.tweaks]\ncodex.timeout=5\n", Names{{"claude", "codex"}},
         true, "[mcp.fs]\nagents=[ \"claude\",\"codex\" ]\n[mcp.fs.tweaks]\ncodex.timeout=5\n"},
        {"[mcp]\nfs.agents = [\"claude\"] # one\n", Names{{"claude"}}, false, "[mcp]\nfs.agents = [\"claude\"] # one\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const auto config_dir = dir / "config" / "mirthlode";
        if (c.before) write_file(config_dir / "mirthlode.toml", c.before);
        auto saved = core::write_mcp_settings(config_dir, {edit_of("fs", c.agents, c.tweak)});
        ASSERT_TRUE(saved) << saved.error().message;
        EXPECT_TRUE(saved->refused.empty());
        EXPECT_EQ(read_file(config_dir / "mirthlode.toml"), c.after) << (c.before ? c.before : "(no file)");
    }
}

// Every server's edit goes into one write; one that cannot be made is
// refused alone and leaves that server as it was.
TEST(SaveMcpConfig, ManyServersInOneWrite) {
    TempDir dir;
    const auto file = dir / "mirthlode.toml";
    write_file(file, "# mine\n[mcp.b]\ntweaks = 3\n");
    auto saved = core::write_mcp_settings(
        dir.path(), {edit_of("a", Names{{"claude"}}, false), edit_of("b", Names{{"codex"}}, true),
                     edit_of("c", {}, true, 9)});
    ASSERT_TRUE(saved) << saved.error().message;
    ASSERT_EQ(saved->refused.size(), 1u);
    EXPECT_EQ(saved->refused[0].server, "b");
    EXPECT_EQ(saved->refused[0].message, "mcp.b.tweaks in mirthlode.toml is not a table — left untouched");
    EXPECT_EQ(read_file(file),
              "# mine\n[mcp.b]\ntweaks = 3\n\n[mcp.a]\nagents = [\"claude\"]\n\n[mcp.c.tweaks.codex]\ntimeout = 9\n");

    // No edit: the file is not even read, nor created.
    ASSERT_TRUE(core::write_mcp_settings(dir / "none", {}));
    EXPECT_FALSE(std::filesystem::exists(dir / "none"));
}

TEST(SaveMcpConfig, KeepsByteOrderMarkAndCrlfAndWritesNothingUnchanged) {
    TempDir dir;
    const auto file = dir / "mirthlode.toml";
    write_file(file, "\xEF\xBB\xBF# settings\r\n[targets]\r\npi = false\r\n");
    const McpSettingsEdit edit = edit_of("fs", Names{{"claude"}}, true, 7);
    ASSERT_TRUE(core::write_mcp_settings(dir.path(), {edit}));
    const std::string expected =
        "\xEF\xBB\xBF# settings\r\n[targets]\r\npi = false\r\n\r\n[mcp.fs]\r\nagents = [\"claude\"]\r\n\r\n"
        "[mcp.fs.tweaks.codex]\r\ntimeout = 7\r\n";
    EXPECT_EQ(read_file(file), expected);

    const ino_t written = inode(file);
    ASSERT_TRUE(core::write_mcp_settings(dir.path(), {edit}));
    EXPECT_EQ(inode(file), written) << "an unchanged file is not rewritten";
}

TEST(SaveMcpConfig, RefusalsLeaveTheFileAlone) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"mcp = 1\n", "`mcp` in mirthlode.toml is not a table — left untouched"},
        {"mcp = { fs = {} }\n", "`mcp` in mirthlode.toml is not a table — left untouched"},
        {"[mcp]\nfs = \"x\"\n", "mcp.fs in mirthlode.toml is not a table — left untouched"},
        {"[[mcp.fs]]\n", "mcp.fs in mirthlode.toml is not a table — left untouched"},
        {"[mcp.fs]\ntweaks = 3\n", "mcp.fs.tweaks in mirthlode.toml is not a table — left untouched"},
        {"a = 1\nb = \n", " is not valid TOML (invalid TOML (line 2, column 5)) — left untouched"},
        {"\xEF\xBB\xBF" "a = \n", " is not valid TOML (invalid TOML (line 1, column 5)) — left untouched"},
    };
    for (const auto& [text, error] : cases) {
        TempDir dir;
        const auto file = dir / "mirthlode.toml";
        write_file(file, text);
        auto saved = core::write_mcp_settings(dir.path(), {edit_of("fs", Names{{"claude"}}, true, 1)});
        std::string message;
        if (!saved) {
            message = saved.error().message;
        } else if (saved->refused.size() == 1) {
            message = saved->refused[0].message;
        }
        if (message.rfind(file.string(), 0) == 0) message.erase(0, file.string().size());
        EXPECT_EQ(message, error) << text;
        EXPECT_EQ(read_file(file), text);
    }
}

TEST(RemoveMcpSettings, TakesTheServerWithEverythingUnderIt) {
    TempDir dir;
    const auto file = dir / "mirthlode.toml";
    write_file(file,
               "\xEF\xBB\xBF# keep\r\n[mcp.a]\r\nagents = []\r\n\r\n[mcp.fs]\r\nagents = [\"codex\"]\r\n\r\n"
               "[mcp.fs.tweaks.codex]\r\nt = 1\r\n\r\n[mcp.z] # z\r\n");
    ASSERT_TRUE(core::remove_mcp_settings(dir.path(), "fs"));
    EXPECT_EQ(read_file(file), "\xEF\xBB\xBF# keep\r\n[mcp.a]\r\nagents = []\r\n\r\n[mcp.z] # z\r\n");

    // Comments set apart by a blank line above the server's first header are
    // not the server's: they stay where they stood.
    const std::vector<std::pair<const char*, const char*>> comments = {
        {"# settings\n\n[mcp.fs]\nagents = []\n\n[targets]\npi = false\n", "# settings\n\n[targets]\npi = false\n"},
        {"# top\n\n# about fs\n[mcp.fs.tweaks.codex]\nx = 1\n\n[mcp.gh] # gh\n", "# top\n\n[mcp.gh] # gh\n"},
        {"[mcp]\ngh.agents = []\n# fs\nfs.agents = []\n", "[mcp]\ngh.agents = []\n"},
    };
    for (const auto& [before, after] : comments) {
        write_file(file, before);
        ASSERT_TRUE(core::remove_mcp_settings(dir.path(), "fs"));
        EXPECT_EQ(read_file(file), after);
    }

    // Nothing to take out: no file is created, a blank or odd one is not rewritten.
    for (const char* text : {"", "  \n", "mcp = 1\n", "[mcp.other]\n"}) {
        write_file(file, text);
        const ino_t before = inode(file);
        ASSERT_TRUE(core::remove_mcp_settings(dir.path(), "fs"));
        EXPECT_EQ(inode(file), before);
    }
    ASSERT_TRUE(core::remove_mcp_settings(dir / "none", "fs"));
    EXPECT_FALSE(std::filesystem::exists(dir / "none"));
}

}  // namespace
