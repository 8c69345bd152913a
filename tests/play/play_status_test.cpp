#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/play_status.h"
#include "tools/song_watch.h"

namespace {

namespace fs = std::filesystem;

TEST(PlayStatus, ClockShowsMinutesSecondsAndTenthsCutNotRounded)
{
    EXPECT_EQ(play_clock(0), "0:00.0");
    EXPECT_EQ(play_clock(-5), "0:00.0");
    EXPECT_EQ(play_clock(44100 * 83 + 44100 * 49 / 100), "1:23.4");
    EXPECT_EQ(play_clock(44100 * 198), "3:18.0");
    EXPECT_EQ(play_clock(44100LL * 3600 * 2), "120:00.0");
}

TEST(PlayStatus, AMeterLightsACellForEvery6DbStepThePeakReachesAboveMinus60Dbfs)
{
    for (const auto& [peak, cells] : {std::pair{1.0f, 10},
                                      {0.51f, 10},
                                      {0.49f, 9},
                                      {0.24f, 8},
                                      {0.0011f, 1},
                                      {0.0009f, 0},
                                      {0.0f, 0},
                                      {4.0f, 10},
                                      {NAN, 0}}) {
        EXPECT_EQ(play_meter_cells(peak), cells) << peak;
    }
}

TEST(PlayStatus, TheLineHoldsStateTimeTempoVoicesMetersAndLyricOrAMessageInTheirPlace)
{
    PlayStatus status{};
    status.position_frame = 44100 * 65;
    status.length_frame = 44100 * 187;
    status.tempo = 264600000;  // 100 quarters a minute
    status.voices = 12;
    status.peak[0] = 1.0f;
    status.peak[1] = 0.0f;
    status.lyric = "lAEn tERn";
    EXPECT_EQ(play_status_line(status, 0),
              "play   1:05.0 / 3:07.0  100.0 bpm  12 voices  L[##########] R[          ]  lAEn tERn");

    status.paused = true;
    status.length_frame = kEndUnknown;
    status.message = "SONG.yaml:3:7: unknown key 'patchs'";
    EXPECT_EQ(play_status_line(status, 0), "pause  1:05.0 / ?  SONG.yaml:3:7: unknown key 'patchs'");
    EXPECT_EQ(play_status_line(status, 20), "pause  1:05.0 / ?  S");

    status = PlayStatus{};
    status.seeking = true;
    EXPECT_EQ(play_status_line(status, 0), "seek   0:00.0 / 0:00.0    --- bpm   0 voices  L[          ] R[          ]");
}

class SongWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("cantilena-watch-" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const char* name) const { return (dir / name).string(); }
    void write(const char* name, const char* text) const { std::ofstream(path(name), std::ios::trunc) << text; }

    fs::path dir;
};

TEST_F(SongWatchTest, ASaveCountsOnceItHasHeldStillForAPollAndUntilTheNextCompile)
{
    write("SONG.yaml", "midi: song.mid\n");
    SongWatch watch;
    song_watch_set(watch, {file_stamp(path("SONG.yaml")), file_stamp(path("song.mid"))});
    EXPECT_FALSE(song_watch_poll(watch));

    write("SONG.yaml", "midi: other.mid\n");
    EXPECT_FALSE(song_watch_poll(watch)) << "just changed: it may still be being written";
    EXPECT_TRUE(song_watch_poll(watch));
    EXPECT_TRUE(song_watch_poll(watch)) << "still not compiled";
    song_watch_set(watch, {file_stamp(path("SONG.yaml")), file_stamp(path("song.mid"))});
    EXPECT_FALSE(song_watch_poll(watch));

    write("song.mid", "MThd");  // a file the compile missed appears
    EXPECT_FALSE(song_watch_poll(watch));
    EXPECT_TRUE(song_watch_poll(watch));
}

TEST_F(SongWatchTest, AFileRenamedIntoPlaceCountsAndAReaderStampsEveryFileBeforeReadingIt)
{
    write("patch.yaml", "a: 1\n");
    std::vector<FileStamp> stamps;
    const FileReader reader = file_reader_stamping(stamps);
    EXPECT_EQ(reader(path("patch.yaml")).size(), 5u);
    EXPECT_THROW(reader(path("missing.yaml")), AuthorError);
    ASSERT_EQ(stamps.size(), 2u);
    EXPECT_TRUE(stamps[0].exists);
    EXPECT_EQ(stamps[1].path, path("missing.yaml"));
    EXPECT_FALSE(stamps[1].exists);
    EXPECT_FALSE(files_changed(stamps));

    SongWatch watch;
    song_watch_set(watch, stamps);
    write("patch.yaml.new", "a: 1\n");
    fs::rename(path("patch.yaml.new"), path("patch.yaml"));
    EXPECT_TRUE(files_changed(stamps)) << "a new inode, even with the same size and second";
    song_watch_poll(watch);
    EXPECT_TRUE(song_watch_poll(watch));
}

}  // namespace
