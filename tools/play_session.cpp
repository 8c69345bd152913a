#include "tools/play_session.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "sequencer/song_end.h"
#include "synth/seed_source.h"
#include "tools/midi_song.h"
#include "tools/song_compile.h"

namespace {

constexpr int kMeasureNiceness = 10;  // the end is measured beside playback, not ahead of it

void measure_now(PlaySong& song)
{
    auto engine = std::make_unique<SynthEngine>();
    SongEnd end{};
    if (song_measure_end(song.image.data(), *engine, end)) song.end_frame.store(static_cast<int64_t>(end.end_frame));
}

void add_mark(PlayFeed& feed, uint64_t stream_frame, uint64_t song_frame, bool sounding)
{
    feed.marks[feed.mark_count % kMarkCount] = PlayMark{stream_frame, song_frame, sounding};
    ++feed.mark_count;
}

// The syllable being sung and the ones after it, without the phonetic
// text's note marks: "lAEn tERn zAAn".
void copy_lyric(const SynthEngine& engine, char* lyric)
{
    const char* start = engine.speech.state.text_start;
    const char* cursor = engine.speech.state.cursor;
    lyric[0] = '\0';
    if (start == nullptr || cursor == nullptr || cursor <= start) return;
    const char* syllable = cursor - 1;
    while (syllable > start && *syllable != '!') --syllable;
    size_t length = 0;
    for (const char* p = syllable; *p != '\0' && length + 1 < kLyricBytes; ++p) {
        if (*p == '_') continue;
        if (*p == '!') {
            if (p == syllable) continue;
            if (length > 0 && lyric[length - 1] != ' ') lyric[length++] = ' ';
            continue;
        }
        lyric[length++] = *p == ' ' ? ' ' : *p;
    }
    while (length > 0 && lyric[length - 1] == ' ') --length;
    lyric[length] = '\0';
}

void take_snapshot(PlayFeed& feed, uint64_t stream_frame, const float* frames, uint32_t count)
{
    const uint64_t index = stream_frame / kSnapshotFrames;
    PlaySnapshot& snapshot = feed.snapshots[index % kSnapshotCount];
    if (snapshot.index != index) {
        snapshot = PlaySnapshot{};
        snapshot.index = index;
    }
    for (uint32_t i = 0; i < count; ++i) {
        snapshot.peak[0] = std::max(snapshot.peak[0], std::fabs(frames[2 * i]));
        snapshot.peak[1] = std::max(snapshot.peak[1], std::fabs(frames[2 * i + 1]));
    }
    const PlayTrack* track = feed.track;
    if (track == nullptr) return;
    int32_t usage[kChannelCount + 1];
    synth_voice_usage(*track->engine, usage);
    snapshot.voices = usage[kChannelCount];
    snapshot.tempo = track->player.seq.tempo;
    if (usage[kLyricChannel] > 0) {
        copy_lyric(*track->engine, snapshot.lyric);
    } else {
        snapshot.lyric[0] = '\0';
    }
}

// Fills one stretch of the stream from the live track, stopping it at its
// song's end (or going on with the fresh track that --loop keeps ready).
void render_stretch(PlayFeed& feed, float* frames, uint32_t count)
{
    uint32_t written = 0;
    while (written < count) {
        PlayTrack* track = feed.track;
        if (track == nullptr || feed.paused || feed.ended) {
            std::memset(frames + 2 * written, 0, sizeof(float) * 2 * (count - written));
            return;
        }
        uint32_t n = count - written;
        const int64_t end = track->song->end_frame.load(std::memory_order_acquire);
        if (end != kEndUnknown) {
            const uint64_t end_frame = static_cast<uint64_t>(end);
            if (track->frame >= end_frame) {
                if (feed.next != nullptr) {
                    feed.track = feed.next;
                    feed.next = nullptr;
                    add_mark(feed, feed.stream_frames + written, feed.track->frame, true);
                } else {
                    feed.ended = true;
                    feed.ended_at = feed.stream_frames + written;
                    add_mark(feed, feed.ended_at, track->frame, false);
                }
                continue;
            }
            n = static_cast<uint32_t>(std::min<uint64_t>(n, end_frame - track->frame));
        }
        play_track_render(*track, frames + 2 * written, n);
        written += n;
    }
}

uint64_t clamp_target(const PlaySession& session, int64_t target)
{
    if (target < 0) return 0;
    const int64_t end = session.song->end_frame.load();
    const int64_t most =
        end != kEndUnknown ? end : static_cast<int64_t>(session.song->last_event_frame + kSongEndMaxTailFrames);
    return static_cast<uint64_t>(std::min(target, most));
}

void begin_seek(PlaySession& session, uint64_t target, bool follow)
{
    PlayTrack* pending = session.pending.get();
    const bool reusable = pending != nullptr && !follow && !session.pending_follow && pending->song == session.song &&
                          pending->frame <= target;
    if (!reusable) session.pending = play_track_start(session.song, session.options.seed);
    session.pending_target = target;
    session.pending_follow = follow;
}

// Keeps a fresh track at the start ready for the feed when --loop is on.
void prepare_loop(PlaySession& session)
{
    if (!session.options.loop) return;
    if (session.loop_next != nullptr && session.loop_next->song == session.song) return;
    auto fresh = play_track_start(session.song, session.options.seed);
    std::unique_ptr<PlayTrack> old;
    {
        MutexHold hold(session.output->lock);
        session.feed.next = fresh.get();
        old = std::move(session.loop_next);
        session.loop_next = std::move(fresh);
    }
}

void render_silently(PlaySession& session, PlayTrack& track, uint64_t frames)
{
    while (frames > 0) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(frames, kSeekChunkFrames));
        play_track_render(track, session.scratch.data(), n);
        frames -= n;
    }
}

