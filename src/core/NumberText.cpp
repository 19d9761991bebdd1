#include "core/NumberText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace quillon {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// For a numeral out of a double's range (digits, optional point, optional exponent; at
// least one nonzero digit): whether its magnitude is below 1, i.e. it underflows rather than
// overflows. The decimal exponent of the first nonzero digit decides, not the exponent's
// sign alone: "0.<400 zeros>1" has none and "1<400 zeros>e-100" a negative one.
bool underflows(std::string_view numeral)
{
    const std::size_t e = numeral.find_first_of("eE");
    const std::string_view mantissa = numeral.substr(0, e);
    // Decimal exponent of the mantissa's first nonzero digit, counted from the point.
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t firstNonZero = mantissa.find_first_not_of("0.");
    if (firstNonZero == std::string_view::npos)
        return true; // all zeros: cannot be out of range; read as 0
    long long exponent = firstNonZero < point ? static_cast<long long>(point - firstNonZero) - 1
                                              : -static_cast<long long>(firstNonZero - point);
    if (e != std::string_view::npos) {
        std::size_t j = e + 1;
        const bool minus = j < numeral.size() && numeral[j] == '-';
        if (j < numeral.size() && (numeral[j] == '+' || numeral[j] == '-'))
            ++j;
        long long written = 0; // saturates: beyond 10^9 the answer no longer changes
        for (; j < numeral.size(); ++j)
            written = std::min(written * 10 + (numeral[j] - '0'), 1'000'000'000LL);
        exponent += minus ? -written : written;
    }
    return exponent < 0;
}

} // namespace

double parseDecimal(std::string_view text)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                     text[i] == '\v' || text[i] == '\f'))
        ++i;

    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    std::size_t digits = 0;
    while (i < n && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    std::size_t end = i;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j]))
                ++j;
            end = j;
        }
    }

    double value = 0.0;
    const char *first = text.data() + start;
    const char *last = text.data() + end;
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value untouched on range errors; strtod gives 0 for a
        // numeral too small for a double and HUGE_VAL for one too large.
        value = underflows(std::string_view(first, static_cast<std::size_t>(last - first)))
                    ? 0.0
                    : HUGE_VAL;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::string formatFixed(double value, int decimals)
{
    decimals = std::clamp(decimals, 0, 17);
    if (std::isnan(value))
        return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    // The widest finite double in fixed notation has 309 integer digits.
    std::array<char, 352> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    return std::string(buffer.data(), result.ptr);
}

std::string formatShortest(double value)
{
    if (!std::isfinite(value))
        return formatFixed(value, 0);
    std::array<char, 32> buffer{}; // the longest shortest form has 24 characters
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

bool isDecimalText(std::string_view t)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            ++i;
        return i - start;
    };
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    std::size_t mantissa = digits();
    if (i < t.size() && t[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == t.size();
}

} // namespace quillon
