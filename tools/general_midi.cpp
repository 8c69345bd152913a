#include "tools/general_midi.h"

#include <algorithm>
#include <map>
#include <optional>

#include "synth/constants.h"
#include "tools/starter_bank.h"

namespace {

constexpr uint8_t kGmDefaultProgram = 0;  // a channel that selects none plays the piano

// Names a song channel by the MIDI channel that feeds it, as the file's author knows it.
std::string channel_name(const GmRouting& routing, int c)
{
    const int midi = routing.midi_channel[c];
    return midi >= 0 ? "MIDI channel " + std::to_string(midi + 1) : "song channel " + std::to_string(c);
}

size_t note_ons(const ChannelEvents& channel)
{
    return static_cast<size_t>(
        std::count_if(channel.notes.begin(), channel.notes.end(), [](const NoteEvent& e) { return e.velocity != 0; }));
}

// What a song channel plays: the patches its own program changes select, or
// one bank patch from tick 0 on (a drum group or a merged kit), or the voice
// wherever SONG.yaml maps no patch of its own.
struct ChannelSound {
    std::optional<std::string> fixed;  // a bank patch by name
    bool voice = false;
};

// Song channels 0..14 without notes (15 is the speech channel).
std::vector<int> free_channels(const SongData& song)
{
    std::vector<int> free;
    for (int c = 0; c < kSpeechChannel; ++c)
        if (song.channels[c].notes.empty()) free.push_back(c);
    return free;
}

template <typename Event>
void merge_by_tick(std::vector<Event>& into, const std::vector<Event>& from)
{
    std::vector<Event> merged;
    merged.reserve(into.size() + from.size());
    std::merge(into.begin(), into.end(), from.begin(), from.end(), std::back_inserter(merged),
               [](const Event& a, const Event& b) { return a.tick < b.tick; });
    into = std::move(merged);
}

void report_bends(const SongData& song, const GmRouting& routing, const std::string& name, Warnings& warnings)
{
    for (int c = 0; c < kSongChannels; ++c) {
        const std::vector<BendEvent>& bends = song.channels[c].bends;
        if (bends.empty()) continue;
        const BendEvent& first = bends.front();
        warnings.add(first.origin.track < 0 ? name : at_byte(name, first.origin.offset),
                     channel_name(routing, c) + " bends the pitch (" + std::to_string(bends.size()) +
                         " pitch-bend events, the first at tick " + std::to_string(first.tick) +
                         "); the synthesizer plays no pitch bend");
    }
}

// MIDI channel 16 leaves the speech channel for a free song channel; when
// none is free, the two least busy channels share one.
void move_channel_16(SongData& song, const GmRouting& routing, const std::string& name, Warnings& warnings)
{
    const std::vector<int> free = free_channels(song);
    if (!free.empty()) {
        song.channels[free.front()] = std::move(song.channels[kSpeechChannel]);
        song.channels[kSpeechChannel] = {};
        return;
    }
    std::vector<int> candidates;
    for (int c = 0; c < kSongChannels; ++c)
        if (c != routing.drum_channel) candidates.push_back(c);
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](int a, int b) { return note_ons(song.channels[a]) < note_ons(song.channels[b]); });
    const int shared = std::min(candidates[0], candidates[1]);
    const int joining = std::max(candidates[0], candidates[1]);
    const bool joining_busier = note_ons(song.channels[joining]) > note_ons(song.channels[shared]);
    ChannelEvents& target = song.channels[shared];
    ChannelEvents& other = song.channels[joining];
    if (joining_busier) {
        std::swap(target.programs, other.programs);
        std::swap(target.controllers, other.controllers);
    }
    merge_by_tick(target.notes, other.notes);
    const int kept = joining_busier ? joining : shared;
    warnings.add(name, "no song channel is free for " + channel_name(routing, kSpeechChannel) +
                           " (song channel 15 is the speech channel, and this song does not sing): " +
                           channel_name(routing, shared) + " and " + channel_name(routing, joining) +
                           ", the least busy, share song channel " + std::to_string(shared) +
                           " with the programs and "
                           "controllers of " +
                           channel_name(routing, kept));
    other = {};
    if (joining != kSpeechChannel) {
        song.channels[joining] = std::move(song.channels[kSpeechChannel]);
        song.channels[kSpeechChannel] = {};
    }
}

