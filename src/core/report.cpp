#include "core/report.h"

#include "json/json.h"
#include "util/escape.h"

namespace core {

void Reporter::write(std::ostream& stream, std::string_view a, std::string_view b,
                     std::string_view c) {
    stream << a << b << c;
    stream.clear();
}

void Reporter::write_line(std::ostream& stream, std::string_view prefix, std::string_view text) {
    // Names from the disk may hold a newline or an escape sequence: one line
    // stays one line, and nothing reaches the terminal as a control.
    if (util::needs_escape(text)) {
        write(stream, prefix, util::escaped(text), "\n");
    } else {
        write(stream, prefix, text, "\n");
    }
}

void Reporter::print_line(std::string_view text) { write_line(out_, {}, text); }

void Reporter::print_blank_line() { write(out_, "\n"); }

void Reporter::report_warning(std::string_view text) {
    ++warnings_;
    write_line(err_, "warning: ", text);
}

void Reporter::report_error(std::string_view text) {
    ++errors_;
    write_line(err_, "error: ", text);
}

void Reporter::print_json(const nlohmann::ordered_json& value) {
    auto text = json::print_pretty(value);
    write(out_, text ? *text : std::string("{}"), "\n");
}

void Reporter::print_json_part(std::string_view part) { write(out_, part); }

void Reporter::print_json_end() { write(out_, "\n"); }

}  // namespace core
