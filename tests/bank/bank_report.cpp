// Prints the measurements of every starter bank patch, one line each: what a
// patch designer reads instead of listening.
#include <cmath>
#include <cstdio>

#include "tests/bank/bank_measure.h"

int main()
{
    using namespace bank_measure;
    const auto db = [](double x) { return 20.0 * std::log10(std::max(x, 1e-15)); };
    std::printf("%-21s %6s %6s %6s %6s %6s %7s %7s %5s %6s %6s %6s %6s\n", "patch", "chord", "v1", "v64", "v127", "rms",
                "early", "late", "<500", "attack", "held", "rel", "end");
    std::printf("%-21s %6s %6s %6s %6s %6s %7s %7s %5s %6s %6s %6s %6s\n", "", "dBFS", "dBFS", "dBFS", "dBFS", "dBFS",
                "Hz", "Hz", "", "s", "dB", "s", "s");
    for (const PatchUse& use : patch_uses()) {
        const Figures f = measure(bank_patch(use.name), use);
        std::printf("%-21s %6.1f %6.1f %6.1f %6.1f %6.1f %7.0f %7.0f %5.2f %6.3f %6.1f %6.2f %6.2f\n", use.name.c_str(),
                    db(f.chord_peak), db(f.short_peak[0]), db(f.short_peak[1]), db(f.short_peak[2]), f.rms_db,
                    f.early_centroid, f.late_centroid, f.below_500, f.attack, f.held_change_db, f.release,
                    f.voices_end);
    }
    return 0;
}
