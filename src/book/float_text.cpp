#include "book/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L

namespace {

char *repeat_zeros(char *to, int count) {
    for (; count > 0; --count)
        *to++ = '0';
    return to;
}

char *copy(char *to, const char *from, std::size_t length) {
    std::memcpy(to, from, length);
    return to + length;
}

// The digits of `number` (below 10**15) before `end`; returns where they start.
char *whole_digits(char *end, unsigned long long number) {
    do {
        *--end = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number);
    return end;
}

// The text of a double that is exactly a decimal with few digits (a whole
// number, 0.5, 2.25, 1500.0), or 0 for any other. Such a decimal, of at most
// 15 significant digits and with as few decimals as it takes, is the
// shortest text that reads back as x, which repr writes with a point from
// 1e-4 up to below 1e16.
std::size_t short_decimal_text(double x, char (&text)[longest_float_text]) {
    const double magnitude = std::fabs(x);
    if (!(magnitude >= 1e-4 && magnitude < 1e15))
        return 0;
    constexpr int most_decimals = 6;
    double scale = 1;
    for (int decimals = 0; decimals <= most_decimals; ++decimals, scale *= 10) {
        const double scaled = std::nearbyint(magnitude * scale);
        if (scaled >= 1e15)
            return 0;
        // magnitude * scale, exact as fma computes it, is that whole number.
        if (std::fma(magnitude, scale, -scaled) != 0)
            continue;
        char digits[24];
        char *end = digits + sizeof digits;
        char *first = whole_digits(end, static_cast<unsigned long long>(scaled));
        const std::size_t count = static_cast<std::size_t>(end - first);
        const std::size_t point = static_cast<std::size_t>(decimals);
        char *to = text;
        if (x < 0)
            *to++ = '-';
        if (point == 0) {
            to = copy(to, first, count);
            to = copy(to, ".0", 2);
        } else if (count > point) {
            to = copy(to, first, count - point);
            *to++ = '.';
            to = copy(to, first + count - point, point);
        } else {
            to = copy(to, "0.", 2);
            to = repeat_zeros(to, static_cast<int>(point - count));
            to = copy(to, first, count);
        }
        return static_cast<std::size_t>(to - text);
    }
    return 0;
}

}  // namespace

std::size_t finite_float_text(double x, char (&text)[longest_float_text]) {
    if (const std::size_t length = short_decimal_text(x, text))
        return length;
    // The shortest digits that read back as x, the closest to x among them:
    // the digits repr shows, here as d.ddde±XX.
    char scientific[longest_float_text];
    const std::to_chars_result made =
        std::to_chars(scientific, scientific + sizeof scientific, x, std::chars_format::scientific);
    if (made.ec != std::errc())
        return 0;
    const char *at = scientific;
    char *to = text;
    if (*at == '-')
        *to++ = *at++;
    char digits[20];
    std::size_t count = 0;
    for (; at != made.ptr && *at != 'e'; ++at)
        if (*at != '.' && count < sizeof digits)
            digits[count++] = *at;
    if (at == made.ptr || count == 0 || count > 17)
        return 0;
    ++at;  // 'e'
    const bool negative_exponent = *at++ == '-';
    int exponent = 0;
    for (; at != made.ptr; ++at)
        exponent = exponent * 10 + (*at - '0');
    if (negative_exponent)
        exponent = -exponent;

    // repr lays them out with a point from 1e-4 up to below 1e16, else with an exponent.
    const int point = exponent + 1;  // digits before the decimal point
    if (point > -4 && point <= 16) {
        if (point <= 0) {
            to = copy(to, "0.", 2);
            to = repeat_zeros(to, -point);
            to = copy(to, digits, count);
        } else if (static_cast<std::size_t>(point) >= count) {
            to = copy(to, digits, count);
            to = repeat_zeros(to, point - static_cast<int>(count));
            to = copy(to, ".0", 2);
        } else {
            to = copy(to, digits, static_cast<std::size_t>(point));
            *to++ = '.';
            to = copy(to, digits + point, count - static_cast<std::size_t>(point));
        }
    } else {
        *to++ = digits[0];
        if (count > 1) {
            *to++ = '.';
            to = copy(to, digits + 1, count - 1);
        }
        *to++ = 'e';
        *to++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude >= 100)
            *to++ = static_cast<char>('0' + magnitude / 100);
        *to++ = static_cast<char>('0' + magnitude / 10 % 10);
        *to++ = static_cast<char>('0' + magnitude % 10);
    }
    return static_cast<std::size_t>(to - text);
}

#else

std::size_t finite_float_text(double, char (&)[longest_float_text]) { return 0; }

#endif
