#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/console.h"

namespace {

// Formats into a buffer that has a guard pattern behind the text, and
// checks that the count matches the text and nothing past it was touched.
std::string format(const char* format_text, ...)
{
    char buffer[128];
    std::memset(buffer, '#', sizeof buffer);
    char* cursor = buffer;
    va_list arguments;
    va_start(arguments, format_text);
    const int32_t count = con_format(&cursor, format_text, arguments);
    va_end(arguments);
    EXPECT_EQ(count, static_cast<int32_t>(std::strlen(buffer)));
    EXPECT_EQ(cursor, buffer + count) << "the target points at the terminator";
    EXPECT_EQ(buffer[count + 1], '#') << "nothing written after the terminator";
    return buffer;
}

TEST(ConsoleFormat, PlainTextAndADoubledPercentAreCopied)
{
    EXPECT_EQ(format("Cantilena -- 100%% ready"), "Cantilena -- 100% ready");
    EXPECT_EQ(format(""), "");
}

TEST(ConsoleFormat, StringsPadRightByDefaultAndLeftWithTheMinusFlag)
{
    EXPECT_EQ(format("[%5s]", "abc"), "[  abc]");
    EXPECT_EQ(format("[%-5s]", "abc"), "[abc  ]");
    EXPECT_EQ(format("[%2s]", "abcdef"), "[abcdef]");
    EXPECT_EQ(format("[%05s]", "ab"), "[000ab]");
    EXPECT_EQ(format("[%-05s]", "ab"), "[ab000]");  // with both flags the trailing pad is '0'
    EXPECT_EQ(format("[%8s]", static_cast<const char*>(nullptr)), "[  (null)]");
}

TEST(ConsoleFormat, SignedNumbersPutZeroPaddingBetweenSignAndDigits)
{
    EXPECT_EQ(format("[%5d]", -42), "[  -42]");
    EXPECT_EQ(format("[%05d]", -42), "[-0042]");
    EXPECT_EQ(format("[%-5d]", 42), "[42   ]");
    EXPECT_EQ(format("[%0d]", -5), "[-5]");
    EXPECT_EQ(format("[%d]", 0x80000000u), "[-2147483648]");
    EXPECT_EQ(format("[%d|%05d|%-3d]", 0, 0, 0), "[0|00000|0  ]");
}

TEST(ConsoleFormat, UnsignedAndHexadecimalNumbers)
{
    EXPECT_EQ(format("%x %X", 255, 255), "ff FF");
    EXPECT_EQ(format("%u", 0xFFFFFFFFu), "4294967295");
    EXPECT_EQ(format("%x", -1), "ffffffff");
    EXPECT_EQ(format("%08X", 0xBEEFu), "0000BEEF");
}

TEST(ConsoleFormat, ACharacterIsTheLowBytePaddedLikeAString)
{
    EXPECT_EQ(format("%c%c", 'o', 0x100 + 'k'), "ok");
    EXPECT_EQ(format("[%3c]", 'x'), "[  x]");
    EXPECT_EQ(format("[%-3c]", 'x'), "[x  ]");
}

TEST(ConsoleFormat, AnUnknownConversionWritesNothingAndTakesNoArgument)
{
    EXPECT_EQ(format("a%qb%d", 7), "ab7");
    EXPECT_EQ(format("a%5zb%s", "c"), "abc");
}

TEST(ConsoleFormat, AFormatEndingInsideAConversionStopsAtTheTerminator)
{
    EXPECT_EQ(format("abc%"), "abc");
    EXPECT_EQ(format("abc%-"), "abc");
    EXPECT_EQ(format("abc%-012"), "abc");
    EXPECT_EQ(format("abc%7"), "abc");
}

TEST(ConsoleFormat, PrintingGoesToStandardOutputAndCountsTheCharacters)
{
    testing::internal::CaptureStdout();
    const int32_t count = con_printf("Cantilena -- playing %s. Press Esc to stop.\n", "a song");
    std::fflush(stdout);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "Cantilena -- playing a song. Press Esc to stop.\n");
    EXPECT_EQ(count, static_cast<int32_t>(printed.size()));
}

}  // namespace
