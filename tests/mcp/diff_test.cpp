#include <gtest/gtest.h>

#include "mcp/diff.h"
#include "mcp/dialect.h"

namespace {

using json::Value;
using Keys = std::vector<std::string>;

Keys diff(const Value& actual, const Value& expected) { return mcp::diff_server_entries(&actual, expected); }

TEST(DiffServerEntries, DifferentMissingAndExtraKeys) {
    Value expected = Value::parse(R"({"command":"c","args":["a"]})");
    EXPECT_EQ(diff(Value::parse(R"({"cwd":"/","args":["b"],"command":"c"})"), expected),
              (Keys{"args", "cwd"}));
    EXPECT_EQ(mcp::diff_server_entries(nullptr, Value::parse(R"({"z":1,"b":2,"a":3})")),
              (Keys{"a", "b", "z"}));
    EXPECT_EQ(diff(Value::parse("[1]"), expected), (Keys{"args", "command"}));
    EXPECT_EQ(diff(Value::parse(R"({"x":1})"), Value::parse("null")), (Keys{"x"}));
}

TEST(DiffServerEntries, ValueEquality) {
    EXPECT_TRUE(diff(Value::parse(R"({"env":{"B":"2","A":"1"},"c":"x"})"),
                     Value::parse(R"({"c":"x","env":{"A":"1","B":"2"}})"))
                    .empty());
    // An integer never equals a float; lists compare in order.
    EXPECT_EQ(diff(Value::parse(R"({"t":1,"l":[1,2]})"), Value::parse(R"({"t":1.0,"l":[2,1]})")),
              (Keys{"l", "t"}));
}

// An agent's entry against the server translated for its dialect, as sync
// compares them: "${env:VAR}" resolved, the Tweak merged in.
TEST(DiffServerEntries, AgainstTheTranslatedServer) {
    core::EnvMap env(core::EnvPairs{{"TOKEN", "secret"}});
    Value server = Value::parse(R"({"url":"u","headers":{"A":"${env:TOKEN}"}})");
    auto plain = mcp::translate_server("s", server, core::McpDialect::Codex, env, nullptr, true);
    ASSERT_TRUE(plain);
    EXPECT_TRUE(diff(Value::parse(R"({"url":"u","http_headers":{"A":"secret"}})"), *plain).empty());
    Value tweak = Value::parse(R"({"startup_timeout_sec":5})");
    auto tweaked = mcp::translate_server("s", server, core::McpDialect::Codex, env, &tweak, true);
    ASSERT_TRUE(tweaked);
    EXPECT_EQ(diff(Value::parse(R"({"url":"u","http_headers":{"A":"${env:TOKEN}"}})"), *tweaked),
              (Keys{"http_headers", "startup_timeout_sec"}));
}

}  // namespace
