#include "tools/song_compile.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>

#include "sequencer/song.h"
#include "tools/midi_file.h"
#include "tools/midi_import.h"
#include "tools/patch_params.h"
#include "tools/patch_yaml.h"
#include "tools/song_lyrics.h"
#include "tools/song_reader.h"
#include "tools/song_writer.h"
#include "tools/song_yaml.h"
#include "tools/starter_bank.h"

namespace {

constexpr uint16_t kLargestMidiDivision = 0x7FFF;
constexpr uint16_t kNominalDivision = 480;  // written when Q is too large for a MIDI file

// Every program a channel selects needs a patch of its own in SONG.yaml.
void check_programs(const SongDescription& desc, const SongData& song, const std::string& midi_name, Warnings& warnings)
{
    std::array<bool, kProgramCount> mapped{};
    for (const ProgramPatch& p : desc.programs) mapped[p.program] = true;
    for (int c = 0; c < kSongChannels; ++c) {
        const ChannelEvents& channel = song.channels[c];
        if (channel.notes.empty()) continue;
        for (const ValueEvent& event : channel.programs) {
            if (mapped[event.value & 0x7F]) continue;
            const std::string where = event.origin.track < 0 ? desc.path : at_byte(midi_name, event.origin.offset);
            throw AuthorError(where, "tick " + std::to_string(event.tick) + ": song channel " + std::to_string(c) +
                                         " selects program " + std::to_string(event.value) +
                                         ", but SONG.yaml's patches: maps no patch to it");
        }
        if (!mapped[0] && (channel.programs.empty() || channel.programs.front().tick > channel.notes.front().tick))
            warnings.add(desc.path,
                         "song channel " + std::to_string(c) +
                             " plays notes before any program change, "
                             "so with program 0, which patches: does not map; it sounds with the first patch listed");
    }
}

// The index of SONG.yaml's own patch for each program, -1 where it maps none.
std::array<int, kProgramCount> own_programs(const SongDescription& desc)
{
    std::array<int, kProgramCount> own;
    own.fill(-1);
    for (const ProgramPatch& p : desc.programs) {
        if (own[p.program] >= 0)
            throw AuthorError(p.where, "program " + std::to_string(p.program) + " is given a patch twice");
        own[p.program] = p.patch;
    }
    return own;
}

std::vector<uint8_t> checked_bank(std::vector<uint8_t> bank, const SongDescription& desc)
{
    if (bank.size() > kMaxPatchBankBytes)
        throw AuthorError(desc.path, "the patches take " + std::to_string(bank.size()) +
                                         " bytes; the song format allows " + std::to_string(kMaxPatchBankBytes));
    return bank;
}

// An offset table up to the highest program SONG.yaml maps, or for every
// program when all_programs is set; with the starter bank, the programs
// SONG.yaml leaves out play their family's patch.
std::vector<uint8_t> build_bank(const SongDescription& desc, bool all_programs)
{
    int highest = all_programs ? kProgramCount - 1 : 0;
    for (const ProgramPatch& p : desc.programs) highest = std::max(highest, p.program);
    const std::array<int, kProgramCount> own = own_programs(desc);
    std::vector<int> program_patch(own.begin(), own.begin() + highest + 1);
    std::vector<std::vector<uint8_t>> patches = desc.patches;
    if (desc.starter_bank) {
        const size_t first_family = patches.size();
        for (const BankFamily& family : bank_families()) patches.push_back(starter_patch(family.patch));
        for (int p = 0; p <= highest; ++p)
            if (program_patch[p] < 0) program_patch[p] = static_cast<int>(first_family) + p / kFamilyPrograms;
    }
    return checked_bank(song_build_patch_bank(patches, program_patch), desc);
}

// The global block, the patch bank and the speech texts.
void add_sounds(SongData& song, const SongDescription& desc, std::vector<uint8_t> bank)
{
    song.global_block = desc.global_block;
    song.patch_bank = std::move(bank);
    if (desc.has_speech) {
        song.speech_block = song_build_speech_block(desc.texts);
        song.speech_size_word = static_cast<uint32_t>(song.speech_block.size());
    }
}

// With the starter bank: the General MIDI rules, and a bank of exactly the
// patches the song plays.
void arrange_for_bank(SongData& song, const SongDescription& desc, Warnings& warnings)
{
    GmSettings settings;
    settings.routing = desc.gm_routing;
    settings.sings = !desc.texts.empty();
    settings.own_patches = desc.patches;
    settings.own_program = own_programs(desc);
    const std::vector<std::vector<uint8_t>> patches = gm_arrange(song, settings, desc.midi_file, warnings);
    std::vector<int> program_patch(patches.size());
    std::iota(program_patch.begin(), program_patch.end(), 0);
    add_sounds(song, desc, checked_bank(song_build_patch_bank(patches, program_patch), desc));
}

void check_compiled(const std::vector<uint8_t>& image, const SongDescription& desc)
{
    SongError fault{};
    if (!song_validate(image.data(), image.size(), fault))
        throw AuthorError(desc.path, "the compiled image fails the song loader's check at byte " +
                                         std::to_string(fault.offset) + ": " + fault.message);
}

[[noreturn]] void cannot(const std::string& name, const std::string& what)
{
    throw AuthorError(name, "cannot be decompiled: " + what);
}

void check_data_range(const SongData& song, const std::string& name)
{
    for (int c = 0; c < kSongChannels; ++c) {
        const ChannelEvents& channel = song.channels[c];
        auto check = [&](uint32_t tick, uint8_t value, const char* what) {
            if (value > 127)
                cannot(name, "song channel " + std::to_string(c) + " reaches " + what + " " + std::to_string(value) +
                                 " at tick " + std::to_string(tick) + "; a MIDI file holds 0..127 only");
        };
        for (const NoteEvent& e : channel.notes) {
            check(e.tick, e.note, "note number");
            check(e.tick, e.velocity, "velocity");
        }
        for (const ValueEvent& e : channel.programs) check(e.tick, e.value, "program");
        for (const BendEvent& e : channel.bends) {
            check(e.tick, e.first, "pitch-bend value");
            check(e.tick, e.second, "pitch-bend value");
        }
        for (int k = 0; k < kSongControllers; ++k)
            for (const ValueEvent& e : channel.controllers[k]) check(e.tick, e.value, "controller value");
    }
}

int log2_exact(uint8_t value)
{
    for (int i = 0; i < 8; ++i)
        if (value == (1u << i)) return i;
    return -1;
}

MidiFile midi_from_song(const SongData& song, uint16_t division)
{
    MidiFile file;
    file.format = 1;
    file.division = division;
    const uint32_t last = song_last_event_tick(song);
    const uint32_t end = std::max(last, song.end_tick);

    MidiTrack meter;
    meter.end_tick = end;
    meter.events.push_back(midi_meta_event(0, kMetaTrackName, {'t', 'e', 'm', 'p', 'o'}));
    for (const GlobalEvent& g : song.globals) {
        meter.events.push_back(midi_tempo_event(g.tick, g.tempo));
        meter.events.push_back(midi_time_signature_event(g.tick, g.numerator,
                                                         static_cast<uint8_t>(log2_exact(g.denominator)),
                                                         g.subdivision));
    }
    file.tracks.push_back(std::move(meter));

    for (int c = 0; c < kSongChannels; ++c) {
        const ChannelEvents& channel = song.channels[c];
        if (channel.notes.empty()) continue;
        // At one tick the scheduler plays program, controllers 1..7, pitch bend,
        // notes; the track keeps that order and each kind's own order.
        struct Placed {
            uint32_t tick;
            int rank;
            MidiEvent event;
        };
        std::vector<Placed> placed;
        const auto channel_status = [c](uint8_t kind) { return static_cast<uint8_t>(kind | c); };
        for (const ValueEvent& e : channel.programs)
            placed.push_back({e.tick, 0, midi_channel_event(e.tick, channel_status(kMidiProgram), e.value)});
        for (int k = 0; k < kSongControllers; ++k)
            for (const ValueEvent& e : channel.controllers[k])
                placed.push_back({e.tick, 1 + k,
                                  midi_channel_event(e.tick, channel_status(kMidiController),
                                                     static_cast<uint8_t>(k + 1), e.value)});
        for (const BendEvent& e : channel.bends)
            placed.push_back(
                {e.tick, 8, midi_channel_event(e.tick, channel_status(kMidiPitchBend), e.first, e.second)});
        for (const NoteEvent& e : channel.notes)
            placed.push_back({e.tick, 9, midi_channel_event(e.tick, channel_status(kMidiNoteOn), e.note, e.velocity)});
        std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.rank < b.rank;
        });
        MidiTrack track;
        track.end_tick = end;
        const std::string title = "song channel " + std::to_string(c);
        track.events.push_back(midi_meta_event(0, kMetaTrackName, std::vector<uint8_t>(title.begin(), title.end())));
        for (Placed& p : placed) track.events.push_back(std::move(p.event));
        file.tracks.push_back(std::move(track));
    }
    return file;
}

