#include "tools/file_stamp.h"

#include <sys/stat.h>

#include <algorithm>

FileStamp file_stamp(const std::string& path)
{
    FileStamp stamp;
    stamp.path = path;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return stamp;
    stamp.exists = true;
    stamp.modified_ns = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.size = static_cast<int64_t>(info.st_size);
    stamp.inode = static_cast<uint64_t>(info.st_ino);
    return stamp;
}

bool files_changed(const std::vector<FileStamp>& files)
{
    return std::any_of(files.begin(), files.end(), [](const FileStamp& f) { return !(file_stamp(f.path) == f); });
}

FileReader file_reader_stamping(std::vector<FileStamp>& stamps)
{
    return [&stamps](const std::string& path) {
        stamps.push_back(file_stamp(path));
        return file_read_all(path);
    };
}
