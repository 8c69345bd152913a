#include "tools/song_watch.h"

void song_watch_set(SongWatch& watch, std::vector<FileStamp> stamps)
{
    watch.polled = stamps;
    watch.compiled = std::move(stamps);
}

bool song_watch_poll(SongWatch& watch)
{
    std::vector<FileStamp> now;
    for (const FileStamp& stamp : watch.compiled) now.push_back(file_stamp(stamp.path));
    const bool settled = now == watch.polled;
    watch.polled = std::move(now);
    return settled && watch.polled != watch.compiled;
}
