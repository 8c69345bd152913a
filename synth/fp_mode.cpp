#include "synth/fp_mode.h"

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <immintrin.h>

namespace {
// Round to nearest (RC = 00), all six exceptions masked, flags clear,
// flush-to-zero (bit 15) and denormals-are-zero (bit 6).
constexpr uint32_t kEngineMxcsr = 0x1F80u | 0x8000u | 0x0040u;
}  // namespace

FpModeGuard::FpModeGuard() : saved_(_mm_getcsr())
{
    _mm_setcsr(kEngineMxcsr);
}

FpModeGuard::~FpModeGuard()
{
    _mm_setcsr(saved_);
}

#else
#include <cfenv>

// Elsewhere: round to nearest with the default (masked) exceptions; the
// platform's own denormal handling applies.
FpModeGuard::FpModeGuard() : saved_(static_cast<uint32_t>(std::fegetround()))
{
    std::fesetround(FE_TONEAREST);
}

FpModeGuard::~FpModeGuard()
{
    std::fesetround(static_cast<int>(saved_));
}
#endif
