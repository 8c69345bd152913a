#include "plugin/live_midi.h"

#include <cstring>

#include "synth/engine.h"
#include "tools/midi_file.h"

namespace {

constexpr uint8_t kDataMask = 0x7F;
constexpr int kPedalDownFrom = 64;  // sustain values 64..127 hold

// The engine's release of a note: its own note-on status with velocity 0.
constexpr uint8_t kReleaseVelocity = 0;

void end_note(LiveChannel& channel, int key, LiveNote& note)
{
    if (note.ended) return;
    note.ended = 1;
    if (note.on_index >= 0) {
        channel.ons[note.on_index].zero_length = 1;
    } else {
        channel.releases[channel.release_count++] = static_cast<uint8_t>(key);
    }
}

void remove_note(LiveKey& notes, int index)
{
    for (int i = index + 1; i < notes.count; ++i) notes.notes[i - 1] = notes.notes[i];
    --notes.count;
}

void close_note(LiveChannel& channel, int key, int index)
{
    end_note(channel, key, channel.keys[key].notes[index]);
    remove_note(channel.keys[key], index);
}

bool pedal_holds(const LiveChannel& channel)
{
    return channel.pedal_down && channel.route.sustain;
}

void close_pedal_held(LiveChannel& channel)
{
    for (int key = 0; key < kLiveKeys; ++key) {
        LiveKey& notes = channel.keys[key];
        for (int i = 0; i < notes.count;) {
            if (notes.notes[i].key_released) {
                close_note(channel, key, i);
            } else {
                ++i;
            }
        }
    }
}

void close_all(LiveChannel& channel)
{
    for (int key = 0; key < kLiveKeys; ++key)
        while (channel.keys[key].count > 0) close_note(channel, key, 0);
}

void note_on(LiveChannel& channel, int key, uint8_t velocity)
{
    if (channel.on_count == kLiveOnsPerFrame) return;
    LiveKey& notes = channel.keys[key];
    // A new note of a sounding key ends the old one here; the old one still
    // takes the next release of its key, as in a compiled file.
    for (int i = 0; i < notes.count; ++i) end_note(channel, key, notes.notes[i]);
    if (notes.count == kLiveNotesPerKey) remove_note(notes, 0);
    const int16_t on_index = static_cast<int16_t>(channel.on_count);
    channel.ons[channel.on_count++] = {static_cast<uint8_t>(key), velocity, 0};
    notes.notes[notes.count++] = {0, 0, on_index};
}

void note_off(LiveChannel& channel, int key)
{
    LiveKey& notes = channel.keys[key];
    for (int i = 0; i < notes.count; ++i) {
        if (notes.notes[i].key_released) continue;
        if (pedal_holds(channel)) {
            notes.notes[i].key_released = 1;
        } else {
            close_note(channel, key, i);
        }
        return;
    }
    // No sounding note: dropped (on the speech channel it would end a hold).
}

void tidy_controller(LiveChannel& channel, int number, int value)
{
    if (number == kSustainPedal && channel.route.sustain) {
        const bool down = value >= kPedalDownFrom;
        if (channel.pedal_down && !down) close_pedal_held(channel);
        channel.pedal_down = down;
    } else if (number == kResetControllers && channel.route.sustain) {
        if (channel.pedal_down) close_pedal_held(channel);
        channel.pedal_down = false;
    } else if (number == kAllSoundOff) {
        close_all(channel);
    } else if (number >= kAllNotesOff) {
        for (int key = 0; key < kLiveKeys; ++key) {
            LiveKey& notes = channel.keys[key];
            for (int i = 0; i < notes.count;) {
                if (notes.notes[i].key_released) {
                    ++i;
                } else if (pedal_holds(channel)) {
                    notes.notes[i].key_released = 1;
                    ++i;
                } else {
                    close_note(channel, key, i);
                }
            }
        }
    }
}

void push_value(uint8_t* values, int32_t& count, uint8_t value)
{
    if (count < kLiveValuesPerFrame) values[count++] = value;
}

void channel_message(LiveChannel& channel, uint8_t kind, const uint8_t* data)
{
    const ChannelRoute& route = channel.route;
    if (kind == kMidiNoteOn || kind == kMidiNoteOff) {
        const int key = data[0] + route.transpose;
        if (key < 0 || key >= kLiveKeys) return;
        if (kind == kMidiNoteOn && data[1] > 0) {
            note_on(channel, key, data[1]);
        } else {
            note_off(channel, key);
        }
    } else if (kind == kMidiController) {
        for (int k = 0; k < kSongControllers; ++k)
            if (route.controller_source[k] == data[0])
                push_value(channel.controllers[k], channel.controller_count[k], data[1]);
        tidy_controller(channel, data[0], data[1]);
    } else if (kind == kMidiProgram) {
        push_value(channel.programs, channel.program_count, data[0]);
    } else if (kind == kMidiPitchBend) {
        if (channel.bend_count == kLiveValuesPerFrame) return;
        channel.bends[channel.bend_count][0] = data[0];
        channel.bends[channel.bend_count][1] = data[1];
        ++channel.bend_count;
    }
}

// Data bytes of the channel messages the song uses; -1 for the others.
int data_bytes(uint8_t kind)
{
    switch (kind) {
    case kMidiNoteOff:
    case kMidiNoteOn:
    case kMidiController:
    case kMidiPitchBend:
        return 2;
    case kMidiProgram:
        return 1;
    default:
        return -1;
    }
}

// Fills the stream buffer and hands it to the engine when full; a fresh
// buffer starts with a status byte again.
struct StreamWriter {
    LiveMidi& live;
    SynthEngine& engine;
    size_t length = 0;
    int last_status = -1;