void land_seek(PlaySession& session)
{
    std::unique_ptr<PlayTrack> old;
    {
        MutexHold hold(session.output->lock);
        PlayFeed& feed = session.feed;
        // A reload goes on from where the old song's render has got to.
        if (session.pending_follow && feed.track != nullptr && feed.track->frame > session.pending->frame) {
            render_silently(session, *session.pending, feed.track->frame - session.pending->frame);
        }
        feed.track = session.pending.get();
        feed.ended = false;
        add_mark(feed, feed.stream_frames, feed.track->frame, !feed.paused);
        old = std::move(session.live);
        session.live = std::move(session.pending);
    }
    session.pending_follow = false;
    prepare_loop(session);
}

void advance_seek(PlaySession& session)
{
    PlayTrack& pending = *session.pending;
    if (pending.frame < session.pending_target) {
        render_silently(session, pending, std::min<uint64_t>(session.pending_target - pending.frame, kSeekChunkFrames));
    }
    if (pending.frame >= session.pending_target) land_seek(session);
}

// The feed took the loop's fresh track: it is the live one now.
void follow_loop(PlaySession& session)
{
    std::unique_ptr<PlayTrack> old;
    {
        MutexHold hold(session.output->lock);
        if (session.loop_next == nullptr || session.feed.track != session.loop_next.get()) return;
        old = std::move(session.live);
        session.live = std::move(session.loop_next);
    }
    prepare_loop(session);
}

void set_paused(PlaySession& session, bool paused)
{
    session.paused = paused;
    MutexHold hold(session.output->lock);
    PlayFeed& feed = session.feed;
    feed.paused = paused;
    const uint64_t song_frame = feed.track != nullptr ? feed.track->frame : session.pending_target;
    add_mark(feed, feed.stream_frames, song_frame, !paused && !feed.ended && feed.track != nullptr);
}

void reload(PlaySession& session, int64_t now_ms)
{
    std::vector<FileStamp> files;
    Warnings warnings;
    try {
        PlaySongPtr song = play_song_compile(session.options.watch_yaml, files, warnings);
        play_song_measure(song, session.options.measure_in_background);
        session.song = song;
        uint64_t head = session.pending_target;
        {
            MutexHold hold(session.output->lock);
            if (session.feed.track != nullptr) head = session.feed.track->frame;
        }
        begin_seek(session, head, true);
        session.message = "reloaded " + session.options.watch_yaml;
        if (!warnings.lines.empty()) {
            session.message += " (" + std::to_string(warnings.lines.size()) + " warning" +
                               (warnings.lines.size() == 1 ? "" : "s") + ": " + warnings.lines.front() + ")";
        }
        session.message_is_error = false;
        session.message_until_ms = now_ms + kNoticeMs;
    } catch (const AuthorError& e) {
        session.message = e.what();
        session.message_is_error = true;
    }
    // The files of this attempt and of the song playing: either may be saved next.
    for (const FileStamp& known : session.watch.polled) {
        const auto same_path = [&known](const FileStamp& stamp) { return stamp.path == known.path; };
        if (std::none_of(files.begin(), files.end(), same_path)) files.push_back(known);
    }
    song_watch_set(session.watch, std::move(files));
}

