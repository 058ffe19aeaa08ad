// Reverb stage.

#include "ReverbStage.h"

#include "dsp_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace dsptest;

namespace
{

// The block scheme written out: every block each line moves its first D
// values along by n and takes the block behind them.
struct PlainReverb
{
    static constexpr int lineLength = 65536 + 8192;
    struct Stage
    {
        float line[lineLength] = {};
        float tap[8192] = {};
        float scratch[8192] = {};
    };
    Stage combs[4];
    Stage allpasses[3];

    static int offset(float delay, int fs)
    {
        const int d = static_cast<int>(delay * static_cast<float>(fs)) - 1;
        return d;
    }

    static void moveLine(Stage& s, int n, int d, const float* written)
    {
        std::memmove(s.line, s.line + n, sizeof(float) * static_cast<std::size_t>(d));
        std::memcpy(s.line + d, written, sizeof(float) * static_cast<std::size_t>(n));
        std::memcpy(s.tap, s.line, sizeof(float) * static_cast<std::size_t>(n));
    }

    void process(float* x, int n, float refl, float mix, float tail, float roomsize, int fs)
    {
        const float ratios[4] = {1116, 1356, 1422, 1617};
        const float constants[4] = {0.805f, 0.827f, 0.783f, 0.764f};
        const float allpassRatios[3] = {225, 341, 441};
        float r = static_cast<float>(static_cast<int>(roomsize) * 0.00294);
        if (0.3f < r)
            r = 0.3f;
        for (int k = 0; k < 4; ++k)
        {
            Stage& s = combs[k];
            float delay = (ratios[k] * r) / 1618.0f;
            if (delay > 0.3f)
                delay = 0.3f;
            const float feedback = static_cast<float>((constants[k] * refl) / 0.828);
            for (int i = 0; i < n; ++i)
                s.scratch[i] = s.tap[i] * feedback + x[i];
            moveLine(s, n, offset(delay, fs), s.scratch);
        }
        const float combShare = 1.0f - tail;
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < n; ++i)
                x[i] = x[i] + ((combs[k].tap[i] * 0.25f) * mix) * combShare;
        const float g = static_cast<float>((refl * 0.7f) / 0.828);
        for (int j = 0; j < 3; ++j)
        {
            Stage& s = allpasses[j];
            float delay = (allpassRatios[j] * r) / 1618.0f;
            if (delay > 0.3f)
                delay = 0.3f;
            for (int i = 0; i < n; ++i)
                s.scratch[i] = x[i] - s.tap[i] * g;
            moveLine(s, n, offset(delay, fs), s.scratch);
            for (int i = 0; i < n; ++i)
            {
                const float out = s.scratch[i] * g + s.tap[i];
                x[i] = x[i] + ((out * 0.25f) * mix) * tail;
            }
        }
    }
};

std::vector<float> impulseResponse(int length, int block, float refl, float mix, float tail, float roomsize, int fs)
{
    auto stage = std::make_unique<ReverbStage>();
    std::vector<float> x(static_cast<std::size_t>(length), 0.0f);
    x[0] = 1.0f;
    for (int start = 0; start < length; start += block)
        stage->process(x.data() + start, std::min(block, length - start), true, refl, mix, tail, roomsize, fs);
    return x;
}

std::vector<int> nonZeroPositions(const std::vector<float>& x)
{
    std::vector<int> at;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (x[i] != 0.0f)
            at.push_back(static_cast<int>(i));
    return at;
}

} // namespace

TEST(DspReverb, LineOffsets)
{
    struct Case
    {
        float roomsize;
        int fs;
        int expected[7];
    };
    const Case cases[] = {
        {10, 44100, {893, 1085, 1138, 1294, 179, 272, 352}},
        {100, 44100, {8941, 10864, 11393, 12956, 1801, 2731, 3532}},
    };
    auto stage = std::make_unique<ReverbStage>();
    for (const Case& c : cases)
    {
        float x = 0.0f;
        stage->process(&x, 1, true, 0.3f, 0.3f, 0.2f, c.roomsize, c.fs);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(ReverbStage::lineOffset(stage->reverbCombs[k].delay, c.fs), c.expected[k]) << k;
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(ReverbStage::lineOffset(stage->reverbAllpasses[j].delay, c.fs), c.expected[4 + j]) << j;
    }
    float x = 0.0f;
    stage->process(&x, 1, true, 0.3f, 0.3f, 0.2f, 100, 192000);
    EXPECT_EQ(ReverbStage::lineOffset(stage->reverbCombs[3].delay, 192000), 56412);
    EXPECT_LE(56412 + 8192, ReverbLine::ringSize);
}

