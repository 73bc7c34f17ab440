#include "core/agent_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::write_file;

const std::string bom = "\xEF\xBB\xBF";

class AgentFiles : public ::testing::Test {
protected:
    testing_support::TempDir dir;

    fs::path file(const std::string& content, const std::string& name = "agent.json") {
        write_file(dir / name, content);
        return dir / name;
    }
    std::string where(const std::string& name = "agent.json") { return (dir / name).string(); }

    std::string table_error(const fs::path& path, const std::string& key, bool toml) {
        auto table = core::read_config_table(path, key, toml);
        return table.ok() ? "(no error)" : table.error().message;
    }
    json::Value table(const fs::path& path, const std::string& key, bool toml) {
        auto table = core::read_config_table(path, key, toml);
        EXPECT_TRUE(table.ok()) << table.error().message;
        return table.ok() ? *table : json::Value();
    }
    // Removal that finds nothing to remove must leave the file as it was.
    void expect_nothing_removed(const fs::path& path, const std::string& key, bool toml,
                                const std::string& name = "a") {
        std::string before = read_file(path);
        auto removed = core::remove_config_entry(path, key, toml, name);
        ASSERT_TRUE(removed.ok()) << removed.error().message;
        EXPECT_FALSE(removed->removed);
        EXPECT_EQ(read_file(path), before);
    }
    void expect_removed(const fs::path& path, const std::string& key, bool toml, const std::string& name) {
        auto removed = core::remove_config_entry(path, key, toml, name);
        ASSERT_TRUE(removed.ok()) << removed.error().message;
        EXPECT_TRUE(removed->removed);
        EXPECT_EQ(removed->written, path);
    }
};

std::string keys(const json::Value& object) {
    std::string out;
    for (const auto& [k, v] : object.items()) out += k + ";";
    return out;
}

TEST_F(AgentFiles, MissingFilesReadAsEmpty) {
    auto doc = core::read_toml_document(dir / "config.toml");
    ASSERT_TRUE(doc.ok());
    EXPECT_EQ(*doc, "");
    auto value = core::read_json_file(dir / "no" / ".claude.json");
    ASSERT_TRUE(value.ok());
    EXPECT_EQ(*value, json::Value::object());
    for (bool toml : {false, true}) {
        EXPECT_EQ(table(dir / "missing", "mcpServers", toml), json::Value::object());
        auto removed = core::remove_config_entry(dir / "missing", "mcpServers", toml, "a");
        ASSERT_TRUE(removed.ok());
        EXPECT_FALSE(removed->removed);
        EXPECT_FALSE(fs::exists(dir / "missing"));
    }
}

TEST_F(AgentFiles, BlankJsonIsAnEmptyObject) {
    for (std::string blank : {"", " \n\t\r\n", "\xC2\xA0\xE3\x80\x80\n"}) {
        auto value = core::read_json_file(file(blank));
        ASSERT_TRUE(value.ok()) << value.error().message;
        EXPECT_EQ(*value, json::Value::object());
    }
}

TEST_F(AgentFiles, JsonErrorsNameTheFileAndPosition) {
    auto with_bom = core::read_json_file(file(bom + "{}"));
    ASSERT_FALSE(with_bom.ok());
    EXPECT_EQ(with_bom.error().message, where() + " is not valid JSON (line 1, column 1) — left untouched");

    auto path = file("{\n  \"mcpServers\": {,}\n}");
    std::string message = where() + " is not valid JSON (line 2, column 18) — left untouched";
    EXPECT_EQ(table_error(path, "mcpServers", false), message);
    auto removal = core::remove_config_entry(path, "mcpServers", false, "x");
    ASSERT_FALSE(removal.ok());
    EXPECT_EQ(removal.error().message, message);
}

TEST_F(AgentFiles, UnreadableFiles) {
    auto path = file("{\"a\": \"\xFF\"}");
    for (bool toml : {false, true})
        EXPECT_EQ(table_error(path, "a", toml), "cannot read " + where() + ": stream did not contain valid UTF-8");
    fs::create_directories(dir / "folder");
    EXPECT_EQ(table_error(dir / "folder", "a", false).rfind("cannot read " + where("folder") + ": ", 0), 0u);
    EXPECT_FALSE(core::read_toml_document(dir / "folder").ok());
}

TEST_F(AgentFiles, JsonTopLevelOfAnotherKind) {
    for (std::string text : {"[]", "null", "\"text\"", "3"}) {
        auto path = file(text);
        EXPECT_EQ(table(path, "mcpServers", false), json::Value::object());
        expect_nothing_removed(path, "mcpServers", false);
    }
}

