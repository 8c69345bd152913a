// Fuzzes the unpacking of an appended song's image, which the trailer's
// checksum otherwise shields from a fuzzer. Input: the claimed image size (a
// little-endian word, kept below 1 MiB), then the packed bytes. Whatever
// unpacks must pack and unpack to itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sequencer/song_pack.h"
#include "synth/units/numeric.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t kSizeBytes = 4;
    constexpr uint32_t kLargestImage = (1u << 20) - 1;
    if (size < kSizeBytes) return 0;
    const size_t image_size = word_from_bytes(data) & kLargestImage;
    std::vector<uint8_t> image(image_size);
    SongError error{};
    if (!song_unpack(data + kSizeBytes, size - kSizeBytes, image.data(), image_size, error)) return 0;

    std::vector<uint8_t> packed(song_pack_bound(image_size));
    packed.resize(song_pack(image.data(), image_size, packed.data()));
    std::vector<uint8_t> again(image_size);
    if (!song_unpack(packed.data(), packed.size(), again.data(), image_size, error)) __builtin_trap();
    if (image_size > 0 && std::memcmp(image.data(), again.data(), image_size) != 0) __builtin_trap();
    return 0;
}
