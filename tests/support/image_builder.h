// Builds song images for tests from readable event lists: absolute ticks and
// absolute values, which the builder turns into the image's delta-coded,
// column-stored tracks. Also a small patch bank, global block and speech
// block, so that a built image plays audibly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/patch_builder.h"

namespace image_builder {

// Velocity 0 is a note off.
struct NoteEvent {
    uint32_t tick;
    uint8_t note, velocity;
};
struct ValueEvent {
    uint32_t tick;
    uint8_t value;
};
struct BendEvent {
    uint32_t tick;
    uint8_t first, second;
};
struct TempoEvent {
    uint32_t tick, us_per_quarter;
    uint8_t numerator = 4, denominator = 4, subdivision = 8;
};

struct ChannelPlan {
    std::vector<NoteEvent> notes;  // a channel without notes is absent
    std::vector<ValueEvent> programs;
    std::vector<BendEvent> pitch_bends;
    std::array<std::vector<ValueEvent>, 7> controllers;  // controllers 1..7
};

// A small bank: 0 plucked saw lead, 1 soft pad, 2 filtered noise drum, 3 sine bass.
std::vector<uint8_t> test_patch_bank();
// Reverb, global delay, low cut, high cut bypassed, master dynamics off.
std::vector<uint8_t> test_global_block();

struct SongPlan {
    uint32_t ticks_per_quarter = 128;
    uint32_t end_tick = 0;  // 0: the tick of the last event
    std::vector<TempoEvent> tempos;
    std::array<ChannelPlan, 16> channels;
    std::vector<uint8_t> global_block = test_global_block();
    std::vector<uint8_t> patch_bank = test_patch_bank();
    std::vector<std::string> texts;  // empty: no speech block (size word 0)
};

// Where the parts of a built image lie (byte offsets).
struct ImageLayout {
    size_t global_track;  // first time column of the global track
    size_t channel[16];   // the channel's note count word
    size_t global_block_size, patch_bank_size, speech_size, end;
};

// Events of a track must come in tick order, less than 2^24 ticks apart;
// otherwise std::invalid_argument.
std::vector<uint8_t> build_song_image(const SongPlan& plan, ImageLayout* layout = nullptr);

// Count, offsets, zero-terminated texts.
std::vector<uint8_t> build_speech_block(const std::vector<std::string>& texts);

// A plain audible patch: one saw oscillator through an open amplitude
// envelope, the channel volume from controller 7 (as songs route it).
PatchBuilder basic_patch();

uint32_t read_word(const std::vector<uint8_t>& bytes, size_t at);
void write_word(std::vector<uint8_t>& bytes, size_t at, uint32_t value);
void append_word(std::vector<uint8_t>& bytes, uint32_t value);

}  // namespace image_builder
