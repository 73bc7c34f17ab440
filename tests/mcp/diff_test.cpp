#include <gtest/gtest.h>

#include "mcp/diff.h"

namespace {

using json::Value;
using Keys = std::vector<std::string>;

TEST(DiffServerEntries, DifferentMissingAndExtraKeys) {
    Value expected = Value::parse(R"({"command":"c","args":["a"]})");
    EXPECT_EQ(mcp::diff_server_entries(Value::parse(R"({"cwd":"/","args":["b"],"command":"c"})"), expected),
              (Keys{"args", "cwd"}));
    EXPECT_EQ(mcp::diff_server_entries(std::nullopt, Value::parse(R"({"z":1,"b":2,"a":3})")),
              (Keys{"a", "b", "z"}));
    EXPECT_EQ(mcp::diff_server_entries(Value::parse("[1]"), expected), (Keys{"args", "command"}));
    EXPECT_EQ(mcp::diff_server_entries(Value::parse(R"({"x":1})"), Value::parse("null")), (Keys{"x"}));
}

TEST(DiffServerEntries, ValueEquality) {
    EXPECT_TRUE(mcp::diff_server_entries(Value::parse(R"({"env":{"B":"2","A":"1"},"c":"x"})"),
                                         Value::parse(R"({"c":"x","env":{"A":"1","B":"2"}})"))
                    .empty());
    // An integer never equals a float; lists compare in order.
    EXPECT_EQ(mcp::diff_server_entries(Value::parse(R"({"t":1,"l":[1,2]})"), Value::parse(R"({"t":1.0,"l":[2,1]})")),
              (Keys{"l", "t"}));
}

TEST(TranslateAndDiff, ComparesWithoutExpanding) {
    core::EnvMap env(core::EnvPairs{{"TOKEN", "secret"}});
    Value server = Value::parse(R"({"url":"u","headers":{"A":"${env:TOKEN}"}})");
    auto same = mcp::translate_and_diff("s", server, core::McpDialect::Codex,
                                        Value::parse(R"({"url":"u","http_headers":{"A":"${env:TOKEN}"}})"), env,
                                        nullptr);
    ASSERT_TRUE(same);
    EXPECT_TRUE(same->empty());
    Value tweak = Value::parse(R"({"startup_timeout_sec":5})");
    auto differs = mcp::translate_and_diff("s", server, core::McpDialect::Codex,
                                           Value::parse(R"({"url":"u","http_headers":{"A":"secret"}})"), env, &tweak);
    ASSERT_TRUE(differs);
    EXPECT_EQ(*differs, (Keys{"http_headers", "startup_timeout_sec"}));
}

}  // namespace
