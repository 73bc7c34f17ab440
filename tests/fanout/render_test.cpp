#include "fanout/render.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "json/json.h"
#include "support/support.h"
#include "toml/toml.h"

namespace fanout {
namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

const std::string header(generated_header);

TEST(GeneratedHeader, CountsOnlyInTheFirstThreeLines) {
    EXPECT_TRUE(has_generated_header(header));
    EXPECT_TRUE(has_generated_header("a\nb\n" + header + "\n"));
    EXPECT_FALSE(has_generated_header("a\nb\nc\n" + header + "\n"));
    EXPECT_TRUE(has_generated_header("x\r\n \t" + header + "  \r\nrest"));
    EXPECT_FALSE(has_generated_header(""));
    EXPECT_FALSE(has_generated_header("# mirthlode: this file is generated - edit the Commons instead"));
    EXPECT_FALSE(has_generated_header(header + " extra"));
}

FrontMatter parse(const std::string& text) { return parse_front_matter(text); }

TEST(FrontMatter, WithoutFrontMatterTheWholeTextIsTheBody) {
    const FrontMatter plain = parse("line one\r\nline two\r\n");
    EXPECT_FALSE(plain.description);
    EXPECT_EQ(plain.body, "line one\r\nline two\r\n");

    EXPECT_EQ(parse("").body, "");
    EXPECT_FALSE(parse("").description);

    // A byte-order mark is not white space, so no front matter opens.
    const std::string bom = "\xEF\xBB\xBF---\ndescription: x\n---\nbody\n";
    EXPECT_FALSE(parse(bom).description);
    EXPECT_EQ(parse(bom).body, bom);

    // Four dashes do not open front matter.
    EXPECT_FALSE(parse("----\ndescription: x\n----\nbody\n").description);
}

TEST(FrontMatter, DescriptionLosesItsQuotesAndTheBodyItsLeadingBlankLines) {
    const FrontMatter parsed = parse("---\ndescription: \"Ship it\"\n---\n\nDeploy now.\n");
    EXPECT_EQ(parsed.description, "Ship it");
    EXPECT_EQ(parsed.body, "Deploy now.\n");

    EXPECT_EQ(parse("---\ndescription: 'single'\n---\n").description, "single");
    EXPECT_EQ(parse("---\ndescription: say \"hi\" now\n---\n").description, "say \"hi\" now");
    EXPECT_EQ(parse("---\ndescription: \"unclosed\n---\n").description, "unclosed");
    EXPECT_EQ(parse("---\ndescription: '\"x\"'\n---\n").description, "x");
    EXPECT_EQ(parse("---\ndescription: a: b\n---\n").description, "a: b");
}

TEST(FrontMatter, KeysAndDelimiters) {
    // Spaces around the delimiters count as nothing; "\r\n" becomes "\n".
    const FrontMatter parsed = parse("  ---  \r\nname: x\r\ndescription:\r\n --- \r\n\r\n  \r\nbody\r\nend");
    EXPECT_EQ(parsed.description, "");
    EXPECT_EQ(parsed.body, "  \nbody\nend\n");

    // The first "description" wins; case matters; lines without ":" are ignored.
    const FrontMatter first = parse("---\nDescription: no\nnot a pair\ndescription: one\ndescription: two\n---\n");
    EXPECT_EQ(first.description, "one");
    EXPECT_EQ(first.body, "");

    EXPECT_FALSE(parse("---\nname: x\n---\nbody\n").description);
}

TEST(FrontMatter, UnclosedFrontMatterIsPartOfTheBody) {
    const std::string text = "---\ndescription: x\nbody\n";
    const FrontMatter parsed = parse(text);
    EXPECT_FALSE(parsed.description);
    EXPECT_EQ(parsed.body, text);
}

TEST(RenderCommand, JsonHoldsDescriptionThenPromptWithoutHeader) {
    const auto text = render_command(core::RenderFormat::json, "Say \"hi\"", "line 1\nline \"2\"\n\n  ");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text,
              "{\n  \"description\": \"Say \\\"hi\\\"\",\n  \"prompt\": \"line 1\\nline \\\"2\\\"\"\n}\n");
    EXPECT_FALSE(has_generated_header(*text));

    const auto bare = render_command(core::RenderFormat::json, std::nullopt, "x\r\ny\r\n");
    ASSERT_TRUE(bare.ok());
    EXPECT_EQ(*bare, "{\n  \"prompt\": \"x\\r\\ny\"\n}\n");
}