// Returns false when the key ends playback.
bool handle_key(PlaySession& session, Key key)
{
    switch (key) {
    case Key::escape:
    case Key::letter_q:
    case Key::quit:
        return false;
    case Key::space:
        set_paused(session, !session.paused);
        break;
    case Key::left:
    case Key::right: {
        const int64_t base =
            session.pending != nullptr ? static_cast<int64_t>(session.pending_target) : play_heard_frame(session);
        const int64_t step = static_cast<int64_t>(kSeekStepSeconds) * kSampleRate;
        begin_seek(session, clamp_target(session, key == Key::left ? base - step : base + step), false);
        break;
    }
    case Key::home:
        begin_seek(session, 0, false);
        break;
    default:
        break;
    }
    return true;
}

bool heard_the_end(PlaySession& session)
{
    const int64_t heard = audio_played_bytes(*session.output) / 4;
    MutexHold hold(session.output->lock);
    return session.feed.ended && heard >= static_cast<int64_t>(session.feed.ended_at);
}

}  // namespace

PlaySongPtr play_song_make(std::vector<uint8_t> image, std::string name, int64_t end_frame)
{
    auto song = std::make_shared<PlaySong>();
    song->image = std::move(image);
    song->name = std::move(name);
    SongLastEvent last;
    song_find_last_event(song->image.data(), last);
    song->last_event_frame = last.frame;
    song->end_frame.store(end_frame);
    return song;
}

void play_song_measure(const PlaySongPtr& song, bool in_background)
{
    if (song->end_frame.load() != kEndUnknown) return;
    if (!in_background) {
        measure_now(*song);
        return;
    }
    std::thread([song] {
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kMeasureNiceness);
        measure_now(*song);
    }).detach();
}

PlaySongPtr play_song_compile(const std::string& song_yaml, std::vector<FileStamp>& files, Warnings& warnings)
{
    try {
        const FileReader read = file_reader_stamping(files);
        std::vector<uint8_t> image = is_midi_file(read(song_yaml)) ? song_compile_midi(song_yaml, read, warnings)
                                                                   : song_compile(song_yaml, read, warnings);
        return play_song_make(std::move(image), song_yaml, kEndUnknown);
    } catch (const AuthorError&) {
        if (files.empty()) files.push_back(file_stamp(song_yaml));
        throw;
    }
}

std::unique_ptr<PlayTrack> play_track_start(const PlaySongPtr& song, const PlaySeed& seed)
{
    auto track = std::make_unique<PlayTrack>();
    track->song = song;
    track->engine = std::make_unique<SynthEngine>();
    if (seed.fixed) seed_source_fix(track->engine->seeds, seed.seed);
    player_init(track->player, *track->engine, song->image.data(), nullptr);
    player_start(track->player);
    return track;
}

void play_track_render(PlayTrack& track, float* frames, uint32_t count)
{
    player_render(&track.player, frames, count);
    track.frame += count;
}

int32_t play_feed_render(void* context, float* frames, uint32_t count)
{
    PlayFeed& feed = *static_cast<PlayFeed*>(context);
    uint32_t done = 0;
    while (done < count) {
        const uint64_t at = feed.stream_frames;
        const uint32_t n =
            std::min<uint32_t>(count - done, kSnapshotFrames - static_cast<uint32_t>(at % kSnapshotFrames));
        float* stretch = frames + 2 * static_cast<size_t>(done);
        render_stretch(feed, stretch, n);
        take_snapshot(feed, at, stretch, n);
        feed.stream_frames += n;
        done += n;
    }
    return 0;
}

