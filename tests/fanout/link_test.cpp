// Classifying, planning and applying fan-out links.
#include <gtest/gtest.h>

#include "core/commons.h"
#include "fanout/link.h"
#include "support/support.h"

using namespace testing_support;
using fanout::LinkEntry;
using fanout::LinkState;

namespace {

// A home with a Commons at .agents and skills named by the caller.
struct LinkHome {
    TempDir dir;
    fs::path commons = dir / ".agents";
    fs::path surface = dir / ".claude/skills";

    void skill(const std::string& name, const std::string& body = "body") {
        write_file(commons / "skills" / name / "SKILL.md", body);
    }
    std::vector<LinkEntry> plan() const {
        return fanout::plan_links(surface, commons, core::scan_commons_family(commons, core::Family::skills).entries)
            .value();
    }
    // As planning classifies what stands at a name in the surface.
    fanout::EntryClass classify(const std::string& name) const {
        return fanout::classify_entry(surface / name, commons, fanout::link_base(surface, commons));
    }
    void link(const std::string& name, const std::string& text) const {
        fs::create_directories(surface);
        fs::create_symlink(text, surface / name);
    }
};

std::map<std::string, LinkEntry> by_name(const std::vector<LinkEntry>& entries) {
    std::map<std::string, LinkEntry> out;
    for (const auto& e : entries) out.emplace(e.name, e);
    return out;
}

}  // namespace

TEST(RelativePath, WalksUpAndDown) {
    EXPECT_EQ(fanout::relative_path("/a/b", "/a/b"), ".");
    EXPECT_EQ(fanout::relative_path("/a/b", "/a"), "..");
    EXPECT_EQ(fanout::relative_path("/a", "/a/b/c"), "b/c");
    EXPECT_EQ(fanout::relative_path("/h/.claude/skills", "/h/.agents/skills/foo"), "../../.agents/skills/foo");
    EXPECT_EQ(fanout::relative_path("/h/x/./y/..", "/h/z"), "../z");
    // Only one side absolute: the normalised target itself.
    EXPECT_EQ(fanout::relative_path("rel/dir", "/h/./z"), "/h/z");
}

TEST(IsUnder, ComparesWholeComponents) {
    EXPECT_TRUE(fanout::is_under("/h/.agents/skills/x", "/h/.agents"));
    EXPECT_TRUE(fanout::is_under("/h/.agents", "/h/.agents"));
    EXPECT_FALSE(fanout::is_under("/h/.agents-old/x", "/h/.agents"));
}

TEST(PlanLinks, EveryStateOfAWantedEntry) {
    LinkHome h;
    for (auto name : {"linked", "absolute", "other", "missing", "copy", "changed", "ext", "dotted", "detour"})
        h.skill(name);
    h.link("linked", "../../.agents/skills/linked");
    // Written differently but the same path: still linked; ".." counts as written.
    h.link("dotted", ".././../.agents//skills/dotted/");
    h.link("detour", "../../.agents/x/../skills/detour");
    h.link("absolute", (h.commons / "skills/absolute").string());
    h.link("other", "../../.agents/skills/linked");
    write_file(h.surface / "copy/SKILL.md", "body");
    fs::create_directories(h.surface / "copy/empty-subdir");
    write_file(h.surface / "changed/SKILL.md", "bodY");
    fs::create_directories(h.dir / ".agents-old/skills/ext");
    h.link("ext", "../../.agents-old/skills/ext");

    auto plan = h.plan();
    auto m = by_name(plan);
    EXPECT_EQ(m["linked"].state, LinkState::linked);
    EXPECT_EQ(m["dotted"].state, LinkState::linked);
    EXPECT_EQ(m["detour"].state, LinkState::stale);
    EXPECT_EQ(m["absolute"].state, LinkState::stale);
    EXPECT_EQ(m["other"].state, LinkState::stale);
    EXPECT_EQ(m["missing"].state, LinkState::missing);
    EXPECT_EQ(m["copy"].state, LinkState::variant_identical);
    EXPECT_EQ(m["changed"].state, LinkState::variant);
    EXPECT_EQ(m["ext"].state, LinkState::foreign);
    EXPECT_EQ(m["missing"].expected, "../../.agents/skills/missing");
    EXPECT_EQ(m["missing"].link, h.surface / "missing");

    std::vector<std::string> order;
    for (const auto& e : plan) order.push_back(e.name);
    EXPECT_EQ(order, (std::vector<std::string>{"absolute", "changed", "copy", "detour", "dotted", "ext", "linked",
                                               "missing", "other"}));
}

