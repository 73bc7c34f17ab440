// Bringing the Commons AGENTS.md to the agents.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "core/config.h"
#include "core/context.h"
#include "fanout/instructions.h"
#include "support/support.h"

using namespace testing_support;
using fanout::InstructionItem;
using fanout::InstructionState;

namespace {

struct InstructionsHome {
    TempDir dir;
    core::RunContext ctx;
    core::Config config;
    fs::path commons_file;

    InstructionsHome() {
        ctx.home = dir.path();
        ctx.commons = dir / ".agents";
        commons_file = ctx.commons / "AGENTS.md";
        write_file(commons_file, "shared\n");
    }
    std::vector<InstructionItem> plan() const {
        return fanout::plan_instructions(ctx, core::select_targets(ctx.home, config), commons_file);
    }
    InstructionItem item(const std::string& agent) const {
        for (const auto& i : plan()) {
            if (i.agent == agent) return i;
        }
        ADD_FAILURE() << "no item for " << agent;
        return {};
    }
    void install(const std::string& agent_dir) const { fs::create_directories(dir / agent_dir); }
};

}  // namespace

TEST(ImportLine, NamesTheCommonsFromTheHome) {
    InstructionsHome h;
    EXPECT_EQ(fanout::import_line(h.ctx), "~/.agents/AGENTS.md");
    h.ctx.commons = "/srv/shared/agents";
    EXPECT_EQ(fanout::import_line(h.ctx), "/srv/shared/agents/AGENTS.md");
}

TEST(PlanInstructions, NothingWithoutACommonsFile) {
    InstructionsHome h;
    h.install(".claude");
    fs::remove(h.commons_file);
    EXPECT_TRUE(h.plan().empty());
    fs::create_directories(h.commons_file);
    EXPECT_TRUE(h.plan().empty());
}

TEST(PlanInstructions, OneItemPerMechanismThenApplied) {
    InstructionsHome h;
    for (auto d : {".claude", ".codex", ".roo", ".cursor", ".openclaw"}) h.install(d);
    auto plan = h.plan();
    ASSERT_EQ(plan.size(), 3u);  // cursor and openclaw have no instructions
    EXPECT_EQ(plan[0].agent, "claude");
    EXPECT_EQ(plan[0].state, InstructionState::import);
    EXPECT_EQ(plan[0].import_line, "@~/.agents/AGENTS.md");
    EXPECT_FALSE(plan[0].link_target.has_value());
    EXPECT_EQ(plan[1].agent, "codex");
    EXPECT_EQ(plan[1].state, InstructionState::missing);
    EXPECT_EQ(plan[1].link_target, "../.agents/AGENTS.md");
    EXPECT_EQ(plan[2].agent, "roo");
    EXPECT_EQ(plan[2].path, h.dir / ".roo/rules/AGENTS.md");
    EXPECT_EQ(plan[2].link_target, "../../.agents/AGENTS.md");

    for (const auto& item : plan) ASSERT_TRUE(fanout::apply_instruction(item).ok()) << item.agent;
    EXPECT_EQ(read_file(h.dir / ".claude/CLAUDE.md"), "@~/.agents/AGENTS.md\n");
    EXPECT_EQ(read_file(h.dir / ".codex/AGENTS.md"), "shared\n");
    EXPECT_EQ(read_file(h.dir / ".roo/rules/AGENTS.md"), "shared\n");

    auto again = h.plan();
    EXPECT_EQ(again[0].state, InstructionState::imported);
    EXPECT_EQ(again[1].state, InstructionState::linked);
    EXPECT_EQ(again[2].state, InstructionState::linked);
}

TEST(PlanInstructions, ImportLineIsFoundInItsVariousForms) {
    InstructionsHome h;
    h.install(".claude");
    const fs::path file = h.dir / ".claude/CLAUDE.md";
    for (std::string text : {"intro\n   @~/.agents/AGENTS.md  \nmore\n", "intro\r\n@~/.agents/AGENTS.md\r\n",
                             "@  ~/.agents/AGENTS.md"}) {
        write_file(file, text);
        EXPECT_EQ(h.item("claude").state, InstructionState::imported) << text;
    }
    write_file(file, "see @~/.agents/AGENTS.md\n");
    EXPECT_EQ(h.item("claude").state, InstructionState::import);
}

TEST(PlanInstructions, AnInstructionsFileThatIsTheCommonsFileIsLeftAsItIs) {
    InstructionsHome h;
    h.install(".claude");
    fs::create_symlink("../.agents/AGENTS.md", h.dir / ".claude/CLAUDE.md");
    EXPECT_EQ(h.item("claude").state, InstructionState::linked);

    // The other way round: the Commons file links to the agent's own file.
    fs::remove(h.dir / ".claude/CLAUDE.md");
    write_file(h.dir / ".claude/CLAUDE.md", "mine\n");
    fs::remove(h.commons_file);
    fs::create_symlink("../.claude/CLAUDE.md", h.commons_file);
    EXPECT_EQ(h.item("claude").state, InstructionState::linked);
    EXPECT_EQ(read_file(h.dir / ".claude/CLAUDE.md"), "mine\n");
}

