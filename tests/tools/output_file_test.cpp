// How outputs are written: a file replaced only when complete, keeping its
// owner and mode; links followed; devices written as they are; inputs
// refused; sets of files written all or none; temporary files gone after a
// failure or a signal. And the bounded reading beside them.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/tools/authoring_test_support.h"
#include "tools/output_file.h"
#include "tools/tool_cli.h"
#include "tools/wav_writer.h"

using namespace authoring_test;
namespace fs = std::filesystem;

namespace {

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::path(::testing::TempDir()) / ("cantilena-output-" + std::to_string(::getpid()) + "-" +
                                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    static std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

    void put(const std::string& name, const std::string& text) const { std::ofstream(dir_ / name) << text; }

    std::string text(const std::string& name) const
    {
        const std::vector<uint8_t> read = file_read_all(path(name));
        return {read.begin(), read.end()};
    }

    // Every name in the directory, temporary files included.
    std::vector<std::string> names() const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(dir_))
            found.push_back(fs::relative(entry.path(), dir_).string());
        std::sort(found.begin(), found.end());
        return found;
    }

    fs::path dir_;
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(OutputTest, ANewFileAppearsOnlyWhenCommittedAndAnAbandonedOneLeavesNothing)
{
    OutputFile out;
    output_open(out, path("song.img"), {}, 0640);
    output_write(out, "abc", 3);
    EXPECT_FALSE(fs::exists(dir_ / "song.img"));
    output_commit(out);
    EXPECT_EQ(text("song.img"), "abc");
    EXPECT_EQ(fs::status(dir_ / "song.img").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    {
        OutputFile dropped;
        output_open(dropped, path("song.img"), {});
        output_write(dropped, "partial", 7);
    }  // never committed
    EXPECT_EQ(text("song.img"), "abc");
    EXPECT_EQ(names(), Names{"song.img"});
}

TEST_F(OutputTest, AnExistingFileIsReplacedKeepingItsOwnerAndMode)
{
    put("song.img", "old");
    fs::permissions(dir_ / "song.img", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path("song.img").c_str(), 65534, 65534), 0);
    }
    output_write_file(path("song.img"), bytes("new"));
    struct stat info {};
    ASSERT_EQ(::stat(path("song.img").c_str(), &info), 0);
    EXPECT_EQ(text("song.img"), "new");
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    if (root) {
        EXPECT_EQ(info.st_uid, 65534u);
    }
    EXPECT_EQ(names(), Names{"song.img"});
}

