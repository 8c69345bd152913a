// Sound files for the tool commands, through libsndfile: 44100 Hz stereo,
// 16-bit PCM converted exactly as the sound output does, or the engine's
// 32-bit float frames unchanged. The container follows the file name's
// extension (.wav, .flac); "-" writes WAV to standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <sndfile.h>

enum class SampleFormat { Pcm16, Float };

struct WavWriter {
    SNDFILE* file = nullptr;
    SampleFormat format = SampleFormat::Pcm16;
    std::string name;
    std::FILE* spool = nullptr;  // standard output: the file is written here, then copied
    std::vector<int16_t> samples;
};

bool wav_writer_open(WavWriter& writer, const std::string& path, SampleFormat format, int32_t rate,
                     std::string& error);
bool wav_writer_write(WavWriter& writer, const float* frames, size_t count, std::string& error);
// Finishes the file (and copies it to standard output for "-").
bool wav_writer_close(WavWriter& writer, std::string& error);
