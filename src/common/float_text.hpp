// Decimal text for floats as the module prints them: positional notation only,
// never an exponent, and the non-finite values spelled NaN, inf and -inf.
#pragma once

#include <string>

namespace tamlor::text {

// Appends the shortest decimal that reads back as `value`, laid out
// positionally with no forced fraction: 1.0 -> "1", 0.25 -> "0.25",
// 1e20 -> "100000000000000000000", -0.0 -> "-0".
void append_shortest(std::string& out, double value);

// Appends `value` rounded to exactly `decimals` places ("{:.N}").
void append_fixed(std::string& out, double value, int decimals);

std::string shortest(double value);

// The plain text of a flag: "true" or "false".
inline const char* bool_text(bool value) { return value ? "true" : "false"; }
std::string fixed(double value, int decimals);

}  // namespace tamlor::text
