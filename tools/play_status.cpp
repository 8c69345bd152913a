#include "tools/play_status.h"

#include <cmath>
#include <cstdio>

#include "synth/constants.h"

namespace {

constexpr double kMicrosecondsPerMinute = 60000000.0;

std::string meter(char side, float peak)
{
    const int cells = play_meter_cells(peak);
    return std::string(1, side) + '[' + std::string(static_cast<size_t>(cells), '#') +
           std::string(static_cast<size_t>(kMeterCells - cells), ' ') + ']';
}

const char* state_word(const PlayStatus& status)
{
    if (status.seeking) return "seek ";
    if (status.ended) return "end  ";
    if (status.paused) return "pause";
    return "play ";
}

}  // namespace

std::string play_clock(int64_t frames)
{
    if (frames < 0) frames = 0;
    const int64_t tenths = frames * 10 / kSampleRate;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", static_cast<long long>(tenths / 600),
                  static_cast<long long>(tenths / 10 % 60), static_cast<long long>(tenths % 10));
    return text;
}

int play_meter_cells(float peak)
{
    if (!(peak > 0.0f)) return 0;
    const float db = 20.0f * std::log10(peak);
    const int cells = static_cast<int>(std::ceil((db - kMeterFloorDb) / (-kMeterFloorDb / kMeterCells)));
    return cells < 0 ? 0 : cells > kMeterCells ? kMeterCells : cells;
}

std::string play_status_line(const PlayStatus& status, int width)
{
    std::string line = std::string(state_word(status)) + "  " + play_clock(status.position_frame) + " / " +
                       (status.length_frame == kEndUnknown ? std::string("?") : play_clock(status.length_frame));
    if (!status.message.empty()) {
        line += "  " + status.message;
    } else {
        char middle[96];
        if (status.tempo != 0) {
            std::snprintf(middle, sizeof middle, "  %5.1f bpm  %2d voices  ",
                          kMicrosecondsPerMinute * kTempoScale / status.tempo, status.voices);
        } else {
            std::snprintf(middle, sizeof middle, "    --- bpm  %2d voices  ", status.voices);
        }
        line += middle + meter('L', status.peak[0]) + ' ' + meter('R', status.peak[1]);
        if (!status.lyric.empty()) line += "  " + status.lyric;
    }
    if (width > 0 && static_cast<int>(line.size()) > width) line.resize(static_cast<size_t>(width));
    return line;
}
