// The engine's one source of variation: oscillator noise and LFO
// sample-and-hold generators take their seed from it when they are reset.
// Each engine holds its own, so engines never draw from each other's source.
//
// A zeroed source varies: every read returns a value that differs from run to
// run. After seed_source_fix(source, seed), the k-th read (counting from 0)
// returns seed + k (mod 2^32), so renders become bit-identical from run to run.
#pragma once

#include <cstdint>

struct SeedSource {
    uint32_t fixed;  // non-zero: reads count up from the seed
    uint32_t next;   // the next read's value when fixed
};

void seed_source_fix(SeedSource& source, uint32_t seed);
void seed_source_vary(SeedSource& source);
bool seed_source_is_fixed(const SeedSource& source);
uint32_t seed_source_read(SeedSource& source);
// Reads a seed as written by a user (CANTILENA_SEED): decimal digits only,
// 0..4294967295. Returns false for anything else.
bool seed_source_parse(const char* text, uint32_t& seed);
