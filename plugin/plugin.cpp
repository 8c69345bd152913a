// The LV2 instrument: one instance is the whole engine, run on the host's
// audio thread alone. MIDI and parameter messages come in on one atom port,
// the loaded song's path goes out on another, stereo audio out.
//
// Threads: run() and work_response() (the audio thread) own the engine, the
// live MIDI state and the song in use; they never allocate, lock, wait or
// touch a file. work() (the host's worker thread) reads and compiles songs,
// watches their files and frees songs the engine no longer reads; the path
// the user chose lives there, under a lock that only work() and save() take.
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/core/lv2_util.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "plugin/live_midi.h"
#include "plugin/plugin_song.h"
#include "plugin/plugin_uris.h"
#include "synth/engine.h"
#include "synth/fp_mode.h"
#include "synth/seed_source.h"

namespace {

constexpr double kCheckSeconds = 0.25;    // how often the song's files are looked at: a save is heard within 0.5 s
constexpr uint32_t kMaxPathBytes = 2048;  // a chosen path travels to the worker in one message

struct Uris {
    LV2_URID atom_path;
    LV2_URID atom_string;
    LV2_URID atom_urid;
    LV2_URID atom_event_transfer;
    LV2_URID midi_event;
    LV2_URID patch_get;
    LV2_URID patch_set;
    LV2_URID patch_property;
    LV2_URID patch_value;
    LV2_URID song;
};

enum class WorkKind : uint32_t {
    kCheck,        // look at the chosen song's files; reload when one changed
    kLoad,         // choose the song whose path follows (empty: the embedded song)
    kFree,         // the engine no longer reads this song
    kPathTooLong,  // a chosen path did not fit a message
};

struct WorkMessage {
    WorkKind kind;
    uint32_t path_bytes;  // kLoad: the path's bytes, after this header
    PluginSong* song;     // kFree
};

struct WorkReply {
    PluginSong* song;  // to be played from now on
};

struct Instance {
    LV2_URID_Map* map = nullptr;
    LV2_Worker_Schedule* schedule = nullptr;
    LV2_State_Map_Path* map_path = nullptr;
    LV2_Log_Logger logger{};
    Uris uris{};
    LV2_Atom_Forge forge{};

    const LV2_Atom_Sequence* control = nullptr;
    LV2_Atom_Sequence* notify = nullptr;
    float* left = nullptr;
    float* right = nullptr;

    // Audio thread.
    int32_t rate = 0;
    std::unique_ptr<SynthEngine> engine;
    std::unique_ptr<LiveMidi> live;
    std::unique_ptr<PluginSong> song;
    PluginSong* retired = nullptr;  // no longer read by the engine, waiting for the worker to free them
    int64_t frames_to_check = 0;
    int64_t check_interval = 0;
    bool report_song = true;

