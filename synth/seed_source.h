// The engine's one source of variation: oscillator noise and LFO
// sample-and-hold generators take their seed from here when they are reset.
//
// By default every read returns a value that varies from run to run. After
// seed_source_fix(seed), the k-th read (counting from 0) returns seed + k
// (mod 2^32), so renders become bit-identical from run to run.
#pragma once

#include <cstdint>

void seed_source_fix(uint32_t seed);
void seed_source_vary();
bool seed_source_is_fixed();
uint32_t seed_source_read();
