// How every command writes its outputs, so that nothing is lost.
//
// The name given is written as it names it: "-" is standard output; a
// device or a FIFO is opened and written directly; a symbolic link is
// followed and its target written; a regular file is written to a temporary
// file beside it, renamed over it when all went well, keeping the owner and
// mode of the file it replaces. Where such a replacement is impossible (a
// directory that takes no new file, an owner that cannot be kept, a file with
// several links) the file is written in place. On any failure, and on a
// signal that ends the process, the temporary file is removed and the file
// it was to replace stays as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/author_common.h"

struct OutputFile {
    std::string name;       // as given, for messages ("standard output" for "-")
    std::string target;     // what is written in the end: the name with its links followed
    std::string temporary;  // the file written meanwhile; empty when writing to target directly
    int fd = -1;
    bool owns_fd = true;    // false for standard output, which stays open
    bool seekable = false;  // a regular file (a temporary one or written in place)
    int cleanup_slot = -1;  // the temporary file's entry among those a signal removes

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // abandons an output that was not committed
};

// Opens path for writing (mode, less the umask, for a new file). Refuses
// (AuthorError naming path) an empty name, a directory, a missing directory
// (named), a file that cannot be written and a file among inputs.
void output_open(OutputFile& out, const std::string& path, const InputFiles& inputs = {}, unsigned mode = 0666);
// Writes all of bytes or throws AuthorError ("NAME: cannot write: ...").
void output_write(OutputFile& out, const void* bytes, size_t size);
// Finishes the output: closes it and renames the temporary file into place.
void output_commit(OutputFile& out);
// Drops the output: the temporary file is removed, the target left as it was.
void output_abandon(OutputFile& out) noexcept;

// Opens, writes and commits a whole file.
void output_write_file(const std::string& path, const std::vector<uint8_t>& bytes, const InputFiles& inputs = {},
                       unsigned mode = 0666);

// A file of a set written into one directory.
struct SourceFile {
    std::string name;  // relative to the directory ("SONG.yaml", "patches/program_000.yaml")
    std::vector<uint8_t> bytes;
};

// Writes a set of files into directory, all of them or none. A directory
// that does not exist is made (its parents too) from a temporary directory
// beside it renamed into place at the end. An existing one must be empty
// unless force is set; then each file is written as output_write_file writes
// it, all renamed into place only once every one has been written.
void output_write_directory(const std::string& directory, const std::vector<SourceFile>& files, bool force,
                            const InputFiles& inputs = {});
