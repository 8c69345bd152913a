// The structure of a song image in words: time division, tempo events,
// channels and their track counts, block sizes, speech texts and the song's
// length; for a song a program plays, also its title and where playback ends.
// Both the tool's info command and the player's --info print it. The text
// goes to a sink, so the engine side stays free of I/O.
#pragma once

#include <cstddef>
#include <cstdint>

using TextSink = void (*)(void* context, const char* text, size_t length);

struct SongInfoSubject {
    const uint8_t* image;  // validated
    size_t size;
    const char* name;     // the file's name, or what the image is ("embedded song")
    const char* title;    // null when the image alone is described
    uint64_t end_frames;  // where playback ends; with a title only
};

void song_info_write(const SongInfoSubject& subject, TextSink sink, void* context);
