#include "tools/author_common.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::string at_byte(const std::string& file, uint64_t offset)
{
    return file + ": byte " + std::to_string(offset);
}

std::string at_line(const std::string& file, int line, int column)
{
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

std::vector<uint8_t> file_read_all(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw AuthorError(path, std::strerror(errno));
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(file) != 0;
    const int saved = errno;
    std::fclose(file);
    if (failed) throw AuthorError(path, std::string("cannot read: ") + std::strerror(saved));
    return bytes;
}

FileReader file_reader_disk()
{
    return [](const std::string& path) { return file_read_all(path); };
}

void file_write_atomically(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode)
{
    std::string temp = path + ".tmpXXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) throw AuthorError(path, std::string("cannot create a temporary file: ") + std::strerror(errno));
    temp = name.data();
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int saved = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            throw AuthorError(path, std::string("cannot write: ") + std::strerror(saved));
        }
        written += static_cast<size_t>(n);
    }
    // mkstemp creates the file readable by its owner only; give it the mode asked for.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, static_cast<mode_t>(mode) & ~mask);
    if (::close(fd) != 0 || std::rename(temp.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temp.c_str());
        throw AuthorError(path, std::string("cannot write: ") + std::strerror(saved));
    }
}

void file_write_atomically(const std::string& path, const std::string& text)
{
    file_write_atomically(path, std::vector<uint8_t>(text.begin(), text.end()));
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

bool latin1_from_utf8(const std::string& utf8, std::string& bytes, size_t& bad_position)
{
    bytes.clear();
    size_t i = 0;
    size_t character = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        uint32_t code = 0;
        if (lead < 0x80) {
            code = lead;
            i += 1;
        } else if ((lead & 0xE0) == 0xC0 && i + 1 < utf8.size() && (static_cast<uint8_t>(utf8[i + 1]) & 0xC0) == 0x80) {
            code = ((lead & 0x1Fu) << 6) | (static_cast<uint8_t>(utf8[i + 1]) & 0x3Fu);
            if (code < 0x80) code = 0x100;  // overlong form: reject below
            i += 2;
        } else {
            code = 0x100;
        }
        if (code == 0 || code > 0xFF) {
            bad_position = character;
            return false;
        }
        bytes.push_back(static_cast<char>(code));
        ++character;
    }
    return true;
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
