#include "sequencer/song_pack.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned kNibbleMax = 15;  // a nibble of 15 continues in the following bytes
constexpr unsigned kByteMore = 255;  // a count byte of 255 continues in the next one
constexpr int kHashBits = 16;
constexpr int kChainDepth = 1024;  // candidates tried per position: images are small, packing is once

struct Match {
    size_t length;
    size_t offset;
};

uint32_t hash_at(const uint8_t* p)
{
    const uint32_t word = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                          (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return (word * 2654435761u) >> (32 - kHashBits);
}

// Positions with the same hash, newest first: head by hash, then previous by
// position; -1 ends a chain. Images are at most 2^31 bytes, so positions fit.
struct Chains {
    int32_t* head;
    int32_t* previous;
};

void chains_insert(Chains& chains, const uint8_t* image, size_t size, size_t at)
{
    if (at + kPackMinMatch > size) return;
    const uint32_t h = hash_at(image + at);
    chains.previous[at] = chains.head[h];
    chains.head[h] = static_cast<int32_t>(at);
}

Match longest_match(const Chains& chains, const uint8_t* image, size_t size, size_t at)
{
    Match best{0, 0};
    if (at + kPackMinMatch > size) return best;
    int32_t candidate = chains.head[hash_at(image + at)];
    for (int tries = 0; candidate >= 0 && tries < kChainDepth; ++tries) {
        const size_t from = static_cast<size_t>(candidate);
        if (at - from > kPackWindow) break;
        size_t length = 0;
        while (at + length < size && image[from + length] == image[at + length]) ++length;
        if (length > best.length) best = {length, at - from};
        if (at + length == size) break;  // none can be longer
        candidate = chains.previous[from];
    }
    if (best.length < kPackMinMatch) best = {0, 0};
    return best;
}

uint8_t* put_count(uint8_t* out, size_t rest)
{
    for (; rest >= kByteMore; rest -= kByteMore) *out++ = kByteMore;
    *out++ = static_cast<uint8_t>(rest);
    return out;
}

// One run: literals, then the match unless it is absent (length 0).
uint8_t* put_run(uint8_t* out, const uint8_t* literals, size_t count, Match match)
{
    const size_t extra = match.length > 0 ? match.length - kPackMinMatch : 0;
    const unsigned high = count < kNibbleMax ? static_cast<unsigned>(count) : kNibbleMax;
    const unsigned low = extra < kNibbleMax ? static_cast<unsigned>(extra) : kNibbleMax;
    *out++ = static_cast<uint8_t>((high << 4) | low);
    if (high == kNibbleMax) out = put_count(out, count - kNibbleMax);
    if (count > 0) std::memcpy(out, literals, count);
    out += count;
    if (match.length == 0) return out;
    *out++ = static_cast<uint8_t>(match.offset);
    *out++ = static_cast<uint8_t>(match.offset >> 8);
    if (low == kNibbleMax) out = put_count(out, extra - kNibbleMax);
    return out;
}

bool fail(SongError& error, size_t offset, const char* message)
{
    error.offset = offset;
    std::snprintf(error.message, sizeof error.message, "%s", message);
    return false;
}

// Adds the continuation bytes of a count whose nibble was 15. False when the
// packed bytes end first or the count passes limit.
bool take_count(const uint8_t* packed, size_t packed_size, size_t& at, size_t& count, size_t limit)
{
    for (;;) {
        if (at >= packed_size) return false;
        const uint8_t more = packed[at++];
        count += more;
        if (count > limit) return false;
        if (more != kByteMore) return true;
    }
}

}  // namespace

size_t song_pack(const uint8_t* image, size_t size, uint8_t* out)
{
    constexpr size_t kHeads = size_t{1} << kHashBits;
    // malloc rather than containers: the player links no C++ runtime library.
    Chains chains{static_cast<int32_t*>(std::malloc(kHeads * sizeof(int32_t))),
                  static_cast<int32_t*>(std::malloc((size > 0 ? size : 1) * sizeof(int32_t)))};
    if (chains.head == nullptr || chains.previous == nullptr) {  // all literals: still a packing
        std::free(chains.head);
        std::free(chains.previous);
        return static_cast<size_t>(put_run(out, image, size, Match{0, 0}) - out);
    }
    std::memset(chains.head, 0xFF, kHeads * sizeof(int32_t));  // -1 everywhere
    std::memset(chains.previous, 0xFF, size * sizeof(int32_t));
    uint8_t* const start = out;
    size_t literal_from = 0;
    size_t at = 0;
    while (at < size) {
        Match match = longest_match(chains, image, size, at);
        // A longer match one byte on is worth a literal (lazy matching).
        if (match.length > 0 && at + 1 < size) {
            chains_insert(chains, image, size, at);
            const Match next = longest_match(chains, image, size, at + 1);
            if (next.length > match.length) {
                ++at;
                continue;
            }
        } else {
            chains_insert(chains, image, size, at);
        }
        if (match.length == 0) {
            ++at;
            continue;
        }
        out = put_run(out, image + literal_from, at - literal_from, match);
        for (size_t i = 1; i < match.length; ++i) chains_insert(chains, image, size, at + i);
        at += match.length;
        literal_from = at;
    }
    if (literal_from < size) out = put_run(out, image + literal_from, size - literal_from, Match{0, 0});
    std::free(chains.head);
    std::free(chains.previous);
    return static_cast<size_t>(out - start);
}

bool song_unpack(const uint8_t* packed, size_t packed_size, uint8_t* image, size_t image_size, SongError& error)
{
    size_t at = 0;
    size_t made = 0;
    while (at < packed_size) {
        const size_t run_at = at;
        const uint8_t token = packed[at++];
        size_t count = token >> 4;
        if (count == kNibbleMax && !take_count(packed, packed_size, at, count, image_size))
            return fail(error, run_at, "the packed song is damaged: a literal count runs past its end");
        if (count > packed_size - at) return fail(error, run_at, "the packed song ends inside its literal bytes");
        if (count > image_size - made) return fail(error, run_at, "the packed song unpacks to more bytes than claimed");
        if (count > 0) std::memcpy(image + made, packed + at, count);  // image may be null when empty
        at += count;
        made += count;
        if (at == packed_size) break;

        if (packed_size - at < 2) return fail(error, at, "the packed song ends inside a match");
        const size_t offset = packed[at] | (static_cast<size_t>(packed[at + 1]) << 8);
        if (offset == 0 || offset > made)
            return fail(error, at, "the packed song is damaged: a match reaches before the song's start");
        at += 2;
        size_t length = token & kNibbleMax;
        if (length == kNibbleMax && !take_count(packed, packed_size, at, length, image_size))
            return fail(error, run_at, "the packed song is damaged: a match length runs past its end");
        length += kPackMinMatch;
        if (length > image_size - made)
            return fail(error, run_at, "the packed song unpacks to more bytes than claimed");
        for (size_t i = 0; i < length; ++i) image[made + i] = image[made + i - offset];
        made += length;
    }
    if (made != image_size) return fail(error, at, "the packed song unpacks to fewer bytes than claimed");
    return true;
}
