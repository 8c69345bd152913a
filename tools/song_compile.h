// The two directions of song authoring:
// - compile: SONG.yaml, its patch files and its MIDI file become a song image;
// - decompile: an image becomes SONG.yaml, patch files and a MIDI file that
//   compile back into the very same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/author_common.h"
#include "tools/output_file.h"  // SourceFile

// Throws AuthorError naming the file and place of the first fault. The
// image is checked by the song loader's validation before it is returned.
// title, when given, receives SONG.yaml's title ("" when it has none).
std::vector<uint8_t> song_compile(const std::string& song_yaml, const FileReader& read, Warnings& warnings,
                                  std::string* title = nullptr);

struct SongDescription;

// The same from a description already read (SONG.yaml, or a MIDI file alone,
// song_description_of_midi); the MIDI file's lyrics may add a text to it.
std::vector<uint8_t> song_compile_description(SongDescription& desc, const FileReader& read, Warnings& warnings);

// The sounds of a read SONG.yaml as an image without events: its global block,
// a patch bank with an entry for every program 0..127 (those SONG.yaml leaves
// out play the first patch, or with the starter bank their family's patch)
// and its speech texts. Throws AuthorError.
std::vector<uint8_t> song_compile_sounds(const SongDescription& desc);

constexpr const char* kSongYamlName = "SONG.yaml";
constexpr const char* kSongMidiName = "song.mid";
constexpr const char* kPatchDirectory = "patches";

// The sources of an image. Refuses invalid images and the few valid ones
// whose bytes the sources cannot reproduce (values outside 0..127 that a MIDI
// file cannot hold, time signatures whose denominator is no power of two, a
// global block of other than 22 bytes, more than 128 programs, a patch bank or
// speech block laid out otherwise than compile lays them out);
// the sources it returns have been compiled once in memory and give back the
// image byte for byte. Throws AuthorError.
std::vector<SourceFile> song_decompile(const std::vector<uint8_t>& image, const std::string& name);
