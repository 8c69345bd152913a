// Counts in messages agree with their nouns: "1 byte", "2 bytes"
// (printf("%zu byte%s", n, plural_s(n))).
#pragma once

#include <cstdint>

constexpr const char* plural_s(uint64_t count)
{
    return count == 1 ? "" : "s";
}
