// Edits on files as people write them: a commented codex configuration,
// "\r\n" line ends and a byte-order mark.
#include <gtest/gtest.h>

#include "toml/document.h"

namespace {

using toml::Document;
using toml::Table;
using toml::Value;

const char* const codex_config = R"(# Codex settings
model = "o3"  # the default model
approval_policy = "on-request"

[history]
persistence = "save-all"

# MCP servers
[mcp_servers.github]
command = "docker"   # runs in a container
args = ["run", "-i", "ghcr.io/github/github-mcp-server"]

[mcp_servers.github.env]
GITHUB_TOKEN = "x"

# the file system, keep it last
[mcp_servers.fs]
command = "npx"
args = [
  "-y",   # always
  "@x/fs",
]

[profiles.fast]
model = "o4-mini"
)";

Document read(std::string_view text) {
    auto document = toml::parse(text);
    EXPECT_TRUE(document) << document.error().message;
    return document ? std::move(*document) : Document();
}

Table server(const std::string& command, std::vector<std::string> args) {
    Table table;
    table.set("command", Value::string(command));
    toml::Array array;
    for (auto& arg : args) array.push_back(Value::string(arg));
    table.set("args", Value::array(std::move(array)));
    return table;
}

TEST(TomlRealFiles, CodexServersReplacedAddedAndRemoved) {
    Document document = read(codex_config);
    ASSERT_EQ(document.render(), codex_config);
    Table& servers = *document.root().get("mcp_servers")->as_table();

    Table fs = server("node", {"fs.js"});
    fs.carry_decor_from(*servers.get("fs")->as_table());
    servers.set("fs", std::move(fs));
    servers.set("memory", server("npx", {"-y", "@x/memory"}));
    EXPECT_TRUE(servers.remove("github"));

    EXPECT_EQ(document.render(), R"(# Codex settings
model = "o3"  # the default model
approval_policy = "on-request"

[history]
persistence = "save-all"

# the file system, keep it last
[mcp_servers.fs]
command = "node"
args = ["fs.js"]

[mcp_servers.memory]
command = "npx"
args = ["-y", "@x/memory"]

[profiles.fast]
model = "o4-mini"
)");
}

TEST(TomlRealFiles, ValueReplacedInsideACommentedFile) {
    Document document = read(codex_config);
    document.root().set("model", Value::string("gpt-5"));
    Table& github = *document.root().get("mcp_servers")->as_table()->get("github")->as_table();
    github.set("command", Value::string("podman"));
    std::string text = document.render();
    std::string expected = codex_config;
    expected.replace(expected.find("\"o3\""), 4, "\"gpt-5\"");
    expected.replace(expected.find("\"docker\""), 8, "\"podman\"");
    EXPECT_EQ(text, expected);
}

TEST(TomlRealFiles, CrlfAndByteOrderMarkSurviveEdits) {
    std::string crlf = "\xEF\xBB\xBF";
    for (char c : std::string(codex_config)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Document document = read(crlf);
    ASSERT_EQ(document.render(), crlf);
    Table& servers = *document.root().get("mcp_servers")->as_table();
    servers.set("memory", server("npx", {"multi\nline"}));
    servers.get("fs")->as_table()->set("enabled", Value::boolean(false));
    std::string text = document.render();
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        ASSERT_EQ(text[i - 1], '\r') << "bare line feed at " << i << " in\n" << text;
    }
    EXPECT_NE(text.find("]\r\nenabled = false\r\n\r\n[mcp_servers.memory]\r\ncommand = \"npx\"\r\n"), std::string::npos);
    auto again = toml::parse(text);
    ASSERT_TRUE(again);
    const Table& memory = *again->root().get("mcp_servers")->as_table()->get("memory")->as_table();
    EXPECT_EQ(memory.get("args")->as_value()->as_array()[0].as_string(), "multi\nline");
}

TEST(TomlRealFiles, SettingsFileGainsAServerAndATweak) {
    Document document = read("# mirthlode settings\n[targets]\npi = false\n\n[mcp.fs]\nagents = [\"claude\"] # only\n");
    Table& mcp = *document.root().get("mcp")->as_table();
    mcp.get("fs")->as_table()->set("agents", Value::array(toml::Array({Value::string("codex")})));
    Table& gh = *mcp.set("gh", Table::new_implicit()).as_table();
    Table& tweaks = *gh.set("tweaks", Table::new_implicit()).as_table();
    Table codex;
    codex.set("startup_timeout_sec", Value::integer(30));
    tweaks.set("codex", std::move(codex));
    EXPECT_EQ(document.render(),
              "# mirthlode settings\n[targets]\npi = false\n\n[mcp.fs]\nagents = [\"codex\"] # only\n\n"
              "[mcp.gh.tweaks.codex]\nstartup_timeout_sec = 30\n");
}

}  // namespace
