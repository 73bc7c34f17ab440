// Loading mirthlode.toml: the three parts, every refusal, and the JSON form
// of TOML items.
#include <gtest/gtest.h>

#include "core/config.h"
#include "support/support.h"
#include "toml/document.h"

namespace {

using core::Config;
using core::Family;
using testing_support::TempDir;
using testing_support::write_file;

class ConfigFile : public ::testing::Test {
protected:
    util::Result<Config> load(const std::string& text) {
        write_file(dir_ / "mirthlode.toml", text);
        return core::load_config(dir_.path());
    }
    std::string error(const std::string& text) {
        auto config = load(text);
        EXPECT_FALSE(config) << text;
        return config ? "" : config.error().message;
    }
    std::string path() const { return (dir_ / "mirthlode.toml").string(); }

    TempDir dir_;
};

TEST_F(ConfigFile, MissingEmptyOrCommentOnlyFileIsTheEmptyConfig) {
    auto missing = core::load_config(dir_ / "nowhere");
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->disabled.empty() && missing->custom.empty() && missing->mcp.empty());
    for (std::string text : {"", "# nothing here\n\n", "\xEF\xBB\xBF"}) {
        auto config = load(text);
        ASSERT_TRUE(config) << text;
        EXPECT_TRUE(config->disabled.empty() && config->custom.empty() && config->mcp.empty());
    }
}

TEST_F(ConfigFile, ReadFailures) {
    EXPECT_EQ(error("a = \"\xFF\"\n"), "cannot read " + path() + ": stream did not contain valid UTF-8");
    std::filesystem::create_directories(dir_ / "as_dir" / "mirthlode.toml");
    auto config = core::load_config(dir_ / "as_dir");
    ASSERT_FALSE(config);
    EXPECT_EQ(config.error().message.rfind("cannot read " + (dir_ / "as_dir" / "mirthlode.toml").string() + ": ", 0), 0u);
}

TEST_F(ConfigFile, SyntaxErrorGivesLineAndColumnInBytes) {
    EXPECT_EQ(error("a = 1\nb = 2\nc = \"\xC3\xA9\" x\n"), path() + " is not valid TOML (invalid TOML (line 3, column 10))");
    EXPECT_EQ(error("a = 1\nb = 2\nc = \n"), path() + " is not valid TOML (invalid TOML (line 3, column 5))");
    EXPECT_EQ(error("[t]\n[t]\n"), path() + " is not valid TOML (invalid TOML (line 2, column 2))");
}

TEST_F(ConfigFile, TargetsRecordFalseInFileOrder) {
    auto config = load("[targets]\nzeta = false\nclaude = true\nnot-an-agent = false\n");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->disabled, (std::vector<std::string>{"zeta", "not-an-agent"}));
    auto dotted = load("targets.codex = false\n");
    ASSERT_TRUE(dotted);
    EXPECT_EQ(dotted->disabled, std::vector<std::string>{"codex"});
    EXPECT_EQ(error("[targets]\nclaude = 1\n"), path() + ": targets.claude must be true or false");
    EXPECT_EQ(error("[targets]\nclaude = \"no\"\n"), path() + ": targets.claude must be true or false");
    for (std::string ignored : {"targets = { claude = false }\n", "targets = 3\n"}) {
        auto config = load(ignored);
        ASSERT_TRUE(config);
        EXPECT_TRUE(config->disabled.empty());
    }
}

TEST_F(ConfigFile, CustomAgents) {
    auto config = load(
        "[custom.b]\nroot = \"/opt/b\"\nagents = \"a\"\nsubagents = \"s\"\nskills = 3\nother = 1\n"
        "[custom.a]\nroot = \".a\"\ncommands = \"cmd\"\n");
    ASSERT_TRUE(config);
    ASSERT_EQ(config->custom.size(), 2u);
    EXPECT_EQ(config->custom[0].name, "b");
    EXPECT_EQ(config->custom[0].root, "/opt/b");
    EXPECT_EQ(config->custom[0].surfaces, (std::map<Family, std::string>{{Family::agents, "s"}}));
    EXPECT_EQ(config->custom[1].surfaces, (std::map<Family, std::string>{{Family::commands, "cmd"}}));
    EXPECT_EQ(error("[custom.x]\nskills = \"s\"\n"), path() + ": custom.x needs a `root`");
    EXPECT_EQ(error("[custom.x]\nroot = 1\n"), path() + ": custom.x needs a `root`");
    EXPECT_EQ(error("custom.x = \"dir\"\n"), path() + ": custom.x must be a table");
    EXPECT_EQ(error("[custom]\nx = { root = \"r\" }\n"), path() + ": custom.x must be a table");
}

