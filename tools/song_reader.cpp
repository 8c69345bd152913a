#include "tools/song_reader.h"

#include <algorithm>
#include <cstring>

#include "sequencer/song.h"
#include "synth/patch.h"
#include "synth/units/numeric.h"
#include "tools/author_common.h"

namespace {

struct ImageCursor {
    const uint8_t* image;
    size_t size;
    const std::string& name;
    size_t at = 0;

    [[noreturn]] void fail(size_t offset, const std::string& what) const
    {
        throw AuthorError(at_byte(name, offset), what);
    }

    void need(uint64_t bytes, const std::string& what) const
    {
        if (bytes > size - at)
            fail(at, what + " needs " + count_of(bytes, "byte") + " but only " + std::to_string(size - at) +
                         (size - at == 1 ? " remains" : " remain"));
    }

    uint32_t word(const std::string& what)
    {
        need(4, what);
        const uint32_t value = word_from_bytes(image + at);
        at += 4;
        return value;
    }

    // Reads a track's count and time columns; the value columns follow at the
    // returned position.
    std::vector<uint32_t> times(uint32_t count, uint32_t width, const std::string& what)
    {
        need(static_cast<uint64_t>(count) * width, what);
        std::vector<uint32_t> ticks(count);
        uint64_t tick = 0;
        for (uint32_t i = 0; i < count; ++i) {
            tick += song_time_delta(image + at + i, count);
            if (tick > kLastSongTick) fail(at + i, what + ": event " + std::to_string(i) + " falls past the last tick");
            ticks[i] = static_cast<uint32_t>(tick);
        }
        at += kTimeColumns * static_cast<size_t>(count);
        return ticks;
    }

    std::vector<uint8_t> running_column(uint32_t count)
    {
        std::vector<uint8_t> values(count);
        uint8_t running = 0;
        for (uint32_t i = 0; i < count; ++i) {
            running = static_cast<uint8_t>(running + image[at + i]);
            values[i] = running;
        }
        at += count;
        return values;
    }

    std::vector<ValueEvent> value_track(const std::string& what)
    {
        const uint32_t count = word(what + " count");
        std::vector<uint32_t> ticks = times(count, kValueEventBytes, what);
        std::vector<uint8_t> values = running_column(count);
        std::vector<ValueEvent> events(count);
        for (uint32_t i = 0; i < count; ++i) events[i] = {ticks[i], values[i], {}};
        return events;
    }

    std::vector<uint8_t> block(uint32_t limit, const std::string& what)
    {
        const size_t word_at = at;
        const uint32_t bytes = word(what + " size");
        if (static_cast<int32_t>(bytes) < 0 || bytes > limit)
            fail(word_at,
                 what + " size " + std::to_string(bytes) + " is out of range (at most " + std::to_string(limit) + ")");
        need(bytes, what);
        std::vector<uint8_t> out(image + at, image + at + bytes);
        at += bytes;
        return out;
    }
};

uint32_t le_word(const std::vector<uint8_t>& bytes, size_t at)
{
    return word_from_bytes(bytes.data() + at);
}

}  // namespace

