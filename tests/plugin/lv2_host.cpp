#include "tests/plugin/lv2_host.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plugin/plugin_uris.h"

namespace {

constexpr size_t kAtomBufferBytes = 1 << 20;
constexpr uint32_t kLargestBlock = 1 << 16;

}  // namespace

std::string Lv2Host::bundle_path()
{
    const char* binary = std::getenv("CANTILENA_BINARY_DIR");
    return std::string(binary != nullptr ? binary : ".") + "/plugin/cantilena.lv2/";
}

Lv2Host::Lv2Host(double rate, const std::string& seed)
    : map_feature_{LV2_URID__map, &map_},
      unmap_feature_{LV2_URID__unmap, &unmap_},
      log_feature_entry_{LV2_LOG__log, &log_feature_},
      schedule_feature_{LV2_WORKER__schedule, &schedule_},
      features_{&map_feature_, &unmap_feature_, &log_feature_entry_, &schedule_feature_, nullptr},
      control_(kAtomBufferBytes / 8),
      notify_(kAtomBufferBytes / 8),
      left_(kLargestBlock),
      right_(kLargestBlock)
{
    lv2_atom_forge_init(&forge_, &map_);
    world_ = lilv_world_new();
    LilvNode* bundle = lilv_new_file_uri(world_, nullptr, bundle_path().c_str());
    lilv_world_load_bundle(world_, bundle);
    lilv_node_free(bundle);
    LilvNode* uri = lilv_new_uri(world_, kPluginUri);
    plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
    lilv_node_free(uri);
    if (plugin_ == nullptr) return;
    if (!seed.empty()) setenv("CANTILENA_SEED", seed.c_str(), 1);
    instance_ = lilv_plugin_instantiate(plugin_, rate, features_);
    unsetenv("CANTILENA_SEED");
    if (instance_ == nullptr) return;
    worker_ =
        static_cast<const LV2_Worker_Interface*>(lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));
    state_ = static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(instance_, LV2_STATE__interface));
    lilv_instance_connect_port(instance_, kPortControl, control_.data());
    lilv_instance_connect_port(instance_, kPortNotify, notify_.data());
    lilv_instance_connect_port(instance_, kPortLeft, left_.data());
    lilv_instance_connect_port(instance_, kPortRight, right_.data());
}

Lv2Host::~Lv2Host()
{
    if (instance_ != nullptr) {
        lilv_instance_deactivate(instance_);
        lilv_instance_free(instance_);
    }
    lilv_world_free(world_);
}

LV2_URID Lv2Host::map_uri(LV2_URID_Map_Handle handle, const char* uri)
{
    auto& self = *static_cast<Lv2Host*>(handle);
    auto [it, added] = self.ids_.emplace(uri, static_cast<LV2_URID>(self.uris_.size() + 1));
    if (added) self.uris_.push_back(uri);
    return it->second;
}

const char* Lv2Host::unmap_uri(LV2_URID_Unmap_Handle handle, LV2_URID urid)
{
    auto& self = *static_cast<Lv2Host*>(handle);
    return urid >= 1 && urid <= self.uris_.size() ? self.uris_[urid - 1].c_str() : nullptr;
}

int Lv2Host::log_printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = log_vprintf(handle, type, format, args);
    va_end(args);
    return n;
}

int Lv2Host::log_vprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list args)
{
    auto& self = *static_cast<Lv2Host*>(handle);
    char text[4096];
    const int n = std::vsnprintf(text, sizeof text, format, args);
    const char* uri = unmap_uri(handle, type);
    std::string kind = uri != nullptr ? uri : "";
    kind = kind.substr(kind.rfind('#') + 1);
    std::transform(kind.begin(), kind.end(), kind.begin(), [](unsigned char c) { return std::tolower(c); });
    self.log_.push_back({kind, text});
    return n;
}

LV2_Worker_Status Lv2Host::schedule_work(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data)
{
    auto& self = *static_cast<Lv2Host*>(handle);
    const auto* bytes = static_cast<const uint8_t*>(data);
    self.work_.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Lv2Host::respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data)
{
    auto& self = *static_cast<Lv2Host*>(handle);
    const auto* bytes = static_cast<const uint8_t*>(data);
    self.responses_.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

bool Lv2Host::logged(const std::string& type, const std::string& part) const
{
    return std::any_of(log_.begin(), log_.end(), [&](const LogLine& line) {
        return line.type == type && line.text.find(part) != std::string::npos;
    });
}

void Lv2Host::activate()
{
    lilv_instance_activate(instance_);
    frame_ = 0;
}

void Lv2Host::choose_song(const std::string& path)
{
    pending_song_ = path;
    song_pending_ = true;
}

std::vector<float> Lv2Host::play(uint64_t frames, const std::vector<uint32_t>& blocks,
                                 const std::vector<TimedMidi>& events)
{
    std::vector<float> out;
    out.reserve(2 * frames);
    size_t next_event = 0;
    while (next_event < events.size() && events[next_event].frame < frame_) ++next_event;
    const uint64_t end = frame_ + frames;
    for (size_t i = 0; frame_ < end; ++i) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(blocks[i % blocks.size()], end - frame_));
        run_block(count, events, next_event, out);
    }
    return out;
}

