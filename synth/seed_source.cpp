#include "synth/seed_source.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace {

uint32_t varying_word()
{
#if defined(__x86_64__) || defined(__i386__)
    return static_cast<uint32_t>(__rdtsc());
#else
    return static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

}  // namespace

void seed_source_fix(SeedSource& source, uint32_t seed)
{
    source.next = seed;
    source.fixed = 1;
}

void seed_source_vary(SeedSource& source)
{
    source.fixed = 0;
}

bool seed_source_is_fixed(const SeedSource& source)
{
    return source.fixed != 0;
}

uint32_t seed_source_read(SeedSource& source)
{
    if (source.fixed == 0) return varying_word();
    return source.next++;
}

bool seed_source_parse(const char* text, uint32_t& seed)
{
    if (text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) return false;
    seed = static_cast<uint32_t>(value);
    return true;
}
