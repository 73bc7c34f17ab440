#include <gtest/gtest.h>

#include <sys/stat.h>

#include "mcp/merge.h"
#include "support/support.h"

namespace {

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

mcp::McpItem item(const std::string& server, const char* expected, bool resolved = false) {
    mcp::McpItem made;
    made.server = server;
    if (expected) made.expected = json::Value::parse(expected);
    made.resolved = resolved;
    return made;
}

TEST(MergeJson, KeepsEverythingElseAndReplacesInPlace) {
    TempDir dir;
    const auto file = dir / ".claude.json";
    write_file(file, R"({
  "numStartups": 42,
  "mcpServers": {
    "alpha": {"command": "old", "args": ["x"]},
    "mine": {"url": "https://example.com/mcp", "headers": {"A": "b"}}
  },
  "projects": {"/home/u/src": {"allowedTools": [], "history": [1, 2.5, true, null]}},
  "big": 18446744073709551615
})");
    auto alpha = item("alpha", R"({"type":"stdio","command":"npx","args":["-y","alpha"]})");
    auto beta = item("beta", R"({"command":"beta","env":{"K":"v"}})");
    auto skipped = item("mine", nullptr);
    auto outcome = mcp::merge_servers_into_agent_file(file, "mcpServers", false, {&beta, &skipped, &alpha});
    ASSERT_TRUE(outcome) << outcome.error().message;
    EXPECT_EQ(outcome->written, file);
    EXPECT_FALSE(outcome->mode);
    EXPECT_EQ(read_file(file), R"({
  "numStartups": 42,
  "mcpServers": {
    "alpha": {
      "type": "stdio",
      "command": "npx",
      "args": [
        "-y",
        "alpha"
      ]
    },
    "mine": {
      "url": "https://example.com/mcp",
      "headers": {
        "A": "b"
      }
    },
    "beta": {
      "command": "beta",
      "env": {
        "K": "v"
      }
    }
  },
  "projects": {
    "/home/u/src": {
      "allowedTools": [],
      "history": [
        1,
        2.5,
        true,
        null
      ]
    }
  },
  "big": 18446744073709551615
})");
}

TEST(MergeJson, NewFileNullDocumentAndNoItems) {
    TempDir dir;
    auto a = item("a", R"({"command":"a"})");
    ASSERT_TRUE(mcp::merge_servers_into_agent_file(dir / "deep" / "mcp.json", "mcpServers", false, {&a}));
    EXPECT_EQ(read_file(dir / "deep" / "mcp.json"),
              "{\n  \"mcpServers\": {\n    \"a\": {\n      \"command\": \"a\"\n    }\n  }\n}");

    write_file(dir / "null.json", " null\r\n");
    ASSERT_TRUE(mcp::merge_servers_into_agent_file(dir / "null.json", "mcp", false, {}));
    EXPECT_EQ(read_file(dir / "null.json"), "{\n  \"mcp\": {}\n}");

    write_file(dir / "crlf.json", "{\r\n  \"theme\": \"dark\"\r\n}\r\n");
    ASSERT_TRUE(mcp::merge_servers_into_agent_file(dir / "crlf.json", "mcpServers", false, {}));
    EXPECT_EQ(read_file(dir / "crlf.json"), "{\n  \"theme\": \"dark\",\n  \"mcpServers\": {}\n}");
}

TEST(MergeJson, RefusalsLeaveTheFileUntouched) {
    TempDir dir;
    auto a = item("a", R"({"command":"a"})");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[1, 2]", " does not hold a JSON object — left untouched"},
        {"{\"mcpServers\": null}", ": `mcpServers` is not an object — left untouched"},
        {"{\"mcpServers\": [\"a\"]}", ": `mcpServers` is not an object — left untouched"},
        {"{\"mcpServers\": {}", " is not valid JSON (line 1, column "},
        {"\xEF\xBB\xBF{}", " is not valid JSON (line 1, column 1) — left untouched"},
    };
    for (const auto& [content, message] : cases) {
        const auto file = dir / "settings.json";
        write_file(file, content);
        auto outcome = mcp::merge_servers_into_agent_file(file, "mcpServers", false, {&a});
        ASSERT_FALSE(outcome) << content;
        // The parser decides where it stops; the rest of the text is fixed.
        EXPECT_EQ(outcome.error().message.rfind(file.string() + message, 0), 0u) << outcome.error().message;
        EXPECT_TRUE(outcome.error().message.ends_with(" — left untouched"));
        EXPECT_EQ(read_file(file), content);
    }
}

TEST(MergeJson, WritesThroughALink) {
    TempDir dir;
    write_file(dir / "real" / "mcp.json", "{}");
    std::filesystem::create_directories(dir / "agent");
    std::filesystem::create_symlink("../real/mcp.json", dir / "agent" / "mcp.json");
    auto a = item("a", R"({"command":"a"})");
    auto outcome = mcp::merge_servers_into_agent_file(dir / "agent" / "mcp.json", "mcpServers", false, {&a});
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "agent" / "mcp.json"));
    EXPECT_EQ(std::filesystem::canonical(outcome->written), std::filesystem::canonical(dir / "real" / "mcp.json"));
    EXPECT_NE(read_file(dir / "real" / "mcp.json").find("\"a\""), std::string::npos);
}

TEST(MergeMode, GivenOnlyForResolvedValuesOthersCanRead) {
    TempDir dir;
    const auto file = dir / "mcp.json";
    auto plain = item("plain", R"({"command":"a"})");
    auto secret = item("secret", R"({"command":"a","env":{"TOKEN":"abc"}})", true);

    write_file(file, "{}");
    ::chmod(file.c_str(), 0644);
    auto outcome = mcp::merge_servers_into_agent_file(file, "mcpServers", false, {&plain, &secret});
    ASSERT_TRUE(outcome);
    ASSERT_TRUE(outcome->mode);
    EXPECT_EQ(*outcome->mode, 0644u);
    EXPECT_EQ(mcp::secrets_mode_warning(file, *outcome->mode),
              file.string() + " has mode 0644 — it now holds resolved secrets and can be read by others");

    outcome = mcp::merge_servers_into_agent_file(file, "mcpServers", false, {&plain});
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->mode);

    ::chmod(file.c_str(), 0640);
    outcome = mcp::merge_servers_into_agent_file(file, "mcpServers", false, {&secret});
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->mode, std::optional<std::uint32_t>(0640u));

    ::chmod(file.c_str(), 0600);
    outcome = mcp::merge_servers_into_agent_file(file, "mcpServers", false, {&secret});
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->mode);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST(MergeMode, WarningShowsFourOctalDigits) {
    EXPECT_EQ(mcp::secrets_mode_warning("/h/.claude.json", 04755),
              "/h/.claude.json has mode 4755 — it now holds resolved secrets and can be read by others");
    EXPECT_EQ(mcp::secrets_mode_warning("f", 04), "f has mode 0004 — it now holds resolved secrets and can be read by others");
}

}  // namespace
