#include <gtest/gtest.h>

#include "mcp/dialect.h"

namespace {

using core::McpDialect;
using json::Value;
using mcp::McpTransport;

Value js(const char* text) { return Value::parse(text); }

// The translation rendered compactly, so key order is part of the comparison.
std::string translate(const char* server, McpDialect dialect, const Value* tweak = nullptr,
                      const core::EnvMap& env = core::EnvMap{}, bool expand = false) {
    auto entry = mcp::translate_server("s", js(server), dialect, env, tweak, expand);
    if (!entry) return "error: " + entry.error().message;
    return entry->dump();
}

TEST(ServerTransport, TypeWinsOnlyWhenExact) {
    EXPECT_EQ(mcp::server_transport(js(R"({"type":"sse","command":"x"})")), McpTransport::sse);
    EXPECT_EQ(mcp::server_transport(js(R"({"type":"stdio","url":"u"})")), McpTransport::stdio);
    EXPECT_EQ(mcp::server_transport(js(R"({"type":"http"})")), McpTransport::http);
    // Not recognised: the url/command rule decides.
    EXPECT_EQ(mcp::server_transport(js(R"({"type":"HTTP","url":"u"})")), McpTransport::http);
    EXPECT_EQ(mcp::server_transport(js(R"({"type":7,"url":"u"})")), McpTransport::http);
    EXPECT_EQ(mcp::server_transport(js(R"({"url":"u","command":"c"})")), McpTransport::stdio);
    EXPECT_EQ(mcp::server_transport(js(R"({"command":"c"})")), McpTransport::stdio);
    EXPECT_EQ(mcp::server_transport(js(R"({})")), McpTransport::stdio);
    EXPECT_EQ(mcp::server_transport(js(R"({"url":null})")), McpTransport::http);
    EXPECT_EQ(mcp::server_transport(js(R"({"url":"u","command":null})")), McpTransport::stdio);
}

TEST(Standard, KeepsTheServerWithoutDisabled) {
    EXPECT_EQ(translate(R"({"type":"stdio","command":"x","disabled":false,"timeout":5})", McpDialect::Standard),
              R"({"type":"stdio","command":"x","timeout":5})");
    EXPECT_EQ(translate(R"({"headers":{"a":"b"},"url":"u","cwd":"/"})", McpDialect::Standard),
              R"({"headers":{"a":"b"},"url":"u","cwd":"/"})");
}

TEST(Codex, StdioAndRemote) {
    EXPECT_EQ(translate(R"({"type":"stdio","env":{"A":"1"},"args":["a"],"command":"x","url":"u","headers":{}})",
                        McpDialect::Codex),
              R"({"command":"x","args":["a"],"env":{"A":"1"}})");
    EXPECT_EQ(translate(R"({"type":"sse","headers":{"H":"v"},"url":"u","command":"x"})", McpDialect::Codex),
              R"({"url":"u","http_headers":{"H":"v"}})");
    EXPECT_EQ(translate(R"({"url":"u"})", McpDialect::Codex), R"({"url":"u"})");
}

TEST(Codex, DropsNullsInsideObjectsButNotLists) {
    EXPECT_EQ(translate(R"({"command":"x","env":{"A":null,"B":"b"},"args":[null]})", McpDialect::Codex),
              R"({"command":"x","args":[null],"env":{"B":"b"}})");
    EXPECT_EQ(translate(R"({"command":"x","env":{"A":null}})", McpDialect::Codex), R"({"command":"x","env":{}})");
    EXPECT_EQ(translate(R"({"command":"x","args":null,"extra":null})", McpDialect::Codex), R"({"command":"x"})");
}

TEST(OpenCode, LocalCommandIsOneList) {
    EXPECT_EQ(translate(R"({"command":"npx","args":["-y","pkg"],"env":{"K":"v"}})", McpDialect::OpenCode),
              R"({"type":"local","command":["npx","-y","pkg"],"environment":{"K":"v"}})");
    EXPECT_EQ(translate(R"({"type":"stdio"})", McpDialect::OpenCode), R"({"type":"local"})");
    EXPECT_EQ(translate(R"({"args":["a"]})", McpDialect::OpenCode), R"({"type":"local","command":["a"]})");
    // A command that is not a text and args that are not a list are left out.
    EXPECT_EQ(translate(R"({"command":["npx"],"args":"a","env":null})", McpDialect::OpenCode),
              R"({"type":"local","environment":null})");
    EXPECT_EQ(translate(R"({"command":"x","args":[]})", McpDialect::OpenCode), R"({"type":"local","command":["x"]})");
}

TEST(OpenCode, Remote) {
    EXPECT_EQ(translate(R"({"type":"http","url":"u","headers":{"H":"v"},"env":{}})", McpDialect::OpenCode),
              R"({"type":"remote","url":"u","headers":{"H":"v"}})");
    EXPECT_EQ(translate(R"({"type":"sse","url":"u"})", McpDialect::OpenCode), R"({"type":"remote","url":"u"})");
}

TEST(Gemini, HttpSseAndStdio) {
    EXPECT_EQ(translate(R"({"url":"u","headers":{"H":"v"}})", McpDialect::Gemini),
              R"({"httpUrl":"u","headers":{"H":"v"}})");
    EXPECT_EQ(translate(R"({"type":"sse","url":"u"})", McpDialect::Gemini), R"({"url":"u"})");
    EXPECT_EQ(translate(R"({"url":"u","command":"c","args":["a"],"env":{}})", McpDialect::Gemini),
              R"({"command":"c","args":["a"],"env":{}})");
}

TEST(Windsurf, HttpAndStdio) {
    EXPECT_EQ(translate(R"({"type":"http","url":"u","headers":{"H":"v"}})", McpDialect::Windsurf),
              R"({"serverUrl":"u","headers":{"H":"v"}})");
    EXPECT_EQ(translate(R"({"command":"c","env":{"A":"1"}})", McpDialect::Windsurf),
              R"({"command":"c","env":{"A":"1"}})");
}

TEST(OtherKeys, FollowTheDialectKeysAndReplaceInPlace) {
    EXPECT_EQ(translate(R"({"cwd":"/","command":"c","timeout":3,"disabled":true})", McpDialect::Gemini),
              R"({"command":"c","cwd":"/","timeout":3})");
    // A server key named like a dialect key replaces its value where it stands.
    EXPECT_EQ(translate(R"({"url":"u","serverUrl":"other","headers":{}})", McpDialect::Windsurf),
              R"({"serverUrl":"other","headers":{}})");
    EXPECT_EQ(translate(R"({"command":"c","environment":{"X":"1"},"env":{"Y":"2"}})", McpDialect::OpenCode),
              R"({"type":"local","command":["c"],"environment":{"X":"1"}})");
}

TEST(Tweak, WinsShallowlyAndAppendsNewKeys) {
    Value tweak = js(R"({"timeout":9,"args":["b"],"env":{"Z":"z"}})");
    EXPECT_EQ(translate(R"({"command":"c","args":["a"],"env":{"A":"1","B":"2"}})", McpDialect::Gemini, &tweak),
              R"({"command":"c","args":["b"],"env":{"Z":"z"},"timeout":9})");
}

TEST(Tweak, NullRemovesOnlyFromCodex) {
    Value tweak = js(R"({"args":null,"startup_timeout_sec":null})");
    EXPECT_EQ(translate(R"({"command":"c","args":["a"]})", McpDialect::Codex, &tweak), R"({"command":"c"})");
    EXPECT_EQ(translate(R"({"command":"c","args":["a"]})", McpDialect::Standard, &tweak),
              R"({"command":"c","args":null,"startup_timeout_sec":null})");
}

TEST(Expansion, ResolvesServerAndTweak) {
    core::EnvMap env(core::EnvPairs{{"TOKEN", "t0k"}, {"REGION", "eu"}});
    Value tweak = js(R"({"args":["--region=${env:REGION}"]})");
    EXPECT_EQ(translate(R"({"command":"c","env":{"T":"${env:TOKEN}"}})", McpDialect::Codex, &tweak, env, true),
              R"({"command":"c","env":{"T":"t0k"},"args":["--region=eu"]})");
    // Without expansion the references stay as written.
    EXPECT_EQ(translate(R"({"command":"${env:TOKEN}"})", McpDialect::Codex, nullptr, env, false),
              R"({"command":"${env:TOKEN}"})");
}

TEST(Expansion, UnsetVariableFailsEvenInAKeyTheDialectDrops) {
    const char* server = R"({"command":"c","headers":{"Authorization":"${env:MISSING}"}})";
    for (auto dialect : {McpDialect::Standard, McpDialect::Codex, McpDialect::OpenCode, McpDialect::Gemini,
                         McpDialect::Windsurf}) {
        EXPECT_EQ(translate(server, dialect, nullptr, core::EnvMap{}, true),
                  "error: mcp server `s`: ${env:MISSING} is not set in the environment");
    }
    Value tweak = js(R"({"x":"${env:GONE}"})");
    EXPECT_EQ(translate(R"({"command":"c"})", McpDialect::Gemini, &tweak, core::EnvMap{}, true),
              "error: mcp server `s`: ${env:GONE} is not set in the environment");
}

TEST(DropNullEntries, RecursesIntoObjectsOnly) {
    Value value = js(R"({"a":null,"b":{"c":null,"d":[null,{"e":null}]},"f":1})");
    mcp::drop_null_entries(value);
    EXPECT_EQ(value.dump(), R"({"b":{"d":[null,{"e":null}]},"f":1})");
    Value list = js(R"([null])");
    mcp::drop_null_entries(list);
    EXPECT_EQ(list.dump(), "[null]");
}

}  // namespace