TEST(RenderCommand, TomlStartsWithTheHeaderAndReadsBack) {
    const auto text = render_command(core::RenderFormat::toml, "Say \"hi\"", "one\n\"two\"\n'three'\n\n");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text->rfind(header + "\n", 0), 0u);
    const std::string document = text->substr(header.size() + 1);
    EXPECT_LT(document.find("description = "), document.find("prompt = "));
    EXPECT_EQ(document.back(), '\n');

    const auto bare = render_command(core::RenderFormat::toml, std::nullopt, "x");
    ASSERT_TRUE(bare.ok());
    EXPECT_EQ(*bare, header + "\nprompt = \"x\"\n");

    auto parsed = toml::parse(document);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed->root().get("description")->as_value()->as_string(), "Say \"hi\"");
    EXPECT_EQ(parsed->root().get("prompt")->as_value()->as_string(), "one\n\"two\"\n'three'");
}

// A home with gemini installed and a Commons holding commands.
struct RenderFixture : ::testing::Test {
    TempDir home;
    fs::path commons = home / ".agents";
    fs::path commands = home / ".gemini/commands";

    void SetUp() override { fs::create_directories(home / ".gemini"); }

    void add_command(const std::string& name, const std::string& text) {
        write_file(commons / "commands" / (name + ".md"), text);
    }
    std::string rendered(const std::string& text) {
        const FrontMatter parsed = parse_front_matter(text);
        return *render_command(core::RenderFormat::toml, parsed.description, parsed.body);
    }
    RenderPlan plan() {
        return plan_rendered_commands(home.path(), core::select_targets(home.path(), core::Config{}), commons);
    }
};

TEST_F(RenderFixture, EveryStateAndItsOrder) {
    const std::string deploy = "---\ndescription: Deploy\n---\nShip it.\n";
    add_command("deploy", deploy);
    add_command("edited", "Edited.\n");
    add_command("foreign", "Foreign.\n");
    add_command("fresh", "Fresh.\n");
    write_file(commands / "deploy.toml", rendered(deploy));
    write_file(commands / "edited.toml", header + "\nprompt = \"by hand\"\n");
    write_file(commands / "foreign.toml", "prompt = \"mine\"\n");
    write_file(commands / "gone.json", "\n" + header + "\n");
    write_file(commands / "deploy.json", header + "\n");  // a Commons name: never orphaned
    write_file(commands / "notes.toml", "not ours\n");

    const RenderPlan result = plan();
    EXPECT_TRUE(result.errors.empty());
    ASSERT_EQ(result.items.size(), 5u);
    const auto& items = result.items;
    EXPECT_EQ(items[0].name, "deploy");
    EXPECT_EQ(items[0].state, RenderState::managed);
    EXPECT_EQ(items[0].agent, "gemini");
    EXPECT_EQ(items[0].path, commands / "deploy.toml");
    EXPECT_EQ(items[0].text, rendered(deploy));
    EXPECT_EQ(items[1].state, RenderState::drifted);
    EXPECT_EQ(items[2].state, RenderState::foreign);
    EXPECT_EQ(items[3].name, "fresh");
    EXPECT_EQ(items[3].state, RenderState::missing);
    EXPECT_EQ(items[4].name, "gone");
    EXPECT_EQ(items[4].state, RenderState::orphaned);
    EXPECT_EQ(items[4].path, commands / "gone.json");
    EXPECT_FALSE(items[4].text);
}

TEST_F(RenderFixture, UnreadableFilesOnEitherSide) {
    add_command("bad", "\xFF\xFE");
    add_command("ours", "Ours.\n");
    add_command("binary", "Binary.\n");
    add_command("dir", "Dir.\n");
    add_command(std::string(252, 'L'), "Long.\n");  // no file can have its name: it stays missing
    write_file(commands / "ours.toml", header + "\n\xFF");  // ours, not text: written afresh
    write_file(commands / "binary.toml", "\xFF\xFE data");   // not ours: never replaced
    fs::create_directories(commands / "dir.toml");           // nothing to lose
    fs::create_directories(commands / "old.toml");           // not a file: no orphan
    write_file(commands / "old2.toml", header + "\n\xFF");  // unreadable as text: no orphan

    const RenderPlan result = plan();
    ASSERT_EQ(result.errors.size(), 1u);
    EXPECT_EQ(result.errors[0],
              "cannot read " + (commons / "commands/bad.md").string() + ": stream did not contain valid UTF-8");
    std::vector<std::string> seen;
    for (const RenderedCommand& item : result.items) {
        seen.push_back(item.name + " " + std::string(render_state_word(item.state)));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{std::string(252, 'L') + " missing", "binary foreign",
                                              "dir missing", "ours missing"}));
}

