// mirthlode.toml at start-up: a file that fails to load ends every real
// command before it runs, with the loader's own text.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

namespace {

RunResult run_with_config(const std::string& toml, const std::vector<std::string>& args = {"sync"}) {
    Home home;
    write_file(home / ".config/mirthlode/mirthlode.toml", toml);
    RunResult r = home.run(args);
    // Report the file's path as "CONFIG" so that cases read alike.
    std::string path = (home / ".config/mirthlode/mirthlode.toml").string();
    for (std::size_t at; (at = r.err.find(path)) != std::string::npos;) r.err.replace(at, path.size(), "CONFIG");
    return r;
}

}  // namespace

TEST(ConfigStartup, BrokenTomlNamesLineAndColumn) {
    auto r = run_with_config("[targets]\nclaude = false\ncodex = \n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error: CONFIG is not valid TOML (invalid TOML (line 3, column 9))\n");
    EXPECT_EQ(r.code, 1);
    r = run_with_config("\xEF\xBB\xBF" "a = 1\r\na = 2\r\n", {"mcp", "list"});
    EXPECT_EQ(r.err, "error: CONFIG is not valid TOML (invalid TOML (line 2, column 1))\n");
    EXPECT_EQ(r.code, 1);
}

TEST(ConfigStartup, ValidationAndReadErrors) {
    auto r = run_with_config("[custom.mine]\nagents = \"a\"\n", {"status"});
    EXPECT_EQ(r.err, "error: CONFIG: custom.mine needs a `root`\n");
    EXPECT_EQ(r.code, 1);
    r = run_with_config("# caf\xE9\n");
    EXPECT_EQ(r.err, "error: cannot read CONFIG: stream did not contain valid UTF-8\n");
    EXPECT_EQ(r.code, 1);
}

TEST(ConfigStartup, TweakForACustomAgentIsRefused) {
    auto r = run_with_config("[custom.mine]\nroot = \".mine\"\n\n[mcp.fs.tweaks.mine]\ntimeout = 5\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error: mcp.fs names `mine`, which is not an agent mirthlode knows about\n");
    EXPECT_EQ(r.code, 1);
}

TEST(ConfigStartup, CrlfFileWithByteOrderMarkLoads) {
    auto r = run_with_config("\xEF\xBB\xBF# mine\r\n[targets]\r\nclaude = false\r\n\r\n[mcp.fs]\r\nagents = [\"codex\"]\r\n",
                             {"sync", "--dry-run"});
    // Past the configuration gate: whatever sync says, it is not about the file.
    EXPECT_EQ(r.err.find("CONFIG"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("mcp.fs"), std::string::npos) << r.err;
}