std::string patch_file_name(int program)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s/program_%03d.yaml", kPatchDirectory, program);
    return name;
}

}  // namespace

std::vector<uint8_t> song_compile_description(SongDescription& desc, const FileReader& read, Warnings& warnings)
{
    std::vector<uint8_t> midi_bytes;
    try {
        midi_bytes = read(desc.midi_file);
    } catch (const AuthorError& e) {
        throw AuthorError(desc.midi_where, "cannot read the MIDI file " + desc.midi_file + ": " + e.what_wrong);
    }
    const MidiFile midi = midi_read(midi_bytes.data(), midi_bytes.size(), desc.midi_file, warnings);
    SongData song = midi_import(midi, desc.import, desc.midi_file, warnings);
    if (desc.texts.empty()) {
        // Without texts of its own, the song sings the lyrics its MIDI file carries.
        const std::string sung = song_lyrics_from_midi(midi, desc.midi_file, warnings);
        if (!sung.empty()) {
            desc.texts.push_back(sung);
            desc.has_speech = true;
        }
    }
    song_fit_lyrics(song, desc);
    if (!desc.texts.empty())
        song_check_sung_notes(song, desc.texts, desc.speech_where.empty() ? desc.path : desc.speech_where, warnings);
    if (std::all_of(song.channels.begin(), song.channels.end(), [](const ChannelEvents& c) { return c.notes.empty(); }))
        warnings.add(desc.midi_file, "the song has no notes");
    if (desc.has_end_tick) song.end_tick = desc.end_tick;
    if (desc.starter_bank) {
        arrange_for_bank(song, desc, warnings);
    } else {
        check_programs(desc, song, desc.midi_file, warnings);
        add_sounds(song, desc, build_bank(desc, false));
    }
    std::vector<uint8_t> image;
    try {
        image = song_write_image(song);
    } catch (const AuthorError& e) {
        throw AuthorError(desc.midi_file, e.what_wrong);
    }
    check_compiled(image, desc);
    return image;
}

