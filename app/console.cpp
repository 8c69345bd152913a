#include "app/console.h"

#include <cstdio>

namespace {

constexpr int kNumberScratch = 12;  // up to 10 digits, a sign and the terminator

int32_t text_length(const char* text)
{
    int32_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

}  // namespace

void con_putc(char** target, char c)
{
    if (target == nullptr) {
        std::putchar(static_cast<unsigned char>(c));
        return;
    }
    **target = c;
    ++*target;
}

int32_t con_pad_string(char** target, const char* text, int32_t width, uint32_t flags)
{
    char pad = ' ';
    int32_t pads = 0;
    int32_t count = 0;
    if (width > 0) {
        const int32_t length = text_length(text);
        pads = length >= width ? 0 : width - length;
        if ((flags & kConZeroPad) != 0) pad = '0';
    }
    if ((flags & kConLeftJustify) == 0) {
        for (; pads > 0; --pads, ++count) con_putc(target, pad);
    }
    for (; *text != '\0'; ++text, ++count) con_putc(target, *text);
    for (; pads > 0; --pads, ++count) con_putc(target, pad);
    return count;
}

int32_t con_format_number(char** target, uint32_t value, uint32_t base, bool is_signed, int32_t width, uint32_t flags,
                          char letter)
{
    if (value == 0) return con_pad_string(target, "0", width, flags);

    char scratch[kNumberScratch];
    char* digits = scratch + kNumberScratch - 1;
    *digits = '\0';
    bool negative = false;
    uint32_t magnitude = value;
    if (is_signed && base == 10 && static_cast<int32_t>(value) < 0) {
        negative = true;
        magnitude = 0u - value;
    }
    while (magnitude != 0) {
        const uint32_t digit = magnitude % base;
        *--digits =
            static_cast<char>(digit > 9 ? letter + static_cast<char>(digit - 10) : '0' + static_cast<char>(digit));
        magnitude /= base;
    }

    int32_t count = 0;
    if (negative) {
        if (width != 0 && (flags & kConZeroPad) != 0) {
            // The zeros go between the sign and the digits.
            con_putc(target, '-');
            ++count;
            --width;
        } else {
            *--digits = '-';
        }
    }
    return count + con_pad_string(target, digits, width, flags);
}

int32_t con_format(char** target, const char* format, va_list arguments)
{
    int32_t count = 0;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            con_putc(target, *p);
            ++count;
            continue;
        }
        ++p;
        if (*p == '\0') break;
        if (*p == '%') {
            con_putc(target, '%');
            ++count;
            continue;
        }
        uint32_t flags = 0;
        uint32_t width = 0;  // wraps rather than overflows on an absurd width
        if (*p == '-') {
            flags |= kConLeftJustify;
            ++p;
        }
        for (; *p == '0'; ++p) flags |= kConZeroPad;
        for (; *p >= '0' && *p <= '9'; ++p) width = width * 10 + static_cast<uint32_t>(*p - '0');
        // A format that ends after the flags or the width ends here too.
        if (*p == '\0') break;
        const int32_t field = static_cast<int32_t>(width);
        switch (*p) {
        case 's': {
            const char* text = va_arg(arguments, const char*);
            count += con_pad_string(target, text != nullptr ? text : "(null)", field, flags);
            break;
        }
        case 'd':
            count += con_format_number(target, va_arg(arguments, uint32_t), 10, true, field, flags, 'a');
            break;
        case 'u':
            count += con_format_number(target, va_arg(arguments, uint32_t), 10, false, field, flags, 'a');
            break;
        case 'x':
            count += con_format_number(target, va_arg(arguments, uint32_t), 16, false, field, flags, 'a');
            break;
        case 'X':
            count += con_format_number(target, va_arg(arguments, uint32_t), 16, false, field, flags, 'A');
            break;
        case 'c': {
            const char text[2] = {static_cast<char>(va_arg(arguments, uint32_t) & 0xFFu), '\0'};
            count += con_pad_string(target, text, field, flags);
            break;
        }
        default:
            break;  // unknown: nothing written, no argument taken
        }
    }
    if (target != nullptr) **target = '\0';
    return count;
}

int32_t con_printf(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int32_t count = con_format(nullptr, format, arguments);
    va_end(arguments);
    return count;
}

int32_t con_sprintf(char* buffer, const char* format, ...)
{
    char* cursor = buffer;
    va_list arguments;
    va_start(arguments, format);
    const int32_t count = con_format(&cursor, format, arguments);
    va_end(arguments);
    return count;
}
