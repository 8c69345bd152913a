// Voices in 16 lanes (AVX-512); this source alone is built for that set.
#include "synth/voice_lanes_kernel.h"

void voice_lanes_render_16(SynthEngine& engine, const int* voices, int count, int n, VoiceLaneScratch& scratch)
{
    voice_lanes_render<16>(engine, voices, count, n, scratch);
}