TEST(ApplyInstruction, AppendsOnANewLineAndKeepsTheText) {
    InstructionsHome h;
    h.install(".claude");
    const fs::path file = h.dir / ".claude/CLAUDE.md";
    write_file(file, "# mine");
    ASSERT_TRUE(fanout::apply_instruction(h.item("claude")).ok());
    EXPECT_EQ(read_file(file), "# mine\n@~/.agents/AGENTS.md\n");

    write_file(file, "");
    ASSERT_TRUE(fanout::apply_instruction(h.item("claude")).ok());
    EXPECT_EQ(read_file(file), "@~/.agents/AGENTS.md\n");
}

// The file is replaced whole (never truncated first), through a link, with
// its permission bits kept.
TEST(ApplyInstruction, WritesThroughALinkKeepingTheMode) {
    InstructionsHome h;
    h.install(".claude");
    const fs::path real = h.dir / "dotfiles/CLAUDE.md";
    write_file(real, "# mine\n");
    ::chmod(real.c_str(), 0600);
    fs::create_symlink("../dotfiles/CLAUDE.md", h.dir / ".claude/CLAUDE.md");
    struct stat before {};
    ASSERT_EQ(::stat(real.c_str(), &before), 0);

    ASSERT_TRUE(fanout::apply_instruction(h.item("claude")).ok());
    EXPECT_TRUE(fs::is_symlink(h.dir / ".claude/CLAUDE.md"));
    EXPECT_EQ(read_file(real), "# mine\n@~/.agents/AGENTS.md\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(st.st_ino, before.st_ino);  // a new file moved into place
    EXPECT_EQ(h.item("claude").state, InstructionState::imported);
}

TEST(ApplyInstruction, RefusesAFileThatIsNotText) {
    InstructionsHome h;
    h.install(".claude");
    const fs::path file = h.dir / ".claude/CLAUDE.md";
    const std::string binary = std::string("\xff\xfe binary", 9);
    write_file(file, binary);
    auto item = h.item("claude");
    EXPECT_EQ(item.state, InstructionState::import);
    EXPECT_FALSE(fanout::apply_instruction(item).ok());
    EXPECT_EQ(read_file(file), binary);
}

TEST(ClassifyInstructionPath, ConflictsLinksAndOwners) {
    InstructionsHome h;
    const fs::path path = h.dir / ".codex/AGENTS.md";
    write_file(path, "notes\n<claude-mem-context>\n");
    auto item = fanout::classify_instruction_path("codex", path, h.commons_file);
    EXPECT_EQ(item.state, InstructionState::conflict);
    EXPECT_EQ(item.owner, "claude-mem");
    EXPECT_EQ(fanout::instruction_note(item),
              path.string() + " is owned by claude-mem — move or merge it, then sync again");

    write_file(path, std::string(2048, 'x') + "claude-mem");
    item = fanout::classify_instruction_path("codex", path, h.commons_file);
    EXPECT_FALSE(item.owner.has_value());
    EXPECT_EQ(fanout::instruction_note(item),
              path.string() + " is owned by something else — move or merge it, then sync again");

    fs::remove(path);
    write_file(h.dir / "other.md", "x");
    fs::create_symlink("../other.md", path);
    item = fanout::classify_instruction_path("codex", path, h.commons_file);
    EXPECT_EQ(item.state, InstructionState::foreign);
    EXPECT_EQ(fanout::instruction_note(item), "points outside the Commons — left alone");

    fs::remove(path);
    fs::create_symlink(h.commons_file, path);
    EXPECT_EQ(fanout::classify_instruction_path("codex", path, h.commons_file).state, InstructionState::linked);
}

TEST(ClassifyInstructionPath, AgentDirectoryThatIsALink) {
    InstructionsHome h;
    fs::create_directories(h.dir / "dotfiles/codex");
    fs::create_directory_symlink("dotfiles/codex", h.dir / ".codex");
    const fs::path path = h.dir / ".codex/AGENTS.md";
    // A link written from the agent path as it looks leads nowhere.
    fs::create_symlink("../.agents/AGENTS.md", path);

    auto item = fanout::classify_instruction_path("codex", path, h.commons_file);
    EXPECT_EQ(item.state, InstructionState::missing);
    EXPECT_EQ(item.link_target, "../../.agents/AGENTS.md");
    ASSERT_TRUE(fanout::apply_instruction(item).ok());
    EXPECT_EQ(read_file(path), "shared\n");
    EXPECT_EQ(fanout::classify_instruction_path("codex", path, h.commons_file).state, InstructionState::linked);
}

TEST(RemoveImportLine, CutsOnlyTheLine) {
    InstructionsHome h;
    const fs::path file = h.dir / ".claude/CLAUDE.md";
    write_file(file, "a\r\n @~/.agents/AGENTS.md \r\nb\n@ ~/.agents/AGENTS.md\nc");
    auto removed = fanout::remove_import_line(h.ctx, file);
    ASSERT_TRUE(removed.ok());
    EXPECT_TRUE(*removed);
    EXPECT_EQ(read_file(file), "a\r\nb\nc");

    removed = fanout::remove_import_line(h.ctx, file);
    ASSERT_TRUE(removed.ok());
    EXPECT_FALSE(*removed);
    EXPECT_EQ(read_file(file), "a\r\nb\nc");

    removed = fanout::remove_import_line(h.ctx, h.dir / "absent.md");
    ASSERT_TRUE(removed.ok());
    EXPECT_FALSE(*removed);
}
