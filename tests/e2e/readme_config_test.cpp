// The configuration file the README shows is one the program takes, and does
// what the README says of it.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

namespace {

std::string readme_toml() {
    const std::string readme = read_file(fs::path(MIRTHLODE_SOURCE_DIR) / "README.md");
    const std::string open = "```toml\n";
    const auto from = readme.find(open);
    if (from == std::string::npos) return "";
    const auto to = readme.find("```\n", from + open.size());
    return readme.substr(from + open.size(), to - from - open.size());
}

}  // namespace

TEST(ReadmeConfig, TheExampleLoadsAndDoesWhatItSays) {
    const std::string toml = readme_toml();
    ASSERT_NE(toml, "") << "README.md has no ```toml block";
    Home h;
    write_file(h / ".config/mirthlode/mirthlode.toml", toml);
    for (const char* dir : {".claude", ".codex", ".gemini", ".codeium/windsurf", ".myagent"}) fs::create_directories(h / dir);
    write_file(h / ".agents/skills/pdf/SKILL.md", "---\nname: pdf\ndescription: d\n---\n");
    write_file(h / ".agents/mcp.json",
               R"({"mcpServers": {"github": {"url": "https://example.com/mcp", "headers": {"Authorization": "Bearer ${env:GITHUB_TOKEN}"}}}})");

    // An unset variable stops the whole run before anything changes.
    auto r = h.run({"sync"});
    EXPECT_EQ(r.err, "error: mcp server `github`: ${env:GITHUB_TOKEN} is not set in the environment\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(fs::exists(h / ".myagent/skills"));

    h.env()["GITHUB_TOKEN"] = "t0k";
    r = h.run({"sync"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fs::read_symlink(h / ".myagent/skills/pdf"), "../../.agents/skills/pdf");
    r = h.run({"revert", "windsurf"});  // taken only for an agent switched off
    EXPECT_EQ(r.out, "nothing of mirthlode's in windsurf — nothing to revert\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(h / ".codex/config.toml"));  // not in the allowlist
    EXPECT_NE(read_file(h / ".claude.json").find("Bearer t0k"), std::string::npos);
    const std::string gemini = read_file(h / ".gemini/settings.json");
    EXPECT_NE(gemini.find("Bearer t0k"), std::string::npos);
    EXPECT_NE(gemini.find("\"trust\": true"), std::string::npos);
}
