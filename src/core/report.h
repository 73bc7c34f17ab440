// The output sink every command writes through.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace core {

class Reporter {
public:
    Reporter(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    // "{}\n" on standard output. In these three, control characters and
    // bytes that are not UTF-8 are written as escapes (\n, \u{1b}, \xff).
    void print_line(std::string_view text);
    void print_blank_line();
    // "warning: {}\n" on standard error, counted.
    void report_warning(std::string_view text);
    // "error: {}\n" on standard error, counted.
    void report_error(std::string_view text);
    // The value pretty-printed with a two-space indent, then "\n".
    void print_json(const nlohmann::ordered_json& value);
    // A JSON document already printed in that layout, handed over in parts
    // as it is written: each part as it stands (its string escapes are its
    // own, so nothing more is escaped), then print_json_end() for the "\n".
    void print_json_part(std::string_view part);
    void print_json_end();

    std::uint64_t errors() const { return errors_; }
    std::uint64_t warnings() const { return warnings_; }

private:
    // A failed write is dropped: the run goes on and the counts stand.
    static void write(std::ostream& stream, std::string_view a, std::string_view b = {},
                      std::string_view c = {});
    // `prefix`, the text with its control characters and broken bytes
    // escaped, and "\n".
    static void write_line(std::ostream& stream, std::string_view prefix, std::string_view text);

    std::ostream& out_;
    std::ostream& err_;
    std::uint64_t errors_ = 0;
    std::uint64_t warnings_ = 0;
};

}  // namespace core
