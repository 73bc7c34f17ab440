#include <gtest/gtest.h>

#include "mcp/env_refs.h"

namespace {

using json::Value;

std::string expand(const std::string& text, const core::EnvMap& env) {
    auto result = mcp::expand_env_references("srv", Value(text), env);
    if (!result) return "error: " + result.error().message;
    return result->get<std::string>();
}

TEST(ExpandEnvReferences, Texts) {
    core::EnvMap env(core::EnvPairs{{"REGION", "eu"}, {"A", "1"}, {"LOOP", "${env:A}"}, {"EMPTY", ""}, {"", "blank-name"}});
    EXPECT_EQ(expand("--region=${env:REGION}", env), "--region=eu");
    EXPECT_EQ(expand("${env:A}-${env:REGION}${env:A}", env), "1-eu1");
    EXPECT_EQ(expand("$${env:A}", env), "$1");
    EXPECT_EQ(expand("--region=${env:REGION", env), "--region=${env:REGION");
    EXPECT_EQ(expand("${env:A} ${env:REGION", env), "1 ${env:REGION");
    // An expanded value is not scanned again.
    EXPECT_EQ(expand("${env:LOOP}", env), "${env:A}");
    EXPECT_EQ(expand("${env:}", env), "blank-name");
    EXPECT_EQ(expand("${env:EMPTY}", env), "error: mcp server `srv`: ${env:EMPTY} is not set in the environment");
    EXPECT_EQ(expand("${env:region}", env), "error: mcp server `srv`: ${env:region} is not set in the environment");
    EXPECT_EQ(expand("${env: REGION}", env), "error: mcp server `srv`: ${env: REGION} is not set in the environment");
    EXPECT_EQ(expand("no references {here}", env), "no references {here}");
}

TEST(ExpandEnvReferences, WalksValuesButNotKeys) {
    core::EnvMap env(core::EnvPairs{{"V", "x"}});
    auto result = mcp::expand_env_references(
        "srv", Value::parse(R"({"${env:V}":["${env:V}",1,null,true,{"k":"${env:V}"}]})"), env);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->dump(), R"({"${env:V}":["x",1,null,true,{"k":"x"}]})");
}

TEST(ExpandEnvReferences, FirstErrorInDocumentOrder) {
    auto result = mcp::expand_env_references(
        "srv", Value::parse(R"({"a":{"b":["${env:FIRST}"]},"c":"${env:SECOND}"})"), core::EnvMap{});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message, "mcp server `srv`: ${env:FIRST} is not set in the environment");
}

TEST(UsesEnvReferences, AnywhereIncludingKeys) {
    EXPECT_TRUE(mcp::uses_env_references(Value::parse(R"({"command":"c","env":{"T":"${env:TOKEN}"}})")));
    EXPECT_TRUE(mcp::uses_env_references(Value::parse(R"({"${env:K}":1})")));
    EXPECT_TRUE(mcp::uses_env_references(Value::parse(R"(["a",["${env:"]])")));
    EXPECT_FALSE(mcp::uses_env_references(Value::parse(R"({"command":"c","args":["$env","{env:x}"]})")));
}

}  // namespace
