#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/audio/fake_device.h"
#include "tools/midi_song.h"
#include "tools/play_session.h"
#include "tools/song_compile.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kSeed = 99;
constexpr uint32_t kStepFrames = 1024;  // what the device takes between two rounds of the loop
constexpr int64_t kSecond = kSampleRate;

// The example song copied where a test may change it.
class SongDirectory {
public:
    SongDirectory()
    {
        const char* source = std::getenv("CANTILENA_SOURCE_DIR");
        if (source == nullptr) return;
        path_ = fs::temp_directory_path() / ("cantilena-play-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::copy(fs::path(source) / "examples" / "first-song", path_, fs::copy_options::recursive);
    }
    ~SongDirectory()
    {
        if (!path_.empty()) fs::remove_all(path_);
    }
    bool ready() const { return !path_.empty(); }
    std::string yaml() const { return (path_ / "SONG.yaml").string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    void replace(const std::string& name, const std::string& from, const std::string& to) const
    {
        std::ifstream in(file(name));
        std::stringstream text;
        text << in.rdbuf();
        std::string content = text.str();
        const size_t at = content.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        content.replace(at, from.size(), to);
        write(name, content);
    }
    void write(const std::string& name, const std::string& content) const
    {
        std::ofstream(file(name), std::ios::trunc) << content;
    }

private:
    fs::path path_;
};

// What a straight render of a song with the test's seed gives, in 16-bit
// samples as the output converts them.
std::vector<int16_t> straight_render(const std::vector<uint8_t>& image, uint64_t frames)
{
    auto song = play_song_make(image, "reference", kEndUnknown);
    auto track = play_track_start(song, PlaySeed{true, kSeed});
    std::vector<float> floats(2 * frames);
    for (uint64_t done = 0; done < frames; done += kStepFrames) {
        play_track_render(*track, floats.data() + 2 * done,
                          static_cast<uint32_t>(std::min<uint64_t>(kStepFrames, frames - done)));
    }
    std::vector<int16_t> samples(floats.size());
    for (size_t i = 0; i < floats.size(); ++i) samples[i] = pcm16_from_float(floats[i]);
    return samples;
}

std::vector<uint8_t> compile(const std::string& yaml)
{
    Warnings warnings;
    return song_compile(yaml, file_reader_disk(), warnings);
}

// A session on a fake device whose worker the test runs: each round the
// device takes 1024 frames, the worker refills the ring and the loop takes
// one step, as on a real machine; the clock follows the frames played.
class PlaySessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!songs.ready()) GTEST_SKIP() << "CANTILENA_SOURCE_DIR is not set";
        output = std::make_unique<AudioOutput>();
        device = fake_device(fake);
    }
    void TearDown() override
    {
        if (output) audio_close(*output);
        play_session_end(session);
    }

    void start(PlayOptions options, std::vector<uint8_t> image, int64_t end_frame = kEndUnknown)
    {
        options.seed = PlaySeed{true, kSeed};
        options.measure_in_background = false;
        std::vector<FileStamp> files;
        if (!options.watch_yaml.empty()) {
            Warnings warnings;
            song = play_song_compile(options.watch_yaml, files, warnings);
        } else {
            song = play_song_make(std::move(image), "test song", end_frame);
        }
        play_session_start(session, *output, song, options, files, now_ms());
        ASSERT_TRUE(audio_open(*output, device, play_feed_render, &session.feed, AudioWorker::manual));
    }

    int64_t now_ms() const { return static_cast<int64_t>(heard.size() / 2) * 1000 / kSampleRate; }

    // The device takes a stretch and the worker refills the ring.
    void advance()
    {
        std::vector<int16_t> taken(2 * kStepFrames);
        fake_device_play(fake, 4 * kStepFrames, taken.data());
        heard.insert(heard.end(), taken.begin(), taken.end());
        audio_fill(*output);
    }
    PlayState step()
    {
        advance();
        return loop_step();
    }
    PlayState loop_step()
    {
        const PlayHost host{this,
                            [](void* context) {
                                auto& test = *static_cast<PlaySessionTest*>(context);
                                if (test.keys.empty()) return Key::none;
                                const Key key = test.keys.front();
                                test.keys.pop_front();
                                return key;
                            },
                            [](void* context) { return static_cast<PlaySessionTest*>(context)->now_ms(); }};
        return play_step(session, host);
    }
    void play(double seconds)
    {
        const uint64_t rounds = static_cast<uint64_t>(seconds * kSampleRate) / kStepFrames;
        for (uint64_t i = 0; i < rounds; ++i) ASSERT_EQ(step(), PlayState::playing);
    }
    // Returns the song frame heard when the key was read.
    int64_t press(Key key)
    {
        advance();
        const int64_t heard_then = play_heard_frame(session);
        keys.push_back(key);
        EXPECT_EQ(loop_step(), PlayState::playing);
        return heard_then;
    }
    void settle()
    {
        while (play_seeking(session)) ASSERT_EQ(step(), PlayState::playing);
    }

    std::vector<PlayMark> marks() const
    {
        std::vector<PlayMark> list;
        for (uint64_t k = 0; k < session.feed.mark_count; ++k) list.push_back(session.feed.marks[k % kMarkCount]);
        return list;
    }

    // Every heard frame from the first mark on is what the marks say: the
    // reference's frame at the marked song position, or silence. The stream
    // is heard one ring (16384 frames) after it is rendered.
    void expect_heard_as_marked(const std::vector<int16_t>& reference, uint64_t from_stream = 0,
                                uint64_t to_stream = UINT64_MAX)
    {
        const std::vector<PlayMark> list = marks();
        const uint64_t heard_stream_end = heard.size() / 2 - kRingFrames;
        for (size_t m = 0; m < list.size(); ++m) {
            const uint64_t begin = std::max(list[m].stream_frame, from_stream);
            uint64_t end = m + 1 < list.size() ? list[m + 1].stream_frame : heard_stream_end;
            end = std::min({end, heard_stream_end, to_stream});
            for (uint64_t t = begin; t < end; ++t) {
                const uint64_t song_frame = list[m].song_frame + (t - list[m].stream_frame);
                for (int side = 0; side < 2; ++side) {
                    const int16_t expected = list[m].sounding ? reference.at(2 * song_frame + side) : 0;
                    ASSERT_EQ(heard[2 * (kRingFrames + t) + side], expected)
                        << "stream frame " << t << " (mark " << m << ", song frame " << song_frame << ")";
                }
            }
        }
    }

    SongDirectory songs;
    std::unique_ptr<AudioOutput> output;
    FakeDevice fake{};
    SoundDevice device{};
    PlaySession session{};
    PlaySongPtr song;
    std::deque<Key> keys;
    std::vector<int16_t> heard;
};

