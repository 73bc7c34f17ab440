// The output sink: formats, counts, and writes that fail.
#include <gtest/gtest.h>

#include <sstream>

#include "core/report.h"

namespace {

using core::Reporter;

TEST(Reporter, WritesEachKindToItsStreamAndCounts) {
    std::ostringstream out, err;
    Reporter reporter(out, err);
    reporter.print_line("a line");
    reporter.print_blank_line();
    reporter.report_warning("careful");
    reporter.report_error("broken");
    reporter.report_error("again");
    EXPECT_EQ(out.str(), "a line\n\n");
    EXPECT_EQ(err.str(), "warning: careful\nerror: broken\nerror: again\n");
    EXPECT_EQ(reporter.warnings(), 1u);
    EXPECT_EQ(reporter.errors(), 2u);
}

TEST(Reporter, PrintsJsonPrettyInKeyOrder) {
    std::ostringstream out, err;
    Reporter reporter(out, err);
    nlohmann::ordered_json value = {{"z", 1}, {"a", {1, 2}}};
    reporter.print_json(value);
    EXPECT_EQ(out.str(), "{\n  \"z\": 1,\n  \"a\": [\n    1,\n    2\n  ]\n}\n");
}

TEST(Reporter, JsonThatCannotBeWrittenPrintsAnEmptyObject) {
    std::ostringstream out, err;
    Reporter reporter(out, err);
    reporter.print_json(nlohmann::ordered_json{{"bad", "\xff"}});
    EXPECT_EQ(out.str(), "{}\n");
    EXPECT_EQ(err.str(), "");
}

TEST(Reporter, FailedWritesAreDroppedButStillCounted) {
    std::ostringstream out, err;
    out.setstate(std::ios::badbit);
    err.setstate(std::ios::badbit);
    Reporter reporter(out, err);
    reporter.report_error("lost");
    reporter.report_warning("lost");
    EXPECT_EQ(reporter.errors(), 1u);
    EXPECT_EQ(reporter.warnings(), 1u);
    // A failed write leaves the stream usable for the next one.
    reporter.print_line("dropped");
    reporter.print_line("kept");
    EXPECT_EQ(out.str(), "kept\n");
}

}  // namespace