TEST(PlanLinks, LeftoversAreDanglingOrForeignOrIgnored) {
    LinkHome h;
    h.skill("kept");
    h.skill("live-elsewhere");
    h.link("old-skill", "../../.agents/skills/old-skill");       // our link, entry gone
    h.link("renamed", "../../.agents/skills/live-elsewhere");     // our live link, unknown name
    h.link("theirs", "/somewhere/else");                          // not ours
    write_file(h.surface / "notes.txt", "mine");                   // a real file

    auto m = by_name(h.plan());
    ASSERT_EQ(m.count("old-skill"), 1u);
    EXPECT_EQ(m["old-skill"].state, LinkState::dangling);
    EXPECT_FALSE(m["old-skill"].expected.has_value());
    EXPECT_EQ(m["theirs"].state, LinkState::foreign);
    EXPECT_FALSE(m["theirs"].expected.has_value());
    EXPECT_EQ(m.count("renamed"), 0u);
    EXPECT_EQ(m.count("notes.txt"), 0u);
}

TEST(PlanLinks, UnreadableTargetIsNotDangling) {
    LinkHome h;
    fs::create_directories(h.commons / "skills");
    fs::create_symlink("loop", h.commons / "skills/loop");  // reading it fails with a loop
    write_file(h.commons / "skills/file", "x");
    h.link("looping", "../../.agents/skills/loop/x");
    h.link("under-a-file", "../../.agents/skills/file/x");

    auto looping = h.classify("looping");
    ASSERT_TRUE(std::holds_alternative<fanout::OurLink>(looping));
    EXPECT_FALSE(std::get<fanout::OurLink>(looping).dangling);

    auto m = by_name(h.plan());
    EXPECT_EQ(m.count("looping"), 0u);  // kept: the Commons entry may come back
    EXPECT_EQ(m["under-a-file"].state, LinkState::dangling);
}

TEST(ClassifyEntry, TellsTheKinds) {
    LinkHome h;
    h.skill("x");
    EXPECT_TRUE(std::holds_alternative<fanout::Absent>(h.classify("none")));
    write_file(h.surface / "real", "r");
    EXPECT_TRUE(std::holds_alternative<fanout::Real>(h.classify("real")));
    h.link("ours", "../../.agents/skills/x");
    auto ours = h.classify("ours");
    ASSERT_TRUE(std::holds_alternative<fanout::OurLink>(ours));
    EXPECT_EQ(std::get<fanout::OurLink>(ours).raw_target, "../../.agents/skills/x");
    EXPECT_EQ(std::get<fanout::OurLink>(ours).resolved, h.commons / "skills/x");
    EXPECT_FALSE(std::get<fanout::OurLink>(ours).dangling);
}

TEST(ApplyLink, FixesWhatIsActionableAndLeavesTheRest) {
    LinkHome h;
    for (auto name : {"missing", "absolute", "changed"}) h.skill(name);
    h.link("absolute", (h.commons / "skills/absolute").string());
    h.link("gone", "../../.agents/skills/gone");
    write_file(h.surface / "changed/SKILL.md", "mine");

    for (const auto& entry : h.plan()) ASSERT_TRUE(fanout::apply_link(entry).ok()) << entry.name;

    EXPECT_EQ(fs::read_symlink(h.surface / "missing"), "../../.agents/skills/missing");
    EXPECT_EQ(fs::read_symlink(h.surface / "absolute"), "../../.agents/skills/absolute");
    EXPECT_FALSE(fs::exists(fs::symlink_status(h.surface / "gone")));
    EXPECT_EQ(read_file(h.surface / "changed/SKILL.md"), "mine");
    for (const auto& entry : h.plan()) {
        EXPECT_TRUE(entry.state == LinkState::linked || entry.state == LinkState::variant) << entry.name;
    }
}

