// The engine's arithmetic mode: single precision, round to nearest, every
// exception masked, denormals flushed to zero on output and read as zero on
// input. Flushing keeps decaying tails cheap; the underflow flag still rises
// when a result is flushed, which the reverb uses to drain its memory.
//
// Every engine entry holds an FpModeGuard for its whole run, so results are
// the same bits whatever mode the caller had.
#pragma once

#include <cstdint>

class FpModeGuard {
public:
    FpModeGuard();
    ~FpModeGuard();
    FpModeGuard(const FpModeGuard&) = delete;
    FpModeGuard& operator=(const FpModeGuard&) = delete;

private:
    uint32_t saved_;
};
