// The tool's render, events and info commands, run as the built binary.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/sequencer/sequencer_test_support.h"
#include "tools/author_common.h"
#include "tools/output_file.h"
#include "tools/wav_writer.h"

using namespace image_builder;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* binary = std::getenv("CANTILENA_BINARY_DIR");
        if (!binary) GTEST_SKIP() << "CANTILENA_BINARY_DIR is not set";
        tool_ = fs::path(binary) / "tools" / "cantilena-tool";
        ASSERT_TRUE(fs::exists(tool_)) << tool_;
        dir_ = fs::temp_directory_path() / ("cantilena-tool-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }

    void TearDown() override
    {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    fs::path write_image(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        output_write_file((dir_ / name).string(), bytes);
        return dir_ / name;
    }

    static std::string slurp(const fs::path& path)
    {
        const std::vector<uint8_t> bytes = file_read_all(path.string());
        return std::string(bytes.begin(), bytes.end());
    }

    ToolRun run(const std::string& arguments)
    {
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        const std::string command =
            tool_.string() + " " + arguments + " > " + out.string() + " 2> " + err.string() + " < /dev/null";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    }

    fs::path tool_;
    fs::path dir_;
};

struct SoundFile {
    SF_INFO info{};
    std::vector<float> floats;
    std::vector<int16_t> shorts;
};

SoundFile read_sound(const fs::path& path)
{
    SoundFile sound;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sound.info);
    EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    if (!file) return sound;
    const size_t samples = static_cast<size_t>(sound.info.frames) * sound.info.channels;
    if ((sound.info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        sound.floats.resize(samples);
        sf_read_float(file, sound.floats.data(), static_cast<sf_count_t>(samples));
    } else {
        sound.shorts.resize(samples);
        sf_read_short(file, sound.shorts.data(), static_cast<sf_count_t>(samples));
    }
    sf_close(file);
    return sound;
}

}  // namespace

TEST_F(ToolTest, RenderWritesTheSameSamplesThePlayerMakesToWavFlacOrStandardOutput)
{
    const auto image = build_song_image(busy_song(1));
    const fs::path song = write_image("busy.img", image);
    const std::vector<float> expected = Rig(image, 42).render(2 * 44100);

    const auto render = [&](const std::string& name, const std::string& options) {
        EXPECT_EQ(run("render " + song.string() + " -o " + (dir_ / name).string() + " --seconds 2 --seed 42" + options)
                      .status,
                  0);
        return read_sound(dir_ / name);
    };
    const SoundFile pcm = render("a.wav", ""), floats = render("f.wav", " --format float"), flac = render("a.flac", "");
    EXPECT_EQ(pcm.info.frames, 2 * 44100);
    EXPECT_EQ(pcm.info.channels, 2);
    EXPECT_EQ(pcm.info.samplerate, 44100);
    ASSERT_EQ(pcm.shorts.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(pcm.shorts[i], pcm16_from_float(expected[i])) << i;

    EXPECT_TRUE(floats.floats == expected);
    EXPECT_EQ(flac.info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
    EXPECT_TRUE(flac.shorts == pcm.shorts);

    const ToolRun piped = run("render -o - --seconds 0.5 --seed 3");  // the embedded song, as WAV on standard output
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(piped.err.empty());  // no progress bar without a terminal
    std::ofstream(dir_ / "piped.wav", std::ios::binary) << piped.out;
    const SoundFile sound = read_sound(dir_ / "piped.wav");
    EXPECT_EQ(sound.info.frames, 22050);
    EXPECT_EQ(sound.info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
}

TEST_F(ToolTest, EventsListsEveryStreamWithItsTickAndFrame)
{
    SongPlan song;
    song.tempos = {{0, 371519}};
    song.channels[3].programs = {{0, 3}};
    song.channels[3].notes = {{0, 60, 99}, {36, 60, 0}};
    const ToolRun result = run("events " + write_image("two.img", build_song_image(song)).string());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "tick 0 frame 0: C3 03 93 3C 63 FD\ntick 36 frame 4607: 93 3C 00 FD\n");
}

TEST_F(ToolTest, InfoDescribesTheImage)
{
    SongPlan song = busy_song(1);
    song.texts = {"!lAA_ "};
    const auto image = build_song_image(song);
    const ToolRun result = run("info " + write_image("busy.img", image).string());
    ASSERT_EQ(result.status, 0) << result.err;
    for (const std::string& line :
         {std::string("ticks per quarter: 128"), std::string("tempo events: 2"), std::string("channels: 4 present"),
          std::string("global parameter block: 22 bytes"), std::string("patch bank: "), std::string("4 programs"),
          std::string("text 0: \"!lAA_ \""), std::string("length: 1024 ticks"),
          std::string(std::to_string(image.size()) + " bytes")})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;
}

TEST_F(ToolTest, ABadFileGetsAnErrorNamingTheFileAndTheByte)
{
    auto image = build_song_image(busy_song(1));
    write_word(image, 0, 0);
    const fs::path bad = write_image("bad.img", image);
    for (const std::string& command :
         {std::string("info "), std::string("events "), "render -o " + (dir_ / "x.wav").string() + " "}) {
        const ToolRun result = run(command + bad.string());
        EXPECT_EQ(result.status, 1) << command;
        EXPECT_NE(result.err.find(bad.string() + ": byte 0: ticks per quarter note is 0"), std::string::npos)
            << result.err;
        EXPECT_TRUE(result.out.empty());
    }
    EXPECT_FALSE(fs::exists(dir_ / "x.wav"));

    const ToolRun missing = run("info " + (dir_ / "nowhere.img").string());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("nowhere.img: No such file"), std::string::npos) << missing.err;
}

TEST_F(ToolTest, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(run("render").status, 2);  // no output file
    EXPECT_EQ(run("render -o x.wav --format mp3").status, 2);
    const ToolRun unknown = run("render -o " + (dir_ / "x.ogg").string());
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("unknown output type"), std::string::npos) << unknown.err;
    EXPECT_EQ(run("render --help").status, 0);
}

TEST_F(ToolTest, CompilesAMidiFileAloneAndListsOrWritesTheStarterBank)
{
    const char* source = std::getenv("CANTILENA_SOURCE_DIR");
    if (!source) GTEST_SKIP() << "CANTILENA_SOURCE_DIR is not set";
    const fs::path midi = fs::path(source) / "examples" / "first-song" / "song.mid";
    const ToolRun compiled = run("compile " + midi.string() + " -o " + (dir_ / "song.img").string());
    EXPECT_EQ(compiled.status, 0) << compiled.err;
    EXPECT_NE(run("info " + (dir_ / "song.img").string()).out.find("patch bank"), std::string::npos);

    const ToolRun listed = run("bank --list");
    EXPECT_EQ(listed.status, 0);
    for (const char* file : {"piano.yaml", "drum-cymbals.yaml", "voice.yaml", "globals.yaml"})
        EXPECT_NE(listed.out.find(file), std::string::npos) << file;

    EXPECT_EQ(run("bank --write " + (dir_ / "bank").string()).status, 0);
    EXPECT_TRUE(fs::exists(dir_ / "bank" / "piano.yaml"));
    const ToolRun refused = run("bank --write " + dir_.string());
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("not empty"), std::string::npos) << refused.err;
    EXPECT_EQ(run("bank").status, 2);
}