TEST(DspReverb, FeedbackFactors)
{
    struct Case
    {
        float refl;
        double expected[5];
    };
    const Case cases[] = {{0.3f, {0.29167, 0.29964, 0.28370, 0.27681, 0.25362}},
                          {1.0f, {0.97222, 0.99879, 0.94565, 0.92271, 0.84541}}};
    for (const Case& c : cases)
    {
        auto stage = std::make_unique<ReverbStage>();
        float x = 0.0f;
        stage->process(&x, 1, true, c.refl, 0.3f, 0.2f, 50, 48000);
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(stage->reverbCombs[k].feedback, c.expected[k], 1e-5);
        for (const AllpassStage& a : stage->reverbAllpasses)
        {
            EXPECT_NEAR(a.feedbackCoefficient, c.expected[4], 1e-5);
            EXPECT_EQ(a.feedForwardCoefficient, a.feedbackCoefficient);
        }
    }
}

TEST(DspReverb, MixZeroGivesTheInputExactlyWhileTheLinesRun)
{
    auto stage = std::make_unique<ReverbStage>();
    std::mt19937 rng(61);
    std::vector<float> x = noise(rng, 4000, 1.0f);
    const std::vector<float> original = x;
    for (int start = 0; start < 4000; start += 500)
        stage->process(x.data() + start, 500, true, 0.9f, 0.0f, 0.5f, 10, 44100);
    EXPECT_EQ(firstDifference(x.data(), original.data(), 4000), -1);

    // The tail is in the lines: with the mix up, silence now carries it.
    std::vector<float> silence(500, 0.0f);
    stage->process(silence.data(), 500, true, 0.9f, 1.0f, 0.5f, 10, 44100);
    EXPECT_TRUE(std::any_of(silence.begin(), silence.end(), [](float v) { return v != 0.0f; }));
}

TEST(DspReverb, ImpulseExampleAt44100)
{
    const std::vector<float> y = impulseResponse(3000, 512, 0.3f, 1.0f, 0.0f, 10, 44100);
    const float feedback = static_cast<float>((0.805f * 0.3f) / 0.828);
    EXPECT_EQ(y[0], 1.0f);
    EXPECT_EQ(y[893], 0.25f);
    EXPECT_EQ(y[893 + 893 + 512], 0.25f * feedback);
    EXPECT_NEAR(0.25f * feedback, 0.25 * 0.29167, 1e-5);
    // Nothing from comb 1 in between, and no diffusers with tail 0.
    for (int i = 1; i < 893; ++i)
        ASSERT_EQ(y[i], 0.0f) << i;
}

TEST(DspReverb, TailAndReflectionExtremes)
{
    // reverbrefecl 0, tail 0: one copy of the input from each comb, nothing else.
    {
        const std::vector<float> y = impulseResponse(6000, 512, 0.0f, 1.0f, 0.0f, 10, 44100);
        EXPECT_EQ(nonZeroPositions(y), (std::vector<int>{0, 893, 1085, 1138, 1294}));
        EXPECT_EQ(y[1085], 0.25f);
    }
    // reverbrefecl 0, tail 1: each diffuser passes its input delayed by D;
    // the combs are not heard.
    {
        const std::vector<float> y = impulseResponse(6000, 512, 0.0f, 1.0f, 1.0f, 10, 44100);
        // 179, 272, 352 and their sums (diffuser 1 sees only the dry signal).
        EXPECT_EQ(nonZeroPositions(y), (std::vector<int>{0, 179, 272, 352, 451, 531, 624, 803}));
        EXPECT_EQ(y[179], 0.25f);
        EXPECT_EQ(y[451], 0.0625f);
        EXPECT_EQ(y[803], 0.015625f);
    }
}