std::vector<uint8_t> song_compile(const std::string& song_yaml, const FileReader& read, Warnings& warnings,
                                  std::string* title)
{
    SongDescription desc = song_yaml_read(song_yaml, read, warnings);
    if (title) *title = desc.title;
    return song_compile_description(desc, read, warnings);
}

std::vector<uint8_t> song_compile_sounds(const SongDescription& desc)
{
    SongData song;
    add_sounds(song, desc, build_bank(desc, true));
    const std::vector<uint8_t> image = song_write_image(song);
    check_compiled(image, desc);
    return image;
}

std::vector<SourceFile> song_decompile(const std::vector<uint8_t>& image, const std::string& name)
{
    SongError fault{};
    if (!song_validate(image.data(), image.size(), fault))
        throw AuthorError(at_byte(name, fault.offset), std::string("not a valid song image: ") + fault.message);
    const SongData song = song_read_image(image.data(), image.size(), name);
    check_data_range(song, name);
    for (const GlobalEvent& g : song.globals)
        if (log2_exact(g.denominator) < 0)
            cannot(name, "the time signature at tick " + std::to_string(g.tick) + " has denominator " +
                             std::to_string(g.denominator) + ", which a MIDI file cannot hold (powers of two 1..128)");
    if (song.global_block.size() != static_cast<size_t>(kGlobalParamCount))
        cannot(name, "the global parameter block is " + count_of(song.global_block.size(), "byte") + ", not " +
                         std::to_string(kGlobalParamCount));

    SongYamlOutput yaml;
    yaml.midi_file = kSongMidiName;
    yaml.global_block = song.global_block;
    uint16_t division = static_cast<uint16_t>(std::min<uint32_t>(song.ticks_per_quarter, kLargestMidiDivision));
    if (song.ticks_per_quarter > kLargestMidiDivision) {
        yaml.ticks_per_quarter = song.ticks_per_quarter;
        division = kNominalDivision;
    }
    if (song.end_tick != song_last_event_tick(song)) {
        yaml.has_end_tick = true;
        yaml.end_tick = song.end_tick;
    }

    std::vector<SourceFile> files;
    const PatchBankContents bank = song_read_patch_bank(song.patch_bank, name);
    // Each patch is listed with every program that selects it, the first patch
    // first; programs that compile would point at the first patch anyway are
    // left out, except the lowest one, the last one (which sets the table's
    // length) and those the song selects (compile wants a patch for each).
    const size_t programs = bank.program_offsets.size();
    if (programs > kProgramCount)
        cannot(name, "its patch bank's offset table has " + std::to_string(programs) +
                         " entries; SONG.yaml gives patches to programs 0..127 only");
    std::vector<bool> selected(programs, false);
    for (const ChannelEvents& channel : song.channels)
        for (const ValueEvent& event : channel.programs)
            if (event.value < programs) selected[event.value] = true;
    for (size_t i = 0; i < bank.patch_offsets.size(); ++i) {
        int lowest = -1;
        for (size_t p = 0; p < programs; ++p) {
            if (bank.program_offsets[p] != bank.patch_offsets[i]) continue;
            if (lowest < 0) lowest = static_cast<int>(p);
            const bool needed = i > 0 || static_cast<int>(p) == lowest || p + 1 == programs || selected[p];
            if (needed) yaml.programs.emplace_back(static_cast<int>(p), patch_file_name(lowest));
        }
        const std::string heading = "Cantilena patch for program " + std::to_string(lowest) + ", written by decompile";
        const std::string text = patch_yaml_write(bank.patches[i], heading);
        files.push_back({patch_file_name(lowest), std::vector<uint8_t>(text.begin(), text.end())});
    }
    if (song.speech_size_word != 0) {
        if (song.speech_size_word >= kSpeechBlockLimit)
            cannot(name, "its speech block size word " + std::to_string(song.speech_size_word) +
                             " is 8192 or more; compile writes 0 for a song without texts");
        yaml.has_speech = true;
        yaml.texts = song_read_speech_texts(song.speech_block, name);
        if (song_build_speech_block(yaml.texts) != song.speech_block)
            cannot(name,
                   "its speech block is laid out otherwise than compile lays it out (count, offsets, texts in order)");
    }

    const std::vector<uint8_t> midi = midi_write(midi_from_song(song, division));
    files.push_back({kSongMidiName, midi});

    // Compile the sources in memory; take the tidy reading when it gives the
    // same bytes, the as-written reading otherwise.
    for (int attempt = 0; attempt < 2; ++attempt) {
        yaml.as_written = attempt == 1;
        const std::string text = song_yaml_write(yaml);
        std::map<std::string, std::vector<uint8_t>> memory;
        for (const SourceFile& file : files) memory[file.name] = file.bytes;
        memory[kSongYamlName] = std::vector<uint8_t>(text.begin(), text.end());
        const FileReader reader = [&memory](const std::string& path) {
            auto it = memory.find(path);
            if (it == memory.end()) throw AuthorError(path, "no such file");
            return it->second;
        };
        Warnings ignored;
        std::vector<uint8_t> again;
        try {
            again = song_compile(kSongYamlName, reader, ignored);
        } catch (const AuthorError& e) {
            if (attempt == 1) cannot(name, std::string("the sources written for it do not compile: ") + e.what());
            continue;
        }
        if (again == image) {
            files.push_back({kSongYamlName, memory[kSongYamlName]});
            return files;
        }
        if (attempt == 1) {
            // The patch bank is the only part whose layout the sources cannot fix.
            const size_t size = std::min(again.size(), image.size());
            size_t at = 0;
            while (at < size && again[at] == image[at]) ++at;
            cannot(name, "the sources compile to different bytes from byte " + std::to_string(at) +
                             " on (a patch bank laid out otherwise than compile lays it out: an offset table, "
                             "then each patch once, in the order of their offsets)");
        }
    }
    return files;
}
