// Voices in 8 lanes (AVX2); this source alone is built for that set.
#include "synth/voice_lanes_kernel.h"

void voice_lanes_render_8(SynthEngine& engine, const int* voices, int count, int n, VoiceLaneScratch& scratch)
{
    voice_lanes_render<8>(engine, voices, count, n, scratch);
}

void voice_lanes_render_8_compact(SynthEngine& engine, const int* voices, int count, int n, VoiceLaneScratch& scratch)
{
    voice_lanes_render<8, true>(engine, voices, count, n, scratch);
}
