// A song as a program of its own: the player built without a song, the song
// image and its trailer (sequencer/song_trailer.h). Packed, the same program
// compressed with xz behind a small POSIX shell stub that unpacks it into a
// private temporary directory and runs it there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The player, the image packed and the trailer; the title must be valid
// (song_title_valid).
std::vector<uint8_t> program_compose(const std::vector<uint8_t>& player, const std::vector<uint8_t>& image,
                                     const std::string& title, uint32_t end_frames);

// The program behind the unpacking stub. Throws AuthorError if compression fails.
std::vector<uint8_t> program_pack(const std::vector<uint8_t>& program);

// The title a file gives when nothing else names the song: its name without
// directory and extension, cut to what a trailer holds at a character
// boundary. "" when that is no valid title.
std::string program_title_from_file_name(const std::string& path);
