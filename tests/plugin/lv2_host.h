// A small headless LV2 host for the tests and the benchmark: it loads the
// built bundle with lilv, offers URID mapping, a log that keeps every line, a
// worker that runs queued work after each run() and hands the responses back
// before the next, and the state interface; it plays timed MIDI in host
// blocks of any sizes and collects the stereo output interleaved.
#pragma once

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/log/log.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TimedMidi {
    uint64_t frame;  // from the first frame after activation
    std::vector<uint8_t> bytes;
};

struct LogLine {
    std::string type;  // "error", "warning", "note", "trace"
    std::string text;
};

// What save() stored, by key URI: the value's type URI and bytes.
struct SavedValue {
    std::string type;
    std::vector<uint8_t> bytes;
};
using SavedState = std::map<std::string, SavedValue>;

class Lv2Host {
public:
    // Instantiates the plugin at rate with CANTILENA_SEED set to seed ("" leaves it unset).
    explicit Lv2Host(double rate = 44100.0, const std::string& seed = "1");
    ~Lv2Host();
    Lv2Host(const Lv2Host&) = delete;
    Lv2Host& operator=(const Lv2Host&) = delete;

    bool instantiated() const { return instance_ != nullptr; }
    void activate();
    // Sends a patch:Set of the song parameter with the next block.
    void choose_song(const std::string& path);
    bool restore(const SavedState& state);
    SavedState save();

    // Plays frames frames in host blocks of the given sizes taken in turn;
    // events at frames inside them are sent with their block. Returns the
    // output interleaved (left, right).
    std::vector<float> play(uint64_t frames, const std::vector<uint32_t>& blocks,
                            const std::vector<TimedMidi>& events = {});

    uint64_t frame() const { return frame_; }
    const std::vector<LogLine>& log() const { return log_; }
    bool logged(const std::string& type, const std::string& part) const;
    // The path the plugin last reported on its notify port; "(none)" before any.
    const std::string& reported_song() const { return reported_; }

    static std::string bundle_path();

private:
    static LV2_URID map_uri(LV2_URID_Map_Handle handle, const char* uri);
    static const char* unmap_uri(LV2_URID_Unmap_Handle handle, LV2_URID urid);
    static int log_printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...);
    static int log_vprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args);
    static LV2_Worker_Status schedule_work(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data);
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data);

    void run_block(uint32_t count, const std::vector<TimedMidi>& events, size_t& next_event, std::vector<float>& out);
    void after_run();
    void read_notify();

    LilvWorld* world_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    const LV2_Worker_Interface* worker_ = nullptr;
    const LV2_State_Interface* state_ = nullptr;

    std::map<std::string, LV2_URID> ids_;
    std::vector<std::string> uris_;
    LV2_URID_Map map_{this, map_uri};
    LV2_URID_Unmap unmap_{this, unmap_uri};
    LV2_Log_Log log_feature_{this, log_printf, log_vprintf};
    LV2_Worker_Schedule schedule_{this, schedule_work};
    LV2_Feature map_feature_;
    LV2_Feature unmap_feature_;
    LV2_Feature log_feature_entry_;
    LV2_Feature schedule_feature_;
    const LV2_Feature* features_[5];

    LV2_Atom_Forge forge_{};
    std::vector<uint64_t> control_;  // 8-byte aligned atom buffers
    std::vector<uint64_t> notify_;
    std::vector<float> left_;
    std::vector<float> right_;
    std::vector<std::vector<uint8_t>> work_;
    std::vector<std::vector<uint8_t>> responses_;
    std::string pending_song_;
    bool song_pending_ = false;

    uint64_t frame_ = 0;
    std::vector<LogLine> log_;
    std::string reported_ = "(none)";
};
