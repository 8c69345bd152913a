// Song images from files for the tool commands: read, validated completely
// before anything plays them, with errors that name the file and byte offset.
// A file may also be a program that `export` wrote: its appended song is
// taken, checked exactly as the program itself checks it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SongImageFile {
    std::string name;            // the file name, or "embedded song"
    std::string what;            // what info calls it: the file name, "embedded song" or "appended song"
    std::vector<uint8_t> bytes;  // the whole image; the player points into it
    bool has_title = false;      // the embedded song and appended songs have a title and an end
    std::string title;
    uint32_t end_frames = 0;  // where playback ends
};

// Reads a whole file. On failure, error says which file and why.
bool image_file_read(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Reads and validates a song image; an empty path takes the embedded song
// (validated the same way). On failure, error reads "NAME: byte N: what".
bool song_image_open(const std::string& path, SongImageFile& image, std::string& error);
