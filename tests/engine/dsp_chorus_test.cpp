// Chorus stage.

#include "ChorusStage.h"

#include "dsp_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace dsptest;

namespace
{

// The chorus written out as a line that is shifted and appended every block.
struct PlainChorus
{
    float phase = 0.0f;
    float line[19201] = {};

    void process(float* x, int n, float rate, float mix, double fs)
    {
        float depth = static_cast<float>(static_cast<double>(mix) * 0.002);
        if (0.1f < depth)
            depth = 0.1f;
        const double depthD = depth;
        const int d0 = static_cast<int>(fs * depthD);
        std::memmove(line, line + n, sizeof(float) * static_cast<std::size_t>(d0 + 1));
        std::memcpy(line + d0 + 1, x, sizeof(float) * static_cast<std::size_t>(n));
        const float inc = static_cast<float>(static_cast<double>(rate) / fs);
        for (int i = 0; i < n; ++i)
        {
            phase = phase + inc;
            if (phase >= 1.0f)
                phase = phase - 1.0f;
            const double s = std::sin(6.28318530718 * static_cast<double>(phase));
            const double d = (s * 0.5 + 0.5) * depthD * fs;
            const int k = static_cast<int>(d);
            const float wet =
                static_cast<float>(line[k + i] + (static_cast<double>(line[k + i + 1]) - line[k + i]) * (d - k));
            x[i] = wet * 0.5f + x[i] * 0.5f;
        }
    }
};

} // namespace

TEST(DspChorus, LineOffsets)
{
    struct Case
    {
        float mix;
        double fs;
        int expected;
    };
    const Case cases[] = {{1.0f, 44100, 88}, {0.1f, 44100, 8}, {1.0f, 192000, 384}, {0.1f, 192000, 38},
                          {0.5f, 48000, 48}};
    for (const Case& c : cases)
        EXPECT_EQ(ChorusStage::lineOffset(c.mix, c.fs), c.expected) << c.mix << " at " << c.fs;
}

TEST(DspChorus, MatchesShiftedLineBitForBitAtSteadySettings)
{
    struct Case
    {
        int block;
        float rate, mix;
        double fs;
    };
    const Case cases[] = {{512, 3.0f, 0.5f, 44100.0}, {1, 8.0f, 1.0f, 44100.0},    {33, 0.3f, 0.1f, 48000.0},
                          {8192, 5.0f, 1.0f, 192000.0}, {480, 2.2f, 0.77f, 96000.0}, {64, 3.0f, 0.5f, 44123.5}};
    std::mt19937 rng(47);
    for (const Case& c : cases)
    {
        auto stage = std::make_unique<ChorusStage>();
        auto plain = std::make_unique<PlainChorus>();
        const int blocks = std::max(4, 40000 / c.block);
        for (int b = 0; b < blocks; ++b)
        {
            std::vector<float> x = noise(rng, c.block, 1.0f);
            std::vector<float> expected = x;
            stage->process(x.data(), c.block, true, c.rate, c.mix, c.fs);
            plain->process(expected.data(), c.block, c.rate, c.mix, c.fs);
            ASSERT_EQ(firstDifference(x.data(), expected.data(), c.block), -1) << "block " << b << " of " << c.block;
        }
        EXPECT_TRUE(sameBits(stage->chorusPhase, plain->phase));
    }
}

// Changing block lengths and depths: the line is re-read against the new
// length and offset exactly as the shifted line does it.
TEST(DspChorus, MatchesShiftedLineBitForBitWhenBlocksAndDepthChange)
{
    std::mt19937 rng(91);
    for (double fs : {44100.0, 192000.0})
    {
        auto stage = std::make_unique<ChorusStage>();
        auto plain = std::make_unique<PlainChorus>();
        for (int b = 0; b < 300; ++b)
        {
            const int block = 1 + (int) (rng() % (b % 10 == 0 ? 8192 : 700));
            const float mix = 0.1f + 0.9f * (float) (rng() % 1000) / 1000.0f;
            std::vector<float> x = noise(rng, block, 1.0f);
            std::vector<float> expected = x;
            stage->process(x.data(), block, true, 2.5f, mix, fs);
            plain->process(expected.data(), block, 2.5f, mix, fs);
            ASSERT_EQ(firstDifference(x.data(), expected.data(), block), -1) << "block " << b << " of " << block;
        }
    }
}

TEST(DspChorus, ConstantInputComesOutUnchanged)
{
    auto stage = std::make_unique<ChorusStage>();
    std::vector<float> x(4096, 1.0f);
    stage->process(x.data(), 4096, true, 3.0f, 1.0f, 44100.0);
    for (int i = 89; i < 4096; ++i)
        ASSERT_EQ(x[i], 1.0f) << i;
}