// The groups sharing a channel, in the order they merge when channels run short.
std::vector<std::vector<DrumGroup>> drum_channels_needed(const std::array<bool, kDrumGroupCount>& used,
                                                         size_t available)
{
    std::vector<std::vector<DrumGroup>> channels;
    for (int g = 0; g < kDrumGroupCount; ++g)
        if (used[g]) channels.push_back({static_cast<DrumGroup>(g)});
    const auto merge = [&](DrumGroup into, DrumGroup from) {
        auto find = [&](DrumGroup g) {
            return std::find_if(channels.begin(), channels.end(), [g](const std::vector<DrumGroup>& groups) {
                return std::find(groups.begin(), groups.end(), g) != groups.end();
            });
        };
        auto a = find(into), b = find(from);
        if (channels.size() <= available || a == channels.end() || b == channels.end() || a == b) return;
        a->insert(a->end(), b->begin(), b->end());
        channels.erase(b);
    };
    merge(kDrumKick, kDrumToms);
    merge(kDrumSnare, kDrumCymbals);
    while (channels.size() > std::max<size_t>(available, 1)) {
        channels.front().insert(channels.front().end(), channels.back().begin(), channels.back().end());
        channels.pop_back();
    }
    for (std::vector<DrumGroup>& groups : channels) std::sort(groups.begin(), groups.end());
    return channels;
}

std::string drum_patch_of(const std::vector<DrumGroup>& groups)
{
    if (groups.size() == 1) return drum_group_info(groups.front()).patch;
    if (groups == std::vector<DrumGroup>{kDrumKick, kDrumToms}) return drum_group_info(kDrumToms).patch;
    return kDrumKitPatch;
}

// The drum channel's notes go by key to up to four song channels: its own
// and free ones. Each takes the drum channel's controllers.
void split_drums(SongData& song, std::array<ChannelSound, kSongChannels>& sounds, const GmRouting& routing,
                 const std::string& name, Warnings& warnings)
{
    const int drum_channel = routing.drum_channel;
    ChannelEvents drums = std::move(song.channels[drum_channel]);
    song.channels[drum_channel] = {};
    std::array<bool, kDrumGroupCount> used{};
    for (const NoteEvent& e : drums.notes) used[drum_group_of_key(e.note)] = true;

    std::vector<int> targets = {drum_channel};
    for (int c : free_channels(song))
        if (c != drum_channel) targets.push_back(c);
    const size_t groups_used = static_cast<size_t>(std::count(used.begin(), used.end(), true));
    const std::vector<std::vector<DrumGroup>> channels = drum_channels_needed(used, targets.size());

    std::array<int, kDrumGroupCount> channel_of{};
    std::string merged;
    for (size_t i = 0; i < channels.size(); ++i) {
        const int c = targets[i];
        sounds[c].fixed = drum_patch_of(channels[i]);
        song.channels[c].controllers = drums.controllers;
        std::string names;
        for (DrumGroup g : channels[i]) {
            channel_of[g] = c;
            names += std::string(names.empty() ? "" : " / ") + drum_group_info(g).name;
        }
        if (channels[i].size() > 1)
            merged += "; " + names + " share song channel " + std::to_string(c) + " (patch " + *sounds[c].fixed + ")";
    }
    for (const NoteEvent& e : drums.notes) song.channels[channel_of[drum_group_of_key(e.note)]].notes.push_back(e);
    if (!merged.empty())
        warnings.add(name, channel_name(routing, drum_channel) + "'s drums would take " + std::to_string(groups_used) +
                               " song channels, but only " + std::to_string(targets.size()) + " are free" + merged);
}

// Reset-all-controllers sets expression back to 127 and the modulation wheel
// to 0; a controller the file sends at the same tick comes after it.
void apply_resets(ChannelEvents& channel)
{
    auto& resets = channel.controllers[kResetController - 1];
    for (auto [slot, value] :
         {std::pair{kExpressionController, kDefaultMidiExpression}, std::pair{kModulationWheel, uint8_t{0}}}) {
        std::vector<ValueEvent> track;
        for (const ValueEvent& reset : resets) track.push_back({reset.tick, value, reset.origin});
        merge_by_tick(track, channel.controllers[slot - 1]);
        if (!resets.empty()) channel.controllers[slot - 1] = std::move(track);
    }
    resets.clear();
}

// Renumbers program changes to the image's programs, one per distinct patch
// in order of first use.
class ProgramTable {
public:
    explicit ProgramTable(const GmSettings& settings) : settings_(settings) {}

    uint8_t of_program(uint8_t program)
    {
        const int own = settings_.own_program[program & 0x7F];
        if (own >= 0) return index("own " + std::to_string(own), settings_.own_patches[static_cast<size_t>(own)]);
        return of_bank(bank_families()[(program & 0x7F) / kFamilyPrograms].patch);
    }
    bool is_own(uint8_t program) const { return settings_.own_program[program & 0x7F] >= 0; }
    uint8_t of_bank(const std::string& patch) { return index("bank " + patch, starter_patch(patch)); }
    std::vector<std::vector<uint8_t>> patches() && { return std::move(patches_); }

private:
    uint8_t index(const std::string& key, const std::vector<uint8_t>& patch)
    {
        auto [at, added] = indices_.emplace(key, patches_.size());
        if (added) patches_.push_back(patch);
        return static_cast<uint8_t>(at->second);
    }

