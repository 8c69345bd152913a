#include "synth/constants.h"

#include <cmath>

#include "synth/units/numeric.h"

int32_t rate_block_size(int32_t rate)
{
    return nearest(128.0 * static_cast<double>(rate) / 44100.0 + 0.5);
}

bool rate_setup(RateConstants& rates, int32_t rate)
{
    if (rate <= 0) return false;
    const int32_t block = rate_block_size(rate);
    if (block < 1 || block > kMaxBlockSize) return false;
    const double inverse = 1.0 / static_cast<double>(rate);
    rates.reference_increment = static_cast<float>(261.6255798339844 * 2147483648.0 * inverse);
    rates.rate_ratio = static_cast<float>(44100.0 * inverse);
    const double w = 6.2831854820251465 * 150.0 * inverse;
    rates.shelf_sine = static_cast<float>(std::sin(w));
    rates.shelf_cosine = static_cast<float>(std::cos(w));
    rates.block_size = block;
    return true;
}