TEST(DspChorus, ImpulseComesOutAsTwoHalves)
{
    const double fs = 44100.0;
    const int offset = ChorusStage::lineOffset(1.0f, fs);
    auto stage = std::make_unique<ChorusStage>();
    std::vector<float> x(44100, 0.0f);
    std::vector<int> impulses;
    for (int at = 1000; at < 43000; at += 1777)
    {
        x[at] = 1.0f;
        impulses.push_back(at);
    }
    for (int start = 0; start < 44100; start += 256)
        stage->process(x.data() + start, std::min(256, 44100 - start), true, 3.0f, 1.0f, fs);
    for (int at : impulses)
    {
        EXPECT_GE(x[at], 0.5f);
        double wet = x[at] - 0.5;
        int first = -1, last = -1;
        for (int i = at; i <= at + offset + 2; ++i)
        {
            const double w = i == at ? x[i] - 0.5 : x[i];
            if (i > at)
                wet += w;
            if (w != 0.0)
            {
                if (first < 0)
                    first = i;
                last = i;
            }
        }
        // The moving delay stretches or squeezes the copy by up to about 2 %.
        EXPECT_NEAR(wet, 0.5, 0.025) << at;
        ASSERT_GE(first, at);
        EXPECT_LE(last - first, 2) << "wet half spread over neighbours only, at " << at;
        EXPECT_LE(last - at, offset + 1);
        EXPECT_GE(last - at, 1);
    }
}

TEST(DspChorus, OffFreezesPhaseAndLine)
{
    auto stage = std::make_unique<ChorusStage>();
    auto uninterrupted = std::make_unique<ChorusStage>();
    std::mt19937 rng(53);
    for (int b = 0; b < 10; ++b)
    {
        std::vector<float> x = noise(rng, 300, 1.0f);
        std::vector<float> y = x;
        stage->process(x.data(), 300, true, 4.0f, 0.6f, 48000.0);
        uninterrupted->process(y.data(), 300, true, 4.0f, 0.6f, 48000.0);
        if (b == 4)
        {
            std::vector<float> ignored = noise(rng, 300, 1.0f);
            const std::vector<float> original = ignored;
            const float phase = stage->chorusPhase;
            stage->process(ignored.data(), 300, false, 4.0f, 0.6f, 48000.0);
            EXPECT_EQ(firstDifference(ignored.data(), original.data(), 300), -1);
            EXPECT_TRUE(sameBits(stage->chorusPhase, phase));
        }
        ASSERT_EQ(firstDifference(x.data(), y.data(), 300), -1);
    }
}

TEST(DspChorus, SweepStillRepeatsEvery14700SamplesAfterAnHour)
{
    auto stage = std::make_unique<ChorusStage>();
    std::vector<float> block(8192, 0.0f);
    const long hour = 3600L * 44100L;
    for (long done = 0; done < hour; done += 8192)
    {
        const int n = static_cast<int>(std::min<long>(8192, hour - done));
        stage->process(block.data(), n, true, 3.0f, 0.5f, 44100.0);
    }
    std::vector<long> wraps;
    float previous = stage->chorusPhase;
    for (long i = 0; i < 4 * 14700L; ++i)
    {
        float sample = 0.0f;
        stage->process(&sample, 1, true, 3.0f, 0.5f, 44100.0);
        if (stage->chorusPhase < previous)
            wraps.push_back(i);
        previous = stage->chorusPhase;
        ASSERT_GE(stage->chorusPhase, 0.0f);
        ASSERT_LT(stage->chorusPhase, 1.0f);
    }
    ASSERT_GE(wraps.size(), 3u);
    for (std::size_t k = 1; k < wraps.size(); ++k)
        EXPECT_NEAR(static_cast<double>(wraps[k] - wraps[k - 1]), 14700.0, 2.0);
}

TEST(DspChorus, SilenceInSilenceOutAndNoiseStaysFinite)
{
    auto stage = std::make_unique<ChorusStage>();
    std::vector<float> x(8192, 0.0f);
    stage->process(x.data(), 8192, true, 8.0f, 1.0f, 192000.0);
    EXPECT_TRUE(std::all_of(x.begin(), x.end(), [](float v) { return v == 0.0f; }));
    std::mt19937 rng(59);
    for (int n : {1, 7, 8192, 20000})
    {
        std::vector<float> y = noise(rng, n, 1.0f);
        stage->process(y.data(), n, true, 8.0f, 1.0f, 192000.0);
        EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](float v) { return std::fabs(v) <= 1.0f; }));
    }
}
