// Writes the seed inputs the fuzz targets start from, beyond the files in
// fuzz/corpus/: song images built with the test builders and the embedded
// song (song_fuzz), the embedded song appended as export appends it
// (appended_song_fuzz) and packed (song_pack_fuzz), and small MIDI files of every kind of event (midi_fuzz).
//
//   write_fuzz_seeds DIRECTORY   writes DIRECTORY/<fuzz target>/<seed>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "data/embedded_song.h"
#include "sequencer/song_pack.h"
#include "sequencer/song_trailer.h"
#include "tests/sequencer/sequencer_test_support.h"
#include "tests/tools/authoring_test_support.h"
#include "tools/author_common.h"
#include "tools/output_file.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Seeds = std::vector<std::pair<std::string, Bytes>>;

Seeds song_seeds()
{
    using namespace image_builder;
    SongPlan tiny;
    tiny.channels[0].notes = {{0, 60, 100}, {30, 60, 0}};
    return {
        {"busy.img", build_song_image(busy_song(1))},
        {"empty.img", build_song_image(SongPlan{})},
        {"tiny.img", build_song_image(tiny)},
        {"embedded.img", Bytes(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize)},
    };
}

// What export appends to a program: the image packed, then its trailer.
Seeds appended_song_seeds()
{
    const Bytes image(kEmbeddedSong, kEmbeddedSong + kEmbeddedSongSize);
    const std::string title = "Lanterns on the Water";
    Bytes bytes(song_appended_bound(image.size()));
    bytes.resize(song_appended_write(bytes.data(), image.data(), static_cast<uint32_t>(image.size()), title.data(),
                                     title.size(), 198 * kSampleRate));
    return {{"appended.bin", bytes}};
}

// The embedded song packed, behind its size.
Seeds packed_song_seeds()
{
    Bytes bytes(4 + song_pack_bound(kEmbeddedSongSize));
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(kEmbeddedSongSize >> (8 * i));
    bytes.resize(4 + song_pack(kEmbeddedSong, kEmbeddedSongSize, bytes.data() + 4));
    return {{"embedded.bin", bytes}};
}

Seeds midi_seeds(const std::filesystem::path& source)
{
    using namespace authoring_test;
    Seeds seeds = {
        {"notes.mid",
         midi_bytes(0, 96, {track_chunk({{0, {0x90, 60, 100}}, {10, {62, 90}}, {20, {0x80, 60, 0}}, {30, {62, 0}}})})},
        {"everything.mid",
         midi_bytes(1, 480,
                    {track_chunk(
                         {{0, tempo_bytes(500000)}, {0, time_signature_bytes(3, 2)}, {960, tempo_bytes(250000)}}),
                     track_chunk({{0, {0xC0, 3}},
                                  {0, {0xB0, 7, 100}},
                                  {0, {0x90, 60, 100}},
                                  {0, {0xFF, 0x01, 0x02, 'h', 'i'}},
                                  {10, {64, 100}},
                                  {20, {0xE0, 0, 64}},
                                  {40, {0x90, 60, 0}},
                                  {40, {0xF0, 0x02, 0x7E, 0xF7}},
                                  {40, {64, 0}}})})},
        {"smpte.mid", midi_bytes(0, 0xE728, {track_chunk({{0, {0x99, 36, 100}}, {0, {0x99, 36, 0}}})})},
        {"unended.mid", midi_bytes(1, 96, {track_chunk({}), track_chunk({{0, {0x90, 60, 1}}}, false)})},
    };
    seeds.push_back({"first-song.mid", file_read_all((source / "examples/first-song/song.mid").string())});
    return seeds;
}

void write_all(const std::filesystem::path& directory, const Seeds& seeds)
{
    std::filesystem::create_directories(directory);
    for (const auto& [name, bytes] : seeds) output_write_file((directory / name).string(), bytes);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\nWrites the fuzz targets' seed inputs under DIRECTORY.\n", argv[0]);
        return 2;
    }
    try {
        const std::filesystem::path directory = argv[1];
        write_all(directory / "song_fuzz", song_seeds());
        write_all(directory / "appended_song_fuzz", appended_song_seeds());
        write_all(directory / "song_pack_fuzz", packed_song_seeds());
        write_all(directory / "midi_fuzz", midi_seeds(CANTILENA_SOURCE_DIR));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
