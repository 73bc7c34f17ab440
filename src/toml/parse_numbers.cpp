// Integers, floats, and dates and times.
#include <charconv>
#include <cmath>
#include <limits>

#include "toml/parser.h"

namespace toml {

namespace {

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Digits with single "_" between them, in the given base; false on any other text.
bool digits_with_underscores(std::string_view text, int base, std::string& clean) {
    if (text.empty()) return false;
    bool last_digit = false;
    for (char c : text) {
        bool digit = base == 16 ? is_hex(c) : (c >= '0' && c < static_cast<char>('0' + base));
        if (c == '_') {
            if (!last_digit) return false;
            last_digit = false;
        } else if (digit) {
            clean += c;
            last_digit = true;
        } else {
            return false;
        }
    }
    return last_digit;
}

}  // namespace

Value Parser::number_or_date() {
    std::size_t start = p_;
    bool date = is_digit(peek()) && is_digit(peek(1)) && is_digit(peek(2)) && is_digit(peek(3)) && peek(4) == '-';
    bool time = is_digit(peek()) && is_digit(peek(1)) && peek(2) == ':';
    if (date || time) return date_time(start);
    while (!ends_value(peek())) ++p_;
    return number(start, p_);
}

Value Parser::number(std::size_t start, std::size_t end) {
    std::string_view text = s_.substr(start, end - start);
    std::string_view body = text;
    bool negative = false;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    if (body == "inf") return Value::floating(negative ? -INFINITY : INFINITY);
    if (body == "nan") return Value::floating(negative ? -NAN : NAN);

    if (body.size() > 1 && body[0] == '0' && (body[1] == 'x' || body[1] == 'o' || body[1] == 'b')) {
        if (body.size() != text.size()) fail(start, "a sign is not allowed on a hexadecimal, octal or binary integer");
        int base = body[1] == 'x' ? 16 : body[1] == 'o' ? 8 : 2;
        std::string clean;
        if (!digits_with_underscores(body.substr(2), base, clean)) fail(start, "invalid integer");
        std::uint64_t number = 0;
        auto res = std::from_chars(clean.data(), clean.data() + clean.size(), number, base);
        if (res.ec != std::errc() || number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            fail(start, "integer out of range");
        return Value::integer(static_cast<std::int64_t>(number));
    }

    // Decimal: integer part, then an optional fraction and exponent.
    std::size_t int_end = body.find_first_of(".eE");
    std::string_view int_part = body.substr(0, int_end);
    std::string clean(negative ? "-" : "");
    if (!digits_with_underscores(int_part, 10, clean)) fail(start, "invalid number");
    if (int_part.size() > 1 && int_part[0] == '0') fail(start, "leading zeros are not allowed");
    if (int_end == std::string_view::npos) {
        std::int64_t number = 0;
        auto res = std::from_chars(clean.data(), clean.data() + clean.size(), number);
        if (res.ec != std::errc()) fail(start, "integer out of range");
        return Value::integer(number);
    }
    std::string_view rest = body.substr(int_end);
    if (rest[0] == '.') {
        std::size_t frac_end = rest.find_first_of("eE");
        clean += '.';
        if (!digits_with_underscores(rest.substr(1, frac_end == std::string_view::npos ? rest.npos : frac_end - 1), 10,
                                     clean))
            fail(start, "invalid float");
        rest = frac_end == std::string_view::npos ? std::string_view() : rest.substr(frac_end);
    }
    if (!rest.empty()) {
        clean += 'e';
        rest.remove_prefix(1);
        if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
            clean += rest[0];
            rest.remove_prefix(1);
        }
        if (!digits_with_underscores(rest, 10, clean)) fail(start, "invalid float");
    }
    double number = 0;
    auto res = std::from_chars(clean.data(), clean.data() + clean.size(), number);
    if (res.ec == std::errc::result_out_of_range) {
        // Too small rounds to zero; too big is no float.
        std::size_t e = clean.find('e');
        if (e == std::string::npos || clean[e + 1] != '-') fail(start, "float out of range");
        number = negative ? -0.0 : 0.0;
    } else if (res.ec != std::errc() || res.ptr != clean.data() + clean.size()) {
        fail(start, "invalid float");
    }
    return Value::floating(number);
}

Value Parser::date_time(std::size_t start) {
    auto two = [&](int max, const char* what) {
        if (!is_digit(peek()) || !is_digit(peek(1))) fail(std::string("expected two digits for the ") + what);
        int n = (peek() - '0') * 10 + (peek(1) - '0');
        if (n > max) fail(std::string("invalid ") + what);
        p_ += 2;
        return n;
    };
    auto expect = [&](char c) {
        if (peek() != c) fail(std::string("expected `") + c + "` in the date or time");
        ++p_;
    };
    std::string text;
    bool has_date = peek(4) == '-';
    bool has_time = !has_date;
    if (has_date) {
        int year = 0;
        for (int i = 0; i < 4; ++i) year = year * 10 + (peek(i) - '0');
        p_ += 4;
        expect('-');
        int month = two(12, "month");
        expect('-');
        std::size_t day_at = p_;
        int day = two(31, "day");
        if (month == 0 || day == 0 || day > days_in_month(year, month)) fail(day_at, "invalid date");
        text = std::string(s_.substr(start, p_ - start));
        char sep = peek();
        if (sep == 'T' || sep == 't' || (sep == ' ' && is_digit(peek(1)) && is_digit(peek(2)) && peek(3) == ':')) {
            ++p_;
            has_time = true;
            text += 'T';
        }
    }
    if (has_time) {
        std::size_t time_start = p_;
        two(23, "hour");
        expect(':');
        two(59, "minute");
        text += s_.substr(time_start, p_ - time_start);
        if (peek() == ':') {
            std::size_t at = p_;
            ++p_;
            two(60, "second");
            text += s_.substr(at, p_ - at);
            if (peek() == '.') {
                std::size_t frac = p_++;
                if (!is_digit(peek())) fail("expected digits after `.`");
                while (is_digit(peek())) ++p_;
                text += s_.substr(frac, p_ - frac);
            }
        } else {
            text += ":00";
        }
    }
    DatetimeKind kind = has_date ? (has_time ? DatetimeKind::local_datetime : DatetimeKind::local_date)
                                 : DatetimeKind::local_time;
    if (has_date && has_time) {
        if (peek() == 'Z' || peek() == 'z') {
            ++p_;
            text += 'Z';
            kind = DatetimeKind::offset_datetime;
        } else if (peek() == '+' || peek() == '-') {
            std::size_t at = p_++;
            two(23, "offset hour");
            expect(':');
            two(59, "offset minute");
            text += s_.substr(at, p_ - at);
            kind = DatetimeKind::offset_datetime;
        }
    }
    if (!ends_value(peek())) fail("invalid date or time");
    return Value::datetime(Datetime{kind, std::move(text)});
}

}  // namespace toml