TEST_F(AgentFiles, JsonMemberThatIsNotAnObject) {
    for (std::string member : {"null", "[]", "\"x\"", "1"}) {
        auto path = file("{\"mcpServers\": " + member + "}");
        EXPECT_EQ(table_error(path, "mcpServers", false), where() + ": `mcpServers` is not an object — left untouched");
        expect_nothing_removed(path, "mcpServers", false);
    }
    EXPECT_EQ(table(file("{\"other\": 1}"), "mcpServers", false), json::Value::object());
}

TEST_F(AgentFiles, JsonRemovalKeepsOrderAndOtherKeys) {
    auto path = file(R"({"theme":"dark","mcpServers":{"b":{"command":"b"},"x":{"url":"u"},"a":{}},"n":1.0})");
    EXPECT_EQ(keys(table(path, "mcpServers", false)), "b;x;a;");
    expect_removed(path, "mcpServers", false, "x");
    EXPECT_EQ(read_file(path),
              "{\n"
              "  \"theme\": \"dark\",\n"
              "  \"mcpServers\": {\n"
              "    \"b\": {\n"
              "      \"command\": \"b\"\n"
              "    },\n"
              "    \"a\": {}\n"
              "  },\n"
              "  \"n\": 1.0\n"
              "}");
    expect_nothing_removed(path, "mcpServers", false, "x");
}

TEST_F(AgentFiles, JsonRemovalOfTheLastEntryKeepsAnEmptyTable) {
    auto path = file("{\"mcpServers\": {\"only\": {}}, \"z\": []}\n");
    expect_removed(path, "mcpServers", false, "only");
    EXPECT_EQ(read_file(path), "{\n  \"mcpServers\": {},\n  \"z\": []\n}");
}

TEST_F(AgentFiles, RemovalThroughALinkWritesItsTarget) {
    auto target = file("{\"mcpServers\":{\"a\":{}}}", "settings.json");
    fs::create_symlink(target, dir / "link.json");
    auto removed = core::remove_config_entry(dir / "link.json", "mcpServers", false, "a");
    ASSERT_TRUE(removed.ok()) << removed.error().message;
    EXPECT_EQ(fs::canonical(removed->written), fs::canonical(target));
    EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
    EXPECT_EQ(read_file(target), "{\n  \"mcpServers\": {}\n}");
}

TEST_F(AgentFiles, TomlTableFromSectionsInDocumentOrder) {
    auto path = file("model = \"o3\"\n\n[mcp_servers.b]\ncommand = \"b\"\n\n[mcp_servers.a]\ncommand = \"a\"\n",
                     "config.toml");
    auto servers = table(path, "mcp_servers", true);
    EXPECT_EQ(keys(servers), "b;a;");
    EXPECT_EQ(servers["a"]["command"], "a");
    EXPECT_EQ(table(path, "mcp", true), json::Value::object());
}

TEST_F(AgentFiles, TomlInlineTableOrValueIsRefused) {
    for (std::string text :
         {"mcp_servers = { a = { command = \"a\" } }\n", "mcp_servers = 1\n", "[[mcp_servers]]\ncommand = \"a\"\n"}) {
        auto path = file(text, "config.toml");
        EXPECT_EQ(table_error(path, "mcp_servers", true),
                  where("config.toml") + ": `mcp_servers` is not a table — left untouched");
        expect_nothing_removed(path, "mcp_servers", true);
    }
}

TEST_F(AgentFiles, TomlSyntaxErrorPositionCountsBytes) {
    auto path = file("a = 1\n# \xC3\xA9t\xC3\xA9\nb = = 2\n", "config.toml");
    std::string message = where("config.toml") + ": invalid TOML (line 3, column 5) — left untouched";
    EXPECT_EQ(table_error(path, "mcp_servers", true), message);
    auto removed = core::remove_config_entry(path, "mcp_servers", true, "a");
    ASSERT_FALSE(removed.ok());
    EXPECT_EQ(removed.error().message, message);

    EXPECT_EQ(core::invalid_toml_text("a\nb\nc\xC3\xA9 x", 8), "invalid TOML (line 3, column 5)");
    EXPECT_EQ(core::invalid_toml_text("ab\n", 99), "invalid TOML (line 2, column 1)");
    EXPECT_EQ(core::invalid_toml_text("", 0), "invalid TOML (line 1, column 1)");
}

TEST_F(AgentFiles, TomlRemovalKeepsTheRestOfTheDocumentAndTheByteOrderMark) {
    auto path = file(bom + "# codex\nmodel = \"o3\"\n\n[mcp_servers.a]\ncommand = \"a\"  # first\n\n"
                           "[mcp_servers.x]\ncommand = \"x\"\n\n[mcp_servers.b]\ncommand = \"b\"\n",
                     "config.toml");
    expect_removed(path, "mcp_servers", true, "x");
    EXPECT_EQ(read_file(path),
              bom + "# codex\nmodel = \"o3\"\n\n[mcp_servers.a]\ncommand = \"a\"  # first\n\n"
                    "[mcp_servers.b]\ncommand = \"b\"\n");
}

