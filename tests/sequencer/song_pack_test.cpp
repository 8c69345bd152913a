#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "data/embedded_song.h"
#include "sequencer/song_pack.h"

using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint8_t kGuard = 0xA5;  // fills the bytes past the image: unpacking must never touch them
constexpr size_t kGuardBytes = 64;

Bytes pack(const Bytes& image)
{
    Bytes packed(song_pack_bound(image.size()));
    packed.resize(song_pack(image.data(), image.size(), packed.data()));
    return packed;
}

// Unpacks into image_size bytes; "" when it succeeds (out then holds the image), else the error message.
std::string unpack(const Bytes& packed, size_t image_size, Bytes& out)
{
    out.assign(image_size + kGuardBytes, kGuard);
    SongError error{};
    const bool ok = song_unpack(packed.data(), packed.size(), out.data(), image_size, error);
    for (size_t i = image_size; i < out.size(); ++i)
        if (out[i] != kGuard) return "wrote past the image's end";
    out.resize(image_size);
    return ok ? "" : error.message;
}

Bytes noise(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    for (uint8_t& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

}  // namespace

TEST(SongPack, EveryKindOfContentUnpacksToItself)
{
    Bytes runs(3000, 7);  // a match overlapping what it makes
    Bytes far = noise(200, 1);
    const Bytes gap = noise(kPackWindow, 2);
    far.insert(far.end(), gap.begin(), gap.end());
    far.insert(far.end(), far.begin(), far.begin() + 200);  // a repeat just out of reach
    std::vector<Bytes> cases = {{}, {42}, noise(1, 3), noise(5000, 4), runs, far};
    // Literal counts and match lengths around where a nibble and a count byte overflow.
    for (size_t length : {14, 15, 16, 17, 18, 19, 20, 269, 270, 271, 272, 524, 525, 526}) {
        Bytes literals = noise(length, static_cast<uint32_t>(length));
        Bytes repeated = literals;
        repeated.insert(repeated.end(), literals.begin(), literals.end());
        cases.push_back(literals);
        cases.push_back(repeated);
    }
    for (const Bytes& image : cases) {
        const Bytes packed = pack(image);
        EXPECT_LE(packed.size(), song_pack_bound(image.size()));
        Bytes out;
        ASSERT_EQ(unpack(packed, image.size(), out), "") << image.size() << " bytes";
        EXPECT_EQ(out, image) << image.size() << " bytes";
    }
    EXPECT_LT(pack(runs).size(), 32u);
}

TEST(SongPack, TheEmbeddedSongPacksToAFractionOfItsSize)
{
    const Bytes image(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize);
    const Bytes packed = pack(image);
    EXPECT_LT(packed.size(), image.size() / 4);
    Bytes out;
    ASSERT_EQ(unpack(packed, image.size(), out), "");
    EXPECT_EQ(out, image);
}

TEST(SongPack, DamagedPackingsAreRefusedWithoutWritingPastTheImage)
{
    Bytes image = noise(100, 5);
    image.insert(image.end(), image.begin(), image.end());
    const Bytes packed = pack(image);
    Bytes out;
    for (size_t length = 0; length < packed.size(); ++length)
        EXPECT_NE(unpack(Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length)), image.size(),
                         out),
                  "")
            << "cut to " << length << " bytes";
    EXPECT_EQ(unpack(packed, image.size() - 1, out), "the packed song unpacks to more bytes than claimed");
    EXPECT_EQ(unpack(packed, image.size() + 1, out), "the packed song unpacks to fewer bytes than claimed");

    const uint8_t one_literal_then_match = 0x10;
    EXPECT_EQ(unpack({one_literal_then_match, 9, 0, 0}, 5, out),
              "the packed song is damaged: a match reaches before the song's start")
        << "offset 0";
    EXPECT_EQ(unpack({one_literal_then_match, 9, 2, 0}, 5, out),
              "the packed song is damaged: a match reaches before the song's start")
        << "offset beyond the one byte made";
    EXPECT_EQ(unpack({one_literal_then_match, 9, 1, 0}, 5, out), "");
    EXPECT_EQ(out, Bytes(5, 9));

    Bytes endless_count = {0xF0};
    endless_count.insert(endless_count.end(), 100, 255);
    EXPECT_EQ(unpack(endless_count, 1000, out), "the packed song is damaged: a literal count runs past its end");
    EXPECT_EQ(unpack({0x30, 1, 2}, 3, out), "the packed song ends inside its literal bytes");
}
