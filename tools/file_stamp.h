// A file a song was read from, as it stood when it was read: its
// modification time, size and inode (editors that save by renaming a new
// file into place change the inode). A missing file has a stamp too, so
// creating it shows as a change. Whatever reloads a song on save (the
// plugin, `cantilena-tool play --watch`) watches the files its compile
// read through these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/author_common.h"

struct FileStamp {
    std::string path;
    bool exists = false;
    int64_t modified_ns = 0;
    int64_t size = 0;
    uint64_t inode = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp file_stamp(const std::string& path);
// True when any of the files is no longer as it was stamped.
bool files_changed(const std::vector<FileStamp>& files);
// A disk reader that stamps every file before reading it (a save between
// the two shows as a change later), adding the stamp to stamps.
FileReader file_reader_stamping(std::vector<FileStamp>& stamps);