TEST(ApplyLink, MissingCreatesTheSurfaceDirectory) {
    LinkHome h;
    h.skill("a");
    auto plan = h.plan();
    ASSERT_EQ(plan.size(), 1u);
    ASSERT_TRUE(fanout::apply_link(plan[0]).ok());
    EXPECT_EQ(read_file(h.surface / "a/SKILL.md"), "body");
}

// Planned before someone else made it: the very link wanted is success, any
// other link there is not.
TEST(ApplyLink, TheExpectedLinkAlreadyThereIsSuccess) {
    LinkHome h;
    h.skill("a");
    auto plan = h.plan();
    ASSERT_EQ(plan.size(), 1u);
    h.link("a", "../../.agents/skills/a");
    EXPECT_TRUE(fanout::apply_link(plan[0]).ok());
    EXPECT_TRUE(fanout::LinkApplier().apply(plan[0]).ok());
    fs::remove(h.surface / "a");
    h.link("a", "../../.agents/skills/b");
    EXPECT_FALSE(fanout::apply_link(plan[0]).ok());
    EXPECT_FALSE(fanout::LinkApplier().apply(plan[0]).ok());
}

TEST(ApplyLink, ReportsAFailure) {
    LinkHome h;
    h.skill("a");
    write_file(h.dir / ".claude/skills", "a file where the directory should be");
    auto plan = h.plan();
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].state, LinkState::missing);
    EXPECT_FALSE(fanout::apply_link(plan[0]).ok());
}

// An agent directory that is a link to a folder elsewhere (a dotfile
// manager's layout): the link text must work from where the link really is.
TEST(PlanLinks, AgentDirectoryThatIsALink) {
    LinkHome h;
    h.skill("foo");
    h.skill("bar");
    fs::create_directories(h.dir / "dotfiles/claude/skills");
    fs::create_directory_symlink("dotfiles/claude", h.dir / ".claude");
    // Written from the agent path as it looks: broken from the real folder.
    h.link("bar", "../../.agents/skills/bar");

    auto m = by_name(h.plan());
    EXPECT_EQ(m["foo"].state, LinkState::missing);
    EXPECT_EQ(m["foo"].expected, "../../../.agents/skills/foo");
    EXPECT_EQ(m["bar"].state, LinkState::stale);

    for (const auto& entry : h.plan()) ASSERT_TRUE(fanout::apply_link(entry).ok());
    EXPECT_EQ(read_file(h.surface / "foo/SKILL.md"), "body");
    EXPECT_EQ(read_file(h.surface / "bar/SKILL.md"), "body");
    for (const auto& entry : h.plan()) EXPECT_EQ(entry.state, LinkState::linked) << entry.name;
    EXPECT_TRUE(std::holds_alternative<fanout::OurLink>(h.classify("foo")));
}

TEST(PlanLinks, AgentDirectoryLinkThatKeepsPathsWorking) {
    // The home itself reached through a link: relative texts still work,
    // so the plain form is kept.
    TempDir real;
    TempDir outer;
    fs::create_directory_symlink(real.path(), outer / "home");
    const fs::path home = outer / "home";
    write_file(home / ".agents/skills/a/SKILL.md", "x");
    auto entries = core::scan_commons_family(home / ".agents", core::Family::skills).entries;
    auto plan = fanout::plan_links(home / ".claude/skills", home / ".agents", entries).value();
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].expected, "../../.agents/skills/a");
}