    // Worker thread (and save, which only reads chosen).
    std::mutex chosen_lock;
    std::string chosen;
    std::vector<FileStamp> watched;
};

void map_uris(Instance& self)
{
    LV2_URID_Map* map = self.map;
    Uris& u = self.uris;
    u.atom_path = map->map(map->handle, LV2_ATOM__Path);
    u.atom_string = map->map(map->handle, LV2_ATOM__String);
    u.atom_urid = map->map(map->handle, LV2_ATOM__URID);
    u.atom_event_transfer = map->map(map->handle, LV2_ATOM__eventTransfer);
    u.midi_event = map->map(map->handle, LV2_MIDI__MidiEvent);
    u.patch_get = map->map(map->handle, LV2_PATCH__Get);
    u.patch_set = map->map(map->handle, LV2_PATCH__Set);
    u.patch_property = map->map(map->handle, LV2_PATCH__property);
    u.patch_value = map->map(map->handle, LV2_PATCH__value);
    u.song = map->map(map->handle, kSongParameterUri);
}

// The engine plays a song from its start: initialised twice, as the player's
// transport does (at load and at start), so that a fixed seed gives the
// render tool's bits.
void start_engine(Instance& self)
{
    const SongTables& tables = self.song->tables;
    for (int pass = 0; pass < 2; ++pass) {
        synth_init(*self.engine, tables.patch_bank, self.rate);
        synth_set_globals(*self.engine, tables.global_block);
        speech_set_texts(self.engine->speech, tables.speech_texts);
    }
    live_midi_reset(*self.live);
    live_midi_route_programs(*self.live);
}

// Points the engine at a new song between two run() calls: held notes go on
// with the new patches, the speech keeps its place where its text is the same.
// Returns the song the engine no longer reads.
std::unique_ptr<PluginSong> install_song(Instance& self, std::unique_ptr<PluginSong> song)
{
    const SongTables& tables = song->tables;
    SynthEngine& engine = *self.engine;
    engine.patch_bank = tables.patch_bank;
    synth_set_globals(engine, tables.global_block);
    speech_move_texts(engine.speech, tables.speech_texts);
    live_midi_set_routes(*self.live, song->routes.data());
    std::swap(self.song, song);
    self.report_song = true;
    return song;
}

void retire_song(Instance& self, std::unique_ptr<PluginSong> song)
{
    song->next_retired = self.retired;
    self.retired = song.release();
}

// Songs whose message does not fit the worker's queue now wait for the next call.
void hand_retired_to_worker(Instance& self)
{
    while (self.retired != nullptr) {
        const WorkMessage message{WorkKind::kFree, 0, self.retired};
        if (self.schedule->schedule_work(self.schedule->handle, sizeof message, &message) != LV2_WORKER_SUCCESS) return;
        self.retired = self.retired->next_retired;
    }
}

void schedule_simple(Instance& self, WorkKind kind)
{
    const WorkMessage message{kind, 0, nullptr};
    self.schedule->schedule_work(self.schedule->handle, sizeof message, &message);
}

void choose_song(Instance& self, const char* path, uint32_t bytes)
{
    if (bytes > kMaxPathBytes) {
        schedule_simple(self, WorkKind::kPathTooLong);
        return;
    }
    struct {
        WorkMessage header;
        char path[kMaxPathBytes];
    } message{{WorkKind::kLoad, bytes, nullptr}, {}};
    std::memcpy(message.path, path, bytes);
    self.schedule->schedule_work(self.schedule->handle, static_cast<uint32_t>(sizeof message.header + bytes), &message);
}

void handle_object(Instance& self, const LV2_Atom_Object* object)
{
    const Uris& u = self.uris;
    if (object->body.otype == u.patch_get) {
        self.report_song = true;
        return;
    }
    if (object->body.otype != u.patch_set) return;
    const LV2_Atom* property = nullptr;
    const LV2_Atom* value = nullptr;
    lv2_atom_object_get(object, u.patch_property, &property, u.patch_value, &value, 0);
    if (property == nullptr || value == nullptr || property->type != u.atom_urid) return;
    if (reinterpret_cast<const LV2_Atom_URID*>(property)->body != u.song) return;
    if (value->type != u.atom_path && value->type != u.atom_string) return;
    const char* path = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
    choose_song(self, path, static_cast<uint32_t>(strnlen(path, value->size)));
}

void report_song(Instance& self)
{
    if (self.notify == nullptr) return;
    LV2_Atom_Forge& forge = self.forge;
    const uint32_t capacity = self.notify->atom.size;
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(self.notify), capacity);
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&forge, &sequence, 0);
    if (self.report_song) {
        const Uris& u = self.uris;
        const std::string& path = self.song->path;
        LV2_Atom_Forge_Frame object;
        if (lv2_atom_forge_frame_time(&forge, 0) && lv2_atom_forge_object(&forge, &object, 0, u.patch_set)) {
            lv2_atom_forge_key(&forge, u.patch_property);
            lv2_atom_forge_urid(&forge, u.song);
            lv2_atom_forge_key(&forge, u.patch_value);
            lv2_atom_forge_path(&forge, path.c_str(), static_cast<uint32_t>(path.size()));
            lv2_atom_forge_pop(&forge, &object);
            self.report_song = false;
        }
    }
    lv2_atom_forge_pop(&forge, &sequence);
}

