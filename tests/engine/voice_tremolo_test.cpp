// Tremolo triangle.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Tremolo.h"

namespace
{

// Output-sample indices (from 0) at which the gain passes the top and turns down.
std::vector<long> topPasses (int rate, float speed, float depth, long samples)
{
    Tremolo tremolo;
    tremolo.reset();
    const float inv = 1.0f / (float) rate;
    std::vector<long> passes;
    for (long t = 0; t < samples; ++t)
    {
        const bool wasRising = tremolo.tremoloRising;
        tremolo.advance (inv, true, speed, depth);
        if (wasRising && ! tremolo.tremoloRising)
            passes.push_back (t);
    }
    return passes;
}

} // namespace

TEST (VoiceTremolo, DefaultsAt44100PassTheTopAtSample26460ThenEvery26462)
{
    const auto passes = topPasses (44100, 0.5f, 0.5f, 200000);
    ASSERT_GE (passes.size(), 5u);
    EXPECT_EQ (passes[0], 26460);
    for (size_t k = 1; k < passes.size(); ++k)
        EXPECT_EQ (passes[k] - passes[k - 1], 26462) << k;
}

TEST (VoiceTremolo, PeriodIsTwiceDepthTimesSpeedTermAtAnyRate)
{
    struct Case
    {
        float speed, depth;
        double periodSeconds;
    };
    const Case cases[] = {
        { 0.5f, 0.5f, 0.6 }, { 1.0f, 0.5f, 0.1 }, { 0.0f, 0.5f, 1.1 },
        { 1.0f, 1.0f, 0.2 }, { 0.0f, 1.0f, 2.2 }, { 0.5f, 0.1f, 0.12 },
    };
    for (int rate : { 44100, 96000 })
    {
        for (const auto& c : cases)
        {
            const auto passes = topPasses (rate, c.speed, c.depth, (long) (rate * 8));
            ASSERT_GE (passes.size(), 3u);
            const double period = (double) (passes[2] - passes[1]) / rate;
            // Up to a step of overshoot at each of the two turns.
            EXPECT_NEAR (period, c.periodSeconds, 5.0 / rate) << c.speed << " " << c.depth << " at " << rate;
        }
    }
}

TEST (VoiceTremolo, DepthLimits)
{
    const float inv = 1.0f / 44100.0f;
    for (float depth : { 0.0f, 1.0f })
    {
        Tremolo tremolo;
        tremolo.reset();
        const double step = (double) (inv / (1.1f - 0.5f));
        double lowest = 2.0, highest = -1.0;
        for (int t = 0; t < 100000; ++t)
        {
            tremolo.advance (inv, true, 0.5f, depth);
            if (t > 30000)
            {
                lowest = std::min (lowest, tremolo.tremoloGain);
                highest = std::max (highest, tremolo.tremoloGain);
            }
        }
        // The gain passes a limit by at most one step before it turns.
        EXPECT_LE (highest, 1.0 + step);
        EXPECT_GE (lowest, (1.0 - depth) - step);
        if (depth == 0.0f)
            EXPECT_GT (lowest, 1.0 - step);
        else
            EXPECT_LT (lowest, step);  // reaches the bottom
    }
}

TEST (VoiceTremolo, OffGivesExactlyOneAndKeepsTheDirection)
{
    const float inv = 1.0f / 44100.0f;
    Tremolo tremolo;
    tremolo.reset();
    tremolo.advance (inv, false, 0.5f, 0.5f);
    EXPECT_EQ (tremolo.tremoloGain, 1.0);
    EXPECT_TRUE (tremolo.tremoloRising);

    // On again from 1.0 while rising: the first step passes 1.0 and turns down.
    tremolo.advance (inv, true, 0.5f, 0.5f);
    EXPECT_GT (tremolo.tremoloGain, 1.0);
    EXPECT_FALSE (tremolo.tremoloRising);
    for (int t = 0; t < 5000; ++t)
        tremolo.advance (inv, true, 0.5f, 0.5f);
    EXPECT_LT (tremolo.tremoloGain, 1.0);

    tremolo.advance (inv, false, 0.5f, 0.5f);
    EXPECT_EQ (tremolo.tremoloGain, 1.0);
    EXPECT_FALSE (tremolo.tremoloRising);

    tremolo.reset();
    EXPECT_EQ (tremolo.tremoloGain, 0.0);
    EXPECT_TRUE (tremolo.tremoloRising);
}

TEST (VoiceTremolo, RaisedLowerLimitTurnsTheRampAtTheNextFallingStep)
{
    const float inv = 1.0f / 44100.0f;
    Tremolo tremolo;
    tremolo.tremoloGain = 0.6;
    tremolo.tremoloRising = false;
    tremolo.advance (inv, true, 0.5f, 0.2f);   // lower limit now 0.8
    EXPECT_TRUE (tremolo.tremoloRising);
    EXPECT_LT (tremolo.tremoloGain, 0.6);
}
