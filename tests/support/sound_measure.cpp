#include "tests/support/sound_measure.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <numbers>

#include "synth/engine.h"
#include "synth/seed_source.h"
#include "tests/support/patch_builder.h"

namespace sound_measure {
namespace {

constexpr int kWindow = 4096;
constexpr double kAttackShare = 0.5;    // -6 dB: beating and chorus move the level by less
constexpr double kReleaseFloor = 1e-3;  // -60 dB

size_t frame_at(const Sound& sound, double seconds)
{
    const double frame = std::max(0.0, std::round(seconds * kFrameRate));
    return std::min(sound.left.size(), static_cast<size_t>(frame));
}

double mono(const Sound& sound, size_t i)
{
    return 0.5 * (double(sound.left[i]) + double(sound.right[i]));
}

struct Message {
    size_t frame;
    int order;  // note-offs before note-ons at one frame
    uint8_t status, data1, data2;
};

void fft(std::vector<std::complex<double>>& x)
{
    const size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * std::numbers::pi / static_cast<double>(len);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> a = x[i + k], b = x[i + k + len / 2] * w;
                x[i + k] = a + b;
                x[i + k + len / 2] = a - b;
                w *= step;
            }
        }
    }
}

}  // namespace

std::array<uint8_t, kGlobalParamCount> dry_globals()
{
    return GlobalsBuilder().bytes();
}

Sound play_patch(const std::vector<uint8_t>& patch, const PatchPlay& play)
{
    std::vector<uint8_t> bank = {4, 0, 0, 0};
    bank.insert(bank.end(), patch.begin(), patch.end());

    std::vector<Message> messages;
    const uint8_t c = play.channel & 0x0F;
    messages.push_back({0, 0, uint8_t(0xB0 | c), 7, play.controller7});
    for (const Note& note : play.notes) {
        const auto at = [](double s) { return static_cast<size_t>(std::llround(s * kFrameRate)); };
        messages.push_back({at(note.start), 2, uint8_t(0x90 | c), note.key, note.velocity});
        messages.push_back({at(note.start + note.length), 1, uint8_t(0x80 | c), note.key, 0});
    }
    std::stable_sort(messages.begin(), messages.end(), [](const Message& a, const Message& b) {
        return a.frame != b.frame ? a.frame < b.frame : a.order < b.order;
    });

    auto engine = std::make_unique<SynthEngine>();
    seed_source_fix(engine->seeds, play.seed);
    synth_init(*engine, bank.data(), kSampleRate);
    synth_set_globals(*engine, play.globals.data());
    const char* texts[kSpeechTextCount] = {play.speech_text};
    if (play.speech_text) speech_set_texts(engine->speech, texts);

    const size_t frames = static_cast<size_t>(play.seconds * kFrameRate);
    Sound sound;
    sound.left.resize(frames);
    sound.right.resize(frames);
    std::vector<float> block(2 * kBlockSize);
    size_t next = 0;
    bool busy_before = false;
    for (size_t at = 0; at < frames; at += kBlockSize) {
        for (; next < messages.size() && messages[next].frame < at + kBlockSize; ++next) {
            const Message& m = messages[next];
            const uint8_t stream[] = {m.status, m.data1, m.data2, 0xFD};
            synth_process_stream(*engine, stream);
        }
        const int32_t count = static_cast<int32_t>(std::min<size_t>(kBlockSize, frames - at));
        synth_render(*engine, block.data(), count, nullptr, 0);
        for (int32_t i = 0; i < count; ++i) {
            sound.left[at + i] = block[2 * i];
            sound.right[at + i] = block[2 * i + 1];
        }
        int32_t usage[kChannelCount + 1];
        synth_voice_usage(*engine, usage);
        const bool busy = usage[kChannelCount] > 0;
        if (busy)
            sound.voices_end = -1.0;
        else if (busy_before)
            sound.voices_end = static_cast<double>(at) / kFrameRate;
        busy_before = busy;
    }
    return sound;
}

double peak(const Sound& sound, double from, double to)
{
    double largest = 0.0;
    for (size_t i = frame_at(sound, from), end = frame_at(sound, to); i < end; ++i)
        largest = std::max({largest, std::fabs(double(sound.left[i])), std::fabs(double(sound.right[i]))});
    return largest;
}

