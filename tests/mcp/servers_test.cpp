#include <gtest/gtest.h>

#include "mcp/servers.h"
#include "support/support.h"

namespace {

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

std::string names(const mcp::McpServers& servers) {
    std::string out;
    for (const auto& entry : servers) out += entry.name + ";";
    return out;
}

std::string parse_error(const std::string& content) {
    TempDir dir;
    write_file(dir / "mcp.json", content);
    auto result = mcp::parse_commons_servers(dir / "mcp.json");
    if (result) return "ok";
    std::string message = result.error().message;
    std::string prefix = (dir / "mcp.json").string();
    return message.rfind(prefix, 0) == 0 ? "<path>" + message.substr(prefix.size()) : message;
}

TEST(LoadCommonsServers, MissingFileOrDirectoryIsAnEmptyList) {
    TempDir dir;
    auto missing = mcp::load_commons_servers(dir / "mcp.json");
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->empty());
    std::filesystem::create_directory(dir / "mcp.json");
    auto directory = mcp::load_commons_servers(dir / "mcp.json");
    ASSERT_TRUE(directory);
    EXPECT_TRUE(directory->empty());
}

TEST(ParseCommonsServers, MissingFileIsAReadError) {
    TempDir dir;
    auto result = mcp::parse_commons_servers(dir / "mcp.json");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message.rfind("cannot read " + (dir / "mcp.json").string() + ": ", 0), 0u);
}

TEST(ParseCommonsServers, RefusesWhatTheRestOfTheSystemCannotUse) {
    EXPECT_EQ(parse_error("").rfind("<path> is not valid JSON: ", 0), 0u);
    EXPECT_EQ(parse_error("  \n").rfind("<path> is not valid JSON: ", 0), 0u);
    EXPECT_EQ(parse_error("{\"mcpServers\":{}} x").rfind("<path> is not valid JSON: ", 0), 0u);
    const std::string no_list = "<path> must hold an `mcpServers` object at the top level";
    EXPECT_EQ(parse_error("[]"), no_list);
    EXPECT_EQ(parse_error(R"({"mcpServers":[]})"), no_list);
    EXPECT_EQ(parse_error(R"({"mcpServers":null})"), no_list);
    EXPECT_EQ(parse_error(R"({"servers":{}})"), no_list);
    EXPECT_EQ(parse_error(R"({"mcpServers":{"a":"npx thing"}})"), "<path>: server `a` must be an object");
    EXPECT_EQ(parse_error(R"({"mcpServers":{"a":{"disabled":"yes"}}})"),
              "<path>: server `a`: `disabled` must be true or false");
    EXPECT_EQ(parse_error(R"({"mcpServers":{"a":{"disabled":null}}})"),
              "<path>: server `a`: `disabled` must be true or false");
    // The first wrong server in the file is the one reported.
    EXPECT_EQ(parse_error(R"({"mcpServers":{"z":1,"a":{"disabled":0}}})"), "<path>: server `z` must be an object");
    EXPECT_EQ(parse_error(R"({"mcpServers":{"a":{"command":7,"disabled":false}}, "other":1})"), "ok");
}

TEST(ParseCommonsServers, SortsByNameAndKeepsKeyOrder) {
    TempDir dir;
    write_file(dir / "mcp.json",
               R"({"mcpServers":{"b":{"url":"u","type":"http"},"B":{},"a":{"disabled":true,"command":"x"}}})");
    auto servers = mcp::parse_commons_servers(dir / "mcp.json");
    ASSERT_TRUE(servers);
    EXPECT_EQ(names(*servers), "B;a;b;");
    EXPECT_EQ(servers->find("b")->dump(), R"({"url":"u","type":"http"})");
    EXPECT_EQ(servers->find("a")->dump(), R"({"disabled":true,"command":"x"})");
}

TEST(SaveCommonsServers, WritesListOrderAndKeepsOtherMembersInPlace) {
    TempDir dir;
    write_file(dir / "mcp.json", R"({"keep":"yes","mcpServers":{"b":{"command":"x"},"a":{}},"n":[1]})");
    auto servers = mcp::load_commons_servers(dir / "mcp.json");
    ASSERT_TRUE(servers);
    servers->set("z", json::Value::parse(R"({"url":"u"})"));
    servers->set("0", json::Value::object());
    servers->set("a", json::Value::parse(R"({"args":[]})"));
    ASSERT_TRUE(mcp::save_commons_servers(dir / "mcp.json", *servers));
    EXPECT_EQ(read_file(dir / "mcp.json"),
              "{\n  \"keep\": \"yes\",\n  \"mcpServers\": {\n    \"a\": {\n      \"args\": []\n    },\n"
              "    \"b\": {\n      \"command\": \"x\"\n    },\n    \"z\": {\n      \"url\": \"u\"\n    },\n"
              "    \"0\": {}\n  },\n  \"n\": [\n    1\n  ]\n}\n");
}

TEST(SaveCommonsServers, EmptyListAndMissingParents) {
    TempDir dir;
    ASSERT_TRUE(mcp::save_commons_servers(dir / "new" / "mcp.json", mcp::McpServers{}));
    EXPECT_EQ(read_file(dir / "new" / "mcp.json"), "{\n  \"mcpServers\": {}\n}\n");
}

TEST(SaveCommonsServers, WriteFailureNamesThePath) {
    TempDir dir;
    write_file(dir / "file", "");
    auto status = mcp::save_commons_servers(dir / "file" / "mcp.json", mcp::McpServers{});
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().message.rfind("cannot write " + (dir / "file" / "mcp.json").string() + ": ", 0), 0u);
}

TEST(McpServers, EraseKeepsOrderAndLookUps) {
    mcp::McpServers servers;
    for (const char* name : {"a", "b", "c", "d"}) servers.set(name, json::Value(name));
    EXPECT_TRUE(servers.erase("b"));
    EXPECT_FALSE(servers.erase("b"));
    EXPECT_EQ(names(servers), "a;c;d;");
    EXPECT_EQ(*servers.find("d"), json::Value("d"));
    servers.set("c", json::Value("C"));
    EXPECT_EQ(names(servers), "a;c;d;");
    EXPECT_EQ(*servers.find("c"), json::Value("C"));
    EXPECT_EQ(servers.find("b"), nullptr);
}

}  // namespace
