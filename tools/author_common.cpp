#include "tools/author_common.h"

#include "sequencer/plural.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

std::string at_byte(const std::string& file, uint64_t offset)
{
    return file + ": byte " + std::to_string(offset);
}

std::string count_of(uint64_t count, const std::string& noun)
{
    return std::to_string(count) + " " + noun + plural_s(count);
}

std::string at_line(const std::string& file, int line, int column)
{
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

namespace {

std::string size_text(uint64_t bytes)
{
    constexpr uint64_t kMebibyte = uint64_t{1} << 20;
    return bytes % kMebibyte == 0 ? std::to_string(bytes / kMebibyte) + " MiB" : count_of(bytes, "byte");
}

}  // namespace

InputFiles file_identities(const std::vector<std::string>& paths)
{
    InputFiles inputs;
    for (const std::string& path : paths) {
        struct stat info {};
        if (!path.empty() && ::stat(path.c_str(), &info) == 0)
            inputs.push_back({static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), path});
    }
    return inputs;
}

std::vector<uint8_t> file_read_all(const std::string& path, const FileLimit& limit, InputFiles* inputs)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw AuthorError(path, std::strerror(errno));
    struct stat info {};
    if (::fstat(fileno(file), &info) == 0) {
        if (inputs) inputs->push_back({static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), path});
        if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > limit.bytes) {
            std::fclose(file);
            throw AuthorError(path, "larger than " + size_text(limit.bytes) + ": no " + limit.kind + " is that large");
        }
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (bytes.size() + got > limit.bytes) {
            std::fclose(file);
            throw AuthorError(path, "more than " + size_text(limit.bytes) + ": no " + limit.kind + " is that large");
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    const int saved = errno;
    std::fclose(file);
    if (failed) throw AuthorError(path, std::string("cannot read: ") + std::strerror(saved));
    return bytes;
}

FileReader file_reader_disk(InputFiles* inputs)
{
    return [inputs](const std::string& path) { return file_read_all(path, kSourceFileLimit, inputs); };
}

std::string path_directory(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string path_join(const std::string& directory, const std::string& name)
{
    if (directory.empty() || (!name.empty() && name[0] == '/')) return name;
    if (directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

namespace {

// The character at utf8[at] and its length in bytes; length 0 for a byte
// that begins no well-formed character (overlong forms and surrogates
// included).
uint32_t utf8_character(const std::string& utf8, size_t at, size_t& length)
{
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(utf8[i]); };
    const uint8_t lead = byte(at);
    length = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    size_t count;
    uint32_t code;
    uint32_t smallest;
    if ((lead & 0xE0) == 0xC0) {
        count = 2, code = lead & 0x1Fu, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        count = 3, code = lead & 0x0Fu, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        count = 4, code = lead & 0x07u, smallest = 0x10000;
    } else {
        return 0;
    }
    if (at + count > utf8.size()) return 0;
    for (size_t i = 1; i < count; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    length = count;
    return code;
}

}  // namespace

bool latin1_from_utf8(const std::string& utf8, std::string& bytes, TextFault& fault)
{
    bytes.clear();
    size_t character = 0;
    for (size_t at = 0; at < utf8.size(); ++character) {
        size_t length;
        const uint32_t code = utf8_character(utf8, at, length);
        if (length == 0 || code == 0 || code > 0xFF) {
            fault = {length == 0, character + 1, at + 1, length == 0 ? static_cast<uint8_t>(utf8[at]) : code};
            return false;
        }
        bytes.push_back(static_cast<char>(code));
        at += length;
    }
    return true;
}

std::string text_fault_message(const TextFault& fault)
{
    char text[160];
    if (fault.not_utf8)
        std::snprintf(text, sizeof text, "byte %zu of this text (0x%02X) is not valid UTF-8: save the file as UTF-8",
                      fault.byte, static_cast<unsigned>(fault.code));
    else
        std::snprintf(text, sizeof text,
                      "character %zu of this text (U+%04X) is not an 8-bit character (U+0001..U+00FF)", fault.character,
                      static_cast<unsigned>(fault.code));
    return text;
}

void make_directories(const std::string& path)
{
    std::string partial;
    size_t at = 0;
    while (at <= path.size()) {
        const size_t slash = path.find('/', at);
        partial = path.substr(0, slash == std::string::npos ? path.size() : slash);
        at = slash == std::string::npos ? path.size() + 1 : slash + 1;
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
            throw AuthorError(partial, std::string("cannot create the directory: ") + std::strerror(errno));
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) throw AuthorError(path, "not a directory");
}
