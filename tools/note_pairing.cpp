#include "tools/note_pairing.h"

#include <algorithm>
#include <limits>

#include "tools/midi_file.h"

namespace {

constexpr int kKeyCount = 128;
constexpr int kPedalDownFrom = 64;  // controller values 64..127 hold the pedal down

void repair_note(NoteRepair& repair, const EventOrigin& origin, uint64_t tick, int key)
{
    if (repair.count++ == 0) {
        repair.origin = origin;
        repair.tick = tick;
        repair.key = key;
    }
}

std::deque<OpenNote>::iterator close(NotePairing& pairing, int key, std::deque<OpenNote>::iterator it, uint64_t tick,
                                     size_t sequence, const EventOrigin& origin)
{
    pairing.notes.push_back({it->start, tick, static_cast<uint8_t>(key), it->velocity, it->on_sequence, sequence,
                             pairing.close_order++, it->origin, origin});
    return pairing.open[key].erase(it);
}

void release_held_by_pedal(NotePairing& pairing, uint64_t tick, size_t sequence, const EventOrigin& origin)
{
    for (int key = 0; key < kKeyCount; ++key)
        for (auto it = pairing.open[key].begin(); it != pairing.open[key].end();)
            it = it->key_released ? close(pairing, key, it, tick, sequence, origin) : std::next(it);
}

bool pedal_holds(const NotePairing& pairing)
{
    return pairing.pedal_down && pairing.sustain;
}

// Every note still open ends at the end of the file; warns of those no
// note-off released and of a pedal still down.
void release_the_rest(NotePairing& pairing)
{
    const ImportContext& context = pairing.context;
    NoteRepair unreleased;
    bool pedal_held = false;
    for (int key = 0; key < kKeyCount; ++key) {
        std::deque<OpenNote>& open = pairing.open[key];
        while (!open.empty()) {
            if (open.front().key_released)
                pedal_held = true;
            else
                repair_note(unreleased, open.front().origin, open.front().start, key);
            close(pairing, key, open.begin(), pairing.end_tick, std::numeric_limits<size_t>::max(),
                  open.front().origin);
        }
    }
    const std::string channel = "song channel " + std::to_string(pairing.song_channel);
    const std::string end = std::to_string(pairing.end_tick);
    if (unreleased.count > 0)
        context.warnings.add(context.where(unreleased.origin),
                             context.place(unreleased.origin, unreleased.tick) + ": " + channel + ": " +
                                 std::to_string(unreleased.count) + " note" + (unreleased.count > 1 ? "s" : "") +
                                 " never released (the first: key " + std::to_string(unreleased.key) +
                                 " here); released at tick " + end + ", the end of the file");
    if (pedal_held)
        context.warnings.add(context.name, channel +
                                               ": the sustain pedal is still down at the end of the file; the notes "
                                               "it holds are released at tick " +
                                               end);
    const NoteRepair& stray = pairing.stray;
    if (stray.count > 0)
        context.warnings.add(context.where(stray.origin), context.place(stray.origin, stray.tick) + ": " + channel +
                                                              ": " + std::to_string(stray.count) + " note-off" +
                                                              (stray.count > 1 ? "s" : "") +
                                                              " without a sounding note (the first: key " +
                                                              std::to_string(stray.key) + " here) ignored");
}

// A new note of a sounding key ends the old one where it starts.
void cut_overlaps(NotePairing& pairing)
{
    std::vector<PairedNote>& notes = pairing.notes;
    NoteRepair cut;
    std::stable_sort(notes.begin(), notes.end(), [](const PairedNote& a, const PairedNote& b) {
        if (a.key != b.key) return a.key < b.key;
        if (a.start != b.start) return a.start < b.start;
        return a.on_sequence < b.on_sequence;
    });
    for (size_t i = 0; i + 1 < notes.size(); ++i) {
        PairedNote& a = notes[i];
        const PairedNote& b = notes[i + 1];
        if (a.key != b.key || a.end <= b.start) continue;
        repair_note(cut, b.origin, b.start, b.key);
        a.end = b.start;
        a.off_sequence = b.on_sequence;
        a.off_order = 0;
        a.off_origin = b.origin;
    }
    const ImportContext& context = pairing.context;
    if (cut.count > 0)
        context.warnings.add(context.where(cut.origin),
                             context.place(cut.origin, cut.tick) + ": song channel " +
                                 std::to_string(pairing.song_channel) + ": " + std::to_string(cut.count) + " note" +
                                 (cut.count > 1 ? "s" : "") + " of a key that was still sounding (the first: key " +
                                 std::to_string(cut.key) + " here); the sounding note ends where the new one starts");
}

// The paired notes as note-on and note-off events in playing order.
std::vector<NoteEvent> note_events(const NotePairing& pairing)
{
    struct Emit {
        uint64_t tick;
        int group;  // 0: an off of a note that began earlier; 1: a note starting here
        size_t sequence;
        size_t order;
        int after_on;
        NoteEvent event;
    };
    std::vector<Emit> emits;
    emits.reserve(2 * pairing.notes.size());
    for (const PairedNote& n : pairing.notes) {
        emits.push_back({n.start, 1, n.on_sequence, 0, 0, {0, n.key, n.velocity, n.origin}});
        if (n.end > n.start)
            emits.push_back({n.end, 0, n.off_sequence, n.off_order, 0, {0, n.key, 0, n.off_origin}});
        else
            emits.push_back({n.start, 1, n.on_sequence, 0, 1, {0, n.key, 0, n.off_origin}});
    }
    std::sort(emits.begin(), emits.end(), [](const Emit& a, const Emit& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.group != b.group) return a.group < b.group;
        if (a.sequence != b.sequence) return a.sequence < b.sequence;
        if (a.order != b.order) return a.order < b.order;
        return a.after_on < b.after_on;
    });
    std::vector<NoteEvent> events;
    events.reserve(emits.size());
    for (const Emit& e : emits) {
        NoteEvent event = e.event;
        if (e.tick > kLastSongTick)
            pairing.context.fail(event.origin, e.tick, "the note lies past the last usable tick");
        event.tick = static_cast<uint32_t>(e.tick);
        events.push_back(event);
    }
    return events;
}

}  // namespace

