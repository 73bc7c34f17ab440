// Agents' entries read back into the standard shape, and the fidelity check
// that translates them back; the allowlists and credential warning of adopt.
#include <gtest/gtest.h>

#include "mcp/adopt.h"
#include "mcp/diff.h"
#include "mcp/read_back.h"

namespace {

using core::McpDialect;
using json::Value;
using Keys = std::vector<std::string>;

struct Case {
    McpDialect dialect;
    const char* entry;
    const char* server;  // in the order read back
    const char* tweak;
    Keys notes;
};

const std::string codex_note =
    "`s`: Codex has one remote transport, so http and sse cannot be told apart — no `type` was recorded";
const std::string opencode_note =
    "`s`: OpenCode has one remote transport, so http and sse cannot be told apart — no `type` was recorded";
const std::string windsurf_note =
    "`s`: Windsurf records no transport, so http and sse cannot be told apart — no `type` was recorded";

std::string tweak_note(const char* keys) {
    return std::string("`s`: ") + keys + " has no place in the standard shape and was kept as a Tweak for this agent alone";
}

// Every entry here comes back exactly when translated into its dialect again.
TEST(ReadBack, EachDialectMapsBackAndTranslatesBackExactly) {
    const std::vector<Case> cases = {
        {McpDialect::Standard, R"({"command":"c","type":"stdio","z":1,"disabled":false})",
         R"({"type":"stdio","command":"c"})", R"({"z":1,"disabled":false})", {tweak_note("disabled, z")}},
        {McpDialect::Codex, R"({"url":"u","http_headers":{"A":"1"}})", R"({"url":"u","headers":{"A":"1"}})", "{}",
         {codex_note}},
        {McpDialect::Codex, R"({"command":"c","args":["a"],"env":{},"startup_timeout_sec":5,"type":"x"})",
         R"({"command":"c","args":["a"],"env":{}})", R"({"startup_timeout_sec":5,"type":"x"})",
         {tweak_note("startup_timeout_sec, type")}},
        {McpDialect::OpenCode, R"({"type":"local","command":["npx","-y","p"],"environment":{"A":"1"},"enabled":true})",
         R"({"command":"npx","args":["-y","p"],"env":{"A":"1"}})", R"({"enabled":true})", {tweak_note("enabled")}},
        {McpDialect::OpenCode, R"({"type":"local","command":["solo"]})", R"({"command":"solo"})", "{}", {}},
        {McpDialect::OpenCode, R"({"type":"remote","url":"u","headers":{"H":"v"}})",
         R"({"url":"u","headers":{"H":"v"}})", "{}", {opencode_note}},
        {McpDialect::Gemini, R"({"httpUrl":"u","headers":{"H":"v"},"trust":true})",
         R"({"type":"http","url":"u","headers":{"H":"v"}})", R"({"trust":true})", {tweak_note("trust")}},
        {McpDialect::Gemini, R"({"url":"u"})", R"({"type":"sse","url":"u"})", "{}", {}},
        {McpDialect::Windsurf, R"({"serverUrl":"u","headers":{}})", R"({"url":"u","headers":{}})", "{}",
         {windsurf_note}},
        {McpDialect::Windsurf, R"({"command":"c","env":{"K":"${env:K}"}})", R"({"command":"c","env":{"K":"${env:K}"}})",
         "{}", {}},
    };
    for (const Case& c : cases) {
        const Value entry = Value::parse(c.entry);
        auto read = mcp::read_back_server("s", entry, c.dialect);
        ASSERT_TRUE(read) << c.entry;
        EXPECT_EQ(read->server.dump(), Value::parse(c.server).dump()) << c.entry;
        EXPECT_EQ(read->tweak.dump(), Value::parse(c.tweak).dump()) << c.entry;
        EXPECT_EQ(read->notes, c.notes) << c.entry;
        const core::Tweak* tweak = read->tweak.empty() ? nullptr : &read->tweak;
        auto differing = mcp::translate_and_diff("s", read->server, c.dialect, &entry, core::EnvMap(), tweak);
        ASSERT_TRUE(differing) << c.entry;
        EXPECT_EQ(*differing, Keys{}) << c.entry;
    }
}

TEST(ReadBack, WhatCannotComeBack) {
    // A null is dropped with a note, so the entry no longer comes back whole.
    const Value entry = Value::parse(R"({"command":"c","gone":null,"b":2,"a":1})");
    auto read = mcp::read_back_server("s", entry, McpDialect::Standard);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->tweak.dump(), R"({"b":2,"a":1})");
    EXPECT_EQ(read->notes, (Keys{"`s`: gone had no value and was not kept", tweak_note("a, b")}));
    EXPECT_EQ(*mcp::translate_and_diff("s", read->server, McpDialect::Standard, &entry, {}, &read->tweak), Keys{"gone"});

    // An OpenCode command list with a number in front has no standard form.
    const Value odd = Value::parse(R"({"type":"local","command":[1,"x"]})");
    auto back = mcp::read_back_server("s", odd, McpDialect::OpenCode);
    ASSERT_TRUE(back);
    EXPECT_EQ(*mcp::translate_and_diff("s", back->server, McpDialect::OpenCode, &odd, {}, nullptr), Keys{"command"});

    // "${env:VAR}" is left as written, set or not.
    const Value server = Value::parse(R"({"command":"${env:NOPE}"})");
    EXPECT_TRUE(mcp::translate_and_diff("s", server, McpDialect::Codex, &server, {}, nullptr)->empty());

    for (const char* text : {"[]", "\"cmd\"", "null"}) {
        auto refused = mcp::read_back_server("s", Value::parse(text), McpDialect::Gemini);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().message, "server `s` is not an object");
    }
}

TEST(AdoptHelpers, CredentialWarningNamesWrittenOutSecretsOnly) {
    EXPECT_EQ(mcp::credential_warning(
                  "s", Value::parse(R"({"env":{"API_KEY":"k","Auth":"${env:A}","PORT":1,"MY_PASSWD":"p"},
                                        "headers":{"X-Token":"t","Accept":"json"}})")),
              "`s`: env.API_KEY, env.MY_PASSWD, headers.X-Token look like credentials and were copied into the "
              "Commons as written — replace them with ${env:VAR} before committing it");
    EXPECT_FALSE(mcp::credential_warning("s", Value::parse(R"({"env":{"PATH":"/bin"},"headers":"x"})")));
}

// One run adopting a server from agent after agent: scoped while some agents
// lack it, no list of the run's own once all have given it.
TEST(AdoptHelpers, PendingAllowlistCoveringEveryAgentHasNoList) {
    mcp::PendingAllowlists pending(3);
    EXPECT_EQ(pending.add("fs", "claude"), Keys{"claude"});
    EXPECT_EQ(pending.add("fs", "cursor"), (Keys{"claude", "cursor"}));
    EXPECT_EQ(pending.add("fs", "cursor"), (Keys{"claude", "cursor"}));
    EXPECT_EQ(pending.allowlist("fs"), (Keys{"claude", "cursor"}));
    EXPECT_FALSE(pending.add("fs", "codex"));
    EXPECT_FALSE(pending.allowlist("fs"));
    EXPECT_FALSE(pending.allowlist("never adopted"));

    mcp::PendingAllowlists one(1);
    EXPECT_FALSE(one.add("gh", "claude"));
}

}  // namespace