    const GmSettings& settings_;
    std::map<std::string, size_t> indices_;
    std::vector<std::vector<uint8_t>> patches_;
};

}  // namespace

GmRouting::GmRouting()
{
    for (int c = 0; c < kSongChannels; ++c) midi_channel[c] = c;
    combine_volume.fill(true);
}

ImportOptions gm_import_options()
{
    ImportOptions options = midi_import_default_options();
    for (int c = 0; c < kSongChannels; ++c) {
        ChannelRoute& route = options.channels[c];
        route.midi_channel = c;
        route.controller_source.fill(-1);
        route.controller_source[kModulationWheel - 1] = kModulationWheel;
        route.controller_source[kResetController - 1] = kMidiResetControllers;
        route.controller_source[kExpressionController - 1] = kMidiExpression;
        route.controller_source[kVolumeController - 1] = kMidiVolume;
    }
    return options;
}

std::vector<ValueEvent> gm_combined_volume(const std::vector<ValueEvent>& volume,
                                           const std::vector<ValueEvent>& expression)
{
    struct Change {
        uint32_t tick;
        bool is_volume;
        uint8_t value;
        EventOrigin origin;
    };
    std::vector<Change> changes;
    for (const ValueEvent& e : volume) changes.push_back({e.tick, true, e.value, e.origin});
    for (const ValueEvent& e : expression) changes.push_back({e.tick, false, e.value, e.origin});
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.tick < b.tick; });

    uint8_t current_volume = kDefaultMidiVolume, current_expression = kDefaultMidiExpression;
    const auto product = [&] {
        return static_cast<uint8_t>((current_volume * current_expression + kDefaultMidiExpression / 2) /
                                    kDefaultMidiExpression);
    };
    std::vector<ValueEvent> combined = {{0, product(), {}}};
    for (const Change& change : changes) {
        (change.is_volume ? current_volume : current_expression) = change.value;
        // One value a tick: the last change of a tick stands.
        if (combined.back().tick == change.tick) combined.pop_back();
        if (!combined.empty() && combined.back().value == product()) continue;
        combined.push_back({change.tick, product(), change.origin});
    }
    return combined;
}

std::vector<std::vector<uint8_t>> gm_arrange(SongData& song, const GmSettings& settings, const std::string& name,
                                             Warnings& warnings)
{
    const GmRouting& routing = settings.routing;
    report_bends(song, routing, name, warnings);
    // Before any channel moves: the flags belong to the channels as read.
    for (int c = 0; c < kSongChannels; ++c) {
        if (!routing.combine_volume[c]) continue;
        ChannelEvents& channel = song.channels[c];
        apply_resets(channel);
        auto& controllers = channel.controllers;
        controllers[kVolumeController - 1] =
            gm_combined_volume(controllers[kVolumeController - 1], controllers[kExpressionController - 1]);
        controllers[kExpressionController - 1].clear();
    }
    std::array<ChannelSound, kSongChannels> sounds{};
    const bool channel_16_plays = !song.channels[kSpeechChannel].notes.empty();
    if (settings.sings)
        sounds[kSpeechChannel].voice = true;
    else if (routing.move_channel_16 && channel_16_plays)
        move_channel_16(song, routing, name, warnings);
    if (routing.drum_channel >= 0 && !song.channels[routing.drum_channel].notes.empty())
        split_drums(song, sounds, routing, name, warnings);

    ProgramTable table(settings);
    for (int c = 0; c < kSongChannels; ++c) {
        ChannelEvents& channel = song.channels[c];
        if (channel.notes.empty()) {
            channel = {};  // a channel without notes has no place in the song
            continue;
        }
        if (sounds[c].fixed) {
            channel.programs = {{0, table.of_bank(*sounds[c].fixed), {}}};
            continue;
        }
        if (channel.programs.empty() || channel.programs.front().tick != 0)
            channel.programs.insert(channel.programs.begin(), {0, kGmDefaultProgram, {}});
        for (ValueEvent& e : channel.programs)
            e.value =
                sounds[c].voice && !table.is_own(e.value) ? table.of_bank(kVoicePatch) : table.of_program(e.value);
    }
    // Every channel starts on program 0, so even a song without notes needs its patch.
    table.of_program(kGmDefaultProgram);
    return std::move(table).patches();
}
