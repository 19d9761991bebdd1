#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Locale-free conversions between numbers and text. Qt sets the C library's numeric
// locale from the environment, so strtod/printf would read and write "293,50" under a
// German locale; everything in Quillon that turns text into numbers or back goes through
// these two functions instead.

// Reads the longest decimal prefix of `text` after leading white space: an optional sign,
// digits with an optional "." and fraction, and an optional exponent ("e"/"E", optional
// sign, at least one digit). "." is the only decimal point. Text without such a prefix
// reads as 0, and so do "nan", "inf" and hexadecimal text ("0x1A" reads as 0). A prefix
// beyond the range of a double reads as +-infinity only when its digits say so (1e999).
double parseDecimal(std::string_view text);

// Whether the whole of `text` is one decimal number as parseDecimal reads it (sign, digits
// with an optional "." and fraction or "." and digits, optional exponent), nothing before or
// after it: "-3.5", "1e3", ".5"; not "", "abc", "nan", "inf", "0x19", " 25", "25 dB".
bool isDecimalText(std::string_view text);

// The same as printf("%.*f", decimals, value) in the "C" locale: "-0.500", "12",
// "inf", "-inf", "nan", "-nan" (glibc's spelling of infinities and NaNs).
// `decimals` is clamped to 0..17.
std::string formatFixed(double value, int decimals);

// The shortest text that parseDecimal reads back as exactly `value`: "0.30000000000000004",
// "25", "1e-300". Infinities and NaNs are spelled as formatFixed spells them.
std::string formatShortest(double value);

} // namespace quillon