void render(Instance& self, uint32_t from, uint32_t to)
{
    live_midi_flush(*self.live, *self.engine);
    if (to <= from || self.left == nullptr || self.right == nullptr) return;
    synth_render(*self.engine, self.left + from, static_cast<int32_t>(to - from), self.right + from, 0);
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features)
{
    LV2_Log_Log* log = nullptr;
    LV2_URID_Map* map = nullptr;
    LV2_Worker_Schedule* schedule = nullptr;
    LV2_State_Map_Path* map_path = nullptr;
    lv2_features_query(features, LV2_LOG__log, &log, false, LV2_URID__map, &map, false, LV2_WORKER__schedule, &schedule,
                       false, LV2_STATE__mapPath, &map_path, false, nullptr);
    LV2_Log_Logger logger{};
    lv2_log_logger_init(&logger, map, log);
    if (map == nullptr || schedule == nullptr) {
        lv2_log_error(&logger, "cantilena: the host offers no %s; the plugin needs it\n",
                      map == nullptr ? "URID map" : "worker");
        return nullptr;
    }
    RateConstants probe;
    if (!(rate >= 1.0 && rate <= 2147483647.0 && rate == std::floor(rate)) ||
        !rate_setup(probe, static_cast<int32_t>(rate))) {
        lv2_log_error(&logger,
                      "cantilena: cannot run at %.6g Hz: the engine takes whole sample rates from 1 Hz up to where "
                      "its block of %d frames is full (about 96 kHz)\n",
                      rate, kMaxBlockSize);
        return nullptr;
    }

    try {
        auto self = std::make_unique<Instance>();
        self->map = map;
        self->schedule = schedule;
        self->map_path = map_path;
        self->logger = logger;
        map_uris(*self);
        lv2_atom_forge_init(&self->forge, map);
        self->rate = static_cast<int32_t>(rate);
        self->check_interval = std::llround(kCheckSeconds * rate);
        self->engine = std::make_unique<SynthEngine>();
        self->live = std::make_unique<LiveMidi>();
        self->song = plugin_song_embedded();
        live_midi_set_routes(*self->live, self->song->routes.data());
        live_midi_reset(*self->live);
        if (const char* text = std::getenv("CANTILENA_SEED"); text != nullptr) {
            uint32_t seed = 0;
            if (seed_source_parse(text, seed)) {
                seed_source_fix(self->engine->seeds, seed);
            } else {
                lv2_log_error(&self->logger,
                              "cantilena: CANTILENA_SEED='%s' is not a number from 0 to 4294967295; the seed varies\n",
                              text);
            }
        }
        return self.release();
    } catch (const std::exception& e) {
        lv2_log_error(&logger, "cantilena: cannot start: %s\n", e.what());
        return nullptr;
    }
}

void connect_port(LV2_Handle handle, uint32_t port, void* data)
{
    Instance& self = *static_cast<Instance*>(handle);
    switch (port) {
    case kPortControl:
        self.control = static_cast<const LV2_Atom_Sequence*>(data);
        break;
    case kPortNotify:
        self.notify = static_cast<LV2_Atom_Sequence*>(data);
        break;
    case kPortLeft:
        self.left = static_cast<float*>(data);
        break;
    case kPortRight:
        self.right = static_cast<float*>(data);
        break;
    default:
        break;
    }
}

void activate(LV2_Handle handle)
{
    Instance& self = *static_cast<Instance*>(handle);
    start_engine(self);
    self.frames_to_check = self.check_interval;
    self.report_song = true;
}

