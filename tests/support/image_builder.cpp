#include "tests/support/image_builder.h"

#include <algorithm>
#include <stdexcept>

namespace image_builder {
namespace {

constexpr uint32_t kMaxDelta = 0xFFFFFF;

// Modulation sources and destinations used here.
constexpr uint8_t kVelocity = 0;
constexpr uint8_t kController1 = 1;
constexpr uint8_t kController7 = 7;
constexpr uint8_t kEnv2Out = 9;
constexpr uint8_t kLfo1Out = 10;
constexpr uint8_t kLfo2Out = 11;
constexpr uint8_t kOsc1Detune = 5;
constexpr uint8_t kFilter1Cutoff = 21;
constexpr uint8_t kEnv1Gain = 37;
constexpr uint8_t kLfo1Amount = 50;
constexpr uint8_t kChannelVolume = 59;

// Waveforms.
constexpr uint8_t kRamp = 1, kPulse = 2, kSine = 3, kNoise = 4;
constexpr uint8_t kSineLfo = 3, kSampleAndHold = 4, kBipolar = 2;
constexpr uint8_t kLowPass = 1, kBandPass = 2;

PatchBuilder lead_patch()
{
    PatchBuilder p = basic_patch();
    p.oscillator(0, {.mode = kRamp, .color = 0, .gain = 90})
        .oscillator(1, {.mode = kPulse, .transpose = 76, .detune = 66, .color = 64, .gain = 40})
        .filter(0, {.mode = kLowPass, .cutoff = 95, .resonance = 30})
        .envelope(0, {.attack = 10, .decay = 60, .sustain = 70, .slope = 64, .release = 60, .gain = 64})
        .envelope(1, {.attack = 0, .decay = 70, .sustain = 0, .slope = 64, .release = 40, .gain = 100})
        .lfo(0, {.waveform = kSineLfo, .rate = 80, .polarity = kBipolar, .amount = 20})
        .reverb_send(50)
        .delay_send(30)
        .polyphony(8)
        .modulate(kVelocity, 96, kEnv1Gain)
        .modulate(kLfo1Out, 72, kOsc1Detune)
        .modulate(kEnv2Out, 80, kFilter1Cutoff)
        .modulate(kController1, 80, kLfo1Amount);
    return p;
}

PatchBuilder pad_patch()
{
    PatchBuilder p = basic_patch();
    p.oscillator(0, {.mode = kRamp, .detune = 60, .color = 0, .gain = 60})
        .oscillator(1, {.mode = kRamp, .detune = 68, .color = 0, .gain = 60})
        .oscillator(2, {.mode = kRamp, .transpose = 52, .color = 64, .gain = 50})
        .filter(0, {.mode = kLowPass, .cutoff = 80, .resonance = 20})
        .envelope(0, {.attack = 70, .decay = 30, .sustain = 100, .slope = 64, .release = 90, .gain = 60})
        .lfo(1, {.waveform = kSampleAndHold, .rate = 70, .polarity = kBipolar, .amount = 20})
        .reverb_send(90)
        .modulate(kLfo2Out, 80, kFilter1Cutoff);
    return p;
}

PatchBuilder noise_patch()
{
    PatchBuilder p = basic_patch();
    p.oscillator(0, {.mode = kNoise, .color = 60, .gain = 110})
        .filter(0, {.mode = kBandPass, .cutoff = 100, .resonance = 60})
        .envelope(0, {.attack = 0, .decay = 50, .sustain = 0, .slope = 40, .release = 30, .gain = 80})
        .reverb_send(20)
        .delay_send(40)
        .polyphony(4)
        .modulate(kVelocity, 90, kEnv1Gain);
    return p;
}

PatchBuilder bass_patch()
{
    PatchBuilder p = basic_patch();
    p.oscillator(0, {.mode = kSine, .transpose = 52, .gain = 110})
        .oscillator(1, {.mode = kRamp, .transpose = 52, .color = 0, .gain = 30})
        .filter(0, {.mode = kLowPass, .cutoff = 70, .resonance = 10})
        .envelope(0, {.attack = 2, .decay = 70, .sustain = 80, .slope = 60, .release = 40, .gain = 80})
        .phase_reset(1)
        .polyphony(1);
    return p;
}

// Appends one track: count, the three time columns, then the value columns.
template <typename Event, typename Values>
void append_track(std::vector<uint8_t>& image, const std::vector<Event>& events, int value_columns, Values values)
{
    const size_t n = events.size();
    append_word(image, static_cast<uint32_t>(n));
    std::vector<uint32_t> deltas(n);
    uint32_t previous = 0;
    for (size_t i = 0; i < n; ++i) {
        if (events[i].tick < previous || events[i].tick - previous > kMaxDelta)
            throw std::invalid_argument("track events out of order or too far apart");
        deltas[i] = events[i].tick - previous;
        previous = events[i].tick;
    }
    for (int shift = 0; shift < 24; shift += 8)
        for (size_t i = 0; i < n; ++i) image.push_back(static_cast<uint8_t>(deltas[i] >> shift));
    for (int column = 0; column < value_columns; ++column) {
        uint8_t running = 0;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t value = values(events[i], column);
            image.push_back(static_cast<uint8_t>(value - running));
            running = value;
        }
    }
}

template <typename Event>
uint32_t last_tick(const std::vector<Event>& events, uint32_t tick)
{
    return events.empty() ? tick : std::max(tick, events.back().tick);
}

}  // namespace

