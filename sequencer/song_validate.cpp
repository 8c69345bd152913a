#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sequencer/plural.h"
#include "sequencer/scheduler.h"
#include "sequencer/song.h"
#include "synth/patch.h"
#include "synth/units/numeric.h"

namespace {

const char* const kControllerTrackNames[kControllerTracks] = {"controller 1", "controller 2", "controller 3",
                                                              "controller 4", "controller 5", "controller 6",
                                                              "controller 7"};

struct Checker {
    const uint8_t* image;
    size_t size;
    SongError& error;

    // What the later checks need from the tracks.
    uint32_t divisor = 0;
    uint64_t slowest_tempo = kDefaultTempo;         // samples per quarter x 10000
    size_t program_use_offset[kProgramCount] = {};  // offset of the first selection, +1 (0 = unused)

    bool fail(size_t offset, const char* format, ...) __attribute__((format(printf, 3, 4)))
    {
        error.offset = offset;
        va_list args;
        va_start(args, format);
        std::vsnprintf(error.message, sizeof error.message, format, args);
        va_end(args);
        return false;
    }

    size_t remaining(size_t at) const { return at <= size ? size - at : 0; }

    bool word_at(size_t at, const char* what, uint32_t& value)
    {
        if (remaining(at) < 4)
            return fail(at, "the image ends inside %s (%zu byte%s, 4 needed)", what, remaining(at),
                        plural_s(remaining(at)));
        value = word_from_bytes(image + at);
        return true;
    }

    uint32_t time_of(size_t track, uint32_t count, uint32_t i) const
    {
        return song_time_delta(image + track + i, count);
    }

    // An event gap may not outlast the 32-bit countdown, even at the slowest tempo.
    bool check_gap(uint32_t delta, size_t offset, const char* track_name, int channel)
    {
        const uint64_t frames = static_cast<uint64_t>(delta) * slowest_tempo / divisor + 1;
        if (frames <= kMaxFramesPerGap) return true;
        if (channel < 0)
            return fail(offset, "a gap of %u tick%s in the global track lasts more than 2^32 frames", delta,
                        plural_s(delta));
        return fail(offset, "a gap of %u tick%s in channel %d's %s track lasts more than 2^32 frames", delta,
                    plural_s(delta), channel, track_name);
    }

