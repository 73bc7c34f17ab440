#include "core/agents.h"

#include <gtest/gtest.h>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;

using core::Config;
using core::CustomAgent;
using core::Family;
using core::select_targets;
using core::Target;
using testing_support::TempDir;
using testing_support::write_file;

std::vector<std::string> names_of(const std::vector<Target>& targets) {
    std::vector<std::string> names;
    for (const Target& t : targets) names.push_back(t.name);
    return names;
}

std::string surfaces_of(const Target& target) {
    std::string text;
    for (const core::Surface& s : target.surfaces) {
        if (!text.empty()) text += " ";
        text += std::string(core::family_name(s.family)) + "=" + s.dir;
    }
    return text;
}

void install_all(const fs::path& root) {
    for (const core::AgentSpec& spec : core::agent_table()) fs::create_directories(root / spec.home);
}

TEST(AgentTable, NamesInTheFixedOrder) {
    std::vector<std::string> names;
    for (const core::AgentSpec& spec : core::agent_table()) names.emplace_back(spec.name);
    EXPECT_EQ(names, (std::vector<std::string>{"claude", "codex", "opencode", "pi", "oh-my-pi", "openclaw",
                                               "hermes", "gemini", "cursor", "windsurf", "roo", "cline"}));
}

TEST(AgentTable, AgentByNameIsExact) {
    ASSERT_NE(core::agent_by_name("claude"), nullptr);
    EXPECT_EQ(core::agent_by_name("claude")->mcp_file, ".claude.json");
    EXPECT_EQ(core::agent_by_name("oh-my-pi")->home, ".omp");
    EXPECT_EQ(core::agent_by_name("Claude"), nullptr);
    EXPECT_EQ(core::agent_by_name("claude "), nullptr);
    EXPECT_EQ(core::agent_by_name(""), nullptr);
}

TEST(AgentTable, LinkSurfacesOfTheBuiltIns) {
    std::vector<std::string> all;
    for (const core::AgentSpec& spec : core::agent_table()) {
        all.push_back(std::string(spec.name) + ": " + surfaces_of(core::target_from_spec(spec)));
    }
    EXPECT_EQ(all, (std::vector<std::string>{
                       "claude: skills=.claude/skills commands=.claude/commands agents=.claude/agents",
                       "codex: commands=.codex/prompts",
                       "opencode: commands=.config/opencode/commands agents=.config/opencode/agents",
                       "pi: skills=.pi/agent/skills",
                       "oh-my-pi: ",
                       "openclaw: skills=.openclaw/skills",
                       "hermes: skills=.hermes/skills",
                       "gemini: ",
                       "cursor: commands=.cursor/commands",
                       "windsurf: commands=.codeium/windsurf/global_workflows",
                       "roo: commands=.roo/commands",
                       "cline: ",
                   }));
    // A directory that only gets cleaned or rendered into is no link surface.
    EXPECT_FALSE(core::link_surface(*core::agent_by_name("codex"), Family::skills));
    EXPECT_FALSE(core::link_surface(*core::agent_by_name("gemini"), Family::commands));
}

TEST(SelectTargets, NothingInstalledGivesNoTargets) {
    TempDir root;
    EXPECT_TRUE(select_targets(root.path(), Config{}).empty());
}

TEST(SelectTargets, DisabledAgentsDropOutAndTheRestKeepTheirOrder) {
    TempDir root;
    install_all(root.path());
    Config config;
    config.disabled = {"claude", "gemini"};
    auto targets = select_targets(root.path(), config);
    EXPECT_EQ(names_of(targets), (std::vector<std::string>{"codex", "opencode", "pi", "oh-my-pi", "openclaw",
                                                           "hermes", "cursor", "windsurf", "roo", "cline"}));
    EXPECT_EQ(targets.front().spec, core::agent_by_name("codex"));
}

TEST(SelectTargets, InstalledMeansADirectoryLinksFollowed) {
    TempDir root;
    write_file(root / ".claude", "a file");
    fs::create_directories(root / "elsewhere/pi");
    fs::create_directory_symlink(root / "elsewhere/pi", root / ".pi");
    fs::create_directory_symlink(root / "missing", root / ".codex");
    fs::create_directories(root / ".config");
    EXPECT_EQ(names_of(select_targets(root.path(), Config{})), std::vector<std::string>{"pi"});

    fs::create_directories(root / ".config/opencode");
    EXPECT_EQ(names_of(select_targets(root.path(), Config{})), (std::vector<std::string>{"opencode", "pi"}));
}

TEST(SelectTargets, CustomAgentsFollowTheBuiltIns) {
    TempDir root;
    TempDir outside;
    fs::create_directories(root / ".claude");
    fs::create_directories(root / ".mytool");
    Config config;
    config.custom.push_back(CustomAgent{"absolute", outside.path().string(),
                                        {{Family::agents, "/abs/agents"}, {Family::skills, "x/skills"}}});
    config.custom.push_back(CustomAgent{"claude", ".mytool", {{Family::commands, ".mytool/cmds"}}});
    config.custom.push_back(CustomAgent{"absent", ".nothing", {{Family::skills, ".nothing/s"}}});
    config.custom.push_back(CustomAgent{"off", ".mytool", {}});
    config.disabled = {"off"};

    auto targets = select_targets(root.path(), config);
    ASSERT_EQ(names_of(targets), (std::vector<std::string>{"claude", "absolute", "claude"}));
    EXPECT_NE(targets[0].spec, nullptr);
    EXPECT_EQ(targets[1].spec, nullptr);
    EXPECT_EQ(targets[1].home, outside.path().string());
    EXPECT_EQ(surfaces_of(targets[1]), "skills=x/skills agents=/abs/agents");
    EXPECT_EQ(surfaces_of(targets[2]), "commands=.mytool/cmds");
    EXPECT_EQ(targets[2].spec, nullptr);
}

TEST(SelectTargets, DisablingAName) {
    // A name under [targets] switches off the built-in and a custom agent of that name alike.
    TempDir root;
    fs::create_directories(root / ".claude");
    Config config;
    config.custom.push_back(CustomAgent{"claude", ".claude", {{Family::skills, ".claude/skills"}}});
    config.disabled = {"claude"};
    EXPECT_TRUE(select_targets(root.path(), config).empty());
}

}  // namespace
