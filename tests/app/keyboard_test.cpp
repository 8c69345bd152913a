#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "app/keyboard.h"
#include "app/main_loop.h"
#include "app/player_app.h"

namespace {

// A pseudo-terminal pair: the test types into the master, the keyboard
// reads the slave.
class PseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
    }
    void TearDown() override
    {
        close(slave);
        close(master);
    }
    void type(const std::string& text)
    {
        ASSERT_EQ(write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        usleep(20000);  // let the line discipline pass it on
    }

    int master = -1;
    int slave = -1;
};

bool same_settings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

TEST_F(PseudoTerminal, keys_are_read_at_once_without_echo_an_escape_byte_reads_as_held_and_the_terminal_is_put_back)
{
    termios before{}, playing{}, after{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    Keyboard keyboard{};
    keyboard_open(keyboard, slave);
    EXPECT_TRUE(keyboard.reading);
    ASSERT_EQ(tcgetattr(slave, &playing), 0);
    EXPECT_EQ(playing.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(playing.c_cc[VMIN], 0);
    EXPECT_NE(playing.c_lflag & ISIG, 0u) << "Ctrl-C still interrupts";
    EXPECT_EQ(keyboard_escape_state(keyboard), 0) << "nothing typed: the read does not wait";

    type("q x");
    EXPECT_EQ(keyboard_escape_state(keyboard), 0);
    type("a\x1b");
    const int16_t state = keyboard_escape_state(keyboard);
    EXPECT_LT(state, 0) << "held";
    EXPECT_NE(state & kKeyPressed, 0);
    EXPECT_LT(keyboard_escape_state(keyboard), 0) << "a terminal tells no release";

    keyboard_close(keyboard);
    keyboard_close(keyboard);
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_TRUE(same_settings(before, after));
}

TEST(Keyboard, input_that_is_not_a_terminal_is_not_read)
{
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    ASSERT_EQ(write(pipe_ends[1], "\x1b", 1), 1);
    Keyboard keyboard{};
    keyboard_open(keyboard, pipe_ends[0]);
    EXPECT_FALSE(keyboard.reading);
    EXPECT_EQ(keyboard_escape_state(keyboard), 0);
    keyboard_close(keyboard);
    char byte = 0;
    EXPECT_EQ(read(pipe_ends[0], &byte, 1), 1) << "the byte is still there";
    close(pipe_ends[0]);
    close(pipe_ends[1]);
}

TEST(KeyboardDeathTest, a_termination_signal_reads_as_escape_held)
{
    EXPECT_EXIT(
        {
            keyboard_catch_signals();
            int pipe_ends[2];
            if (pipe(pipe_ends) != 0) std::_Exit(3);
            Keyboard keyboard{};
            keyboard_open(keyboard, pipe_ends[0]);
            if (keyboard_escape_state(keyboard) != 0) std::_Exit(4);
            raise(SIGTERM);
            std::_Exit(keyboard_stop_requested() && keyboard_escape_state(keyboard) < 0 ? 0 : 5);
        },
        ::testing::ExitedWithCode(0), "");
}

int run_player(std::initializer_list<const char*> arguments)
{
    std::vector<char*> argv;
    for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
    return cantilena_main(static_cast<int>(argv.size()), argv.data(), nullptr);
}

TEST(PlayerCommandLine, help_and_version_are_answered_and_anything_else_is_refused)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_player({"cantilena", "--help"}), 0);
    EXPECT_EQ(run_player({"cantilena", "--version"}), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("usage: cantilena"), std::string::npos);
    EXPECT_NE(printed.find("cantilena 0.1"), std::string::npos);

    testing::internal::CaptureStderr();
    EXPECT_EQ(run_player({"cantilena", "song.img"}), 2);
    const std::string complaints = testing::internal::GetCapturedStderr();
    EXPECT_NE(complaints.find("unexpected argument 'song.img'"), std::string::npos);
}

TEST(PlayerCommandLine, a_seed_that_is_not_a_number_is_refused_before_anything_plays)
{
    for (const char* bad : {"x1", "-1", "4294967296"}) {
        setenv("CANTILENA_SEED", bad, 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(run_player({"cantilena"}), 2) << "'" << bad << "'";
        EXPECT_NE(testing::internal::GetCapturedStderr().find("CANTILENA_SEED"), std::string::npos);
    }
    unsetenv("CANTILENA_SEED");
}

}  // namespace
