// One fixed-seed render of the embedded song through the player, as it plays
// (198 s), shared by the checks on loudness and cleanliness and on the reverb
// keeping its tail.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "synth/engine.h"
#include "tests/song/song_test_support.h"
#include "tools/song_reader.h"

using namespace song_test;

namespace {

constexpr double kPlayerStop = 198.0;

struct SharedRender {
    std::vector<uint8_t> image = embedded_image();
    SongData song = song_read_image(image.data(), image.size(), "embedded song");
    std::vector<double> reverb_drops;  // seconds
    Render render;

    double first_note() const
    {
        double first = 1e9;
        for (int c = 0; c < kSongChannels; ++c)
            for (const NoteSpan& note : note_spans(song, c)) first = std::min(first, note.start);
        return first;
    }
    double last_note() const
    {
        double last = 0.0;
        for (int c = 0; c < kSongChannels; ++c)
            for (const NoteSpan& note : note_spans(song, c)) last = std::max(last, note.end);
        return last;
    }
};

class SongRender : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        shared_ = std::make_unique<SharedRender>();
        SharedRender& s = *shared_;
        const uint64_t first_note = static_cast<uint64_t>(s.first_note() * kFrameRate);
        s.render = render_song(s.image, kPlayerStop, {}, [&s, first_note](const SynthEngine& engine, uint64_t frames) {
            // A cleared reverb has all twelve line positions back at 0 at once.
            const int32_t* at = engine.state.reverb.indices;
            if (frames > first_note && std::all_of(at, at + 12, [](int32_t i) { return i == 0; }))
                s.reverb_drops.push_back(static_cast<double>(frames) / kFrameRate);
        });
    }
    static void TearDownTestSuite() { shared_.reset(); }

    static std::unique_ptr<SharedRender> shared_;
};

std::unique_ptr<SharedRender> SongRender::shared_;

}  // namespace

TEST_F(SongRender, StaysOffTheClampWithinTheLoudnessBoundsWithoutDcOrGapsAndFadesOutBeforeThePlayerStops)
{
    const Render& render = shared_->render;
    ASSERT_EQ(render.frames(), static_cast<size_t>(kPlayerStop * kFrameRate));
    EXPECT_LE(clamp_share(render), 0.0001) << "share of samples at the clamp";
    const double level = rms_dbfs(render, 0.0, kPlayerStop);
    EXPECT_GE(level, -20.0) << "overall RMS";
    EXPECT_LE(level, -12.0) << "overall RMS";
    EXPECT_LT(dc_dbfs(render), -50.0) << "DC offset";
    EXPECT_LE(longest_quiet(render, shared_->first_note(), shared_->last_note(), 0.05, -60.0), 1.5)
        << "longest stretch below -60 dBFS between the first and the last note";
    EXPECT_LT(rms_dbfs(render, kPlayerStop - 2.0, kPlayerStop), -60.0) << "the last two seconds";
}

TEST_F(SongRender, KeepsTheReverbTailFromTheFirstNoteToTheEnd)
{
    for (double at : shared_->reverb_drops) ADD_FAILURE() << "the reverb was cleared at " << at << " s";
}
