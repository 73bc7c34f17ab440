// The Commons mcp.json is the user's file: every save changes its servers
// and nothing else of it.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

namespace {

TEST(CommonsFile, EverySaveKeepsTheOtherTopLevelMembersInPlace) {
    struct Case {
        std::vector<std::string> args;
        std::string servers;  // the saved `mcpServers` member, as printed
    };
    const std::string x = "    \"x\": {\n      \"command\": \"x\"\n    }";
    const std::string y = "    \"y\": {\n      \"command\": \"y\"\n    }";
    const std::string parked = "    \"y\": {\n      \"command\": \"y\",\n      \"disabled\": true\n    }";
    const std::vector<Case> cases = {
        {{"mcp", "adopt", "claude/fs"}, "{\n" + x + ",\n" + parked + ",\n    \"fs\": {\n      \"command\": \"f\"\n    }\n  }"},
        {{"mcp", "remove", "x"}, "{\n" + parked + "\n  }"},
        {{"mcp", "disable", "x"}, "{\n    \"x\": {\n      \"command\": \"x\",\n      \"disabled\": true\n    },\n" + parked + "\n  }"},
        {{"mcp", "enable", "y"}, "{\n" + x + ",\n" + y + "\n  }"},
    };
    for (const Case& c : cases) {
        Home h;
        fs::create_directories(h / ".claude");
        write_file(h / ".claude.json", R"({"mcpServers": {"fs": {"command": "f"}}})");
        write_file(h / ".agents/mcp.json",
                   R"({"$schema": "https://example.com/s.json", "mcpServers": {"y": {"command": "y", "disabled": true},
                       "x": {"command": "x"}}, "notes": {"mine": [1, 2.5, true, null]}})");
        auto r = h.run(c.args);
        EXPECT_EQ(r.err, "") << c.args[1];
        EXPECT_EQ(r.code, 0) << c.args[1];
        EXPECT_EQ(read_file(h / ".agents/mcp.json"),
                  "{\n  \"$schema\": \"https://example.com/s.json\",\n  \"mcpServers\": " + c.servers +
                      ",\n  \"notes\": {\n    \"mine\": [\n      1,\n      2.5,\n      true,\n      null\n    ]\n  }\n}\n")
            << c.args[1];
    }
}

}  // namespace