void Lv2Host::run_block(uint32_t count, const std::vector<TimedMidi>& events, size_t& next_event,
                        std::vector<float>& out)
{
    lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(control_.data()), kAtomBufferBytes);
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&forge_, &sequence, 0);
    if (song_pending_) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge_, 0);
        lv2_atom_forge_object(&forge_, &object, 0, map_uri(this, LV2_PATCH__Set));
        lv2_atom_forge_key(&forge_, map_uri(this, LV2_PATCH__property));
        lv2_atom_forge_urid(&forge_, map_uri(this, kSongParameterUri));
        lv2_atom_forge_key(&forge_, map_uri(this, LV2_PATCH__value));
        lv2_atom_forge_path(&forge_, pending_song_.c_str(), static_cast<uint32_t>(pending_song_.size()));
        lv2_atom_forge_pop(&forge_, &object);
        song_pending_ = false;
    }
    const LV2_URID midi = map_uri(this, LV2_MIDI__MidiEvent);
    for (; next_event < events.size() && events[next_event].frame < frame_ + count; ++next_event) {
        const TimedMidi& event = events[next_event];
        lv2_atom_forge_frame_time(&forge_, static_cast<int64_t>(event.frame - frame_));
        lv2_atom_forge_atom(&forge_, static_cast<uint32_t>(event.bytes.size()), midi);
        lv2_atom_forge_write(&forge_, event.bytes.data(), static_cast<uint32_t>(event.bytes.size()));
    }
    lv2_atom_forge_pop(&forge_, &sequence);

    auto* notify = reinterpret_cast<LV2_Atom_Sequence*>(notify_.data());
    notify->atom.type = 0;
    notify->atom.size = static_cast<uint32_t>(kAtomBufferBytes - sizeof(LV2_Atom));
    std::fill(left_.begin(), left_.begin() + count, -9.0f);
    std::fill(right_.begin(), right_.begin() + count, -9.0f);

    lilv_instance_run(instance_, count);
    for (uint32_t i = 0; i < count; ++i) {
        out.push_back(left_[i]);
        out.push_back(right_[i]);
    }
    frame_ += count;
    read_notify();
    after_run();
}

void Lv2Host::read_notify()
{
    const auto* notify = reinterpret_cast<const LV2_Atom_Sequence*>(notify_.data());
    if (notify->atom.type != map_uri(this, LV2_ATOM__Sequence)) return;
    LV2_ATOM_SEQUENCE_FOREACH(notify, event)
    {
        if (event->body.type != map_uri(this, LV2_ATOM__Object)) continue;
        const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
        if (object->body.otype != map_uri(this, LV2_PATCH__Set)) continue;
        const LV2_Atom* value = nullptr;
        lv2_atom_object_get(object, map_uri(this, LV2_PATCH__value), &value, 0);
        if (value != nullptr && value->type == map_uri(this, LV2_ATOM__Path))
            reported_ = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
    }
}

void Lv2Host::after_run()
{
    // Work scheduled from run() (and from work_response) runs here, its
    // answers go back before the next block.
    while (!work_.empty() || !responses_.empty()) {
        std::vector<std::vector<uint8_t>> work;
        work.swap(work_);
        for (const auto& message : work)
            worker_->work(lilv_instance_get_handle(instance_), respond, this, static_cast<uint32_t>(message.size()),
                          message.data());
        std::vector<std::vector<uint8_t>> responses;
        responses.swap(responses_);
        for (const auto& message : responses)
            worker_->work_response(lilv_instance_get_handle(instance_), static_cast<uint32_t>(message.size()),
                                   message.data());
    }
    if (worker_->end_run != nullptr) worker_->end_run(lilv_instance_get_handle(instance_));
}

SavedState Lv2Host::save()
{
    SavedState saved;
    struct Context {
        Lv2Host* host;
        SavedState* saved;
    } context{this, &saved};
    const LV2_State_Store_Function store = [](LV2_State_Handle handle, uint32_t key, const void* value, size_t size,
                                              uint32_t type, uint32_t) {
        auto& c = *static_cast<Context*>(handle);
        const auto* bytes = static_cast<const uint8_t*>(value);
        (*c.saved)[unmap_uri(c.host, key)] = {unmap_uri(c.host, type), std::vector<uint8_t>(bytes, bytes + size)};
        return LV2_STATE_SUCCESS;
    };
    state_->save(lilv_instance_get_handle(instance_), store, &context, LV2_STATE_IS_POD, features_);
    return saved;
}

bool Lv2Host::restore(const SavedState& state)
{
    struct Context {
        Lv2Host* host;
        const SavedState* state;
    } context{this, &state};
    const LV2_State_Retrieve_Function retrieve = [](LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type,
                                                    uint32_t* flags) -> const void* {
        auto& c = *static_cast<Context*>(handle);
        const auto it = c.state->find(unmap_uri(c.host, key));
        if (it == c.state->end()) return nullptr;
        *size = it->second.bytes.size();
        *type = map_uri(c.host, it->second.type.c_str());
        *flags = LV2_STATE_IS_POD;
        return it->second.bytes.data();
    };
    return state_->restore(lilv_instance_get_handle(instance_), retrieve, &context, 0, features_) == LV2_STATE_SUCCESS;
}