TEST_F(ConfigFile, McpAllowlistsInNameOrder) {
    auto config = load("[mcp.zz]\nagents = []\n[mcp.aa]\nagents = [\"codex\", \"claude\", \"nobody\"]\n[mcp.mm]\n");
    ASSERT_TRUE(config);
    std::vector<std::string> names;
    for (const auto& [name, settings] : config->mcp) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"aa", "mm", "zz"}));
    EXPECT_EQ(*config->mcp["aa"].agents, (std::vector<std::string>{"codex", "claude", "nobody"}));
    ASSERT_TRUE(config->mcp["zz"].agents.has_value());
    EXPECT_TRUE(config->mcp["zz"].agents->empty());
    EXPECT_FALSE(config->mcp["mm"].agents.has_value());
    EXPECT_TRUE(config->mcp["mm"].tweaks.empty());
}

TEST_F(ConfigFile, McpTweaksBecomeJsonObjects) {
    auto config = load(
        "[mcp.fs.tweaks.codex]\nz = 1\n[mcp.fs.tweaks.claude]\ntimeout = 5\nratio = nan\nwhen = 1979-05-27 07:32\n"
        "list = [1, 'a', {x = inf}]\n[mcp.fs.tweaks.claude.env]\nA = \"1\"\n");
    ASSERT_TRUE(config) << config.error().message;
    const auto& tweaks = config->mcp["fs"].tweaks;
    ASSERT_EQ(tweaks.size(), 2u);
    EXPECT_EQ(tweaks.begin()->first, "claude");
    EXPECT_EQ(tweaks.at("claude").dump(),
              R"({"timeout":5,"ratio":null,"when":"1979-05-27T07:32:00","list":[1,"a",{"x":null}],"env":{"A":"1"}})");
    auto dotted = load("[mcp.fs]\ntweaks.claude.timeout = 5\n");
    ASSERT_TRUE(dotted);
    EXPECT_EQ(dotted->mcp["fs"].tweaks.at("claude").dump(), R"({"timeout":5})");
}

TEST_F(ConfigFile, McpRefusals) {
    EXPECT_EQ(error("mcp = { fs = {} }\n"), path() + ": `mcp` must be a table of servers written as [mcp.<name>]");
    EXPECT_EQ(error("[[mcp]]\n"), path() + ": `mcp` must be a table of servers written as [mcp.<name>]");
    EXPECT_EQ(error("[mcp]\nfs = { agents = [] }\n"), path() + ": mcp.fs must be a table");
    EXPECT_EQ(error("[mcp.fs]\nagents = \"claude\"\n"), path() + ": mcp.fs.agents must be a list of agent names");
    EXPECT_EQ(error("[mcp.fs]\nagents = [\"claude\", 1]\n"), path() + ": mcp.fs.agents must hold agent names");
    EXPECT_EQ(error("[mcp.fs]\ntweaks = 1\n"), path() + ": mcp.fs.tweaks must be a table of agents");
    EXPECT_EQ(error("[mcp.fs]\ntweaks = { claude = { timeout = 5 } }\n"),
              path() + ": mcp.fs.tweaks must be a table of agents");
    EXPECT_EQ(error("[mcp.fs.tweaks]\nclaude = { timeout = 5 }\n"), path() + ": mcp.fs.tweaks.claude must be a table");
    EXPECT_EQ(error("[mcp.fs]\ncommand = \"npx\"\n"),
              path() + ": mcp.fs.command is not a setting — expected `agents` or `tweaks`");
}

TEST_F(ConfigFile, SectionsAreCheckedTargetsThenCustomThenMcp) {
    EXPECT_EQ(error("[mcp.fs]\nx = 1\n[custom.c]\n[targets]\nclaude = 1\n"),
              path() + ": targets.claude must be true or false");
    EXPECT_EQ(error("[mcp.fs]\nx = 1\n[custom.c]\n"), path() + ": custom.c needs a `root`");
}