TEST(SameContent, ComparesFilesAndTrees) {
    TempDir d;
    write_file(d / "a/x/f", "1");
    write_file(d / "a/g", "2");
    write_file(d / "b/x/f", "1");
    write_file(d / "b/g", "2");
    fs::create_directories(d / "b/empty");
    EXPECT_TRUE(fanout::same_content(d / "a", d / "b"));
    write_file(d / "b/x/f", "3");
    EXPECT_FALSE(fanout::same_content(d / "a", d / "b"));
    EXPECT_FALSE(fanout::same_content(d / "a", d / "a/g"));
    EXPECT_TRUE(fanout::same_content(d / "a/g", d / "b/g"));
    EXPECT_FALSE(fanout::same_content(d / "a/g", d / "nothing"));
}

TEST(FindLeftoverLinks, OurLinksAreDuplicates) {
    LinkHome h;
    h.skill("a");
    h.link("a", "../../.agents/skills/a");
    h.link("gone", "../../.agents/skills/gone");
    h.link("theirs", "/elsewhere");
    auto leftovers = fanout::find_leftover_links(h.surface, h.commons).value();
    ASSERT_EQ(leftovers.size(), 2u);
    EXPECT_EQ(leftovers[0].name, "a");
    EXPECT_EQ(leftovers[1].name, "gone");
    for (const auto& e : leftovers) {
        EXPECT_EQ(e.state, LinkState::duplicate);
        EXPECT_FALSE(e.expected.has_value());
    }
    EXPECT_TRUE(fanout::find_leftover_links(h.dir / "nowhere", h.commons).value().empty());
}

TEST(PlanLinks, WithoutLinkedRecordsTheRestIsTheSameAndLinkedAreCounted) {
    LinkHome h;
    for (auto name : {"a", "b", "c", "d"}) h.skill(name);
    h.link("a", "../../.agents/skills/a");
    h.link("c", "../../.agents/skills/c");
    h.link("old", "../../.agents/skills/old");
    const auto entries = core::scan_commons_family(h.commons, core::Family::skills).entries;

    std::size_t linked = 0;
    auto lean = fanout::plan_links(h.surface, h.commons, entries, false, linked).value();
    EXPECT_EQ(linked, 2u);
    std::vector<std::pair<std::string, LinkState>> kept, rest;
    for (const auto& e : lean) kept.emplace_back(e.name, e.state);
    for (const auto& e : h.plan()) {
        if (e.state != LinkState::linked) rest.emplace_back(e.name, e.state);
    }
    EXPECT_EQ(kept, rest);
    EXPECT_EQ(kept, (std::vector<std::pair<std::string, LinkState>>{
                        {"b", LinkState::missing}, {"d", LinkState::missing}, {"old", LinkState::dangling}}));
}

TEST(LinkApplier, CreatesTheSurfaceOnceAndAgainWhenItWentAway) {
    LinkHome h;
    for (auto name : {"a", "b", "c"}) h.skill(name);
    auto plan = h.plan();
    ASSERT_EQ(plan.size(), 3u);
    fanout::LinkApplier applier;
    ASSERT_TRUE(applier.apply(plan[0]).ok());
    fs::remove_all(h.dir / ".claude");  // removed by someone else between two links
    ASSERT_TRUE(applier.apply(plan[1]).ok());
    ASSERT_TRUE(applier.apply(plan[2]).ok());
    EXPECT_FALSE(fs::exists(fs::symlink_status(h.surface / "a")));
    EXPECT_EQ(read_file(h.surface / "b/SKILL.md"), "body");
    EXPECT_EQ(fs::read_symlink(h.surface / "c"), "../../.agents/skills/c");

    // A file where the surface should be: every missing link fails alike.
    fs::remove_all(h.dir / ".claude");
    write_file(h.dir / ".claude/skills", "a file");
    fanout::LinkApplier blocked;
    for (const auto& entry : h.plan()) {
        EXPECT_EQ(entry.state, LinkState::missing);
        EXPECT_FALSE(blocked.apply(entry).ok()) << entry.name;
    }
}
