#include "core/report.h"

#include "json/json.h"

namespace core {

void Reporter::write(std::ostream& stream, std::string_view a, std::string_view b,
                     std::string_view c) {
    stream << a << b << c;
    stream.clear();
}

void Reporter::print_line(std::string_view text) { write(out_, text, "\n"); }

void Reporter::print_blank_line() { write(out_, "\n"); }

void Reporter::report_warning(std::string_view text) {
    ++warnings_;
    write(err_, "warning: ", text, "\n");
}

void Reporter::report_error(std::string_view text) {
    ++errors_;
    write(err_, "error: ", text, "\n");
}

void Reporter::print_json(const nlohmann::ordered_json& value) {
    auto text = json::print_pretty(value);
    write(out_, text ? *text : std::string("{}"), "\n");
}

}  // namespace core
