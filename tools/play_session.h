// cantilena-tool play: any song through the sound output, with the player's
// ring, worker and device. A track is one song's transport and engine at a
// song position; the feed is the output's render callback, which plays the
// live track into the stream. A seek makes a fresh track and renders it
// silently from the song's start to the target (the engine is deterministic,
// so what follows is exactly what a play from the start gives there), then
// swaps it in under the output lock. Marks tie stream frames to song frames,
// so the position heard is known however the stream was cut; snapshots of
// the stream (peaks, voices, tempo, lyric) let the status line show what is
// heard, not what is being rendered half a second ahead.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/keyboard.h"
#include "app/main_loop.h"
#include "audio/audio_output.h"
#include "sequencer/player.h"
#include "synth/engine.h"
#include "tools/author_common.h"
#include "tools/song_watch.h"

constexpr int64_t kEndUnknown = -1;
constexpr uint32_t kSeekStepSeconds = 10;
constexpr uint32_t kSeekChunkFrames = 4096;  // silent rendering between key tests while seeking
constexpr uint32_t kSnapshotFrames = 1024;   // one status snapshot per 1024 stream frames (23 ms)
constexpr uint32_t kSnapshotCount = 64;      // 1.5 s of stream: more than the ring and the device hold
constexpr uint32_t kMarkCount = 64;
constexpr size_t kLyricBytes = 40;
constexpr int64_t kWatchPollMs = 200;
constexpr int64_t kNoticeMs = 4000;     // how long "reloaded" stays on the status line
constexpr uint32_t kLyricChannel = 15;  // the speech synthesizer's channel

struct PlaySong {
    std::vector<uint8_t> image;  // validated
    std::string name;
    uint64_t last_event_frame = 0;
    // Frames from the start at which the song ends: known from the start
    // for the player's own song, else measured (kEndUnknown until then).
    std::atomic<int64_t> end_frame{kEndUnknown};
};
using PlaySongPtr = std::shared_ptr<PlaySong>;

// A validated image as a song to play. end_frame: where it ends, or
// kEndUnknown to have it measured by play_song_measure.
PlaySongPtr play_song_make(std::vector<uint8_t> image, std::string name, int64_t end_frame);
// Measures where the song ends, now or on a low-priority thread of its own
// (which keeps the song alive while it runs).
void play_song_measure(const PlaySongPtr& song, bool in_background);
// Compiles SONG.yaml (or a MIDI file alone, with the starter bank) into a
// song; files gets the stamp of every file the compile read (for the
// watch), also when it throws AuthorError.
PlaySongPtr play_song_compile(const std::string& song_yaml, std::vector<FileStamp>& files, Warnings& warnings);

struct PlaySeed {
    bool fixed = false;
    uint32_t seed = 0;
};

struct PlayTrack {
    PlaySongPtr song;
    std::unique_ptr<SynthEngine> engine;
    Player player;
    uint64_t frame = 0;  // song frames rendered since the start
};

std::unique_ptr<PlayTrack> play_track_start(const PlaySongPtr& song, const PlaySeed& seed);
void play_track_render(PlayTrack& track, float* frames, uint32_t count);

// From stream_frame on, the stream carries the song from song_frame
// (sounding), or silence at song_frame (paused, or past the song's end).
struct PlayMark {
    uint64_t stream_frame;
    uint64_t song_frame;
    bool sounding;
};

struct PlaySnapshot {
    uint64_t index;  // stream frame / kSnapshotFrames
    float peak[2];
    int32_t voices;
    uint32_t tempo;  // samples per quarter times 10000, as the sequencer keeps it
    char lyric[kLyricBytes];
};

// The render side, touched only under the output lock.
struct PlayFeed {
    PlayTrack* track;  // null: silence
    PlayTrack* next;   // with --loop: a fresh track at the start, taken at the end
    bool paused;
    bool ended;         // the track reached its song's end
    uint64_t ended_at;  // the stream frame where it did
    uint64_t stream_frames;
    PlayMark marks[kMarkCount];
    uint64_t mark_count;
    PlaySnapshot snapshots[kSnapshotCount];
};

// The output's render callback; context is the PlayFeed.
int32_t play_feed_render(void* context, float* frames, uint32_t count);

struct PlayOptions {
    PlaySeed seed;
    uint64_t from_frame = 0;
    bool loop = false;
    // On a terminal the end waits for a key (Home plays again); off one,
    // playback stops there.
    bool hold_at_end = false;
    std::string watch_yaml;  // SONG.yaml or a MIDI file: recompiled whenever a file it uses is saved
    bool measure_in_background = true;
};

struct PlayStatus {
    int64_t position_frame;
    int64_t length_frame;  // kEndUnknown while it is measured
    uint32_t tempo;
    int32_t voices;
    float peak[2];
    std::string lyric;
    bool paused;
    bool ended;
    bool seeking;
    std::string message;  // a compile error, or what the last reload did
};

// What play_step needs from the platform; tests script it.
struct PlayHost {
    void* context;
    Key (*read_key)(void* context);  // the next key, or Key::none
    int64_t (*clock_ms)(void* context);
};

enum class PlayState { playing, stopped, device_lost };

struct PlaySession {
    PlayOptions options;
    AudioOutput* output;
    PlayFeed feed;
    PlaySongPtr song;
    std::unique_ptr<PlayTrack> live;
    std::unique_ptr<PlayTrack> loop_next;
    std::unique_ptr<PlayTrack> pending;  // a seek in progress
    uint64_t pending_target;
    bool pending_follow;  // lands where the live track has got to by then (a reload)
    bool paused;
    SongWatch watch;
    int64_t next_watch_ms;
    std::string message;
    bool message_is_error;  // stays until a reload succeeds; a notice goes after kNoticeMs
    int64_t message_until_ms;
    DeviceWatch device;
    std::vector<float> scratch;
};

// Sets the session up on song (the output is opened afterwards with
// play_feed_render and &session.feed); files: what song was compiled from.
void play_session_start(PlaySession& session, AudioOutput& output, const PlaySongPtr& song, const PlayOptions& options,
                        const std::vector<FileStamp>& files, int64_t now_ms);
// One round: keys, the watch, a stretch of a seek in progress, the song's end
// and the device's health.
PlayState play_step(PlaySession& session, const PlayHost& host);
// True while a seek renders: the caller should not sleep between rounds.
bool play_seeking(const PlaySession& session);
// Song frame heard now (what the marks say of the heard stream frame).
int64_t play_heard_frame(PlaySession& session);
PlayStatus play_status(PlaySession& session);
// Drops every track (after the output is closed).
void play_session_end(PlaySession& session);