double rms_db(const Sound& sound, double from, double to)
{
    double sum = 0.0;
    const size_t begin = frame_at(sound, from), end = frame_at(sound, to);
    for (size_t i = begin; i < end; ++i) sum += mono(sound, i) * mono(sound, i);
    const double mean = end > begin ? sum / double(end - begin) : 0.0;
    return 10.0 * std::log10(std::max(mean, 1e-30));
}

std::vector<double> block_levels(const Sound& sound, double from, double to)
{
    std::vector<double> levels;
    const size_t end = frame_at(sound, to);
    for (size_t at = frame_at(sound, from); at + kBlockSize <= end; at += kBlockSize) {
        double sum = 0.0;
        for (size_t i = at; i < at + kBlockSize; ++i) sum += mono(sound, i) * mono(sound, i);
        levels.push_back(std::sqrt(sum / kBlockSize));
    }
    return levels;
}

double attack_time(const Sound& sound, double onset, double until)
{
    const std::vector<double> levels = block_levels(sound, onset, until);
    if (levels.empty()) return 0.0;
    const double target = kAttackShare * *std::max_element(levels.begin(), levels.end());
    const auto reached = std::find_if(levels.begin(), levels.end(), [target](double l) { return l >= target; });
    return static_cast<double>(reached - levels.begin() + 1) * kBlockSize / kFrameRate;
}

double release_time(const Sound& sound, double onset, double release)
{
    const std::vector<double> held = block_levels(sound, onset, release);
    const double floor = kReleaseFloor * (held.empty() ? 0.0 : *std::max_element(held.begin(), held.end()));
    const std::vector<double> after = block_levels(sound, release, static_cast<double>(sound.left.size()) / kFrameRate);
    size_t last_loud = after.size();
    for (size_t i = after.size(); i-- > 0;) {
        if (after[i] > floor) {
            last_loud = i;
            break;
        }
    }
    if (last_loud == after.size()) return 0.0;
    if (last_loud + 1 >= after.size()) return -1.0;
    return static_cast<double>(last_loud + 1) * kBlockSize / kFrameRate;
}

double Spectrum::below(double hz) const
{
    double total = 0.0, low = 0.0;
    for (size_t k = 0; k < power.size(); ++k) {
        total += power[k];
        if (static_cast<double>(k) * bin_hz < hz) low += power[k];
    }
    return total > 0.0 ? low / total : 0.0;
}

double Spectrum::tonal_share() const
{
    std::vector<double> sorted = power;
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    double total = 0.0, strongest = 0.0;
    for (size_t k = 0; k < sorted.size(); ++k) {
        total += sorted[k];
        if (k < sorted.size() / 100) strongest += sorted[k];
    }
    return total > 0.0 ? strongest / total : 0.0;
}

Spectrum spectrum(const Sound& sound, double from, double to)
{
    Spectrum result{0.0, std::vector<double>(kWindow / 2 + 1, 0.0), kFrameRate / kWindow};
    const size_t begin = frame_at(sound, from), end = frame_at(sound, to);
    std::vector<std::complex<double>> x(kWindow);
    for (size_t at = begin; at + kWindow <= end; at += kWindow / 2) {
        for (int i = 0; i < kWindow; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kWindow);
            x[i] = mono(sound, at + i) * hann;
        }
        fft(x);
        for (size_t k = 0; k < result.power.size(); ++k) result.power[k] += std::norm(x[k]);
    }
    double total = 0.0, weighted = 0.0;
    for (size_t k = 0; k < result.power.size(); ++k) {
        total += result.power[k];
        weighted += result.power[k] * static_cast<double>(k) * result.bin_hz;
    }
    result.centroid = total > 0.0 ? weighted / total : 0.0;
    return result;
}

double strongest(const Spectrum& spectrum, double lo, double hi)
{
    size_t best = 0;
    for (size_t k = 0; k < spectrum.power.size(); ++k) {
        const double hz = static_cast<double>(k) * spectrum.bin_hz;
        if (hz >= lo && hz <= hi && (best == 0 || spectrum.power[k] > spectrum.power[best])) best = k;
    }
    return static_cast<double>(best) * spectrum.bin_hz;
}

}  // namespace sound_measure
