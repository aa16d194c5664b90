#include "common/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace tamlor::text {
namespace {

// Writes the non-finite spellings; returns false for finite values.
bool append_non_finite(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return true;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return true;
    }
    return false;
}

}  // namespace

void append_shortest(std::string& out, double value) {
    if (append_non_finite(out, value)) return;

    // Scientific form gives the shortest round-trip digits and their exponent
    // ("d.ddde+XX"); fixed form would print the exact binary expansion of large
    // values (2**70 as 1180591620717411303424) instead of the shortest digits.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));

    std::size_t pos = 0;
    if (sci[pos] == '-') {
        out += '-';
        ++pos;
    }
    std::size_t e_at = sci.find('e');
    std::string digits;
    for (std::size_t i = pos; i < e_at; ++i)
        if (sci[i] != '.') digits += sci[i];
    int exponent = std::atoi(std::string(sci.substr(e_at + 1)).c_str());

    // value = d1.d2d3... x 10^exponent
    const int n = static_cast<int>(digits.size());
    if (exponent >= 0) {
        const int int_len = exponent + 1;
        if (n <= int_len) {
            out += digits;
            out.append(static_cast<std::size_t>(int_len - n), '0');
        } else {
            out.append(digits, 0, static_cast<std::size_t>(int_len));
            out += '.';
            out.append(digits, static_cast<std::size_t>(int_len), std::string::npos);
        }
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    }
}

void append_fixed(std::string& out, double value, int decimals) {
    if (append_non_finite(out, value)) return;
    // The largest double has 309 integral digits.
    std::string buf(static_cast<std::size_t>(320 + decimals), '\0');
    auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                             std::chars_format::fixed, decimals);
    out.append(buf.data(), static_cast<std::size_t>(res.ptr - buf.data()));
}

std::string shortest(double value) {
    std::string s;
    append_shortest(s, value);
    return s;
}

std::string fixed(double value, int decimals) {
    std::string s;
    append_fixed(s, value, decimals);
    return s;
}

}  // namespace tamlor::text