void run(LV2_Handle handle, uint32_t frames)
{
    FpModeGuard mode;
    Instance& self = *static_cast<Instance*>(handle);
    hand_retired_to_worker(self);

    uint32_t done = 0;
    if (self.control != nullptr) {
        LV2_ATOM_SEQUENCE_FOREACH(self.control, event)
        {
            const int64_t time = event->time.frames;
            const uint32_t at = time <= done ? done : time >= frames ? frames : static_cast<uint32_t>(time);
            if (at > done) {
                render(self, done, at);
                done = at;
            }
            if (event->body.type == self.uris.midi_event) {
                live_midi_message(*self.live, static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&event->body)),
                                  event->body.size);
            } else if (lv2_atom_forge_is_object_type(&self.forge, event->body.type)) {
                handle_object(self, reinterpret_cast<const LV2_Atom_Object*>(&event->body));
            }
        }
    }
    render(self, done, frames);
    report_song(self);

    self.frames_to_check -= frames;
    if (self.frames_to_check <= 0) {
        self.frames_to_check = self.check_interval;
        schedule_simple(self, WorkKind::kCheck);
    }
}

void deactivate(LV2_Handle) {}

void cleanup(LV2_Handle handle)
{
    Instance* self = static_cast<Instance*>(handle);
    while (self->retired != nullptr) delete std::exchange(self->retired, self->retired->next_retired);
    delete self;
}

void log_attempt(Instance& self, const SongAttempt& attempt)
{
    for (const std::string& line : attempt.warnings.lines)
        lv2_log_warning(&self.logger, "cantilena: %s\n", line.c_str());
    if (!attempt.error.empty())
        lv2_log_error(&self.logger, "cantilena: %s (the last song that loaded plays on)\n", attempt.error.c_str());
}

// Reads the song at path; returns it when it compiled. The files it read are
// watched from now on, whether it compiled or not.
std::unique_ptr<PluginSong> load_song(Instance& self, const std::string& path)
{
    if (path.empty()) {
        self.watched.clear();
        return plugin_song_embedded();
    }
    SongAttempt attempt = plugin_song_load(path);
    self.watched = std::move(attempt.files);
    log_attempt(self, attempt);
    if (attempt.song) lv2_log_note(&self.logger, "cantilena: playing %s\n", path.c_str());
    return std::move(attempt.song);
}

LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle respond_handle,
                       uint32_t size, const void* data)
{
    Instance& self = *static_cast<Instance*>(handle);
    if (size < sizeof(WorkMessage)) return LV2_WORKER_ERR_UNKNOWN;
    WorkMessage message;
    std::memcpy(&message, data, sizeof message);
    std::string path;
    switch (message.kind) {
    case WorkKind::kFree:
        delete message.song;
        return LV2_WORKER_SUCCESS;
    case WorkKind::kPathTooLong:
        lv2_log_error(&self.logger, "cantilena: the chosen song's path is longer than %u bytes; it is not loaded\n",
                      kMaxPathBytes);
        return LV2_WORKER_SUCCESS;
    case WorkKind::kCheck: {
        std::lock_guard<std::mutex> lock(self.chosen_lock);
        path = self.chosen;
    }
        if (path.empty() || !files_changed(self.watched)) return LV2_WORKER_SUCCESS;
        break;
    case WorkKind::kLoad: {
        if (size < sizeof message + message.path_bytes) return LV2_WORKER_ERR_UNKNOWN;
        path.assign(static_cast<const char*>(data) + sizeof message, message.path_bytes);
        std::lock_guard<std::mutex> lock(self.chosen_lock);
        self.chosen = path;
        break;
    }
    default:
        return LV2_WORKER_ERR_UNKNOWN;
    }
    try {
        std::unique_ptr<PluginSong> song = load_song(self, path);
        if (!song) return LV2_WORKER_SUCCESS;
        const WorkReply reply{song.get()};
        if (respond(respond_handle, sizeof reply, &reply) != LV2_WORKER_SUCCESS) return LV2_WORKER_ERR_NO_SPACE;
        song.release();  // the audio thread owns it now
    } catch (const std::exception& e) {
        lv2_log_error(&self.logger, "cantilena: %s: %s\n", path.c_str(), e.what());
    }
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status work_response(LV2_Handle handle, uint32_t size, const void* body)
{
    Instance& self = *static_cast<Instance*>(handle);
    if (size != sizeof(WorkReply)) return LV2_WORKER_ERR_UNKNOWN;
    WorkReply reply;
    std::memcpy(&reply, body, sizeof reply);
    retire_song(self, install_song(self, std::unique_ptr<PluginSong>(reply.song)));
    hand_retired_to_worker(self);
    return LV2_WORKER_SUCCESS;
}

LV2_State_Map_Path* state_map_path(Instance& self, const LV2_Feature* const* features)
{
    auto* map_path = static_cast<LV2_State_Map_Path*>(lv2_features_data(features, LV2_STATE__mapPath));
    return map_path != nullptr ? map_path : self.map_path;
}

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state, uint32_t,
                      const LV2_Feature* const* features)
{
    Instance& self = *static_cast<Instance*>(handle);
    std::string path;
    {
        std::lock_guard<std::mutex> lock(self.chosen_lock);
        path = self.chosen;
    }
    if (path.empty()) return LV2_STATE_SUCCESS;  // the embedded song: nothing to keep
    LV2_State_Map_Path* map_path = state_map_path(self, features);
    auto* free_path = static_cast<LV2_State_Free_Path*>(lv2_features_data(features, LV2_STATE__freePath));
    char* stored = map_path != nullptr ? map_path->abstract_path(map_path->handle, path.c_str()) : strdup(path.c_str());
    if (stored == nullptr) return LV2_STATE_ERR_UNKNOWN;
    const LV2_State_Status status = store(state, self.uris.song, stored, std::strlen(stored) + 1, self.uris.atom_path,
                                          LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    if (map_path != nullptr && free_path != nullptr) {
        free_path->free_path(free_path->handle, stored);
    } else {
        std::free(stored);
    }
    return status;
}

LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state, uint32_t,
                         const LV2_Feature* const* features)
{
    Instance& self = *static_cast<Instance*>(handle);
    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    const void* value = retrieve(state, self.uris.song, &size, &type, &flags);
    std::string path;
    if (value != nullptr && (type == self.uris.atom_path || type == self.uris.atom_string)) {
        const std::string stored(static_cast<const char*>(value), strnlen(static_cast<const char*>(value), size));
        LV2_State_Map_Path* map_path = state_map_path(self, features);
        char* absolute = map_path != nullptr ? map_path->absolute_path(map_path->handle, stored.c_str()) : nullptr;
        path = absolute != nullptr ? absolute : stored;
        if (absolute != nullptr) {
            auto* free_path = static_cast<LV2_State_Free_Path*>(lv2_features_data(features, LV2_STATE__freePath));
            if (free_path != nullptr) {
                free_path->free_path(free_path->handle, absolute);
            } else {
                std::free(absolute);
            }
        }
    }
    // No other call runs meanwhile: the song is read here and swapped in at once.
    try {
        {
            std::lock_guard<std::mutex> lock(self.chosen_lock);
            self.chosen = path;
        }
        std::unique_ptr<PluginSong> song = load_song(self, path);
        if (song) install_song(self, std::move(song));
    } catch (const std::exception& e) {
        lv2_log_error(&self.logger, "cantilena: %s: %s\n", path.c_str(), e.what());
        return LV2_STATE_ERR_UNKNOWN;
    }
    return LV2_STATE_SUCCESS;
}

const void* extension_data(const char* uri)
{
    static const LV2_Worker_Interface worker{work, work_response, nullptr};
    static const LV2_State_Interface state{save, restore};
    if (std::strcmp(uri, LV2_WORKER__interface) == 0) return &worker;
    if (std::strcmp(uri, LV2_STATE__interface) == 0) return &state;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {
    kPluginUri, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &kDescriptor : nullptr;
}
