#include "tools/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr const char* kNotEmpty =
    "the directory is not empty (--force writes into it, replacing files of the same names)";
constexpr int kMostLinksFollowed = 40;  // as the kernel follows at most

std::string error_text(int error)
{
    return std::strerror(error);
}

// Paths to remove when a signal ends the process while outputs are written:
// temporary files ('f' before the path) and directories ('d'). An entry is
// published whole before it is used and never freed, because a handler on
// another thread may be reading it; a command writes few files. A dropped
// entry stays reachable from the retired list.
constexpr size_t kCleanupSlots = 1024;
std::atomic<char*> cleanup_slots[kCleanupSlots];
// Never destroyed, so the entries stay reachable up to the process's end.
std::mutex cleanup_retired_lock;
std::vector<char*>* const cleanup_retired = new std::vector<char*>;
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// Async-signal-safe: unlink and rmdir only, files before the directories
// holding them (a directory's entry precedes its files').
void cleanup_run()
{
    for (const char kind : {'f', 'd'})
        for (size_t i = kCleanupSlots; i-- > 0;) {
            const char* entry = cleanup_slots[i].load();
            if (entry == nullptr || entry[0] != kind) continue;
            if (kind == 'f')
                ::unlink(entry + 1);
            else
                ::rmdir(entry + 1);
        }
}

// Installed with SA_RESETHAND: the signal raised again ends the process as
// it would have, once the handler returns.
void on_ending_signal(int signal)
{
    cleanup_run();
    ::raise(signal);
}

void handlers_install()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    // A file size limit then fails the write (EFBIG) instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = on_ending_signal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESETHAND;
    for (const int signal : kEndingSignals) {
        struct sigaction old {};
        ::sigaction(signal, nullptr, &old);
        // Signals ignored (nohup) or handled by someone else stay so.
        if ((old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_DFL) ::sigaction(signal, &action, nullptr);
    }
}

int cleanup_add(char kind, const std::string& path)
{
    handlers_install();
    char* entry = static_cast<char*>(std::malloc(path.size() + 2));
    if (entry == nullptr) throw std::bad_alloc();
    entry[0] = kind;
    std::memcpy(entry + 1, path.c_str(), path.size() + 1);
    for (size_t i = 0; i < kCleanupSlots; ++i) {
        char* expected = nullptr;
        if (cleanup_slots[i].compare_exchange_strong(expected, entry)) return static_cast<int>(i);
    }
    std::free(entry);
    throw AuthorError(path, "too many files are being written at once");
}

void cleanup_drop(int& slot)
{
    if (slot >= 0) {
        char* entry = cleanup_slots[slot].exchange(nullptr);
        const std::lock_guard<std::mutex> hold(cleanup_retired_lock);
        cleanup_retired->push_back(entry);
    }
    slot = -1;
}

std::string unique_suffix()
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    uint8_t random[8] = {};
    if (::getentropy(random, sizeof random) != 0) {
        const auto fallback = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                              static_cast<uint64_t>(::getpid()) << 40;
        std::memcpy(random, &fallback, sizeof random);
    }
    std::string suffix;
    for (const uint8_t r : random) suffix += kLetters[r % (sizeof kLetters - 1)];
    return suffix;
}

