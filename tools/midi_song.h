// `compile song.mid`: a MIDI file compiled without a line of YAML, with the
// starter bank, the General MIDI routing and the bank's song-wide effects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/author_common.h"

// The file starts as a standard MIDI file does ("MThd").
bool is_midi_file(const std::vector<uint8_t>& bytes);

// Throws AuthorError naming the file and place of the first fault. The image
// is checked by the song loader's validation before it is returned.
std::vector<uint8_t> song_compile_midi(const std::string& path, const FileReader& read, Warnings& warnings);