    void hand_over()
    {
        live.stream[length] = kStreamEnd;
        synth_process_stream(engine, live.stream);
        length = 0;
        last_status = -1;
    }

    void message(uint8_t status, uint8_t first, int second = -1)
    {
        const size_t data = second < 0 ? 1 : 2;
        if (length + data + 2 > kStreamBufferBytes) hand_over();
        if (status != last_status) {
            live.stream[length++] = status;
            last_status = status;
        }
        live.stream[length++] = first & kDataMask;
        if (second >= 0) live.stream[length++] = static_cast<uint8_t>(second) & kDataMask;
    }
};

int32_t rounds_of(const LiveChannel& channel)
{
    int32_t rounds = channel.program_count;
    for (int k = 0; k < kSongControllers; ++k)
        if (channel.controller_count[k] > rounds) rounds = channel.controller_count[k];
    if (channel.bend_count > rounds) rounds = channel.bend_count;
    if ((channel.release_count > 0 || channel.on_count > 0) && rounds < 1) rounds = 1;
    return rounds;
}

void emit_round(StreamWriter& writer, LiveChannel& channel, int c, int32_t round)
{
    const uint8_t channel_bits = static_cast<uint8_t>(c);
    if (round < channel.program_count) writer.message(kMidiProgram | channel_bits, channel.programs[round]);
    for (int k = 0; k < kSongControllers; ++k)
        if (round < channel.controller_count[k])
            writer.message(kMidiController | channel_bits, static_cast<uint8_t>(k + 1), channel.controllers[k][round]);
    if (round < channel.bend_count)
        writer.message(kMidiPitchBend | channel_bits, channel.bends[round][0], channel.bends[round][1]);
    if (round != 0) return;
    const uint8_t note_status = kMidiNoteOn | channel_bits;
    for (int32_t i = 0; i < channel.release_count; ++i)
        writer.message(note_status, channel.releases[i], kReleaseVelocity);
    for (int32_t i = 0; i < channel.on_count; ++i) {
        const LiveOn& on = channel.ons[i];
        writer.message(note_status, on.key, on.velocity);
        if (on.zero_length) writer.message(note_status, on.key, kReleaseVelocity);
    }
}

void clear_frame(LiveChannel& channel)
{
    for (int32_t i = 0; i < channel.on_count; ++i) {
        LiveKey& notes = channel.keys[channel.ons[i].key];
        for (int n = 0; n < notes.count; ++n)
            if (notes.notes[n].on_index == i) notes.notes[n].on_index = -1;
    }
    channel.program_count = 0;
    for (int32_t& count : channel.controller_count) count = 0;
    channel.bend_count = 0;
    channel.release_count = 0;
    channel.on_count = 0;
}

// As compile puts it first on the channel's program track.
void queue_route_program(LiveMidi& live, LiveChannel& channel)
{
    if (channel.route.program < 0 || channel.route.midi_channel < 0) return;
    push_value(channel.programs, channel.program_count, static_cast<uint8_t>(channel.route.program));
    live.pending = true;
}

}  // namespace

void live_midi_reset(LiveMidi& live)
{
    for (LiveChannel& channel : live.channels) {
        channel.pedal_down = false;
        for (LiveKey& key : channel.keys) key.count = 0;
        clear_frame(channel);
    }
    live.pending = false;
}

void live_midi_set_routes(LiveMidi& live, const ChannelRoute* routes)
{
    for (int c = 0; c < kSongChannels; ++c) {
        LiveChannel& channel = live.channels[c];
        const ChannelRoute& route = routes[c];
        if (route.midi_channel != channel.route.midi_channel || route.transpose != channel.route.transpose) {
            close_all(channel);
            channel.pedal_down = false;
            live.pending = true;
        }
        const bool new_program = route.program != channel.route.program;
        channel.route = route;
        if (new_program) queue_route_program(live, channel);
    }
}

void live_midi_route_programs(LiveMidi& live)
{
    for (LiveChannel& channel : live.channels) queue_route_program(live, channel);
}

void live_midi_message(LiveMidi& live, const uint8_t* message, uint32_t size)
{
    if (size == 0 || message[0] < 0x80 || message[0] >= kMidiSysex) return;
    const uint8_t kind = message[0] & 0xF0;
    const int count = data_bytes(kind);
    if (count < 0 || size != static_cast<uint32_t>(1 + count)) return;
    for (int i = 1; i <= count; ++i)
        if (message[i] & 0x80) return;
    const int midi_channel = message[0] & 0x0F;
    for (LiveChannel& channel : live.channels) {
        if (channel.route.midi_channel != midi_channel) continue;
        channel_message(channel, kind, message + 1);
        live.pending = true;
    }
}

void live_midi_flush(LiveMidi& live, SynthEngine& engine)
{
    if (!live.pending) return;
    int32_t rounds = 0;
    for (const LiveChannel& channel : live.channels) {
        const int32_t r = rounds_of(channel);
        if (r > rounds) rounds = r;
    }
    StreamWriter writer{live, engine};
    for (int32_t round = 0; round < rounds; ++round) {
        for (int c = 0; c < kSongChannels; ++c) emit_round(writer, live.channels[c], c, round);
        writer.hand_over();
    }
    for (LiveChannel& channel : live.channels) clear_frame(channel);
    live.pending = false;
}