// A new file or directory with a name of its own beside target
// (".NAME.XXXXXXXX"), registered for removal. Returns the file descriptor
// of a file, 0 for a directory.
int create_beside(const std::string& target, char kind, std::string& created, int& slot)
{
    const std::string directory = path_directory(target);
    const std::string base = target.substr(target.find_last_of('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        created = path_join(directory, "." + base + "." + unique_suffix());
        slot = cleanup_add(kind, created);
        const int fd = kind == 'f' ? ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)
                                   : ::mkdir(created.c_str(), 0777);
        if (fd >= 0) return fd;
        const int error = errno;
        cleanup_drop(slot);
        created.clear();
        if (error != EEXIST) {
            errno = error;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

void write_all(int fd, const void* bytes, size_t size, const std::string& name)
{
    const auto* at = static_cast<const uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t n = ::write(fd, at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw AuthorError(name, "cannot write: " + error_text(n < 0 ? errno : EIO));
        at += n;
        size -= static_cast<size_t>(n);
    }
}

// The file a symbolic link at the end of path leads to (or path itself).
// Links among the directories need no following: a file renamed beside the
// target lands in the same directory either way.
std::string follow_links(const std::string& path)
{
    std::string current = path;
    for (int followed = 0; followed <= kMostLinksFollowed; ++followed) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        char link[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), link, sizeof link);
        if (length < 0 || static_cast<size_t>(length) >= sizeof link)
            throw AuthorError(path, "cannot read the symbolic link: " + error_text(length < 0 ? errno : ENAMETOOLONG));
        const std::string leads_to(link, static_cast<size_t>(length));
        current = leads_to[0] == '/' ? leads_to : path_join(path_directory(current), leads_to);
    }
    throw AuthorError(path, error_text(ELOOP));
}

void refuse_inputs(const std::string& path, const struct stat& info, const InputFiles& inputs)
{
    for (const FileIdentity& input : inputs)
        if (input.device == static_cast<uint64_t>(info.st_dev) && input.inode == static_cast<uint64_t>(info.st_ino))
            throw AuthorError(path,
                              (input.name == path ? std::string("is an input") : "is " + input.name + ", an input") +
                                  " of this command: give the output another name");
}

// The directory a new file goes into must exist: name it when it does not.
void check_directory_of(const std::string& path, const std::string& target)
{
    const std::string directory = path_directory(target);
    struct stat info {};
    if (::stat(directory.empty() ? "." : directory.c_str(), &info) != 0) {
        if (errno == ENOENT) throw AuthorError(path, "the directory " + directory + " does not exist");
        throw AuthorError(path, "cannot use the directory " + directory + ": " + error_text(errno));
    }
    if (!S_ISDIR(info.st_mode)) throw AuthorError(path, directory + " is not a directory");
}

mode_t current_umask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A temporary file beside an existing regular file that takes its owner and
// mode; false (nothing left behind) where that cannot be done.
bool open_replacement(OutputFile& out, const struct stat& existing, int& slot)
{
    if (existing.st_nlink > 1) return false;  // replacing would cut it from its other names
    const int fd = create_beside(out.target, 'f', out.temporary, slot);
    if (fd < 0) return false;
    struct stat made {};
    const bool owned = ::fstat(fd, &made) == 0 && made.st_uid == existing.st_uid && made.st_gid == existing.st_gid;
    if ((!owned && ::fchown(fd, existing.st_uid, existing.st_gid) != 0) ||
        ::fchmod(fd, existing.st_mode & 07777) != 0) {
        ::close(fd);
        ::unlink(out.temporary.c_str());
        cleanup_drop(slot);
        out.temporary.clear();
        return false;
    }
    out.fd = fd;
    return true;
}

void open_in_place(OutputFile& out, int flags)
{
    out.fd = ::open(out.target.c_str(), O_WRONLY | O_CLOEXEC | flags);
    if (out.fd < 0) throw AuthorError(out.name, "cannot write: " + error_text(errno));
}

}  // namespace

OutputFile::~OutputFile()
{
    output_abandon(*this);
}

void output_open(OutputFile& out, const std::string& path, const InputFiles& inputs, unsigned mode)
{
    output_abandon(out);
    out.name = path == "-" ? "standard output" : path;
    out.target = path;
    out.owns_fd = true;
    out.seekable = false;
    if (path.empty()) throw AuthorError("", "the output's name is empty");
    if (path == "-") {
        std::fflush(stdout);
        out.fd = STDOUT_FILENO;
        out.owns_fd = false;
        return;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) throw AuthorError(path, error_text(errno));
        out.target = follow_links(path);  // a link to nothing names the file to make
        check_directory_of(path, out.target);
        out.fd = create_beside(out.target, 'f', out.temporary, out.cleanup_slot);
        if (out.fd < 0) throw AuthorError(path, "cannot create a file in its directory: " + error_text(errno));
        ::fchmod(out.fd, static_cast<mode_t>(mode) & ~current_umask());
        out.seekable = true;
        return;
    }
    if (S_ISDIR(info.st_mode)) throw AuthorError(path, "is a directory");
    if (!S_ISREG(info.st_mode)) {  // a device, a FIFO, /dev/stdout: written as it is
        open_in_place(out, 0);
        return;
    }
    refuse_inputs(path, info, inputs);
    if (::access(path.c_str(), W_OK) != 0) throw AuthorError(path, "cannot write: " + error_text(errno));
    out.seekable = true;
    // Links that only the kernel can follow (/dev/fd/N) are written through.
    out.target = follow_links(path);
    struct stat followed {};
    const bool same =
        ::stat(out.target.c_str(), &followed) == 0 && followed.st_dev == info.st_dev && followed.st_ino == info.st_ino;
    if (!same) out.target = path;
    if (!same || !open_replacement(out, info, out.cleanup_slot)) open_in_place(out, O_TRUNC);
}

void output_write(OutputFile& out, const void* bytes, size_t size)
{
    write_all(out.fd, bytes, size, out.name);
}

void output_commit(OutputFile& out)
{
    if (out.fd >= 0 && out.owns_fd) {
        const int closed = ::close(out.fd);
        out.fd = -1;
        if (closed != 0) throw AuthorError(out.name, "cannot write: " + error_text(errno));
    }
    out.fd = -1;
    if (!out.temporary.empty()) {
        if (::rename(out.temporary.c_str(), out.target.c_str()) != 0)
            throw AuthorError(out.name, "cannot put the file in place: " + error_text(errno));
        cleanup_drop(out.cleanup_slot);
        out.temporary.clear();
    }
}

