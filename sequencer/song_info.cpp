#include "sequencer/song_info.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "sequencer/plural.h"
#include "sequencer/song.h"
#include "sequencer/song_end.h"
#include "sequencer/song_format.h"
#include "synth/units/numeric.h"

namespace {

struct Printer {
    TextSink sink;
    void* context;

    void print(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        char line[256];
        va_list arguments;
        va_start(arguments, format);
        const int length = std::vsnprintf(line, sizeof line, format, arguments);
        va_end(arguments);
        if (length > 0) sink(context, line, static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1);
    }

    // A speech text in double quotes, with C-style escapes for anything unusual.
    void quoted(const char* text)
    {
        char out[256];
        size_t used = 0;
        out[used++] = '"';
        for (const char* p = text; *p; ++p) {
            if (used > sizeof out - 8) {
                sink(context, out, used);
                used = 0;
            }
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c == '"' || c == '\\') {
                out[used++] = '\\';
                out[used++] = static_cast<char>(c);
            } else if (c >= 0x20 && c < 0x7F) {
                out[used++] = static_cast<char>(c);
            } else {
                used += static_cast<size_t>(std::snprintf(out + used, 5, "\\x%02X", c));
            }
        }
        out[used++] = '"';
        sink(context, out, used);
    }
};

void print_tempo_events(Printer& out, const SongTables& tables)
{
    const uint32_t count = tables.global_count;
    const uint8_t* track = tables.global_track;
    out.print("tempo events: %" PRIu32 "%s\n", count, count ? "" : " (120 quarters a minute, 4/4 throughout)");
    uint32_t tick = 0;
    for (uint32_t i = 0; i < count; ++i) {
        tick += song_time_delta(track + i, count);
        const uint32_t us = word_from_bytes(track + kGlobalTempoColumn * count + 4 * static_cast<size_t>(i));
        out.print("  tick %" PRIu32 ": %" PRIu32 " us per quarter (%.2f quarters a minute), %u/%u, subdivision %u\n",
                  tick, us, 60000000.0 / us, track[kGlobalNumeratorColumn * count + i],
                  track[kGlobalDenominatorColumn * count + i], track[kGlobalSubdivisionColumn * count + i]);
    }
}

void print_channels(Printer& out, const SongTables& tables)
{
    int present = 0;
    for (const ChannelTracks& channel : tables.channels) present += channel.notes.count != 0;
    out.print("channels: %d present\n", present);
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelTracks& channel = tables.channels[c];
        if (channel.notes.count == 0) continue;
        out.print("  channel %2d: %" PRIu32 " note%s, %" PRIu32 " program change%s, %" PRIu32
                  " pitch bend%s, controllers 1-7:",
                  c, channel.notes.count, plural_s(channel.notes.count), channel.programs.count,
                  plural_s(channel.programs.count), channel.pitch_bends.count, plural_s(channel.pitch_bends.count));
        for (const TrackRef& controller : channel.controllers) out.print(" %" PRIu32, controller.count);
        out.print("\n");
    }
}

void print_texts(Printer& out, const SongTables& tables)
{
    if (!tables.speech_block) {
        out.print("speech texts: none (every text is the default ");
        out.quoted(kDefaultSpeechText);
        out.print(")\n");
        return;
    }
    const uint32_t texts = word_from_bytes(tables.speech_block);
    out.print("speech texts: %" PRIu32 " in a %" PRIu32 "-byte block%s\n", texts,
              word_from_bytes(tables.speech_block - 4), texts > kSpeechTableSize ? " (the first 256 are used)" : "");
    for (int i = 0; i < kSpeechTableSize && tables.speech_texts[i]; ++i) {
        out.print("  text %d: ", i);
        out.quoted(tables.speech_texts[i]);
        out.print("\n");
    }
}

}  // namespace

void song_info_write(const SongInfoSubject& subject, TextSink sink, void* context)
{
    Printer out{sink, context};
    SongTables tables{};
    song_load(subject.image, tables);
    SongLastEvent last;
    song_find_last_event(subject.image, last);

    out.print("image: %s, %zu bytes\n", subject.name, subject.size);
    if (subject.title) {
        out.print("title: \"%s\"\n", subject.title);
        out.print("end: %.3f s (%" PRIu64 " frames: playback stops there)\n",
                  static_cast<double>(subject.end_frames) / kSampleRate, subject.end_frames);
    }
    out.print("ticks per quarter: %" PRIu32 "\n", tables.ticks_per_quarter);
    out.print("end tick (header): %" PRIu32 "\n", tables.end_tick);
    print_tempo_events(out, tables);
    print_channels(out, tables);

    const uint32_t global_size = word_from_bytes(tables.global_block - 4);
    const uint32_t bank_size = word_from_bytes(tables.patch_bank - 4);
    out.print("global parameter block: %" PRIu32 " bytes\n", global_size);
    const uint32_t programs = song_bank_program_count(tables.patch_bank, bank_size);
    out.print("patch bank: %" PRIu32 " bytes, %" PRIu32 " program%s\n", bank_size, programs, plural_s(programs));
    print_texts(out, tables);
    out.print("length: %" PRIu32 " tick%s, %.3f s (%" PRIu64 " frames to the last events)\n", last.tick,
              plural_s(last.tick), static_cast<double>(last.frame) / kSampleRate, last.frame);
}
