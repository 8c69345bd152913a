#include "synth/seed_source.h"

#include <atomic>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace {

std::atomic<bool> g_fixed{false};
std::atomic<uint32_t> g_next{0};

uint32_t varying_word()
{
#if defined(__x86_64__) || defined(__i386__)
    return static_cast<uint32_t>(__rdtsc());
#else
    return static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

}  // namespace

void seed_source_fix(uint32_t seed)
{
    g_next.store(seed);
    g_fixed.store(true);
}

void seed_source_vary()
{
    g_fixed.store(false);
}

bool seed_source_is_fixed()
{
    return g_fixed.load();
}

uint32_t seed_source_read()
{
    if (g_fixed.load()) return g_next.fetch_add(1u);
    return varying_word();
}