TEST_F(AgentFiles, TomlBlankOrWithoutTheEntryRemovesNothing) {
    for (std::string text : {"", "  \n\t\n", "model = \"o3\"\n", "[mcp_servers.b]\ncommand = \"b\"\n"})
        expect_nothing_removed(file(text, "config.toml"), "mcp_servers", true);
}

// Several entries leave in one write, each as the caller decides on its
// value; the file ends as removing them one at a time would leave it.
TEST_F(AgentFiles, RemovingSeveralEntriesAtOnce) {
    struct Case {
        std::string name;
        std::string text;
        bool toml;
        std::vector<std::string> asked;
        std::vector<std::string> removed;
    };
    const std::string toml_text =
        "# codex\r\nmodel = \"o3\"\r\n\r\n# ---- servers: keep this banner ----\r\n\r\n"
        "[mcp_servers.a]\r\ncommand = \"a\"\r\n\r\n# about keep\r\n[mcp_servers.keep]\r\ncommand = \"mine\"\r\n\r\n"
        "[mcp_servers.b]\r\ncommand = \"b\"\r\n[mcp_servers.b.env]\r\nT = \"1\"\r\n\r\n"
        "# trailing note\r\n\r\n[mcp_servers.c]\r\ncommand = \"c\"\r\n";
    const std::vector<Case> cases = {
        {"json", R"({"x": 1, "mcpServers": {"c": {"command": "c"}, "keep": {"command": "mine"}, "a": {"command": "a"},)"
                 R"( "b": {"command": "b"}}})",
         false, {"a", "b", "gone", "c", "keep", "a"}, {"a", "b", "c"}},
        {"toml", toml_text, true, {"c", "keep", "b", "a", "gone", "c"}, {"c", "b", "a"}},
        {"nothing ours", R"({"mcpServers": {"keep": {"command": "mine"}}})", false, {"keep", "gone"}, {}},
        // Nothing asked: a file that cannot be parsed is not even read.
        {"nothing asked", "{ not json", false, {}, {}},
    };
    // The entry whose command is "mine" is the user's.
    auto ours = [](const std::string&, const json::Value& entry) { return entry.value("command", "") != "mine"; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.toml ? "config.toml" : "agent.json";
        const std::string key = c.toml ? "mcp_servers" : "mcpServers";
        // What removing the same entries one at a time leaves.
        auto one_by_one = file(c.text, "one-" + name);
        for (const auto& gone : c.removed) expect_removed(one_by_one, key, c.toml, gone);

        auto path = file(c.text, name);
        auto removed = core::remove_config_entries(path, key, c.toml, c.asked, ours);
        ASSERT_TRUE(removed.ok()) << removed.error().message;
        EXPECT_EQ(removed->names, c.removed);
        if (c.removed.empty()) {
            EXPECT_EQ(read_file(path), c.text);
            EXPECT_TRUE(removed->written.empty());
            continue;
        }
        EXPECT_EQ(removed->written, path);
        EXPECT_EQ(read_file(path), read_file(one_by_one));
        EXPECT_EQ(keys(table(path, key, c.toml)), "keep;");
    }
}

// However many planners ask, side by side, a file is read once: they all
// get the first read, an error included, even after the file has changed.
TEST_F(AgentFiles, ReadsShareOneReadOfEachFile) {
    const fs::path json = file(R"({"mcpServers": {"a": {}}})");
    const fs::path broken = file("{", "broken.json");
    core::AgentFileReads reads;
    std::vector<core::AgentFileReads::Shared> got(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < got.size(); ++i) {
        threads.emplace_back([&, i] { got[i] = reads.read(i % 2 ? broken : json, false); });
    }
    for (auto& thread : threads) thread.join();
    write_file(json, "{}");
    write_file(broken, "{}");
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], reads.read(i % 2 ? broken : json, false));
    }
    ASSERT_TRUE(got[0]->ok());
    EXPECT_EQ(keys((*got[0])->document), "mcpServers;");
    ASSERT_FALSE(got[1]->ok());
    EXPECT_NE(got[1]->error().message.find("is not valid JSON"), std::string::npos);
    // The same path read as TOML is another read.
    EXPECT_NE(reads.read(json, true), got[0]);
}

TEST(SerialiseError, NamesThePath) {
    EXPECT_EQ(core::serialise_error("/h/.claude.json", "invalid UTF-8 in a string"),
              "cannot serialise /h/.claude.json: invalid UTF-8 in a string");
}

}  // namespace
