// Watches the files a song was compiled from (SONG.yaml, its MIDI file, its
// patch files) for saves, by their stamps. A change counts once it has held
// still for one poll, so a file caught half written is read only when its
// writer is done.
#pragma once

#include <vector>

#include "tools/file_stamp.h"

struct SongWatch {
    std::vector<FileStamp> compiled;  // as the last compile read them
    std::vector<FileStamp> polled;    // as the last poll found them
};

// Watches these files from now on, as stamped when they were read.
void song_watch_set(SongWatch& watch, std::vector<FileStamp> stamps);
// True when a watched file has changed since it was read and has not
// changed since the previous poll.
bool song_watch_poll(SongWatch& watch);
