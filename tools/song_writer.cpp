#include "tools/song_writer.h"

#include <algorithm>

#include "tools/author_common.h"

namespace {

const char* const kControllerNames[kSongControllers] = {"controller 1", "controller 2", "controller 3", "controller 4",
                                                        "controller 5", "controller 6", "controller 7"};

std::string track_label(int channel, const char* track)
{
    if (channel < 0) return "the global track";
    return "song channel " + std::to_string(channel) + "'s " + track + " track";
}

// Appends the three time columns of a track whose ticks are given.
void append_time_columns(std::vector<uint8_t>& out, const std::vector<uint32_t>& ticks, int channel, const char* track)
{
    std::vector<uint32_t> deltas(ticks.size());
    uint32_t previous = 0;
    for (size_t i = 0; i < ticks.size(); ++i) {
        if (ticks[i] < previous)
            throw AuthorError("", track_label(channel, track) + ": event " + std::to_string(i) + " at tick " +
                                      std::to_string(ticks[i]) + " comes before the previous one at tick " +
                                      std::to_string(previous));
        if (ticks[i] > kLastSongTick)
            throw AuthorError("", track_label(channel, track) + ": tick " + std::to_string(ticks[i]) +
                                      " is past the last usable tick " + std::to_string(kLastSongTick));
        deltas[i] = ticks[i] - previous;
        if (deltas[i] > kMaxEventDelta)
            throw AuthorError("", track_label(channel, track) + ": the event at tick " + std::to_string(ticks[i]) +
                                      " comes " + std::to_string(deltas[i]) + " ticks after the one before it; " +
                                      "a gap may be at most " + std::to_string(kMaxEventDelta) + " ticks");
        previous = ticks[i];
    }
    for (int shift = 0; shift < 24; shift += 8)
        for (uint32_t delta : deltas) out.push_back(static_cast<uint8_t>(delta >> shift));
}

// A value column: each byte the difference from the previous value, mod 256.
template <typename Event, typename Get>
void append_value_column(std::vector<uint8_t>& out, const std::vector<Event>& events, Get get)
{
    uint8_t running = 0;
    for (const Event& event : events) {
        const uint8_t value = get(event);
        out.push_back(static_cast<uint8_t>(value - running));
        running = value;
    }
}

template <typename Event>
std::vector<uint32_t> ticks_of(const std::vector<Event>& events)
{
    std::vector<uint32_t> ticks;
    ticks.reserve(events.size());
    for (const Event& event : events) ticks.push_back(event.tick);
    return ticks;
}

void append_value_track(std::vector<uint8_t>& out, const std::vector<ValueEvent>& events, int channel,
                        const char* track)
{
    song_append_word(out, static_cast<uint32_t>(events.size()));
    append_time_columns(out, ticks_of(events), channel, track);
    append_value_column(out, events, [](const ValueEvent& e) { return e.value; });
}

bool channel_has_other_events(const ChannelEvents& channel)
{
    if (!channel.programs.empty() || !channel.bends.empty()) return true;
    for (const auto& track : channel.controllers)
        if (!track.empty()) return true;
    return false;
}

}  // namespace

void song_append_word(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t song_last_event_tick(const SongData& song)
{
    uint32_t last = 0;
    auto take = [&last](const auto& events) {
        if (!events.empty()) last = std::max(last, events.back().tick);
    };
    take(song.globals);
    for (const ChannelEvents& channel : song.channels) {
        if (channel.notes.empty()) continue;
        take(channel.notes);
        take(channel.programs);
        take(channel.bends);
        for (const auto& track : channel.controllers) take(track);
    }
    return last;
}

std::vector<uint8_t> song_write_image(const SongData& song)
{
    std::vector<uint8_t> out;
    song_append_word(out, song.ticks_per_quarter);
    song_append_word(out, song.end_tick);
    song_append_word(out, static_cast<uint32_t>(song.globals.size()));
    append_time_columns(out, ticks_of(song.globals), -1, "global");
    for (const GlobalEvent& event : song.globals) song_append_word(out, event.tempo);
    for (const GlobalEvent& event : song.globals) out.push_back(event.numerator);
    for (const GlobalEvent& event : song.globals) out.push_back(event.denominator);
    for (const GlobalEvent& event : song.globals) out.push_back(event.subdivision);

    for (int c = 0; c < kSongChannels; ++c) {
        const ChannelEvents& channel = song.channels[c];
        song_append_word(out, static_cast<uint32_t>(channel.notes.size()));
        if (channel.notes.empty()) {
            if (channel_has_other_events(channel))
                throw AuthorError("", "song channel " + std::to_string(c) +
                                          " has events but no notes; the image cannot hold such a channel");
            continue;
        }
        append_time_columns(out, ticks_of(channel.notes), c, "note");
        append_value_column(out, channel.notes, [](const NoteEvent& e) { return e.note; });
        append_value_column(out, channel.notes, [](const NoteEvent& e) { return e.velocity; });
        append_value_track(out, channel.programs, c, "program");
        song_append_word(out, static_cast<uint32_t>(channel.bends.size()));
        append_time_columns(out, ticks_of(channel.bends), c, "pitch-bend");
        append_value_column(out, channel.bends, [](const BendEvent& e) { return e.first; });
        append_value_column(out, channel.bends, [](const BendEvent& e) { return e.second; });
        for (int k = 0; k < kSongControllers; ++k)
            append_value_track(out, channel.controllers[k], c, kControllerNames[k]);
    }

    song_append_word(out, static_cast<uint32_t>(song.global_block.size()));
    out.insert(out.end(), song.global_block.begin(), song.global_block.end());
    song_append_word(out, static_cast<uint32_t>(song.patch_bank.size()));
    out.insert(out.end(), song.patch_bank.begin(), song.patch_bank.end());
    song_append_word(out, song.speech_size_word);
    if (song.speech_size_word != 0 && song.speech_size_word < kSpeechBlockLimit)
        out.insert(out.end(), song.speech_block.begin(), song.speech_block.end());
    return out;
}

std::vector<uint8_t> song_build_patch_bank(const std::vector<std::vector<uint8_t>>& patches,
                                           const std::vector<int>& program_patch)
{
    std::vector<uint32_t> offsets;
    uint32_t at = static_cast<uint32_t>(4 * program_patch.size());
    for (const auto& patch : patches) {
        offsets.push_back(at);
        at += static_cast<uint32_t>(patch.size());
    }
    std::vector<uint8_t> bank;
    for (int index : program_patch)
        song_append_word(bank, offsets.empty() ? 0 : offsets[index < 0 ? 0 : static_cast<size_t>(index)]);
    for (const auto& patch : patches) bank.insert(bank.end(), patch.begin(), patch.end());
    return bank;
}

std::vector<uint8_t> song_build_speech_block(const std::vector<std::string>& texts)
{
    std::vector<uint8_t> block;
    song_append_word(block, static_cast<uint32_t>(texts.size()));
    uint32_t at = static_cast<uint32_t>(4 + 4 * texts.size());
    for (const std::string& text : texts) {
        song_append_word(block, at);
        at += static_cast<uint32_t>(text.size() + 1);
    }
    for (const std::string& text : texts) {
        block.insert(block.end(), text.begin(), text.end());
        block.push_back(0);
    }
    return block;
}