void output_abandon(OutputFile& out) noexcept
{
    if (out.fd >= 0 && out.owns_fd) ::close(out.fd);
    out.fd = -1;
    if (!out.temporary.empty()) ::unlink(out.temporary.c_str());
    out.temporary.clear();
    cleanup_drop(out.cleanup_slot);
}

void output_write_file(const std::string& path, const std::vector<uint8_t>& bytes, const InputFiles& inputs,
                       unsigned mode)
{
    OutputFile out;
    output_open(out, path, inputs, mode);
    output_write(out, bytes.data(), bytes.size());
    output_commit(out);
}

namespace {

// Directories made for a set of files, removed again (with the files made in
// them) unless kept.
struct MadePaths {
    struct Made {
        std::string path;
        bool directory;
        int slot;
    };
    std::vector<Made> made;

    void add(const std::string& path, bool directory, int slot) { made.push_back({path, directory, slot}); }
    void release()
    {
        for (Made& m : made) cleanup_drop(m.slot);
        made.clear();
    }
    ~MadePaths()
    {
        for (auto m = made.rbegin(); m != made.rend(); ++m)
            if (m->directory)
                ::rmdir(m->path.c_str());
            else
                ::unlink(m->path.c_str());
        release();
    }
};

std::string without_trailing_slashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool directory_empty(const std::string& directory)
{
    std::error_code error;
    return std::filesystem::is_empty(directory, error) && !error;
}

// The subdirectories of directory that files need, shortest first.
std::vector<std::string> subdirectories(const std::vector<SourceFile>& files)
{
    std::vector<std::string> names;
    for (const SourceFile& file : files)
        for (size_t slash = file.name.find('/'); slash != std::string::npos; slash = file.name.find('/', slash + 1))
            names.push_back(file.name.substr(0, slash));
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

void make_subdirectories(const std::string& directory, const std::vector<SourceFile>& files, MadePaths& made)
{
    for (const std::string& name : subdirectories(files)) {
        const std::string path = path_join(directory, name);
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
        int slot = cleanup_add('d', path);
        if (::mkdir(path.c_str(), 0777) != 0) {
            const int error = errno;
            cleanup_drop(slot);
            throw AuthorError(path, "cannot create the directory: " + error_text(error));
        }
        made.add(path, true, slot);
    }
}

void write_into_existing(const std::string& directory, const std::vector<SourceFile>& files, const InputFiles& inputs)
{
    MadePaths made;
    make_subdirectories(directory, files, made);
    std::vector<std::unique_ptr<OutputFile>> outputs;
    for (const SourceFile& file : files) {
        outputs.push_back(std::make_unique<OutputFile>());
        output_open(*outputs.back(), path_join(directory, file.name), inputs);
        output_write(*outputs.back(), file.bytes.data(), file.bytes.size());
    }
    for (auto& out : outputs) output_commit(*out);
    made.release();
}

void write_new_directory(const std::string& directory, const std::vector<SourceFile>& files)
{
    const std::string parent = path_directory(directory);
    if (!parent.empty()) make_directories(parent);
    MadePaths made;
    std::string temporary;
    int slot = -1;
    if (create_beside(directory, 'd', temporary, slot) != 0)
        throw AuthorError(directory, "cannot create a directory beside it: " + error_text(errno));
    made.add(temporary, true, slot);
    make_subdirectories(temporary, files, made);
    for (const SourceFile& file : files) {
        const std::string path = path_join(temporary, file.name);
        slot = cleanup_add('f', path);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            cleanup_drop(slot);
            throw AuthorError(path_join(directory, file.name), "cannot create: " + error_text(error));
        }
        made.add(path, false, slot);
        try {
            write_all(fd, file.bytes.data(), file.bytes.size(), path_join(directory, file.name));
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0) throw AuthorError(path_join(directory, file.name), "cannot write: " + error_text(errno));
    }
    if (::rename(temporary.c_str(), directory.c_str()) != 0)
        throw AuthorError(directory, "cannot put the directory in place: " + error_text(errno));
    made.release();
}

}  // namespace

void output_write_directory(const std::string& directory_given, const std::vector<SourceFile>& files, bool force,
                            const InputFiles& inputs)
{
    if (directory_given.empty()) throw AuthorError("", "the output directory's name is empty");
    const std::string directory = without_trailing_slashes(directory_given);
    struct stat info {};
    if (::stat(directory.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) throw AuthorError(directory_given, "not a directory");
        if (!force && !directory_empty(directory)) throw AuthorError(directory_given, kNotEmpty);
        write_into_existing(directory, files, inputs);
    } else if (errno == ENOENT) {
        write_new_directory(directory, files);
    } else {
        throw AuthorError(directory_given, error_text(errno));
    }
}
