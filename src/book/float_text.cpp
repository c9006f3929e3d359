#include "book/float_text.hpp"

#include <charconv>
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

}  // namespace

std::size_t finite_float_text(double x, char (&text)[longest_float_text]) {
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
