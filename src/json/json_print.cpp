// The pretty printer: two-space indent, keys in their order, floats in the
// shortest text that reads back as the same float.
#include <cmath>
#include <cstdio>
#include <string>
#include <system_error>

#include "json/json.h"
#include "util/float_digits.h"
#include "util/utf8.h"

namespace json {

namespace {

// Shortest round-trip digits, written out in full for ordinary magnitudes
// (1e15 as 1000000000000000.0) and with an exponent only beyond them
// (1e16, 1.5e-7); a whole float keeps ".0" so it reads back as a float.
void append_float(std::string& out, double d) {
    if (!std::isfinite(d)) {
        out += "null";
        return;
    }
    const auto [negative, digits, point] = util::shortest_digits(d);
    if (negative) out += '-';
    // value = 0.digits * 10^point
    const int length = static_cast<int>(digits.size());
    if (length <= point && point <= 16) {
        out += digits;
        out.append(static_cast<std::size_t>(point - length), '0');
        out += ".0";
    } else if (0 < point && point <= 16) {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(point));
    } else if (-5 < point && point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else {
        out += digits.substr(0, 1);
        if (length > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'e';
        out += std::to_string(point - 1);
    }
}

bool append_string(std::string& out, std::string_view s) {
    if (!util::is_utf8(s)) return false;
    out += '"';
    std::size_t run = 0;  // start of the bytes not yet copied, which need no escape
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20) continue;
        out.append(s, run, i - run);
        run = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
            out += esc;
        }
        }
    }
    out.append(s, run, s.size() - run);
    out += '"';
    return true;
}

struct Printer {
    std::string out;
    std::string error;

    bool value(const Value& v, std::size_t depth) {
        switch (v.type()) {
        case nlohmann::json::value_t::object: return object(v.get_ref<const Value::object_t&>(), depth);
        case nlohmann::json::value_t::array: return array(v.get_ref<const Value::array_t&>(), depth);
        case nlohmann::json::value_t::string:
            return append_string(out, v.get_ref<const std::string&>()) || fail("invalid UTF-8 in a string");
        case nlohmann::json::value_t::boolean: out += v.get<bool>() ? "true" : "false"; return true;
        case nlohmann::json::value_t::number_integer: out += std::to_string(v.get<std::int64_t>()); return true;
        case nlohmann::json::value_t::number_unsigned: out += std::to_string(v.get<std::uint64_t>()); return true;
        case nlohmann::json::value_t::number_float: append_float(out, v.get<double>()); return true;
        case nlohmann::json::value_t::null: out += "null"; return true;
        default:
            if (auto text = number_text_of(v)) {
                out += *text;
                return true;
            }
            return fail("a value that JSON text cannot hold");
        }
    }

    bool object(const Value::object_t& map, std::size_t depth) {
        return container(map, '{', '}', depth, [&](const auto& member) {
            if (!append_string(out, member.first)) return fail("invalid UTF-8 in an object key");
            out += ": ";
            return value(member.second, depth + 1);
        });
    }

    bool array(const Value::array_t& items, std::size_t depth) {
        return container(items, '[', ']', depth, [&](const Value& item) { return value(item, depth + 1); });
    }

    // The brackets alone when empty; else each item on a line of its own,
    // one level in, written by `each`.
    template <class Items, class Each>
    bool container(const Items& items, char open, char close, std::size_t depth, Each each) {
        out += open;
        if (!items.empty()) {
            bool first = true;
            for (const auto& item : items) {
                out += first ? "\n" : ",\n";
                first = false;
                indent(depth + 1);
                if (!each(item)) return false;
            }
            out += '\n';
            indent(depth);
        }
        out += close;
        return true;
    }

    void indent(std::size_t depth) { out.append(2 * depth, ' '); }

    bool fail(std::string message) {
        error = std::move(message);
        return false;
    }
};

}  // namespace

util::Result<std::string> print_pretty(const Value& value) {
    Printer printer;
    if (!printer.value(value, 0)) return util::error(std::move(printer.error));
    return std::move(printer.out);
}

void PrettyWriter::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (filled_.empty()) return;
    out_ += filled_.back() ? ",\n" : "\n";
    filled_.back() = true;
    out_.append(2 * filled_.size(), ' ');
}

void PrettyWriter::close(char bracket) {
    const bool filled = filled_.back();
    filled_.pop_back();
    if (filled) {
        out_ += '\n';
        out_.append(2 * filled_.size(), ' ');
    }
    out_ += bracket;
    spill();
}

void PrettyWriter::spill() {
    constexpr std::size_t piece = 64 * 1024;
    if (!sink_ || out_.size() < piece) return;
    sink_(out_);
    out_.clear();
}

void PrettyWriter::text(std::string_view text) {
    if (append_string(out_, text)) return;
    if (sink_) append_string(out_, util::lossy_utf8(text));
    else failed_ = true;
}

void PrettyWriter::begin_object() {
    before_value();
    out_ += '{';
    filled_.push_back(false);
}

void PrettyWriter::end_object() { close('}'); }

void PrettyWriter::begin_array() {
    before_value();
    out_ += '[';
    filled_.push_back(false);
}

void PrettyWriter::end_array() { close(']'); }

void PrettyWriter::key(std::string_view name) {
    before_value();
    text(name);
    out_ += ": ";
    after_key_ = true;
}

void PrettyWriter::string(std::string_view value) {
    before_value();
    text(value);
}

void PrettyWriter::boolean(bool value) {
    before_value();
    out_ += value ? "true" : "false";
}

void PrettyWriter::number(std::uint64_t value) {
    before_value();
    out_ += std::to_string(value);
}

util::Result<std::string> PrettyWriter::finish() && {
    if (failed_) return util::error("invalid UTF-8 in a string");
    if (!sink_) return std::move(out_);
    if (!out_.empty()) sink_(out_);
    return std::string();
}

}  // namespace json
