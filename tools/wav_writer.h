// Sound files for the tool commands: 44100 Hz stereo, 16-bit PCM converted
// exactly as the sound output does, or the engine's 32-bit float frames
// unchanged. The container follows the file name's extension: FLAC through
// libsndfile, or WAV (also for a device or a FIFO named without extension),
// whose header, lengths included, is written first, so that it streams to
// standard output ("-"), a pipe or a device as it is made. Written through
// an OutputFile: a file is replaced only when it is finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <sndfile.h>

#include "tools/output_file.h"

enum class SampleFormat { Pcm16, Float };

struct WavWriter {
    OutputFile out;
    SampleFormat format = SampleFormat::Pcm16;
    SNDFILE* flac = nullptr;  // FLAC goes through libsndfile, WAV straight to out
    uint64_t frames = 0;      // the length announced in the WAV header
    uint64_t written = 0;
    int write_errno = 0;  // why libsndfile's last write failed
    std::vector<int16_t> samples;

    WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    ~WavWriter();
};

// The longest a WAV file of the format can be, in frames (its lengths are 32-bit).
uint64_t wav_most_frames(SampleFormat format);

// Opens path for a sound of exactly frames frames. Throws AuthorError for an
// unknown extension, FLAC with float samples or into a pipe, a WAV file too
// long for its header, and everything output_open refuses.
void wav_writer_open(WavWriter& writer, const std::string& path, SampleFormat format, int32_t rate, uint64_t frames,
                     const InputFiles& inputs = {});
// Throws AuthorError naming the output when a write fails.
void wav_writer_write(WavWriter& writer, const float* frames, size_t count);
// Finishes the file and puts it in place; the frame count must be the one announced.
void wav_writer_finish(WavWriter& writer);
