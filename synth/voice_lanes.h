// Voices rendered several at once, one voice per lane: the widths this
// machine can run (4 with SSE2, 8 with AVX2, 16 with AVX-512), chosen at run
// time in one binary, and the work memory a rendering thread needs. Every
// width gives the same bits as the scalar voice path.
#pragma once

#include <cstdint>

#include "synth/constants.h"

struct SynthEngine;

constexpr int kMaxLanes = 16;
constexpr int kLaneWidths[] = {4, 8, 16};
constexpr int kLaneWidthCount = 3;

struct VoiceLaneScratch {
    alignas(64) float work[kMaxBlockSize * kMaxLanes];  // sample-major: sample i of lane l at i * width + l
    float lane[kMaxBlockSize];                          // one lane's samples, for a unit run on its own
    int zeroed;  // leading floats of work that are zero: the lanes leave what they used zero
};

// Renders voices[0..count-1] (1..width of them) for n frames: each voice's
// samples after its amplitude ramp into the engine's voice_out block.
using VoiceLanesRender = void (*)(SynthEngine& engine, const int* voices, int count, int n, VoiceLaneScratch& scratch);

// The renderer for a width (4, 8 or 16) when this build and machine can run
// it, else null.
VoiceLanesRender voice_lanes_renderer(int width);
// The widest width this machine runs, or 1 (the scalar path) where none.
int voice_lanes_widest();

// One per instruction-set build (x86-64 only); call through voice_lanes_renderer.
void voice_lanes_render_4(SynthEngine& engine, const int* voices, int count, int n, VoiceLaneScratch& scratch);
void voice_lanes_render_8(SynthEngine& engine, const int* voices, int count, int n, VoiceLaneScratch& scratch);
void voice_lanes_render_16(SynthEngine& engine, const int* voices, int count, int n, VoiceLaneScratch& scratch);
// 8 lanes with the distortion's filters run lane by lane through the scalar
// unit: a few kilobytes smaller.
void voice_lanes_render_8_compact(SynthEngine& engine, const int* voices, int count, int n, VoiceLaneScratch& scratch);

// The instruction set a width is built for.
enum LaneFeature : int32_t {
    kLaneSse2 = 0,  // every x86-64 machine
    kLaneAvx2 = 1,
    kLaneAvx512 = 2,
};

// The widths a program carries, each with its renderer and the instruction
// set it needs. The engine's own definition carries 4, 8 and 16 lanes; a
// program that must stay small (the player) defines its own, and then the
// others are never linked into it.
struct VoiceLanesBuild {
    int width;
    VoiceLanesRender render;
    LaneFeature feature;
};
const VoiceLanesBuild* voice_lanes_builds(int& count);