TEST_F(PlaySessionTest, SeeksPausesAndResumesGiveTheStraightRenderAtThePositionsTheyLandOn)
{
    const std::vector<uint8_t> image = compile(songs.yaml());
    start(PlayOptions{}, image);
    play(1.5);
    const int64_t before_seek = press(Key::right);
    settle();
    EXPECT_EQ(marks().back().song_frame, static_cast<uint64_t>(before_seek + 10 * kSecond));
    EXPECT_TRUE(marks().back().sounding);
    play(1.0);
    press(Key::space);
    play(1.0);
    const int64_t paused_at = play_heard_frame(session);
    play(0.5);
    EXPECT_EQ(play_heard_frame(session), paused_at) << "the position stands while paused";
    press(Key::space);
    play(1.0);
    const int64_t before_back = press(Key::left);
    settle();
    EXPECT_EQ(marks().back().song_frame, static_cast<uint64_t>(before_back - 10 * kSecond));
    play(1.0);
    press(Key::home);
    settle();
    EXPECT_EQ(marks().back().song_frame, 0u);
    play(1.0);

    expect_heard_as_marked(straight_render(image, static_cast<uint64_t>(16 * kSecond)));
}

TEST_F(PlaySessionTest, FromStartsThereAndASongEndsByItselfOffATerminalButWaitsOnOne)
{
    const std::vector<uint8_t> image = compile(songs.yaml());
    const int64_t end = 8 * kSecond;  // as if measured
    PlayOptions options{};
    options.from_frame = static_cast<uint64_t>(6 * kSecond);
    start(options, image, end);
    settle();
    PlayState state = PlayState::playing;
    int rounds = 0;
    while ((state = step()) == PlayState::playing) ASSERT_LT(++rounds, 200);
    EXPECT_EQ(state, PlayState::stopped);
    EXPECT_NEAR(static_cast<double>(play_heard_frame(session)), static_cast<double>(end), kStepFrames);
    expect_heard_as_marked(straight_render(image, static_cast<uint64_t>(end)));

    play_session_end(session);
    audio_close(*output);
    heard.clear();
    options.hold_at_end = true;
    start(options, image, end);
    settle();
    play(3.0);
    EXPECT_TRUE(play_status(session).ended);
    press(Key::home);
    settle();
    play(0.5);
    EXPECT_FALSE(play_status(session).ended);
}

