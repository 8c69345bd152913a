#include "tools/wav_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "sequencer/player.h"

namespace {

constexpr int kChannels = 2;
constexpr uint16_t kWavPcm = 1;
constexpr uint16_t kWavFloat = 3;
constexpr uint64_t kRiffMostBytes = 0xFFFFFFFFu;  // the RIFF chunk's size field is 32 bits
constexpr uint32_t kRiffPreambleBytes = 8;        // "RIFF" and that size
// "WAVE", "fmt " of 16 bytes and "data" (PCM); float adds the fmt extension
// size (2 bytes) and a "fact" chunk holding the frame count (12 bytes).
constexpr uint32_t kWavPcmHeaderBytes = 44;
constexpr uint32_t kWavFloatHeaderBytes = 58;

uint32_t bytes_per_frame(SampleFormat format)
{
    return kChannels * (format == SampleFormat::Float ? sizeof(float) : sizeof(int16_t));
}

uint32_t header_bytes(SampleFormat format)
{
    return format == SampleFormat::Float ? kWavFloatHeaderBytes : kWavPcmHeaderBytes;
}

std::string lower_extension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// A device or a FIFO named without an extension takes WAV, as standard output does.
bool is_stream(const std::string& path)
{
    struct stat info {};
    return lower_extension(path).empty() && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) &&
           !S_ISDIR(info.st_mode);
}

void append_le(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void append_id(std::vector<uint8_t>& out, const char* id)
{
    out.insert(out.end(), id, id + 4);
}

std::vector<uint8_t> wav_header(SampleFormat format, int32_t rate, uint64_t frames)
{
    const bool is_float = format == SampleFormat::Float;
    const uint32_t frame_bytes = bytes_per_frame(format);
    const auto data_bytes = static_cast<uint32_t>(frames * frame_bytes);
    std::vector<uint8_t> header;
    append_id(header, "RIFF");
    append_le(header, header_bytes(format) - kRiffPreambleBytes + data_bytes, 4);
    append_id(header, "WAVE");
    append_id(header, "fmt ");
    append_le(header, is_float ? 18 : 16, 4);
    append_le(header, is_float ? kWavFloat : kWavPcm, 2);
    append_le(header, kChannels, 2);
    append_le(header, static_cast<uint32_t>(rate), 4);
    append_le(header, static_cast<uint32_t>(rate) * frame_bytes, 4);
    append_le(header, frame_bytes, 2);
    append_le(header, frame_bytes / kChannels * 8, 2);
    if (is_float) {
        append_le(header, 0, 2);  // no extension
        append_id(header, "fact");
        append_le(header, 4, 4);
        append_le(header, static_cast<uint32_t>(frames), 4);
    }
    append_id(header, "data");
    append_le(header, data_bytes, 4);
    return header;
}

// libsndfile reaches the output through these, so that its writes fail as ours do.
sf_count_t io_length(void* user)
{
    struct stat info {};
    return ::fstat(static_cast<WavWriter*>(user)->out.fd, &info) == 0 ? info.st_size : -1;
}

sf_count_t io_seek(sf_count_t offset, int whence, void* user)
{
    return ::lseek(static_cast<WavWriter*>(user)->out.fd, offset, whence);
}

sf_count_t io_read(void* bytes, sf_count_t count, void* user)
{
    return ::read(static_cast<WavWriter*>(user)->out.fd, bytes, static_cast<size_t>(count));
}

sf_count_t io_write(const void* bytes, sf_count_t count, void* user)
{
    auto* writer = static_cast<WavWriter*>(user);
    try {
        output_write(writer->out, bytes, static_cast<size_t>(count));
    } catch (const AuthorError&) {
        writer->write_errno = errno;
        return 0;
    }
    return count;
}

sf_count_t io_tell(void* user)
{
    return ::lseek(static_cast<WavWriter*>(user)->out.fd, 0, SEEK_CUR);
}

[[noreturn]] void flac_failed(WavWriter& writer, const char* doing)
{
    const std::string why = writer.write_errno != 0 ? std::strerror(writer.write_errno) : sf_strerror(writer.flac);
    throw AuthorError(writer.out.name, std::string(doing) + ": " + why);
}

void open_flac(WavWriter& writer, int32_t rate)
{
    if (::lseek(writer.out.fd, 0, SEEK_CUR) < 0)
        throw AuthorError(writer.out.name, "FLAC needs a file it can seek in; write WAV to a pipe");
    static SF_VIRTUAL_IO io{io_length, io_seek, io_read, io_write, io_tell};
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = kChannels;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    writer.flac = sf_open_virtual(&io, SFM_WRITE, &info, &writer);
    if (!writer.flac) throw AuthorError(writer.out.name, sf_strerror(nullptr));
}

}  // namespace

WavWriter::~WavWriter()
{
    if (flac) sf_close(flac);
}

uint64_t wav_most_frames(SampleFormat format)
{
    return (kRiffMostBytes - (header_bytes(format) - kRiffPreambleBytes)) / bytes_per_frame(format);
}

void wav_writer_open(WavWriter& writer, const std::string& path, SampleFormat format, int32_t rate, uint64_t frames,
                     const InputFiles& inputs)
{
    writer.format = format;
    writer.frames = frames;
    writer.written = 0;
    const std::string extension = path == "-" || is_stream(path) ? "wav" : lower_extension(path);
    if (extension == "flac") {
        if (format == SampleFormat::Float)
            throw AuthorError(path, "FLAC holds integer samples only; use --format pcm16 or a .wav file");
        output_open(writer.out, path, inputs);
        open_flac(writer, rate);
        return;
    }
    if (extension != "wav")
        throw AuthorError(path, "unknown output type '" + extension +
                                    "' (use .wav or .flac, or - for WAV on standard output)");
    if (frames > wav_most_frames(format))
        throw AuthorError(path, "a WAV file holds at most " + std::to_string(wav_most_frames(format) / rate) +
                                    " s of these samples; render less, or to a .flac file");
    output_open(writer.out, path, inputs);
    const std::vector<uint8_t> header = wav_header(format, rate, frames);
    output_write(writer.out, header.data(), header.size());
}

void wav_writer_write(WavWriter& writer, const float* frames, size_t count)
{
    if (writer.format == SampleFormat::Pcm16) {
        writer.samples.resize(count * kChannels);
        for (size_t i = 0; i < count * kChannels; ++i) writer.samples[i] = pcm16_from_float(frames[i]);
    }
    writer.written += count;
    if (writer.flac) {
        if (sf_writef_short(writer.flac, writer.samples.data(), static_cast<sf_count_t>(count)) !=
            static_cast<sf_count_t>(count))
            flac_failed(writer, "cannot write");
        return;
    }
    static_assert(std::endian::native == std::endian::little, "WAV samples are written as they lie in memory");
    if (writer.format == SampleFormat::Float)
        output_write(writer.out, frames, count * kChannels * sizeof(float));
    else
        output_write(writer.out, writer.samples.data(), count * kChannels * sizeof(int16_t));
}

void wav_writer_finish(WavWriter& writer)
{
    if (writer.written != writer.frames)
        throw AuthorError(writer.out.name, "the sound ended after " + std::to_string(writer.written) + " of " +
                                               std::to_string(writer.frames) + " frames");
    if (writer.flac) {
        const int closed = sf_close(writer.flac);
        writer.flac = nullptr;
        if (closed != 0 || writer.write_errno != 0) flac_failed(writer, "cannot finish the file");
    }
    output_commit(writer.out);
}
