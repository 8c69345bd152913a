#include "tools/wav_writer.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "sequencer/player.h"

namespace {

constexpr int kChannels = 2;

std::string lower_extension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

}  // namespace

bool wav_writer_open(WavWriter& writer, const std::string& path, SampleFormat format, int32_t rate,
                     std::string& error)
{
    writer.format = format;
    writer.name = path == "-" ? "standard output" : path;
    int container;
    const std::string extension = path == "-" ? "wav" : lower_extension(path);
    if (extension == "wav") {
        container = SF_FORMAT_WAV;
    } else if (extension == "flac") {
        container = SF_FORMAT_FLAC;
        if (format == SampleFormat::Float) {
            error = path + ": FLAC holds integer samples only; use --format pcm16 or a .wav file";
            return false;
        }
    } else {
        error = path + ": unknown output type '" + extension + "' (use .wav or .flac, or - for WAV on standard output)";
        return false;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = kChannels;
    info.format = container | (format == SampleFormat::Float ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);

    if (path == "-") {
        // WAV needs its lengths written into the header at the end, which a
        // pipe cannot take back: write a temporary file, then copy it out.
        writer.spool = std::tmpfile();
        if (!writer.spool) {
            error = std::string("cannot create a temporary file: ") + std::strerror(errno);
            return false;
        }
        writer.file = sf_open_fd(fileno(writer.spool), SFM_WRITE, &info, 0);
    } else {
        writer.file = sf_open(path.c_str(), SFM_WRITE, &info);
    }
    if (!writer.file) {
        error = writer.name + ": " + sf_strerror(nullptr);
        if (writer.spool) std::fclose(writer.spool);
        writer.spool = nullptr;
        return false;
    }
    // Keep float samples as they are: no clipping, no normalisation.
    sf_command(writer.file, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    sf_command(writer.file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    return true;
}

bool wav_writer_write(WavWriter& writer, const float* frames, size_t count, std::string& error)
{
    sf_count_t written;
    if (writer.format == SampleFormat::Float) {
        written = sf_writef_float(writer.file, frames, static_cast<sf_count_t>(count));
    } else {
        writer.samples.resize(count * kChannels);
        for (size_t i = 0; i < count * kChannels; ++i) writer.samples[i] = pcm16_from_float(frames[i]);
        written = sf_writef_short(writer.file, writer.samples.data(), static_cast<sf_count_t>(count));
    }
    if (written != static_cast<sf_count_t>(count)) {
        error = writer.name + ": " + sf_strerror(writer.file);
        return false;
    }
    return true;
}

bool wav_writer_close(WavWriter& writer, std::string& error)
{
    bool ok = true;
    if (writer.file) {
        if (sf_close(writer.file) != 0) {
            error = writer.name + ": cannot finish the file";
            ok = false;
        }
        writer.file = nullptr;
    }
    if (writer.spool) {
        if (ok) {
            std::rewind(writer.spool);
            char buffer[65536];
            size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, writer.spool)) > 0) {
                if (std::fwrite(buffer, 1, got, stdout) != got) {
                    error = std::string("standard output: ") + std::strerror(errno);
                    ok = false;
                    break;
                }
            }
            if (ok && std::fflush(stdout) != 0) {
                error = std::string("standard output: ") + std::strerror(errno);
                ok = false;
            }
        }
        std::fclose(writer.spool);
        writer.spool = nullptr;
    }
    return ok;
}