TEST_F(PlaySessionTest, ALoopedSongStartsAgainAtItsEndWithoutAGap)
{
    const std::vector<uint8_t> image = compile(songs.yaml());
    const int64_t end = 2 * kSecond;
    PlayOptions options{};
    options.loop = true;
    start(options, image, end);
    play(5.0);
    const std::vector<PlayMark> list = marks();
    ASSERT_GE(list.size(), 3u);
    EXPECT_EQ(list[list.size() - 1].stream_frame - list[list.size() - 2].stream_frame, static_cast<uint64_t>(end));
    EXPECT_EQ(list.back().song_frame, 0u);
    expect_heard_as_marked(straight_render(image, static_cast<uint64_t>(end)));
}

TEST_F(PlaySessionTest, WatchPlaysASavedPatchChangeFromWherePlaybackIsAndKeepsTheLastSongThroughAnError)
{
    PlayOptions options{};
    options.watch_yaml = songs.yaml();
    start(options, {});
    const std::vector<int16_t> before = straight_render(compile(songs.yaml()), static_cast<uint64_t>(10 * kSecond));
    play(1.5);

    songs.replace("patches/bass.yaml", "cutoff: 58", "cutoff: 96");
    const size_t marks_before = marks().size();
    play(0.5);  // the watch sees the save, waits for it to settle and reloads
    settle();
    ASSERT_EQ(marks().size(), marks_before + 1) << "reloaded once";
    const PlayMark reload = marks().back();
    EXPECT_NE(session.message.find("reloaded"), std::string::npos);
    play(1.5);
    const std::vector<int16_t> after = straight_render(compile(songs.yaml()), static_cast<uint64_t>(10 * kSecond));
    EXPECT_NE(before, after) << "the change is audible";
    expect_heard_as_marked(before, 0, reload.stream_frame);
    expect_heard_as_marked(after, reload.stream_frame);

    songs.write("patches/bass.yaml", "osc1: {mode: pulse, color: [40\n");
    play(0.7);
    EXPECT_EQ(marks().size(), marks_before + 1) << "a broken file reloads nothing";
    EXPECT_NE(session.message.find("bass.yaml:"), std::string::npos) << session.message;
    EXPECT_TRUE(session.message_is_error);
    play(1.0);
    expect_heard_as_marked(after, reload.stream_frame);
}

TEST_F(PlaySessionTest, AMidiFileAlonePlaysWithTheStarterBankAndIsWatchedToo)
{
    PlayOptions options{};
    options.watch_yaml = songs.file("song.mid");
    start(options, {});
    ASSERT_FALSE(session.watch.compiled.empty());
    EXPECT_EQ(session.watch.compiled.front().path, songs.file("song.mid"));
    play(1.5);
    Warnings warnings;
    expect_heard_as_marked(straight_render(song_compile_midi(songs.file("song.mid"), file_reader_disk(), warnings),
                                           static_cast<uint64_t>(2 * kSecond)));
}

}  // namespace
