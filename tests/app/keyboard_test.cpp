#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

TEST_F(PseudoTerminal, KeysAreReadAtOnceWithoutEchoALoneEscapeReadsAsHeldAndTheTerminalIsPutBack)
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

    type("q x\x1b[C\x1b[D\x1bOH");
    EXPECT_EQ(keyboard_escape_state(keyboard), 0) << "arrows and Home are escape sequences, not Esc";
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

TEST_F(PseudoTerminal, TypedKeysComeOutOneByOneAndAWaitEndsWhenOneArrives)
{
    Keyboard keyboard{};
    keyboard_open(keyboard, slave);
    type(" \x1b[1~\x1b[Cq");
    for (Key expected : {Key::space, Key::home, Key::right, Key::letter_q, Key::none}) {
        EXPECT_EQ(keyboard_read_key(keyboard), expected);
    }
    std::thread typist([this] {
        usleep(50000);
        type("\x1b[D");
    });
    const auto start = std::chrono::steady_clock::now();
    keyboard_wait(keyboard, 10000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    typist.join();
    EXPECT_EQ(keyboard_read_key(keyboard), Key::left);
    keyboard_close(keyboard);
}

std::vector<Key> decode(const std::string& bytes)
{
    KeyDecoder decoder{};
    std::vector<Key> keys;
    for (unsigned char byte : bytes) {
        const Key key = key_decode(decoder, byte);
        if (key != Key::none) keys.push_back(key);
    }
    if (const Key rest = key_decode_flush(decoder); rest != Key::none) keys.push_back(rest);
    return keys;
}

TEST(KeyDecoder, EscapeSequencesAreOneKeyAndOnlyALoneEscapeIsEsc)
{
    using K = Key;
    const std::pair<std::string, std::vector<Key>> cases[] = {
        {"\x1b", {K::escape}},
        {"\x1b\x1b", {K::escape, K::escape}},
        {"\x1b[A\x1b[B\x1b[C\x1b[D", {K::up, K::down, K::right, K::left}},
        {"\x1bOC\x1bOD\x1bOH\x1bOF", {K::right, K::left, K::home, K::end}},  // application cursor mode
        {"\x1b[H\x1b[F\x1b[1~\x1b[7~\x1b[4~\x1b[8~", {K::home, K::end, K::home, K::home, K::end, K::end}},
        {"\x1b[1;5C\x1b[1;5H", {K::right, K::home}},                 // with Ctrl: the first number and the final decide
        {"\x1b[3~\x1b[Z\x1b[200~", {K::other, K::other, K::other}},  // Delete, Shift-Tab, paste start
        {"\x1bx", {K::escape}},                                      // Alt-x
        {"\x1b[1\x1b[C", {K::right}},                                // a sequence cut by another
        {"\x1b[", {}},                                               // input ended inside a sequence
        {" qQa", {K::space, K::letter_q, K::letter_q, K::other}},
    };
    for (const auto& [bytes, keys] : cases) EXPECT_EQ(decode(bytes), keys) << testing::PrintToString(bytes);
}

TEST(Keyboard, InputThatIsNotATerminalIsNotRead)
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

TEST(KeyboardDeathTest, ATerminationSignalEndsAWaitAndReadsAsEscapeHeldAndAsQuit)
{
    EXPECT_EXIT(
        {
            keyboard_catch_signals();
            int pipe_ends[2];
            if (pipe(pipe_ends) != 0) std::_Exit(3);
            Keyboard keyboard{};
            keyboard_open(keyboard, pipe_ends[0]);
            if (keyboard_escape_state(keyboard) != 0) std::_Exit(4);
            std::thread sender([] {
                usleep(50000);
                kill(getpid(), SIGTERM);
            });
            const auto start = std::chrono::steady_clock::now();
            keyboard_wait(keyboard, 20000);
            const bool woken = std::chrono::steady_clock::now() - start < std::chrono::seconds(10);
            sender.join();
            std::_Exit(woken && keyboard_stop_requested() && keyboard_escape_state(keyboard) < 0 &&
                               keyboard_read_key(keyboard) == Key::quit
                           ? 0
                           : 5);
        },
        ::testing::ExitedWithCode(0), "");
}

int run_player(std::initializer_list<const char*> arguments)
{
    std::vector<char*> argv;
    for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
    return cantilena_main(static_cast<int>(argv.size()), argv.data(), CarriedSong{nullptr, 0, ""});
}

TEST(PlayerCommandLine, HelpAndVersionAreAnsweredAndAnythingElseIsRefused)
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

TEST(PlayerCommandLine, ASeedThatIsNotANumberIsRefusedBeforeAnythingPlays)
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
