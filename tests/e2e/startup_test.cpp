// Start-up: the command line first, then the home directory, the context and
// the configuration gate, before any command runs.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

namespace {

const std::string home_error =
    "error: cannot determine home directory: set HOME (USERPROFILE on Windows) or MIRTHLODE_TARGET_ROOT\n";

// A config file that fails to load; its error names the file, which shows
// where the run looked for it.
void break_config(const fs::path& config_dir) { write_file(config_dir / "mirthlode.toml", "x = \n"); }

bool names_file(const RunResult& r, const fs::path& path) {
    return r.code == 1 && r.out.empty() && r.err.rfind("error: " + path.string() + " ", 0) == 0;
}

}  // namespace

TEST(Startup, NoHomeIsAnErrorForARealCommand) {
    auto r = run_mirthlode({"sync"}, {});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, home_error);
    EXPECT_EQ(r.code, 1);
}

TEST(Startup, CommandLineIsAnsweredBeforeTheHomeIsNeeded) {
    EXPECT_EQ(run_mirthlode({"--help"}, {}).code, 0);
    EXPECT_EQ(run_mirthlode({"--version"}, {}).out, "mirthlode 2.0.6\n");
    auto r = run_mirthlode({"snyc"}, {});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.rfind("error: unrecognized subcommand 'snyc'\n", 0), 0u);
}

TEST(Startup, CommandLineIsAnsweredBeforeTheConfigIsRead) {
    Home home;
    break_config(home / ".config/mirthlode");
    EXPECT_EQ(home.run({"-h"}).code, 0);
    EXPECT_EQ(home.run({"status", "--dry-run"}).err.rfind("error: unexpected argument '--dry-run' found", 0), 0u);
    EXPECT_TRUE(names_file(home.run({"doctor"}), home / ".config/mirthlode/mirthlode.toml"));
}

TEST(Startup, UnusableHomeVariables) {
    TempDir dir;
    const std::string d = dir.path().string();
    const std::vector<std::map<std::string, std::string>> cases = {
        {{"HOME", ""}, {"USERPROFILE", d}},
        {{"MIRTHLODE_TARGET_ROOT", ""}, {"HOME", d}},
        {{"home", d}, {"Home", d}},
    };
    for (const auto& env : cases) {
        auto r = run_mirthlode({"doctor"}, env);
        EXPECT_EQ(r.err, home_error);
        EXPECT_EQ(r.code, 1);
    }
}

TEST(Startup, HomeIsTheFirstVariablePresent) {
    TempDir a, b, c;
    for (const TempDir* dir : {&a, &b, &c}) break_config(dir->path() / ".config/mirthlode");
    EXPECT_TRUE(names_file(run_mirthlode({"doctor"}, {{"USERPROFILE", c.path().string()}}),
                           c / ".config/mirthlode/mirthlode.toml"));
    EXPECT_TRUE(names_file(run_mirthlode({"doctor"}, {{"HOME", b.path().string()}, {"USERPROFILE", c.path().string()}}),
                           b / ".config/mirthlode/mirthlode.toml"));
    EXPECT_TRUE(names_file(run_mirthlode({"doctor"}, {{"MIRTHLODE_TARGET_ROOT", a.path().string()},
                                                      {"HOME", b.path().string()},
                                                      {"USERPROFILE", c.path().string()}}),
                           a / ".config/mirthlode/mirthlode.toml"));
}

TEST(Startup, ConfigDirectoryFollowsAnAbsoluteXdgConfigHomeOnly) {
    TempDir home, xdg;
    break_config(home / ".config/mirthlode");
    break_config(xdg / "mirthlode");
    const std::string h = home.path().string();
    EXPECT_TRUE(names_file(run_mirthlode({"doctor"}, {{"HOME", h}, {"XDG_CONFIG_HOME", xdg.path().string()}}),
                           xdg / "mirthlode/mirthlode.toml"));
    for (const std::string& ignored : {std::string("relative/cfg"), std::string("")}) {
        EXPECT_TRUE(names_file(run_mirthlode({"doctor"}, {{"HOME", h}, {"XDG_CONFIG_HOME", ignored}}),
                               home / ".config/mirthlode/mirthlode.toml"));
    }
}

TEST(Startup, AnEnvironmentEntryThatIsNotTextIsLeftOut) {
    Home home;
    break_config(home / ".config/mirthlode");
    home.env()["JUNK"] = "\xff\xfe";
    EXPECT_TRUE(names_file(home.run({"doctor"}), home / ".config/mirthlode/mirthlode.toml"));
}

TEST(Startup, McpSettingsMayNameOnlyBuiltInAgents) {
    struct Case {
        std::string toml, error;
    };
    const std::vector<Case> cases = {
        {"[custom.mine]\nroot = \".mine\"\n[mcp.srv]\nagents = [\"claude\", \"mine\"]\n",
         "error: mcp.srv names `mine`, which is not an agent mirthlode knows about\n"},
        {"[mcp.srv.tweaks.Claude]\ntimeout = 5\n",
         "error: mcp.srv names `Claude`, which is not an agent mirthlode knows about\n"},
        {"[mcp.zeta]\nagents = [\"nope\"]\n[mcp.alpha]\nagents = [\"codex\", \"wrong\"]\n",
         "error: mcp.alpha names `wrong`, which is not an agent mirthlode knows about\n"},
        {"[mcp.srv]\nagents = [\"bad-list\"]\n[mcp.srv.tweaks.aaa]\nx = 1\n",
         "error: mcp.srv names `bad-list`, which is not an agent mirthlode knows about\n"},
    };
    for (const auto& c : cases) {
        Home home;
        write_file(home / ".config/mirthlode/mirthlode.toml", c.toml);
        auto r = home.run({"sync", "--dry-run"});
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.error);
        EXPECT_EQ(r.code, 1);
    }
}
