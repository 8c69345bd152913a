#include "tests/support/image_builder.h"

#include <algorithm>
#include <stdexcept>

namespace image_builder {
namespace {

constexpr uint32_t kMaxDelta = 0xFFFFFF;

// Destinations used here (patch byte offsets).
constexpr uint8_t kOsc1Detune = kVoiceOscillator1 + OscillatorParam::kDetune,
                  kFilter1Cutoff = kVoiceFilter1 + FilterParam::kCutoff;
constexpr uint8_t kEnv1Gain = kVoiceEnvelope1 + EnvelopeParam::kGain, kLfo1Amount = kVoiceLfo1 + LfoParam::kAmount;

// 0 a plucked saw lead with vibrato on controller 1, 1 a soft pad, 2 a
// filtered noise drum, 3 a sine bass; all with the velocity on their level.
PatchBuilder test_patch(int program)
{
    PatchBuilder p = basic_patch();
    p.modulate(kModSourceVelocity, 96, kEnv1Gain)
        .lfo(0, {.waveform = kLfoSine, .rate = 80, .polarity = 2, .amount = 20});
    switch (program) {
    case 0:
        p.oscillator(1, {.mode = kOscillatorPulse, .transpose = 76, .detune = 66, .gain = 40})
            .filter(0, {.mode = kFilterLowPass, .cutoff = 95, .resonance = 30})
            .envelope(0, {.attack = 10, .decay = 60, .sustain = 70, .release = 60, .gain = 64})
            .envelope(1, {.decay = 70, .sustain = 0, .release = 40, .gain = 100})
            .reverb_send(50)
            .delay_send(30)
            .polyphony(8)
            .modulate(kModSourceLfo1, 72, kOsc1Detune)
            .modulate(kModSourceEnvelope2, 80, kFilter1Cutoff)
            .modulate(kModSourceController1, 80, kLfo1Amount);
        break;
    case 1:
        p.oscillator(1, {.mode = kOscillatorRamp, .detune = 68, .colour = 0, .gain = 60})
            .filter(0, {.mode = kFilterLowPass, .cutoff = 80, .resonance = 20})
            .envelope(0, {.attack = 70, .decay = 30, .sustain = 100, .release = 90, .gain = 60})
            .lfo(1, {.waveform = kLfoSampleHold, .rate = 70, .polarity = 2, .amount = 20})
            .reverb_send(90)
            .modulate(kModSourceLfo2, 80, kFilter1Cutoff);
        break;
    case 2:
        p.oscillator(0, {.mode = kOscillatorNoise, .colour = 60, .gain = 110})
            .filter(0, {.mode = kFilterBandPass, .cutoff = 100, .resonance = 60})
            .envelope(0, {.decay = 50, .sustain = 0, .slope = 40, .release = 30, .gain = 80})
            .reverb_send(20)
            .delay_send(40)
            .polyphony(4);
        break;
    default:
        p.oscillator(0, {.mode = kOscillatorSine, .transpose = 52, .gain = 110})
            .filter(0, {.mode = kFilterLowPass, .cutoff = 70, .resonance = 10})
            .envelope(0, {.attack = 2, .decay = 70, .sustain = 80, .slope = 60, .release = 40, .gain = 80})
            .phase_reset(1)
            .polyphony(1);
    }
    return p;
}

// Appends a track's count and its three time columns (24-bit deltas, low
// bytes first); raises last to the track's last tick.
template <typename Event>
void append_times(std::vector<uint8_t>& image, const std::vector<Event>& events, uint32_t& last)
{
    append_word(image, static_cast<uint32_t>(events.size()));
    std::vector<uint32_t> deltas;
    uint32_t previous = 0;
    for (const Event& event : events) {
        if (event.tick < previous || event.tick - previous > kMaxDelta)
            throw std::invalid_argument("track events out of order or too far apart");
        deltas.push_back(event.tick - previous);
        previous = event.tick;
    }
    for (int shift = 0; shift < 24; shift += 8)
        for (uint32_t delta : deltas) image.push_back(static_cast<uint8_t>(delta >> shift));
    last = std::max(last, previous);
}

// Appends one track: count, the three time columns, then the delta-coded value columns.
template <typename Event, typename Values>
void append_track(std::vector<uint8_t>& image, const std::vector<Event>& events, uint32_t& last, int value_columns,
                  Values values)
{
    append_times(image, events, last);
    for (int column = 0; column < value_columns; ++column) {
        uint8_t running = 0;
        for (const Event& event : events) {
            const uint8_t value = values(event, column);
            image.push_back(static_cast<uint8_t>(value - running));
            running = value;
        }
    }
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
    return PatchBuilder()
        .oscillator(0, {.mode = kOscillatorRamp, .colour = 0, .gain = 100})
        .volume(0)
        .modulate(kModSourceController1 + 6, 127, kModDestChannelFirst + kChannelVolume);
}

std::vector<uint8_t> test_patch_bank()
{
    return BankBuilder().add(test_patch(0)).add(test_patch(1)).add(test_patch(2)).add(test_patch(3)).bytes();
}

std::vector<uint8_t> test_global_block()
{
    const auto block = GlobalsBuilder()
                           .reverb({.decay = 40, .damping = 40, .low_cut = 20, .input = 60})
                           .delay({.mix = 80, .feedback = 72, .left = 40, .right = 50, .rate = 10, .depth = 10})
                           .bytes();
    return std::vector<uint8_t>(block.begin(), block.end());
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
    uint32_t end = 0;  // the tick of the last event
    append_word(image, plan.ticks_per_quarter);
    append_word(image, 0);  // the end tick, written when known

    // The global track: time columns, tempo words, then the three signature bytes.
    where.global_track = image.size() + 4;
    append_times(image, plan.tempos, end);
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
        const auto value = [](const ValueEvent& e, int) { return e.value; };
        append_track(image, channel.notes, end, 2,
                     [](const NoteEvent& e, int column) { return column ? e.velocity : e.note; });
        append_track(image, channel.programs, end, 1, value);
        append_track(image, channel.pitch_bends, end, 2,
                     [](const BendEvent& e, int column) { return column ? e.second : e.first; });
        for (const auto& controller : channel.controllers) append_track(image, controller, end, 1, value);
    }

    const auto append_block = [&image](size_t& where_size, const std::vector<uint8_t>& block) {
        where_size = image.size();
        append_word(image, static_cast<uint32_t>(block.size()));
        image.insert(image.end(), block.begin(), block.end());
    };
    append_block(where.global_block_size, plan.global_block);
    append_block(where.patch_bank_size, plan.patch_bank);
    append_block(where.speech_size, plan.texts.empty() ? std::vector<uint8_t>{} : build_speech_block(plan.texts));
    where.end = image.size();
    write_word(image, 4, plan.end_tick ? plan.end_tick : end);
    if (layout) *layout = where;
    return image;
}

}  // namespace image_builder
