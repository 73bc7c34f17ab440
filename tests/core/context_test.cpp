// The environment snapshot and the directories resolved from it.
#include <gtest/gtest.h>

#include "core/context.h"

namespace {

using namespace core;

struct Expected {
    std::string home, commons, config_dir, state_dir;
};

TEST(EnvMap, LooksUpExactNamesAndKeepsTheLaterDuplicate) {
    EnvMap env({{"HOME", "/first"}, {"home", "/lower"}, {"HOME", "/second"}, {"EMPTY", ""}});
    EXPECT_EQ(env.get("HOME"), "/second");
    EXPECT_EQ(env.get("home"), "/lower");
    EXPECT_EQ(env.get("Home"), std::nullopt);
    EXPECT_EQ(env.get("EMPTY"), "");
    EXPECT_EQ(env.get("MISSING"), std::nullopt);
}

TEST(EnvMap, LeavesOutEntriesThatAreNotTextButKnowsTheyAreSet) {
    EnvMap env({{"HOME", "/h\xff"}, {"B\xc0" "AD", "x"}, {"OK", "ü"}, {"LATER", "\xff"}, {"LATER", "/ok"},
                {"SPOILT", "/ok"}, {"SPOILT", "\xff"}});
    EXPECT_EQ(env.get("HOME"), std::nullopt);
    EXPECT_TRUE(env.holds_non_text("HOME"));
    EXPECT_EQ(env.get("B\xc0" "AD"), std::nullopt);
    EXPECT_EQ(env.get("OK"), "ü");
    EXPECT_FALSE(env.holds_non_text("OK"));
    // Of two entries with the same name the later one counts, text or not.
    EXPECT_EQ(env.get("LATER"), "/ok");
    EXPECT_FALSE(env.holds_non_text("LATER"));
    EXPECT_EQ(env.get("SPOILT"), std::nullopt);
    EXPECT_TRUE(env.holds_non_text("SPOILT"));
}

TEST(ResolveContext, ComposesTheDirectoriesOfTheRun) {
    const std::vector<std::pair<EnvPairs, Expected>> cases = {
        {{{"HOME", "/h"}},
         {"/h", "/h/.agents", "/h/.config/mirthlode", "/h/.local/state/mirthlode"}},
        {{{"HOME", "/h/"}},
         {"/h/", "/h/.agents", "/h/.config/mirthlode", "/h/.local/state/mirthlode"}},
        {{{"USERPROFILE", "/u"}},
         {"/u", "/u/.agents", "/u/.config/mirthlode", "/u/.local/state/mirthlode"}},
        {{{"HOME", "/h"}, {"USERPROFILE", "/u"}, {"MIRTHLODE_TARGET_ROOT", "/t"}},
         {"/t", "/t/.agents", "/t/.config/mirthlode", "/t/.local/state/mirthlode"}},
        {{{"HOME", "relative/home"}},
         {"relative/home", "relative/home/.agents", "relative/home/.config/mirthlode",
          "relative/home/.local/state/mirthlode"}},
        {{{"HOME", "/h"}, {"MIRTHLODE_HOME", ""}},
         {"/h", "/h/.agents", "/h/.config/mirthlode", "/h/.local/state/mirthlode"}},
        {{{"HOME", "/h"}, {"MIRTHLODE_HOME", "/srv/commons"}},
         {"/h", "/srv/commons", "/h/.config/mirthlode", "/h/.local/state/mirthlode"}},
        {{{"HOME", "/h"}, {"XDG_CONFIG_HOME", "/cfg"}, {"XDG_STATE_HOME", "/st/"}},
         {"/h", "/h/.agents", "/cfg/mirthlode", "/st/mirthlode"}},
        {{{"HOME", "/h"}, {"XDG_CONFIG_HOME", "cfg"}, {"XDG_STATE_HOME", ""}},
         {"/h", "/h/.agents", "/h/.config/mirthlode", "/h/.local/state/mirthlode"}},
        {{{"HOME", "/h"}, {"xdg_config_home", "/cfg"}},
         {"/h", "/h/.agents", "/h/.config/mirthlode", "/h/.local/state/mirthlode"}},
    };
    for (const auto& [pairs, expected] : cases) {
        auto ctx = resolve_context(EnvMap(pairs));
        ASSERT_TRUE(ctx) << expected.home;
        EXPECT_EQ(ctx->home.string(), expected.home);
        EXPECT_EQ(ctx->commons.string(), expected.commons);
        EXPECT_EQ(ctx->config_dir.string(), expected.config_dir);
        EXPECT_EQ(ctx->state_dir.string(), expected.state_dir);
        EXPECT_EQ(ctx->legacy_dir, ctx->home / ".mirthlode");
    }
}

TEST(ResolveContext, ARelativeCommonsIsTakenFromTheCurrentDirectory) {
    auto ctx = resolve_context(EnvMap({{"HOME", "/h"}, {"MIRTHLODE_HOME", "commons"}}));
    ASSERT_TRUE(ctx);
    EXPECT_EQ(ctx->commons, std::filesystem::current_path() / "commons");
}

TEST(ResolveContext, NoUsableHomeIsNoContext) {
    const std::vector<EnvPairs> cases = {
        {},
        {{"home", "/h"}},
        {{"HOME", ""}, {"USERPROFILE", "/u"}},
        {{"MIRTHLODE_TARGET_ROOT", ""}, {"HOME", "/h"}},
    };
    for (const auto& pairs : cases) EXPECT_FALSE(resolve_context(EnvMap(pairs)));
}

TEST(ResolveContext, KeepsTheSnapshot) {
    auto ctx = resolve_context(EnvMap({{"HOME", "/h"}, {"MIRTHLODE_LOCK_TIMEOUT_MS", "0"}}));
    ASSERT_TRUE(ctx);
    EXPECT_EQ(ctx->env.get("MIRTHLODE_LOCK_TIMEOUT_MS"), "0");
}

}  // namespace
