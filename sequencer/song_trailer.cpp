#include "sequencer/song_trailer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sequencer/plural.h"
#include "sequencer/song_pack.h"
#include "synth/units/numeric.h"

const char kTrailerMark[kTrailerMarkBytes + 1] = "Cantilena song 2";

namespace {

constexpr uint32_t kCrcPolynomial = 0xEDB88320u;  // reflected

// ELF64 file header fields (byte offsets) and the values a program of ours has.
constexpr uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr size_t kElfClassAt = 4, kElfDataAt = 5;
constexpr uint8_t kElfClass64 = 2, kElfLittleEndian = 1;
constexpr size_t kElfPhoffAt = 32, kElfShoffAt = 40, kElfEhsizeAt = 52, kElfPhentsizeAt = 54, kElfPhnumAt = 56,
                 kElfShentsizeAt = 58, kElfShnumAt = 60;
constexpr size_t kElfHeaderBytes = 64;
constexpr size_t kElfSegmentOffsetAt = 8, kElfSegmentFileSizeAt = 32;  // in a program header
constexpr size_t kElfProgramHeaderBytes = 56;

uint64_t read_long(const uint8_t* p)
{
    return word_from_bytes(p) | (static_cast<uint64_t>(word_from_bytes(p + 4)) << 32);
}

uint32_t read_half(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}

void write_word(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t trailer_checksum(const uint8_t* packed, size_t packed_size, const uint8_t* trailer)
{
    return song_checksum(trailer, kTrailerChecksumAt, song_checksum(packed, packed_size));
}

bool fail(SongError& error, size_t offset, const char* message)
{
    error.offset = offset;
    std::snprintf(error.message, sizeof error.message, "%s", message);
    return false;
}

}  // namespace

uint32_t song_checksum(const uint8_t* bytes, size_t size, uint32_t crc)
{
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (kCrcPolynomial & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool song_title_valid(const char* title, size_t length)
{
    if (length >= kTrailerTitleBytes) return false;
    const auto* text = reinterpret_cast<const uint8_t*>(title);
    for (size_t i = 0; i < length;) {
        const uint8_t lead = text[i];
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7F) return false;
            ++i;
            continue;
        }
        const size_t count = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (count == 0 || i + count > length) return false;
        uint32_t code = lead & (0x7Fu >> count);
        for (size_t k = 1; k < count; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (text[i + k] & 0x3Fu);
        }
        const uint32_t smallest = count == 2 ? 0xA0 : count == 3 ? 0x800 : 0x10000;  // below 0xA0: C1 controls
        if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += count;
    }
    return true;
}

size_t song_appended_bound(size_t image_size)
{
    return song_pack_bound(image_size) + kTrailerBytes;
}

size_t song_appended_write(uint8_t* out, const uint8_t* image, uint32_t image_size, const char* title,
                           size_t title_length, uint32_t end_frames)
{
    const size_t packed_size = song_pack(image, image_size, out);
    uint8_t* trailer = out + packed_size;
    std::memset(trailer, 0, kTrailerBytes);
    std::memcpy(trailer, title, title_length);
    write_word(trailer + kTrailerSizeAt, static_cast<uint32_t>(packed_size));
    write_word(trailer + kTrailerEndAt, end_frames);
    write_word(trailer + kTrailerImageSizeAt, image_size);
    write_word(trailer + kTrailerChecksumAt, trailer_checksum(out, packed_size, trailer));
    std::memcpy(trailer + kTrailerMarkAt, kTrailerMark, kTrailerMarkBytes);
    return packed_size + kTrailerBytes;
}

bool program_extent(const uint8_t* head, size_t head_size, uint64_t& extent)
{
    if (head_size < kElfHeaderBytes || std::memcmp(head, kElfMagic, sizeof kElfMagic) != 0 ||
        head[kElfClassAt] != kElfClass64 || head[kElfDataAt] != kElfLittleEndian)
        return false;
    const uint64_t phoff = read_long(head + kElfPhoffAt);
    const uint64_t phentsize = read_half(head + kElfPhentsizeAt);
    const uint64_t phnum = read_half(head + kElfPhnumAt);
    if (phentsize < kElfProgramHeaderBytes || phoff > head_size || phnum * phentsize > head_size - phoff) return false;
    const uint64_t shoff = read_long(head + kElfShoffAt);
    const uint64_t sections = static_cast<uint64_t>(read_half(head + kElfShnumAt)) * read_half(head + kElfShentsizeAt);
    if (shoff > UINT64_MAX - sections) return false;

    uint64_t end = read_half(head + kElfEhsizeAt);
    if (phoff + phnum * phentsize > end) end = phoff + phnum * phentsize;
    if (shoff + sections > end) end = shoff + sections;
    for (uint64_t i = 0; i < phnum; ++i) {
        const uint8_t* segment = head + phoff + i * phentsize;
        const uint64_t offset = read_long(segment + kElfSegmentOffsetAt);
        const uint64_t size = read_long(segment + kElfSegmentFileSizeAt);
        if (offset > UINT64_MAX - size) return false;
        if (offset + size > end) end = offset + size;
    }
    extent = end;
    return true;
}

bool song_appended_check(const uint8_t* appended, size_t size, AppendedSong& song, SongError& error)
{
    if (size < kTrailerBytes) return fail(error, 0, "cut short: the appended bytes are fewer than a trailer takes");
    const size_t trailer_at = size - kTrailerBytes;
    const uint8_t* trailer = appended + trailer_at;
    if (std::memcmp(trailer + kTrailerMarkAt, kTrailerMark, kTrailerMarkBytes) != 0)
        return fail(error, trailer_at + kTrailerMarkAt,
                    "the trailer does not end with its mark: the file was cut short or damaged");
    const uint32_t packed_size = word_from_bytes(trailer + kTrailerSizeAt);
    if (packed_size != trailer_at) {
        char message[sizeof error.message];
        std::snprintf(message, sizeof message, "the trailer claims a %u-byte packed image, but %zu byte%s precede%s it",
                      packed_size, trailer_at, plural_s(trailer_at), trailer_at == 1 ? "s" : "");
        return fail(error, trailer_at + kTrailerSizeAt, message);
    }
    if (word_from_bytes(trailer + kTrailerChecksumAt) != trailer_checksum(appended, packed_size, trailer))
        return fail(error, trailer_at + kTrailerChecksumAt, "the checksum does not match: the song is damaged");
    const size_t title_length = strnlen(reinterpret_cast<const char*>(trailer), kTrailerTitleBytes);
    for (size_t i = title_length; i < kTrailerTitleBytes; ++i)
        if (trailer[i] != 0) return fail(error, trailer_at + i, "the title is not followed by zeros");
    if (!song_title_valid(reinterpret_cast<const char*>(trailer), title_length))
        return fail(error, trailer_at, "the title is not printable UTF-8 text");
    const uint32_t image_size = word_from_bytes(trailer + kTrailerImageSizeAt);
    if (image_size > kMaxAppendedImageBytes)
        return fail(error, trailer_at + kTrailerImageSizeAt, "the trailer claims an image larger than a song can take");

    auto* image = static_cast<uint8_t*>(std::malloc(image_size > 0 ? image_size : 1));
    if (image == nullptr) return fail(error, trailer_at + kTrailerImageSizeAt, "no memory to unpack the song");
    if (!song_unpack(appended, packed_size, image, image_size, error) || !song_validate(image, image_size, error)) {
        std::free(image);
        return false;
    }
    song.image = image;
    song.image_size = image_size;
    song.end_frames = word_from_bytes(trailer + kTrailerEndAt);
    std::memcpy(song.title, trailer, kTrailerTitleBytes);
    return true;
}

void song_appended_release(AppendedSong& song)
{
    std::free(song.image);
    song.image = nullptr;
    song.image_size = 0;
}