    bool check_header(size_t& at)
    {
        if (size < kSongHeaderBytes)
            return fail(size, "the image is %zu byte%s, shorter than its 12-byte header", size, plural_s(size));
        const uint32_t q = word_from_bytes(image);
        if (q == 0) return fail(0, "ticks per quarter note is 0");
        if (q > kMaxTicksPerQuarter)
            return fail(0, "ticks per quarter note is %u; at most %u keeps the tick divisor (Q x 10000) in 32 bits", q,
                        kMaxTicksPerQuarter);
        divisor = q * kTickDivisorScale;

        const uint32_t count = word_from_bytes(image + 8);
        const uint64_t bytes = static_cast<uint64_t>(kGlobalEventBytes) * count;
        if (bytes > remaining(kSongHeaderBytes))
            return fail(8, "the global track has %u event%s (%llu bytes) but only %zu byte%s follow", count,
                        plural_s(count), static_cast<unsigned long long>(bytes), remaining(kSongHeaderBytes),
                        plural_s(remaining(kSongHeaderBytes)));
        const size_t track = kSongHeaderBytes;
        const size_t tempos = track + kGlobalTempoColumn * static_cast<size_t>(count);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t tempo = word_from_bytes(image + tempos + 4 * static_cast<size_t>(i));
            if (tempo == 0 || tempo > kMaxTempoWord)
                return fail(tempos + 4 * static_cast<size_t>(i),
                            "global event %u has tempo %u us per quarter; the format allows 1 to %u", i, tempo,
                            kMaxTempoWord);
            slowest_tempo = std::max<uint64_t>(slowest_tempo, static_cast<uint64_t>(tempo) * kTempoScale);
        }
        uint64_t tick = 0;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t delta = time_of(track, count, i);
            tick += delta;
            if (tick > kLastSongTick)
                return fail(track + i, "global event %u falls at tick %llu, past the last usable tick %llu", i,
                            static_cast<unsigned long long>(tick), static_cast<unsigned long long>(kLastSongTick));
            if (!check_gap(delta, track + i, "global", -1)) return false;
        }
        at = track + kGlobalEventBytes * static_cast<size_t>(count);
        return true;
    }

    // A track at `at`: count word, then width bytes an event (three time
    // columns first, then the value columns).
    bool check_track(size_t& at, int channel, const char* name, uint32_t width, uint32_t& count)
    {
        char what[64];
        std::snprintf(what, sizeof what, "channel %d's %s count", channel, name);
        if (!word_at(at, what, count)) return false;
        const size_t track = at + 4;
        const uint64_t bytes = static_cast<uint64_t>(width) * count;
        if (bytes > remaining(track))
            return fail(at, "channel %d's %s track has %u event%s (%llu bytes) but only %zu byte%s follow", channel,
                        name, count, plural_s(count), static_cast<unsigned long long>(bytes), remaining(track),
                        plural_s(remaining(track)));
        uint64_t tick = 0;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t delta = time_of(track, count, i);
            tick += delta;
            if (tick > kLastSongTick)
                return fail(track + i, "channel %d's %s event %u falls at tick %llu, past the last usable tick %llu",
                            channel, name, i, static_cast<unsigned long long>(tick),
                            static_cast<unsigned long long>(kLastSongTick));
            if (!check_gap(delta, track + i, name, channel)) return false;
        }
        at = track + static_cast<size_t>(bytes);
        return true;
    }

    bool check_channels(size_t& at)
    {
        for (int c = 0; c < kChannelCount; ++c) {
            uint32_t notes = 0;
            if (!check_track(at, c, "note", kNoteEventBytes, notes)) return false;
            if (notes == 0) continue;

            const size_t programs_at = at;
            uint32_t programs = 0;
            if (!check_track(at, c, "program", kValueEventBytes, programs)) return false;
            uint8_t running = 0;
            for (uint32_t i = 0; i < programs; ++i) {
                const size_t value = programs_at + 4 + kTimeColumns * static_cast<size_t>(programs) + i;
                running = static_cast<uint8_t>(running + image[value]);
                const int program = running & 0x7F;  // the engine takes the low seven bits
                if (program_use_offset[program] == 0) program_use_offset[program] = value + 1;
            }

            uint32_t count = 0;
            if (!check_track(at, c, "pitch-bend", kBendEventBytes, count)) return false;
            for (int k = 0; k < kControllerTracks; ++k)
                if (!check_track(at, c, kControllerTrackNames[k], kValueEventBytes, count)) return false;
        }
        return true;
    }

    bool check_block_size(size_t at, const char* name, uint32_t limit, uint32_t& block_size)
    {
        char what[64];
        std::snprintf(what, sizeof what, "the %s size word", name);
        if (!word_at(at, what, block_size)) return false;
        const int32_t signed_size = static_cast<int32_t>(block_size);
        if (signed_size < 0) return fail(at, "the %s size %d is negative", name, signed_size);
        if (block_size > limit) return fail(at, "the %s is %u bytes; at most %u are allowed", name, block_size, limit);
        if (block_size > remaining(at + 4))
            return fail(at, "the %s is %u bytes but only %zu byte%s follow", name, block_size, remaining(at + 4),
                        plural_s(remaining(at + 4)));
        return true;
    }

    bool check_bank(size_t bank, uint32_t bank_size)
    {
        if (bank_size < 4)
            return fail(bank - 4,
                        "the patch bank is %u byte%s, too small for the offset of program 0 "
                        "(every channel starts on program 0)",
                        bank_size, plural_s(bank_size));
        const uint32_t programs = song_bank_program_count(image + bank, bank_size);
        for (uint32_t p = 0; p < programs; ++p) {
            const size_t entry = bank + 4 * static_cast<size_t>(p);
            const uint32_t offset = word_from_bytes(image + entry);
            if (offset < 4 * static_cast<uint64_t>(programs))
                return fail(entry, "program %u's patch offset %u points into the %u-entry offset table", p, offset,
                            programs);
            if (static_cast<uint64_t>(offset) + kPatchHeaderBytes > bank_size)
                return fail(entry, "program %u's patch at offset %u needs %d bytes but the patch bank is %u byte%s", p,
                            offset, kPatchHeaderBytes, bank_size, plural_s(bank_size));
            const uint32_t entries = image[bank + offset + kPatchModCountOffset];
            const uint64_t end = static_cast<uint64_t>(offset) + kPatchHeaderBytes + kModEntryBytes * entries;
            if (end > bank_size)
                return fail(bank + offset + kPatchModCountOffset,
                            "program %u's %u modulation entr%s run%s %llu byte%s past the end of the patch bank", p,
                            entries, entries == 1 ? "y" : "ies", entries == 1 ? "s" : "",
                            static_cast<unsigned long long>(end - bank_size), plural_s(end - bank_size));
        }
        for (uint32_t p = programs; p < kProgramCount; ++p) {
            if (program_use_offset[p] == 0) continue;
            return fail(program_use_offset[p] - 1, "program %u is selected but the patch bank has only %u program%s", p,
                        programs, plural_s(programs));
        }
        return true;
    }

    bool check_speech(size_t at)
    {
        uint32_t block_size = 0;
        if (!word_at(at, "the speech text block size word", block_size)) return false;
        size_t end = at + 4;
        if (block_size != 0 && block_size < kSpeechBlockLimit) {
            const size_t block = at + 4;
            if (block_size > remaining(block))
                return fail(at, "the speech text block is %u byte%s but only %zu byte%s follow", block_size,
                            plural_s(block_size), remaining(block), plural_s(remaining(block)));
            if (block_size < 4)
                return fail(at, "the speech text block is %u byte%s, too small for its text count", block_size,
                            plural_s(block_size));
            const uint32_t texts = word_from_bytes(image + block);
            const uint32_t taken = std::min<uint32_t>(texts, kSpeechTableSize);
            if (4 + 4 * static_cast<uint64_t>(taken) > block_size)
                return fail(block, "the speech text block holds %u text%s but its %u bytes cannot hold their offsets",
                            texts, plural_s(texts), block_size);
            for (uint32_t i = 0; i < taken; ++i) {
                const size_t entry = block + 4 + 4 * static_cast<size_t>(i);
                const uint32_t offset = word_from_bytes(image + entry);
                if (offset >= block_size)
                    return fail(entry, "speech text %u starts at offset %u, outside the %u-byte text block", i, offset,
                                block_size);
                if (!std::memchr(image + block + offset, 0, block_size - offset))
                    return fail(block + offset, "speech text %u is not terminated inside the text block", i);
            }
            end = block + block_size;
            if (end < size)
                return fail(end, "%zu unexpected byte%s after the speech text block", size - end, plural_s(size - end));
            return true;
        }
        if (end < size)
            return fail(end, "%zu unexpected byte%s after the speech text block size word (no text block)", size - end,
                        plural_s(size - end));
        return true;
    }

    bool run()
    {
        size_t at = 0;
        if (!check_header(at)) return false;
        if (!check_channels(at)) return false;

        uint32_t global_size = 0;
        if (!check_block_size(at, "global parameter block", kMaxGlobalBlockBytes, global_size)) return false;
        if (global_size < static_cast<uint32_t>(kGlobalParamCount))
            return fail(at, "the global parameter block is %u byte%s; the engine reads %d", global_size,
                        plural_s(global_size), kGlobalParamCount);
        at += 4 + static_cast<size_t>(global_size);

        uint32_t bank_size = 0;
        if (!check_block_size(at, "patch bank", kMaxPatchBankBytes, bank_size)) return false;
        const size_t bank = at + 4;
        at = bank + bank_size;
        if (!check_bank(bank, bank_size)) return false;
        return check_speech(at);
    }
};

}  // namespace

uint32_t song_bank_program_count(const uint8_t* bank, size_t size)
{
    uint64_t table_end = size;  // the smallest patch offset seen so far, or the bank's end
    uint32_t count = 0;
    while (4 * (static_cast<uint64_t>(count) + 1) <= table_end) {
        const uint32_t offset = word_from_bytes(bank + 4 * static_cast<size_t>(count));
        table_end = std::min<uint64_t>(table_end, offset);
        ++count;
    }
    return count;
}

bool song_validate(const uint8_t* image, size_t size, SongError& error)
{
    error.offset = 0;
    error.message[0] = '\0';
    Checker checker{image, size, error};
    return checker.run();
}