TEST_F(RenderFixture, NoRenderingAgentMeansAnEmptyPlan) {
    fs::remove(home / ".gemini");
    add_command("deploy", "Ship it.\n");
    const RenderPlan result = plan();
    EXPECT_TRUE(result.items.empty());
    EXPECT_TRUE(result.errors.empty());
}

TEST_F(RenderFixture, ApplyingWritesRemovesAndLeavesForeignFilesAlone) {
    add_command("fresh", "Fresh.\n");
    add_command("edited", "Edited.\n");
    add_command("foreign", "Foreign.\n");
    write_file(commands / "edited.toml", header + "\nold\n");
    write_file(commands / "foreign.toml", "mine\n");
    write_file(commands / "gone.toml", header + "\n");

    for (const RenderedCommand& item : plan().items) EXPECT_TRUE(apply_rendered_command(item).ok());

    EXPECT_EQ(read_file(commands / "fresh.toml"), rendered("Fresh.\n"));
    EXPECT_EQ(read_file(commands / "edited.toml"), rendered("Edited.\n"));
    EXPECT_EQ(read_file(commands / "foreign.toml"), "mine\n");
    EXPECT_FALSE(fs::exists(commands / "gone.toml"));

    const RenderPlan after = plan();
    ASSERT_EQ(after.items.size(), 3u);
    for (const RenderedCommand& item : after.items) {
        EXPECT_EQ(item.state, item.name == "foreign" ? RenderState::foreign : RenderState::managed);
    }
}

TEST_F(RenderFixture, ApplyingReportsWhatFailed) {
    write_file(home / "blocker", "a file where a directory should be");
    const RenderedCommand blocked{"gemini", "x", home / "blocker/commands/x.toml", header + "\n",
                                  RenderState::missing};
    const auto created = apply_rendered_command(blocked);
    ASSERT_FALSE(created.ok());
    EXPECT_EQ(created.error().message.rfind("cannot create " + (home / "blocker/commands").string() + ": ", 0), 0u);

    const RenderedCommand gone{"gemini", "x", commands / "x.toml", std::nullopt, RenderState::orphaned};
    const auto removed = apply_rendered_command(gone);
    ASSERT_FALSE(removed.ok());
    EXPECT_EQ(removed.error().message.rfind("cannot remove " + (commands / "x.toml").string() + ": ", 0), 0u);
}

TEST(RenderLine, PadsTheStateWordToTen) {
    const RenderedCommand item{"gemini", "deploy", "/h/deploy.toml", std::nullopt, RenderState::orphaned};
    EXPECT_EQ(render_line(item), "  orphaned   deploy → gemini — no longer in the Commons — will be removed");
    const RenderedCommand hand{"gemini", "x", "/h/x.toml", "", RenderState::drifted};
    EXPECT_EQ(render_line(hand),
              "  drifted    x → gemini — edited by hand — the Commons version will be restored");
    EXPECT_EQ(render_state_note(RenderState::missing), "not rendered yet");
    EXPECT_EQ(render_state_note(RenderState::foreign), "not generated by mirthlode — left alone");
}

TEST_F(RenderFixture, WithoutManagedRecordsTheRestIsTheSame) {
    for (const char* name : {"a", "b", "c", "d"}) add_command(name, std::string(name) + ".\n");
    write_file(commands / "a.toml", rendered("a.\n"));
    write_file(commands / "c.toml", rendered("c.\n"));
    write_file(commands / "d.toml", header + "\nprompt = \"by hand\"\n");
    const RenderPlan lean =
        plan_rendered_commands(home.path(), core::select_targets(home.path(), core::Config{}), commons, false);
    std::vector<std::string> kept, rest;
    for (const auto& item : lean.items) kept.push_back(item.name + ":" + std::string(render_state_word(item.state)));
    for (const auto& item : plan().items) {
        if (item.state != RenderState::managed) rest.push_back(item.name + ":" + std::string(render_state_word(item.state)));
    }
    EXPECT_EQ(kept, rest);
    EXPECT_EQ(kept, (std::vector<std::string>{"b:missing", "d:drifted"}));
}

TEST_F(RenderFixture, NoCommandDirectoryOrAFileInItsPlaceMeansEveryFileIsMissing) {
    add_command("a", "A.\n");
    add_command("b", "B.\n");
    for (bool file_in_place : {false, true}) {
        if (file_in_place) write_file(commands, "not a directory");
        std::vector<std::string> states;
        for (const auto& item : plan().items) states.push_back(item.name + ":" + std::string(render_state_word(item.state)));
        EXPECT_EQ(states, (std::vector<std::string>{"a:missing", "b:missing"})) << file_in_place;
    }
}

}  // namespace
}  // namespace fanout