uint32_t read_word(const std::vector<uint8_t>& bytes, size_t at)
{
    return static_cast<uint32_t>(bytes.at(at)) | (static_cast<uint32_t>(bytes.at(at + 1)) << 8) |
           (static_cast<uint32_t>(bytes.at(at + 2)) << 16) | (static_cast<uint32_t>(bytes.at(at + 3)) << 24);
}

void write_word(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

void append_word(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

PatchBuilder basic_patch()
{
    PatchBuilder p;
    p.oscillator(0, {.mode = kRamp, .color = 0, .gain = 100}).volume(0).modulate(kController7, 127, kChannelVolume);
    return p;
}

std::vector<uint8_t> test_patch_bank()
{
    return BankBuilder().add(lead_patch()).add(pad_patch()).add(noise_patch()).add(bass_patch()).bytes();
}

std::vector<uint8_t> test_global_block()
{
    const auto block = GlobalsBuilder()
                           .reverb({.decay = 40, .damping = 40, .low_cut = 20, .input = 60})
                           .delay({.dry_wet = 80, .feedback = 72, .left = 40, .right = 50, .rate = 10, .depth = 10})
                           .bytes();
    return std::vector<uint8_t>(block.begin(), block.end());
}

std::vector<uint8_t> build_patch_bank(const std::vector<std::vector<uint8_t>>& patches)
{
    std::vector<uint8_t> bank;
    uint32_t offset = static_cast<uint32_t>(4 * patches.size());
    for (const auto& patch : patches) {
        append_word(bank, offset);
        offset += static_cast<uint32_t>(patch.size());
    }
    for (const auto& patch : patches) bank.insert(bank.end(), patch.begin(), patch.end());
    return bank;
}

std::vector<uint8_t> build_speech_block(const std::vector<std::string>& texts)
{
    std::vector<uint8_t> block;
    append_word(block, static_cast<uint32_t>(texts.size()));
    uint32_t offset = static_cast<uint32_t>(4 + 4 * texts.size());
    for (const auto& text : texts) {
        append_word(block, offset);
        offset += static_cast<uint32_t>(text.size() + 1);
    }
    for (const auto& text : texts) {
        block.insert(block.end(), text.begin(), text.end());
        block.push_back(0);
    }
    return block;
}

std::vector<uint8_t> build_song_image(const SongPlan& plan, ImageLayout* layout)
{
    ImageLayout where{};
    std::vector<uint8_t> image;
    uint32_t end = 0;
    for (const auto& t : plan.tempos) end = std::max(end, t.tick);
    for (const auto& channel : plan.channels) {
        if (channel.notes.empty()) continue;
        end = last_tick(channel.notes, end);
        end = last_tick(channel.programs, end);
        end = last_tick(channel.pitch_bends, end);
        for (const auto& controller : channel.controllers) end = last_tick(controller, end);
    }
    append_word(image, plan.ticks_per_quarter);
    append_word(image, plan.end_tick ? plan.end_tick : end);

    // The global track: time columns, tempo words, then the three signature bytes.
    const size_t g = plan.tempos.size();
    append_word(image, static_cast<uint32_t>(g));
    where.global_track = image.size();
    uint32_t previous = 0;
    std::vector<uint32_t> deltas(g);
    for (size_t i = 0; i < g; ++i) {
        if (plan.tempos[i].tick < previous || plan.tempos[i].tick - previous > kMaxDelta)
            throw std::invalid_argument("tempo events out of order or too far apart");
        deltas[i] = plan.tempos[i].tick - previous;
        previous = plan.tempos[i].tick;
    }
    for (int shift = 0; shift < 24; shift += 8)
        for (size_t i = 0; i < g; ++i) image.push_back(static_cast<uint8_t>(deltas[i] >> shift));
    for (const auto& t : plan.tempos) append_word(image, t.us_per_quarter);
    for (const auto& t : plan.tempos) image.push_back(t.numerator);
    for (const auto& t : plan.tempos) image.push_back(t.denominator);
    for (const auto& t : plan.tempos) image.push_back(t.subdivision);

    for (int c = 0; c < 16; ++c) {
        const ChannelPlan& channel = plan.channels[c];
        where.channel[c] = image.size();
        if (channel.notes.empty()) {
            append_word(image, 0);
            continue;
        }
        append_track(image, channel.notes, 2,
                     [](const NoteEvent& e, int column) { return column == 0 ? e.note : e.velocity; });
        append_track(image, channel.programs, 1, [](const ValueEvent& e, int) { return e.value; });
        append_track(image, channel.pitch_bends, 2,
                     [](const BendEvent& e, int column) { return column == 0 ? e.first : e.second; });
        for (const auto& controller : channel.controllers)
            append_track(image, controller, 1, [](const ValueEvent& e, int) { return e.value; });
    }

    where.global_block_size = image.size();
    append_word(image, static_cast<uint32_t>(plan.global_block.size()));
    image.insert(image.end(), plan.global_block.begin(), plan.global_block.end());
    where.patch_bank_size = image.size();
    append_word(image, static_cast<uint32_t>(plan.patch_bank.size()));
    image.insert(image.end(), plan.patch_bank.begin(), plan.patch_bank.end());
    where.speech_size = image.size();
    if (plan.texts.empty()) {
        append_word(image, 0);
    } else {
        const std::vector<uint8_t> block = build_speech_block(plan.texts);
        append_word(image, static_cast<uint32_t>(block.size()));
        image.insert(image.end(), block.begin(), block.end());
    }
    where.end = image.size();
    if (layout) *layout = where;
    return image;
}

}  // namespace image_builder
