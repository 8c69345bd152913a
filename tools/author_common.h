// What the authoring tools (compile, decompile) share: errors that name the
// file and place, a list of warnings, bounded whole-file reading.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// An error in an input or output file. where reads "song.mid: byte 1234" or
// "SONG.yaml:12:5"; what says what is wrong.
struct AuthorError : std::runtime_error {
    std::string where;
    std::string what_wrong;
    AuthorError(std::string where_, std::string what_)
        : std::runtime_error(where_.empty() ? what_ : where_ + ": " + what_),
          where(std::move(where_)),
          what_wrong(std::move(what_))
    {
    }
};

// Things that were read leniently or changed on the way, each one line with
// its place: "song.mid: byte 1234: ...".
struct Warnings {
    std::vector<std::string> lines;
    void add(const std::string& where, const std::string& what)
    {
        lines.push_back(where.empty() ? what : where + ": " + what);
    }
};

std::string at_byte(const std::string& file, uint64_t offset);
// "1 byte", "2 bytes".
std::string count_of(uint64_t count, const std::string& noun);
std::string at_line(const std::string& file, int line, int column);  // 1-based

// A file a command read, so that it can refuse to write its output over it.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    std::string name;
};
using InputFiles = std::vector<FileIdentity>;
// The identities of the named files that exist (for inputs read elsewhere).
InputFiles file_identities(const std::vector<std::string>& paths);

// The most bytes a file of a kind is read with: far above any real one, so
// that a device or a huge file given by mistake ends in an error instead of
// exhausting memory.
struct FileLimit {
    uint64_t bytes;
    const char* kind;  // "no <kind> is that large"
};
constexpr FileLimit kSourceFileLimit{uint64_t{64} << 20, "song source (MIDI or YAML file)"};
constexpr FileLimit kImageFileLimit{uint64_t{64} << 20, "song image or program"};

// Reads a whole file of at most limit.bytes, noting it in inputs when given.
// Throws AuthorError naming the file when it cannot be read or is too large.
std::vector<uint8_t> file_read_all(const std::string& path, const FileLimit& limit = kSourceFileLimit,
                                   InputFiles* inputs = nullptr);

// Reads the files a compile needs; tests and decompile's self-check read from
// memory instead of the disk. Throws AuthorError when the file cannot be read.
using FileReader = std::function<std::vector<uint8_t>(const std::string& path)>;
// Reads song sources from the disk, noting each file read in inputs when given.
FileReader file_reader_disk(InputFiles* inputs = nullptr);

// Creates a directory and its parents (as mkdir -p); AuthorError when one
// cannot be made or the path is not a directory.
void make_directories(const std::string& path);

// Directory part of a path ("" for a bare name) and path joining that leaves
// absolute names alone.
std::string path_directory(const std::string& path);
std::string path_join(const std::string& directory, const std::string& name);

// Where and why a text has no 8-bit form.
struct TextFault {
    bool not_utf8 = false;  // a byte that begins no UTF-8 character, else a character outside U+0001..U+00FF
    size_t character = 0;   // counted from 1
    size_t byte = 0;        // counted from 1
    uint32_t code = 0;      // the byte that is not UTF-8, or the character
};
// Texts are 8-bit: each character U+0001..U+00FF of a UTF-8 string becomes one
// byte. Returns false, saying where and why, for anything else.
bool latin1_from_utf8(const std::string& utf8, std::string& bytes, TextFault& fault);
// "byte 4 of this text (0xE9) is not valid UTF-8 ..." or "character 3 of this text (U+263A) is not ..."
std::string text_fault_message(const TextFault& fault);
