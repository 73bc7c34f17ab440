// Runs the public TOML test suite: every valid document parses to the
// expected values and renders back byte for byte; every invalid one is
// refused with an offset inside the text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <system_error>

#include <nlohmann/json.hpp>

#include "support/support.h"
#include "toml/document.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing_support::read_file;

// TOML_TEST_DIR points at a copy of the suite; else the copy beside the
// project is used, which only the project's own machines have.
std::optional<fs::path> suite_dir() {
    if (const char* dir = std::getenv("TOML_TEST_DIR"); dir && *dir) return fs::path(dir);
    const fs::path beside = fs::path(MIRTHLODE_SHARED_DIR) / "conformance" / "toml-test";
    std::error_code error;
    if (fs::is_directory(beside, error)) return beside;
    return std::nullopt;
}

bool is_scalar(const json& expected) {
    return expected.is_object() && expected.size() == 2 && expected.contains("type") && expected.contains("value");
}

// A date-time text in one form: "T" and "Z" upper-case, seconds present,
// at most three fraction digits.
std::string normal_datetime(std::string text) {
    for (char& c : text) {
        if (c == 't' || c == ' ') c = 'T';
        if (c == 'z') c = 'Z';
    }
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '.') {
            std::size_t end = i + 1;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
            std::string frac = text.substr(i + 1, end - i - 1);
            frac = frac.substr(0, 3);
            while (frac.size() < 3) frac += '0';
            out += "." + frac;
            i = end;
        } else {
            out += text[i++];
        }
    }
    if (out.find('.') == std::string::npos) {
        // Add ".000" after the seconds so that both sides look alike.
        std::size_t colon = out.find(':');
        if (colon != std::string::npos) out.insert(colon + 6, ".000");
    }
    return out;
}

std::string kind_name(toml::DatetimeKind kind) {
    switch (kind) {
    case toml::DatetimeKind::offset_datetime: return "datetime";
    case toml::DatetimeKind::local_datetime: return "datetime-local";
    case toml::DatetimeKind::local_date: return "date-local";
    case toml::DatetimeKind::local_time: return "time-local";
    }
    return "";
}

bool same_value(const toml::Value& value, const json& expected, std::string& why);

bool same_table(const toml::Table& table, const json& expected, std::string& why) {
    if (!expected.is_object() || is_scalar(expected)) return why = "table where a value was expected", false;
    if (table.size() != expected.size()) return why = "different key count", false;
    for (const toml::Entry& entry : table) {
        if (!expected.contains(entry.key())) return why = "unexpected key " + entry.key(), false;
        const json& member = expected[entry.key()];
        const toml::Item& item = entry.item();
        bool same = false;
        if (const toml::Value* value = item.as_value()) same = same_value(*value, member, why);
        else if (const toml::Table* child = item.as_table()) same = same_table(*child, member, why);
        else {
            const toml::ArrayOfTables& tables = *item.as_array_of_tables();
            same = member.is_array() && member.size() == tables.size();
            for (std::size_t i = 0; same && i < tables.size(); ++i) same = same_table(tables[i], member[i], why);
        }
        if (!same) return why = entry.key() + ": " + why, false;
    }
    return true;
}

bool same_value(const toml::Value& value, const json& expected, std::string& why) {
    if (value.is_array()) {
        if (!expected.is_array() || expected.size() != value.as_array().size()) return why = "array differs", false;
        for (std::size_t i = 0; i < expected.size(); ++i)
            if (!same_value(value.as_array()[i], expected[i], why)) return false;
        return true;
    }
    if (value.is_inline_table()) {
        const toml::InlineTable& table = value.as_inline_table();
        if (!expected.is_object() || is_scalar(expected) || expected.size() != table.size())
            return why = "inline table differs", false;
        for (const auto& [key, member] : table)
            if (!expected.contains(key) || !same_value(member, expected[key], why)) return why = key + ": " + why, false;
        return true;
    }
    if (!is_scalar(expected)) return why = "value where a table was expected", false;
    std::string type = expected["type"];
    std::string text = expected["value"];
    switch (value.kind()) {
    case toml::Value::Kind::string:
        if (type == "string" && value.as_string() == text) return true;
        break;
    case toml::Value::Kind::integer:
        if (type == "integer" && std::to_string(value.as_integer()) == text) return true;
        break;
    case toml::Value::Kind::floating: {
        double want = std::strtod(text.c_str(), nullptr);
        double got = value.as_float();
        if (type == "float" && ((std::isnan(want) && std::isnan(got)) || want == got)) return true;
        break;
    }
    case toml::Value::Kind::boolean:
        if (type == "bool" && (value.as_bool() ? "true" : "false") == text) return true;
        break;
    case toml::Value::Kind::datetime:
        if (type == kind_name(value.as_datetime().kind) &&
            normal_datetime(value.as_datetime().text) == normal_datetime(text))
            return true;
        break;
    default: break;
    }
    why = "got " + value.text() + ", expected " + type + " " + text;
    return false;
}

TEST(TomlConformance, WholeSuiteParsesRefusesAndRoundTrips) {
    const std::optional<fs::path> found = suite_dir();
    if (!found) {
        std::cout << "toml conformance: skipped — no copy of the toml-test suite here; "
                     "set TOML_TEST_DIR to one to run it\n";
        GTEST_SKIP();
    }
    const fs::path& suite = *found;
    const bool pinned = std::getenv("TOML_TEST_DIR") == nullptr || !*std::getenv("TOML_TEST_DIR");
    std::ifstream list(suite / "files-toml-1.1.0");
    ASSERT_TRUE(list) << "missing " << suite / "files-toml-1.1.0";
    std::size_t valid = 0, valid_ok = 0, invalid = 0, invalid_ok = 0, round_ok = 0;
    std::string name;
    while (std::getline(list, name)) {
        if (name.size() < 5 || name.substr(name.size() - 5) != ".toml") continue;
        std::string text = read_file(suite / name);
        auto document = toml::parse(text);
        if (name.rfind("valid/", 0) == 0) {
            ++valid;
            if (!document) {
                ADD_FAILURE() << name << ": refused at " << document.error().offset << ": "
                              << document.error().message;
                continue;
            }
            json expected = json::parse(read_file(suite / (name.substr(0, name.size() - 5) + ".json")));
            std::string why;
            if (same_table(document->root(), expected, why)) ++valid_ok;
            else ADD_FAILURE() << name << ": " << why;
            if (document->render() == text) ++round_ok;
            else ADD_FAILURE() << name << ": renders differently:\n" << document->render();
        } else {
            ++invalid;
            if (document) ADD_FAILURE() << name << ": accepted";
            else if (document.error().offset > text.size()) ADD_FAILURE() << name << ": offset past the end";
            else ++invalid_ok;
        }
    }
    std::cout << "toml conformance: " << valid_ok << "/" << valid << " valid, " << invalid_ok << "/" << invalid
              << " invalid, " << round_ok << "/" << valid << " round-trip\n";
    // The copy beside the project is the version these counts belong to;
    // another copy may have more or fewer files, but never none.
    if (pinned) {
        EXPECT_EQ(valid, 220u);
        EXPECT_EQ(invalid, 492u);
    }
    EXPECT_GT(valid, 0u);
    EXPECT_GT(invalid, 0u);
    EXPECT_EQ(valid_ok, valid);
    EXPECT_EQ(invalid_ok, invalid);
    EXPECT_EQ(round_ok, valid);
}

}  // namespace