void play_session_start(PlaySession& session, AudioOutput& output, const PlaySongPtr& song, const PlayOptions& options,
                        const std::vector<FileStamp>& files, int64_t now_ms)
{
    session.options = options;
    session.output = &output;
    session.feed = PlayFeed{};
    for (PlaySnapshot& snapshot : session.feed.snapshots) snapshot.index = UINT64_MAX;
    session.song = song;
    session.paused = false;
    session.message.clear();
    session.message_is_error = false;
    session.message_until_ms = 0;
    session.scratch.assign(2 * static_cast<size_t>(kSeekChunkFrames), 0.0f);
    song_watch_set(session.watch, files);
    session.next_watch_ms = now_ms + kWatchPollMs;
    device_watch_start(session.device, now_ms, 0);
    play_song_measure(song, options.measure_in_background);
    const uint64_t from = clamp_target(session, static_cast<int64_t>(options.from_frame));
    add_mark(session.feed, 0, from, false);
    begin_seek(session, from, false);
    if (from == 0) land_seek(session);
}

PlayState play_step(PlaySession& session, const PlayHost& host)
{
    for (Key key = host.read_key(host.context); key != Key::none; key = host.read_key(host.context)) {
        if (!handle_key(session, key)) return PlayState::stopped;
    }
    const int64_t now = host.clock_ms(host.context);
    if (!session.options.watch_yaml.empty() && now >= session.next_watch_ms) {
        session.next_watch_ms = now + kWatchPollMs;
        if (song_watch_poll(session.watch)) reload(session, now);
    }
    if (!session.message_is_error && now >= session.message_until_ms) session.message.clear();
    if (session.pending != nullptr) advance_seek(session);
    follow_loop(session);

    device_watch_update(session.device, now, audio_frames_taken(*session.output));
    if (device_watch_given_up(session.device, now)) return PlayState::device_lost;
    if (!session.options.hold_at_end && session.pending == nullptr && heard_the_end(session)) return PlayState::stopped;
    return PlayState::playing;
}

bool play_seeking(const PlaySession& session)
{
    return session.pending != nullptr;
}

int64_t play_heard_frame(PlaySession& session)
{
    const int64_t heard = audio_played_bytes(*session.output) / 4;
    MutexHold hold(session.output->lock);
    const PlayFeed& feed = session.feed;
    const uint64_t kept = std::min<uint64_t>(feed.mark_count, kMarkCount);
    const PlayMark* found = nullptr;
    for (uint64_t k = feed.mark_count - kept; k < feed.mark_count; ++k) {
        const PlayMark& mark = feed.marks[k % kMarkCount];
        if (static_cast<int64_t>(mark.stream_frame) <= heard) found = &mark;
    }
    if (found == nullptr) found = &feed.marks[(feed.mark_count - kept) % kMarkCount];
    const int64_t since = heard - static_cast<int64_t>(found->stream_frame);
    return static_cast<int64_t>(found->song_frame) + (found->sounding && since > 0 ? since : 0);
}

PlayStatus play_status(PlaySession& session)
{
    PlayStatus status{};
    status.position_frame = play_heard_frame(session);
    status.length_frame = session.song->end_frame.load();
    status.paused = session.paused;
    status.seeking = session.pending != nullptr;
    status.message = session.message;
    const int64_t heard = audio_played_bytes(*session.output) / 4;
    MutexHold hold(session.output->lock);
    const PlayFeed& feed = session.feed;
    status.ended = feed.ended && heard >= static_cast<int64_t>(feed.ended_at);
    if (heard < 0) return status;
    // The peaks of the last tenth of a second heard; the rest as of now.
    const uint64_t now_index = static_cast<uint64_t>(heard) / kSnapshotFrames;
    const uint64_t span = (kSampleRate / 10 + kSnapshotFrames - 1) / kSnapshotFrames;
    for (uint64_t k = 0; k <= span && k <= now_index; ++k) {
        const PlaySnapshot& snapshot = feed.snapshots[(now_index - k) % kSnapshotCount];
        if (snapshot.index != now_index - k) continue;
        status.peak[0] = std::max(status.peak[0], snapshot.peak[0]);
        status.peak[1] = std::max(status.peak[1], snapshot.peak[1]);
        if (k == 0 || status.tempo == 0) {
            status.voices = snapshot.voices;
            status.tempo = snapshot.tempo;
            status.lyric = snapshot.lyric;
        }
    }
    return status;
}

void play_session_end(PlaySession& session)
{
    session.feed.track = nullptr;
    session.feed.next = nullptr;
    session.live.reset();
    session.loop_next.reset();
    session.pending.reset();
}
