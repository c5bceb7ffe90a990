#include "services.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include "files.h"

namespace {

// Full-width forms become their ASCII counterparts before a text is read as a number.
Text narrowFullWidth(std::string_view in)
{
    Text out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            out += char(c);
            continue;
        }
        if (i + 1 >= in.size())
            break;  // a lead byte without its second byte is dropped
        unsigned char d = static_cast<unsigned char>(in[++i]);
        if (c == 0xA3 && d >= 0xA1 && d <= 0xFE)
            out += char(d & 0x7F);
        else if (c == 0xA1 && d == 0xA1)
            out += ' ';
        else if (c == 0xA1 && d == 0xAB)
            out += '~';
        else if (c == 0xA1 && (d == 0xEE || d == 0xEF))
            out += '*';
        else {
            out += char(c);
            out += char(d);
        }
    }
    return out;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The longest decimal number at the start, after white space; 0 when there is none.
double readDecimal(std::string_view s)
{
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\v' || s[i] == '\f' || s[i] == '\r'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    std::string number;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i]))
        number += s[i++], ++digits;
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        while (i < s.size() && isDigit(s[i]))
            number += s[i++], ++digits;
    }
    if (digits == 0)
        return 0.0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponent += s[j++];
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j]))
                exponent += s[j++];
            number += exponent;
        }
    }
    double v = 0.0;
    auto r = std::from_chars(number.data(), number.data() + number.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Overflow reads as infinity and underflow as zero, as the C library does.
        bool tiny = number.find("e-") != std::string::npos;
        v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -v : v;
}

} // namespace

double ToNumber(const Value& value)
{
    switch (value.kind()) {
    case Value::Kind::integer: return double(std::get<int64_t>(value.raw()));
    case Value::Kind::number: return std::get<double>(value.raw());
    case Value::Kind::boolean: return std::get<bool>(value.raw()) ? 1.0 : 0.0;
    case Value::Kind::text: return readDecimal(narrowFullWidth(std::get<Text>(value.raw())));
    default: return 0.0;
    }
}

Text ToText(const Value& value)
{
    switch (value.kind()) {
    case Value::Kind::integer: return std::to_string(std::get<int64_t>(value.raw()));
    case Value::Kind::boolean: return std::get<bool>(value.raw()) ? "真" : "假";
    case Value::Kind::text: return std::get<Text>(value.raw());
    case Value::Kind::bytes: {
        std::string_view b = std::get<ByteSet>(value.raw()).bytes;
        return Text(b.substr(0, b.find('\0')));
    }
    case Value::Kind::number: {
        // No handler shows a double; the shortest exact form serves.
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, std::get<double>(value.raw()));
        return Text(buf, r.ptr);
    }
    default: return Text();
    }
}

int64_t TruncateToInt64(double value)
{
    // 2^63 is exactly representable; everything from there up, and NaN, is out of range.
    if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(std::trunc(value));
}

Text Value::text() const
{
    if (const Text* t = std::get_if<Text>(&v_))
        return *t;
    return Text();
}

int64_t Value::integer() const
{
    switch (kind()) {
    case Kind::integer: return std::get<int64_t>(v_);
    case Kind::boolean: return std::get<bool>(v_) ? 1 : 0;
    case Kind::number: return TruncateToInt64(std::get<double>(v_));
    default: return 0;
    }
}

bool Value::boolean() const
{
    switch (kind()) {
    case Kind::boolean: return std::get<bool>(v_);
    case Kind::integer: return std::get<int64_t>(v_) != 0;
    default: return false;
    }
}

bool WriteBytesToFile(const Text& path, std::initializer_list<ByteSet> sets)
{
    std::vector<std::string_view> parts;
    parts.reserve(sets.size());
    for (const ByteSet& b : sets)
        parts.push_back(b.bytes);
    return WriteBytesToFile(path, std::span<const std::string_view>(parts));
}