TEST(DspReverb, RingLinesMatchTheBlockSchemeBitForBit)
{
    std::mt19937 rng(67);
    for (int fs : {44100, 192000})
    {
        auto stage = std::make_unique<ReverbStage>();
        auto plain = std::make_unique<PlainReverb>();
        std::uniform_int_distribution<int> blockLength(1, 8192);
        std::uniform_int_distribution<int> shortBlock(1, 64);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        std::uniform_real_distribution<float> room(10.0f, 100.0f);
        float roomsize = 10.0f;
        float refl = 0.3f, mix = 0.3f, tail = 0.2f;
        for (int b = 0; b < 160; ++b)
        {
            const int n = (b % 3 == 0) ? shortBlock(rng) : blockLength(rng);
            if (b % 4 == 1)
                roomsize = room(rng);
            if (b % 7 == 3)
            {
                refl = unit(rng);
                mix = unit(rng);
                tail = unit(rng);
            }
            const bool on = b % 11 != 5;
            std::vector<float> x = noise(rng, n, 1.0f);
            std::vector<float> expected = x;
            stage->process(x.data(), n, on, refl, mix, tail, roomsize, fs);
            if (on)
                plain->process(expected.data(), n, refl, mix, tail, roomsize, fs);
            ASSERT_EQ(firstDifference(x.data(), expected.data(), n), -1)
                << fs << " Hz, block " << b << " (n " << n << ", roomsize " << roomsize << ")";
        }
    }
}

TEST(DspReverb, OffFreezesTheTail)
{
    auto stage = std::make_unique<ReverbStage>();
    auto uninterrupted = std::make_unique<ReverbStage>();
    std::vector<float> x(1024, 0.0f), y(1024, 0.0f);
    x[0] = y[0] = 1.0f;
    stage->process(x.data(), 1024, true, 0.8f, 0.5f, 0.3f, 30, 48000);
    uninterrupted->process(y.data(), 1024, true, 0.8f, 0.5f, 0.3f, 30, 48000);
    std::vector<float> ignored(2048, 0.25f);
    stage->process(ignored.data(), 2048, false, 0.8f, 0.5f, 0.3f, 30, 48000);
    EXPECT_TRUE(std::all_of(ignored.begin(), ignored.end(), [](float v) { return v == 0.25f; }));
    for (int b = 0; b < 8; ++b)
    {
        std::fill(x.begin(), x.end(), 0.0f);
        std::fill(y.begin(), y.end(), 0.0f);
        stage->process(x.data(), 1024, true, 0.8f, 0.5f, 0.3f, 30, 48000);
        uninterrupted->process(y.data(), 1024, true, 0.8f, 0.5f, 0.3f, 30, 48000);
        ASSERT_EQ(firstDifference(x.data(), y.data(), 1024), -1) << b;
    }
}

TEST(DspReverb, SilenceInSilenceOutAndLongBlocksStayInsideTheLines)
{
    auto stage = std::make_unique<ReverbStage>();
    std::vector<float> x(8192, 0.0f);
    stage->process(x.data(), 8192, true, 1.0f, 1.0f, 0.5f, 100, 192000);
    EXPECT_TRUE(std::all_of(x.begin(), x.end(), [](float v) { return v == 0.0f; }));
    std::mt19937 rng(71);
    for (int n : {8192, 20000, 3})
    {
        std::vector<float> y = noise(rng, n, 1.0f);
        stage->process(y.data(), n, true, 1.0f, 1.0f, 0.5f, 100, 192000);
        EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](float v) { return std::isfinite(v); }));
    }
    // Rates above 192 kHz cap the offsets at what the lines hold.
    std::vector<float> z = noise(rng, 8192, 1.0f);
    stage->process(z.data(), 8192, true, 1.0f, 1.0f, 0.5f, 100, 384000);
    EXPECT_TRUE(std::all_of(z.begin(), z.end(), [](float v) { return std::isfinite(v); }));
}
