// cantilena-tool info: the structure of a song image: time division, tempo
// events, channels and their track counts, block sizes, speech texts, and the
// song's length in ticks and seconds.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "sequencer/scheduler.h"
#include "sequencer/song.h"
#include "sequencer/song_end.h"
#include "synth/units/numeric.h"
#include "tools/commands.h"
#include "tools/image_file.h"

namespace {

// Printable form of a speech text: C-style escapes for anything unusual.
std::string quoted(const char* text)
{
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        }
    }
    return out + "\"";
}

void print_tempo_events(const SongTables& tables)
{
    const uint32_t count = tables.global_count;
    const uint8_t* track = tables.global_track;
    std::printf("tempo events: %" PRIu32 "%s\n", count, count ? "" : " (120 quarters a minute, 4/4 throughout)");
    uint32_t tick = 0;
    for (uint32_t i = 0; i < count; ++i) {
        tick += song_time_delta(track + i, count);
        const uint32_t us = word_from_bytes(track + kGlobalTempoColumn * count + 4 * static_cast<size_t>(i));
        std::printf("  tick %" PRIu32 ": %" PRIu32 " us per quarter (%.2f quarters a minute), %u/%u, subdivision %u\n",
                    tick, us, 60000000.0 / us, track[kGlobalNumeratorColumn * count + i],
                    track[kGlobalDenominatorColumn * count + i], track[kGlobalSubdivisionColumn * count + i]);
    }
}

void print_channels(const SongTables& tables)
{
    int present = 0;
    for (const ChannelTracks& channel : tables.channels) present += channel.notes.count != 0;
    std::printf("channels: %d present\n", present);
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelTracks& channel = tables.channels[c];
        if (channel.notes.count == 0) continue;
        std::printf("  channel %2d: %" PRIu32 " notes, %" PRIu32 " program changes, %" PRIu32
                    " pitch bends, controllers 1-7:",
                    c, channel.notes.count, channel.programs.count, channel.pitch_bends.count);
        for (const TrackRef& controller : channel.controllers) std::printf(" %" PRIu32, controller.count);
        std::putchar('\n');
    }
}

int run_info(const std::string& path)
{
    std::string error;
    SongImageFile image;
    if (!song_image_open(path, image, error)) {
        std::fprintf(stderr, "cantilena-tool info: %s\n", error.c_str());
        return 1;
    }
    auto tables = std::make_unique<SongTables>();
    song_load(image.bytes.data(), *tables);

    SongLastEvent last;
    song_find_last_event(image.bytes.data(), last);

    std::printf("image: %s, %zu bytes\n", image.name.c_str(), image.bytes.size());
    std::printf("ticks per quarter: %" PRIu32 "\n", tables->ticks_per_quarter);
    std::printf("end tick (header): %" PRIu32 "\n", tables->end_tick);
    print_tempo_events(*tables);
    print_channels(*tables);

    const uint32_t global_size = word_from_bytes(tables->global_block - 4);
    const uint32_t bank_size = word_from_bytes(tables->patch_bank - 4);
    std::printf("global parameter block: %" PRIu32 " bytes\n", global_size);
    std::printf("patch bank: %" PRIu32 " bytes, %" PRIu32 " programs\n", bank_size,
                song_bank_program_count(tables->patch_bank, bank_size));
    if (tables->speech_block) {
        const uint32_t texts = word_from_bytes(tables->speech_block);
        std::printf("speech texts: %" PRIu32 " in a %" PRIu32 "-byte block%s\n", texts,
                    word_from_bytes(tables->speech_block - 4),
                    texts > kSpeechTableSize ? " (the first 256 are used)" : "");
        for (int i = 0; i < kSpeechTableSize && tables->speech_texts[i]; ++i)
            std::printf("  text %d: %s\n", i, quoted(tables->speech_texts[i]).c_str());
    } else {
        std::printf("speech texts: none (every text is the default %s)\n", quoted(kDefaultSpeechText).c_str());
    }
    std::printf("length: %" PRIu32 " ticks, %.3f s (%" PRIu64 " frames to the last events)\n", last.tick,
                static_cast<double>(last.frame) / kSampleRate, last.frame);
    return 0;
}

}  // namespace

void add_info_command(CLI::App& app)
{
    auto path = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand("info", "Show the structure of a song image and its length");
    cmd->add_option("IMAGE", *path, "Song image file (default: the embedded song)");
    cmd->callback([path] {
        const int status = run_info(*path);
        if (status != 0) throw CLI::RuntimeError(status);
    });
}
