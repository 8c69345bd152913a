#include "synth/voice_lanes.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

#if defined(__x86_64__)
// Register state the system saves across task switches (XCR0): SSE and AVX
// registers, then the AVX-512 mask and upper registers as well.
constexpr uint64_t kAvxState = 0x6;
constexpr uint64_t kAvx512State = 0xE6;
constexpr unsigned kOsSavesState = 1u << 27;  // CPUID 1, ECX: OSXSAVE
constexpr unsigned kAvx = 1u << 28;           // CPUID 1, ECX
constexpr unsigned kAvx2 = 1u << 5;           // CPUID 7, EBX
constexpr unsigned kAvx512F = 1u << 16;       // CPUID 7, EBX

// Asked of the processor directly: the compiler's own feature probe costs
// the player kilobytes.
bool machine_has(LaneFeature feature)
{
    if (feature == kLaneSse2) return true;
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || (c & (kOsSavesState | kAvx)) != (kOsSavesState | kAvx)) return false;
    unsigned low, high;
    asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    const uint64_t state = (static_cast<uint64_t>(high) << 32) | low;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    if (feature == kLaneAvx2) return (state & kAvxState) == kAvxState && (b & kAvx2) != 0;
    return (state & kAvx512State) == kAvx512State && (b & kAvx512F) != 0 && (b & kAvx2) != 0;
}
#else
bool machine_has(LaneFeature)
{
    return false;
}
#endif

}  // namespace

VoiceLanesRender voice_lanes_renderer(int width)
{
    int count = 0;
    const VoiceLanesBuild* builds = voice_lanes_builds(count);
    for (int k = 0; k < count; ++k) {
        if (builds[k].width == width) return machine_has(builds[k].feature) ? builds[k].render : nullptr;
    }
    return nullptr;
}

int voice_lanes_widest()
{
    for (int k = kLaneWidthCount - 1; k >= 0; --k) {
        if (voice_lanes_renderer(kLaneWidths[k]) != nullptr) return kLaneWidths[k];
    }
    return 1;
}