std::string ImportContext::where(const EventOrigin& origin) const
{
    return origin.track < 0 ? name : at_byte(name, origin.offset);
}

std::string ImportContext::place(const EventOrigin& origin, uint64_t tick) const
{
    if (origin.track < 0) return "tick " + std::to_string(tick);
    return "track " + std::to_string(origin.track) + ", tick " + std::to_string(tick);
}

void ImportContext::fail(const EventOrigin& origin, uint64_t tick, const std::string& what) const
{
    throw AuthorError(where(origin), place(origin, tick) + ": " + what);
}

void note_pairing_on(NotePairing& pairing, uint64_t tick, const EventOrigin& origin, size_t sequence, int key,
                     uint8_t velocity)
{
    pairing.open[key].push_back({tick, velocity, false, sequence, origin});
}

void note_pairing_off(NotePairing& pairing, uint64_t tick, const EventOrigin& origin, size_t sequence, int key)
{
    std::deque<OpenNote>& open = pairing.open[key];
    for (auto it = open.begin(); it != open.end(); ++it) {
        if (it->key_released) continue;
        if (pedal_holds(pairing)) {
            it->key_released = true;
        } else {
            close(pairing, key, it, tick, sequence, origin);
        }
        return;
    }
    repair_note(pairing.stray, origin, tick, key);
}

void note_pairing_controller(NotePairing& pairing, uint64_t tick, const EventOrigin& origin, size_t sequence,
                             int number, int value)
{
    if (number == kSustainPedal && pairing.sustain) {
        const bool down = value >= kPedalDownFrom;
        if (pairing.pedal_down && !down) release_held_by_pedal(pairing, tick, sequence, origin);
        pairing.pedal_down = down;
    } else if (number == kResetControllers && pairing.sustain) {
        if (pairing.pedal_down) release_held_by_pedal(pairing, tick, sequence, origin);
        pairing.pedal_down = false;
    } else if (number == kAllSoundOff) {
        for (int key = 0; key < kKeyCount; ++key)
            while (!pairing.open[key].empty()) close(pairing, key, pairing.open[key].begin(), tick, sequence, origin);
    } else if (number >= kAllNotesOff) {
        for (int key = 0; key < kKeyCount; ++key) {
            for (auto it = pairing.open[key].begin(); it != pairing.open[key].end();) {
                if (it->key_released) {
                    ++it;
                } else if (pedal_holds(pairing)) {
                    it->key_released = true;
                    ++it;
                } else {
                    it = close(pairing, key, it, tick, sequence, origin);
                }
            }
        }
    }
}

std::vector<NoteEvent> note_pairing_finish(NotePairing& pairing)
{
    release_the_rest(pairing);
    cut_overlaps(pairing);
    return note_events(pairing);
}