TEST(TomlToJson, ItemsOfEveryKind) {
    auto document = toml::parse("a = 1.5\nb = -inf\n[[t]]\nx = 1\n[[t]]\ny.z = 07:32:00\n");
    ASSERT_TRUE(document);
    EXPECT_EQ(core::toml_item_to_json(toml::Item(document->root())).dump(),
              R"({"a":1.5,"b":null,"t":[{"x":1},{"y":{"z":"07:32:00"}}]})");
    EXPECT_EQ(core::toml_value_to_json(toml::Value::integer(-9223372036854775807 - 1)).dump(), "-9223372036854775808");
}

// Comparing an item with JSON directly gives what comparing its conversion does.
TEST(TomlEquals, AgreesWithTheConversion) {
    std::string big_table = "[t]\n", big_object, big_inline = "t = {";
    for (int i = 0; i < 20; ++i) {
        const std::string key = "k" + std::to_string(i);
        big_table += key + " = " + std::to_string(i) + "\n";
        big_inline += (i ? ", " : " ") + key + " = " + std::to_string(i);
        big_object += (i ? ",\"" : "{\"") + key + "\":" + std::to_string(i);
    }
    big_inline += " }\n";
    big_object += "}";
    const std::string big_changed = big_object.substr(0, big_object.size() - 3) + "99}";
    struct Case {
        std::string toml;  // a document; its item `t` is compared
        std::string json;
        bool equal;
    };
    const std::vector<Case> cases = {
        {"t = 1", "1", true},
        {"t = 1", "1.0", false},
        {"t = 1", "\"1\"", false},
        {"t = 9223372036854775807", "9223372036854775807", true},
        {"t = -1", "-1", true},
        {"t = -1", "18446744073709551615", false},
        {"t = 0", "-0", true},
        {"t = 1", "-0", false},
        {"t = 1.5", "1.5", true},
        {"t = 1.0", "1", false},
        {"t = 0.0", "-0.0", true},
        {"t = inf", "null", true},
        {"t = nan", "null", true},
        {"t = inf", "1e308", false},
        {"t = true", "true", true},
        {"t = true", "1", false},
        {"t = 'a\\b'", "\"a\\\\b\"", true},
        {"t = \"a\"", "\"b\"", false},
        {"t = 1979-05-27T07:32:00Z", "\"1979-05-27T07:32:00Z\"", true},
        {"t = 07:32", "\"07:32:00\"", true},
        {"t = [1, \"a\", [true]]", "[1, \"a\", [true]]", true},
        {"t = [1, 2]", "[2, 1]", false},
        {"t = [1]", "[1, 1]", false},
        {"t = []", "{}", false},
        {"t = { a = 1, b.c = 2 }", "{\"b\": {\"c\": 2}, \"a\": 1}", true},
        {"t = { a = 1 }", "{\"a\": 1, \"b\": 2}", false},
        {"t = { a = 1, b = 2 }", "{\"a\": 1}", false},
        {"t = { a = 1 }", "{\"a\": 2}", false},
        {"t = {}", "{}", true},
        {"t = {}", "[]", false},
        {"[t]\na = 1\n[t.u]\nb = [2]\n", "{\"u\": {\"b\": [2]}, \"a\": 1}", true},
        {"[t]\na = 1\n[t.u]\nb = [2]\n", "{\"u\": {\"b\": [3]}, \"a\": 1}", false},
        {"[t]\na = 1\n", "{\"a\": 1, \"u\": null}", false},
        {"[t]\n", "{}", true},
        {"[t]\n", "null", false},
        {"[[t]]\na = 1\n[[t]]\nb = 2\n", "[{\"a\": 1}, {\"b\": 2}]", true},
        {"[[t]]\na = 1\n[[t]]\nb = 2\n", "[{\"b\": 2}, {\"a\": 1}]", false},
        {"[[t]]\na = 1\n", "{\"a\": 1}", false},
        {big_table, big_object, true},
        {big_table, big_changed, false},
        {big_inline, big_object, true},
        {big_inline, big_changed, false},
    };
    for (const Case& c : cases) {
        auto document = toml::parse(c.toml);
        ASSERT_TRUE(document) << c.toml;
        const toml::Item* item = document->root().get("t");
        ASSERT_NE(item, nullptr) << c.toml;
        auto value = json::parse(c.json);
        ASSERT_TRUE(value) << c.json;
        EXPECT_EQ(core::toml_item_equals(*item, *value), c.equal) << c.toml << " vs " << c.json;
        EXPECT_EQ(json::equal(core::toml_item_to_json(*item), *value), c.equal) << c.toml << " vs " << c.json;
    }
}

}  // namespace