TEST_F(OutputTest, ALinkIsFollowedAndAFileWithSeveralNamesIsWrittenInPlace)
{
    put("real.img", "old");
    fs::create_symlink("real.img", dir_ / "link.img");
    output_write_file(path("link.img"), bytes("new"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.img"));
    EXPECT_EQ(text("real.img"), "new");

    fs::create_symlink("made.img", dir_ / "dangling.img");  // a link to nothing names the file to make
    output_write_file(path("dangling.img"), bytes("made"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.img"));
    EXPECT_EQ(text("made.img"), "made");

    fs::create_hard_link(dir_ / "real.img", dir_ / "other-name.img");
    output_write_file(path("real.img"), bytes("both"));
    EXPECT_EQ(text("other-name.img"), "both");
    EXPECT_EQ(fs::hard_link_count(dir_ / "real.img"), 2u);
}

TEST_F(OutputTest, ADeviceIsWrittenAsItIsAndAFullOneFails)
{
    const std::string full = path("full");  // a private node of the full device, not the system's
    if (::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) GTEST_SKIP() << "cannot make a device node";
    EXPECT_EQ(error_of([&] { output_write_file(full, bytes("abc")); }),
              full + ": cannot write: No space left on device");
    EXPECT_TRUE(fs::is_character_file(full));
    EXPECT_EQ(names(), Names{"full"});
}

TEST_F(OutputTest, RefusesItsInputsADirectoryAMissingDirectoryAndNoName)
{
    put("SONG.yaml", "midi: song.mid\n");
    InputFiles inputs;
    file_read_all(path("SONG.yaml"), kSourceFileLimit, &inputs);
    fs::create_symlink("SONG.yaml", dir_ / "other.yaml");
    EXPECT_EQ(error_of([&] { output_write_file(path("SONG.yaml"), bytes("x"), inputs); }),
              path("SONG.yaml") + ": is an input of this command: give the output another name");
    EXPECT_EQ(error_of([&] { output_write_file(path("other.yaml"), bytes("x"), inputs); }),
              path("other.yaml") + ": is " + path("SONG.yaml") +
                  ", an input of this command: give the output another name");
    EXPECT_EQ(text("SONG.yaml"), "midi: song.mid\n");

    EXPECT_EQ(error_of([&] { output_write_file(dir_.string(), bytes("x")); }), dir_.string() + ": is a directory");
    EXPECT_EQ(error_of([&] { output_write_file(path("missing/song.img"), bytes("x")); }),
              path("missing/song.img") + ": the directory " + path("missing") + " does not exist");
    EXPECT_EQ(error_of([&] { output_write_file("", bytes("x")); }), "the output's name is empty");
}

TEST_F(OutputTest, ASignalRemovesTheTemporaryFileAndLeavesTheTargetAsItWas)
{
    put("song.wav", "previous");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OutputFile out;
        output_open(out, path("song.wav"), {});
        output_write(out, "partial", 7);
        ::raise(SIGTERM);
        ::_exit(0);  // not reached: the signal ends the process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(text("song.wav"), "previous");
    EXPECT_EQ(names(), Names{"song.wav"});
}

TEST_F(OutputTest, ASetOfFilesIsWrittenAllOrNone)
{
    const std::vector<SourceFile> files{{"SONG.yaml", bytes("song")}, {"patches/a.yaml", bytes("a")}};
    output_write_directory(path("new/sources"), files, false);
    EXPECT_EQ(names(), (Names{"new", "new/sources", "new/sources/SONG.yaml", "new/sources/patches",
                              "new/sources/patches/a.yaml"}));

    const std::string existing = path("new/sources");
    put("new/sources/mine.txt", "kept");
    EXPECT_NE(error_of([&] { output_write_directory(existing, files, false); }).find("not empty"), std::string::npos);
    const std::vector<SourceFile> changed{{"SONG.yaml", bytes("song 2")}, {"patches/a.yaml", bytes("a 2")}};
    output_write_directory(existing, changed, true);
    EXPECT_EQ(text("new/sources/SONG.yaml"), "song 2");
    EXPECT_EQ(text("new/sources/mine.txt"), "kept");

    // One file that cannot be written: none is, in a directory there or one to make.
    const std::vector<SourceFile> blocked{{"SONG.yaml", bytes("song 3")}, {"patches", bytes("x")}};
    EXPECT_EQ(error_of([&] { output_write_directory(existing, blocked, true); }),
              path("new/sources/patches") + ": is a directory");
    EXPECT_EQ(text("new/sources/SONG.yaml"), "song 2");
    const std::vector<SourceFile> clashing{{"SONG.yaml", bytes("song")}, {"SONG.yaml/x", bytes("x")}};
    EXPECT_EQ(error_of([&] { output_write_directory(path("other"), clashing, false); }).find(path("other/SONG.yaml")),
              0u);
    EXPECT_EQ(names(), (Names{"new", "new/sources", "new/sources/SONG.yaml", "new/sources/mine.txt",
                              "new/sources/patches", "new/sources/patches/a.yaml"}));
    EXPECT_EQ(error_of([&] { output_write_directory("", files, false); }), "the output directory's name is empty");
}

TEST(FileRead, StopsAtItsLimitAndSaysSo)
{
    const FileLimit small{1000, "test file"};
    EXPECT_EQ(error_of([&] { file_read_all("/dev/zero", small); }),
              "/dev/zero: more than 1000 bytes: no test file is that large");
    const std::string big = ::testing::TempDir() + "cantilena-big-" + std::to_string(::getpid());
    std::ofstream(big) << std::string(1001, 'x');
    EXPECT_EQ(error_of([&] { file_read_all(big, small); }),
              big + ": larger than 1000 bytes: no test file is that large");
    fs::remove(big);
}

TEST(WavStream, TheHeaderHoldsTheLengthFromTheStartAndTheFormatsLimitIsSaid)
{
    const std::string path = ::testing::TempDir() + "cantilena-stream-" + std::to_string(::getpid()) + ".wav";
    for (const SampleFormat format : {SampleFormat::Pcm16, SampleFormat::Float}) {
        const std::vector<float> frames{0.5f, -0.25f, 0.0f, 1.0f, -1.0f, 0.125f};
        {
            WavWriter writer;
            wav_writer_open(writer, path, format, 44100, 3);
            wav_writer_write(writer, frames.data(), 3);
            wav_writer_finish(writer);
        }
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        std::vector<float> read(frames.size());
        EXPECT_EQ(sf_readf_float(file, read.data(), 3), 3);
        sf_close(file);
        EXPECT_EQ(info.frames, 3);
        EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, format == SampleFormat::Float ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
        if (format == SampleFormat::Float) {
            EXPECT_EQ(read, frames);
        }

        WavWriter too_long;
        EXPECT_NE(error_of([&] {
                      wav_writer_open(too_long, path, format, 44100, wav_most_frames(format) + 1);
                  }).find("render less, or to a .flac file"),
                  std::string::npos);
        WavWriter cut;
        wav_writer_open(cut, path + ".cut.wav", format, 44100, 4);
        wav_writer_write(cut, frames.data(), 3);
        EXPECT_NE(error_of([&] { wav_writer_finish(cut); }).find("ended after 3 of 4 frames"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(path + ".cut.wav"));
    EXPECT_EQ(wav_most_frames(SampleFormat::Pcm16), (0xFFFFFFFFull - 36) / 4);
    fs::remove(path);
}

TEST(CommandLine, EmptyNumbersAreRefusedAndAnUnknownCommandIsNamed)
{
    CLI::App app;
    auto* render = app.add_subcommand("render");
    double seconds = 1;
    uint32_t seed = 7;
    std::string output;
    render->add_option("--seconds", seconds);
    render->add_option("--seed", seed)->check(CLI::Range(0u, 100u));
    render->add_option("-o", output);
    cli_refuse_empty_numbers(app);
    for (const char* option : {"--seconds", "--seed"}) {
        const char* argv[] = {"tool", "render", option, ""};
        try {
            app.parse(4, argv);
            ADD_FAILURE() << option << " '' was taken";
        } catch (const CLI::ValidationError& e) {
            EXPECT_EQ(std::string(e.what()), std::string(option) + ": an empty value is not a number");
        }
    }
    const char* empty_text[] = {"tool", "render", "-o", ""};
    EXPECT_NO_THROW(app.parse(4, empty_text));  // texts are the commands' to judge

    const char* bogus[] = {"tool", "bogus"};
    const char* known[] = {"tool", "render"};
    const char* option[] = {"tool", "--help"};
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(cli_check_command_name(app, 2, bogus));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "cantilena-tool: unknown command 'bogus'; the commands are render (--help says what each does)\n");
    EXPECT_TRUE(cli_check_command_name(app, 2, known));
    EXPECT_TRUE(cli_check_command_name(app, 2, option));
}
