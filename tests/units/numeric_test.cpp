#include "synth/units/numeric.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

#include "synth/constants.h"
#include "synth/fp_mode.h"
#include "synth/seed_source.h"

namespace {

TEST(Numeric, NearestRoundsTiesToEvenAndGivesIntMinOutOfRange)
{
    FpModeGuard mode;
    for (const auto& [x, n] : {std::pair{0.5f, 0},
                               {1.5f, 2},
                               {2.5f, 2},
                               {-2.5f, -2},
                               {2147483648.0f, INT32_MIN},
                               {std::nanf(""), INT32_MIN},
                               {-3e9f, INT32_MIN}})
        EXPECT_EQ(nearest(x), n) << x;
    EXPECT_EQ(static_cast<uint32_t>(nearest(2147483648.0f)), 2147483648u);  // k * 2^31 reaching 2^31 reads unsigned
    EXPECT_EQ(nearest(64.5), 64);
}

TEST(Numeric, RateSetupGivesTheTableValuesAt44100AndBlockSizesFollowTheRate)
{
    FpModeGuard mode;
    RateConstants rates;
    rates.reference_increment = 0.0f;
    ASSERT_TRUE(rate_setup(rates, 44100));
    EXPECT_EQ(rates.reference_increment, 12740060.0f);
    EXPECT_EQ(rates.rate_ratio, 1.0f);
    EXPECT_EQ(rates.shelf_sine, 0.021369751542806625f);
    EXPECT_EQ(rates.shelf_cosine, 0.9997716546058655f);
    EXPECT_EQ(rates.block_size, 128);
    for (const auto& [rate, block] : {std::pair{22050, 64}, {48000, 140}, {96000, 279}})
        EXPECT_EQ(rate_block_size(rate), block);
    EXPECT_FALSE(rate_setup(rates, 200000));  // the block would not fit the work buffers
    EXPECT_FALSE(rate_setup(rates, 0));
    EXPECT_EQ(rates.block_size, 128);
}

TEST(Numeric, ExponentialsHitTheirEndPoints)
{
    FpModeGuard mode;
    for (const auto& [x, y] : {std::pair{0.0f, 1.0f}, {3.0f, 8.0f}, {-1.0f, 0.5f}, {-300.0f, 0.0f}})
        EXPECT_EQ(pow2(x), y);
    EXPECT_TRUE(std::isinf(pow2(300.0f)));
    EXPECT_EQ(pow2_span10(0.0f), 0.0009765625f);
    EXPECT_EQ(pow2_span10(1.0f), 1.0f);
    EXPECT_EQ(pow2_span11(1.0f), 1.0f);
    EXPECT_FLOAT_EQ(pow2(0.5f), 1.41421356f);
    EXPECT_FLOAT_EQ(power(0.25f, 0.5f), 0.5f);
}

TEST(Numeric, FastSineAndAtanShaperMatchTheirStatedValues)
{
    FpModeGuard mode;
    EXPECT_EQ(fast_sine(0.0f), 0.0f);
    EXPECT_NEAR(fast_sine(kPiOver2), 0.99999350f, 2e-8f);
    EXPECT_NEAR(fast_sine(-6.0f), 17.25f, 0.01f);  // a negative remainder below -pi/2 is used unfolded
    EXPECT_EQ(atan_shaper(0.0f), 0.0f);
    // The coefficient sets switch on the exponent; past 2 the shape folds back.
    for (const auto& [x, y, within] : {std::tuple{1.0f, 0.78539455f, 3e-7f},
                                       {-1.0f, -0.78539455f, 3e-7f},
                                       {0.5f, 0.46364949f, 3e-7f},
                                       {2.0f, 1.09252f, 1e-5f},
                                       {10.0f, 0.66841f, 1e-5f},
                                       {100.0f, 0.07392f, 1e-5f}})
        EXPECT_NEAR(atan_shaper(x), y, within) << x;
    EXPECT_GT(atan_shaper(1.99f), atan_shaper(2.0f));
}

TEST(Numeric, RandomStepsBitPatternsAndTheFixedSeedSource)
{
    EXPECT_EQ(random_step(0), 907633515u);
    EXPECT_EQ(unit_from_bits(0xFFFFFFFFu), 0.99999988079071044921875f);
    EXPECT_EQ(unit_from_bits(0), 0.0f);
    EXPECT_EQ(signed_from_bits(0), -1.0f);
    EXPECT_EQ(signed_from_bits(0xFFFFFFFFu), 1.0f - 0x1p-22f);
    // The k-th read since the seed was set returns seed + k, wrapping.
    SeedSource seeds{};
    EXPECT_FALSE(seed_source_is_fixed(seeds));
    seed_source_fix(seeds, 0xFFFFFFFFu);
    EXPECT_EQ(seed_source_read(seeds), 0xFFFFFFFFu);
    EXPECT_EQ(seed_source_read(seeds), 0u);
    EXPECT_EQ(seed_source_read(seeds), 1u);
    seed_source_vary(seeds);
    EXPECT_FALSE(seed_source_is_fixed(seeds));
}

TEST(Numeric, GuardFlushesDenormalsAndRestoresTheCallersMode)
{
    volatile float tiny = 1e-30f;
    {
        FpModeGuard mode;
        volatile float product = tiny * 1e-10f;
        EXPECT_EQ(product, 0.0f);
    }
    volatile float product = tiny * 1e-10f;
    EXPECT_NE(product, 0.0f);
}

TEST(Numeric, SanitizeZeroesExactlyTheNonFiniteSamplesAtAnyPositionAndCount)
{
    // Finite extremes keep their bits; each non-finite kind at each position
    // of blocks shorter and longer than one pass is found and only it zeroed.
    const float finite[] = {FLT_MAX, -FLT_MAX, 1e-45f, -0.0f, 1.0f};
    for (int32_t count = 0; count <= 19; ++count) {
        std::vector<float> block(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) block[i] = finite[i % 5];
        const std::vector<float> clean = block;
        EXPECT_FALSE(block_sanitize(block.data(), count)) << count;
        EXPECT_EQ(0, std::memcmp(block.data(), clean.data(), sizeof(float) * static_cast<size_t>(count)));
        for (int32_t at = 0; at < count; ++at) {
            for (float bad : {std::nanf(""), -std::nanf(""), INFINITY, -INFINITY}) {
                block = clean;
                block[at] = bad;
                EXPECT_TRUE(block_sanitize(block.data(), count)) << count << " " << at;
                std::vector<float> expected = clean;
                expected[at] = 0.0f;
                EXPECT_EQ(0, std::memcmp(block.data(), expected.data(), sizeof(float) * static_cast<size_t>(count)))
                    << count << " " << at;
            }
        }
    }
    // Finite samples whose sum overflows are kept as they are.
    std::vector<float> loud(37, FLT_MAX);
    EXPECT_FALSE(block_sanitize(loud.data(), 37));
    EXPECT_EQ(loud, std::vector<float>(37, FLT_MAX));
}

}  // namespace