SongData song_read_image(const uint8_t* image, size_t size, const std::string& name)
{
    SongData song;
    ImageCursor in{image, size, name};
    song.ticks_per_quarter = in.word("the header");
    song.end_tick = in.word("the header");
    const uint32_t global_count = in.word("the header");
    {
        std::vector<uint32_t> ticks = in.times(global_count, kGlobalEventBytes, "the global track");
        song.globals.resize(global_count);
        for (uint32_t i = 0; i < global_count; ++i) {
            GlobalEvent& event = song.globals[i];
            event.tick = ticks[i];
            event.tempo = word_from_bytes(image + in.at + 4 * static_cast<size_t>(i));
        }
        in.at += 4 * static_cast<size_t>(global_count);
        for (uint32_t i = 0; i < global_count; ++i) song.globals[i].numerator = image[in.at + i];
        for (uint32_t i = 0; i < global_count; ++i) song.globals[i].denominator = image[in.at + global_count + i];
        for (uint32_t i = 0; i < global_count; ++i)
            song.globals[i].subdivision = image[in.at + 2 * static_cast<size_t>(global_count) + i];
        in.at += 3 * static_cast<size_t>(global_count);
    }
    for (int c = 0; c < kSongChannels; ++c) {
        const std::string label = "channel " + std::to_string(c) + "'s ";
        ChannelEvents& channel = song.channels[c];
        const uint32_t notes = in.word(label + "note count");
        if (notes == 0) continue;
        std::vector<uint32_t> ticks = in.times(notes, kNoteEventBytes, label + "note track");
        std::vector<uint8_t> keys = in.running_column(notes);
        std::vector<uint8_t> velocities = in.running_column(notes);
        channel.notes.resize(notes);
        for (uint32_t i = 0; i < notes; ++i) channel.notes[i] = {ticks[i], keys[i], velocities[i], {}};
        channel.programs = in.value_track(label + "program track");
        const uint32_t bends = in.word(label + "pitch-bend count");
        ticks = in.times(bends, kBendEventBytes, label + "pitch-bend track");
        std::vector<uint8_t> first = in.running_column(bends);
        std::vector<uint8_t> second = in.running_column(bends);
        channel.bends.resize(bends);
        for (uint32_t i = 0; i < bends; ++i) channel.bends[i] = {ticks[i], first[i], second[i], {}};
        for (int k = 0; k < kSongControllers; ++k)
            channel.controllers[k] = in.value_track(label + "controller " + std::to_string(k + 1) + " track");
    }
    song.global_block = in.block(kMaxGlobalBlockBytes, "the global parameter block");
    song.patch_bank = in.block(kMaxPatchBankBytes, "the patch bank");
    song.speech_size_word = in.word("the speech block size");
    if (song.speech_size_word != 0 && song.speech_size_word < kSpeechBlockLimit) {
        in.need(song.speech_size_word, "the speech text block");
        song.speech_block.assign(image + in.at, image + in.at + song.speech_size_word);
        in.at += song.speech_size_word;
    }
    if (in.at < size) in.fail(in.at, count_of(size - in.at, "byte") + " after the end of the song");
    return song;
}

PatchBankContents song_read_patch_bank(const std::vector<uint8_t>& bank, const std::string& where)
{
    PatchBankContents contents;
    const uint32_t programs = song_bank_program_count(bank.data(), bank.size());
    for (uint32_t p = 0; p < programs; ++p) {
        const uint32_t offset = le_word(bank, 4 * static_cast<size_t>(p));
        if (static_cast<uint64_t>(offset) + kPatchHeaderBytes > bank.size())
            throw AuthorError(where, "program " + std::to_string(p) + "'s patch offset " + std::to_string(offset) +
                                         " lies outside the " + std::to_string(bank.size()) + "-byte patch bank");
        contents.program_offsets.push_back(offset);
    }
    contents.patch_offsets = contents.program_offsets;
    std::sort(contents.patch_offsets.begin(), contents.patch_offsets.end());
    contents.patch_offsets.erase(std::unique(contents.patch_offsets.begin(), contents.patch_offsets.end()),
                                 contents.patch_offsets.end());
    for (uint32_t offset : contents.patch_offsets) {
        const size_t length =
            kPatchHeaderBytes + kModEntryBytes * static_cast<size_t>(bank[offset + kPatchModCountOffset]);
        if (offset + length > bank.size())
            throw AuthorError(where,
                              "the patch at offset " + std::to_string(offset) + " runs past the patch bank's end");
        contents.patches.emplace_back(bank.begin() + offset, bank.begin() + offset + static_cast<ptrdiff_t>(length));
    }
    return contents;
}

std::vector<std::string> song_read_speech_texts(const std::vector<uint8_t>& block, const std::string& where)
{
    std::vector<std::string> texts;
    if (block.size() < 4) throw AuthorError(where, "the speech block is too short for its text count");
    const uint32_t count = le_word(block, 0);
    if (4 + 4 * static_cast<uint64_t>(count) > block.size())
        throw AuthorError(where, "the speech block cannot hold the offsets of its " + std::to_string(count) + " texts");
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = le_word(block, 4 + 4 * static_cast<size_t>(i));
        if (offset >= block.size())
            throw AuthorError(where, "speech text " + std::to_string(i) + " starts outside its block");
        const void* zero = std::memchr(block.data() + offset, 0, block.size() - offset);
        if (!zero) throw AuthorError(where, "speech text " + std::to_string(i) + " is not terminated");
        texts.emplace_back(reinterpret_cast<const char*>(block.data() + offset), static_cast<const char*>(zero));
    }
    return texts;
}
