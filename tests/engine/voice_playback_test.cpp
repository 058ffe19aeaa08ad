// Sample playback: rate and pitch, interpolation, loops, gain floor, output scale.

#include <gtest/gtest.h>

#include <cmath>

#include "voice_fixtures.h"

using namespace voicefixtures;

TEST (VoicePlaybackScale, FactorIsTheFloatNearestOneOver32765)
{
    EXPECT_EQ (sampleScale, 3.0520372e-5f);
    const double exact = 1.0 / 32765.0;
    const double error = std::fabs ((double) sampleScale - exact);
    EXPECT_LE (error, std::fabs ((double) std::nextafter (sampleScale, 1.0f) - exact));
    EXPECT_LE (error, std::fabs ((double) std::nextafter (sampleScale, 0.0f) - exact));
}

TEST (VoicePlayback, ZoneAtItsRootAndRateReproducesItsSamples)
{
    const auto samples = sineSamples (3000, 0.013, 30000.0);
    for (int velocity : { 127, 100, 37 })
    {
        EngineRig rig;
        rig.sets.main.build ({ zone (samples, 60) });
        rig.noteOn (60, velocity);
        const double gain = rig.engine.voices[0].gain;
        const double ratio = (double) velocity / 127.0;
        EXPECT_NEAR (gain, ratio * ratio, 1e-15);

        const auto out = rig.render (3100);
        for (size_t t = 0; t < 3100; ++t)
        {
            const float expected = t < samples.size() - 2 ? expectedOutput (samples[t], gain, 1.0) : 0.0f;
            ASSERT_EQ (out[t], expected) << "velocity " << velocity << " sample " << t;
        }
        EXPECT_EQ (rig.activeVoices(), 0);
    }
}

TEST (VoicePlayback, StepIsZoneRateOverOutputRate)
{
    EngineRig rig;
    rig.sampleRateHz = 48000;
    rig.sets.main.build ({ zone (constantSamples (100, 1), 60) });
    rig.noteOn (72);
    EXPECT_NEAR (rig.engine.voices[0].step, 0.91875, 1e-15);
    EXPECT_EQ (rig.engine.voices[0].pitchRatio, 2.0);
}

TEST (VoicePlayback, ZoneWithoutLoopSoundsLengthMinusTwoOverAdvanceSamples)
{
    struct Case
    {
        const char* what;
        int note;
        double zoneRate;
        int wheel;          // 8192 is centre
        int expectedSamples;
    };
    // Length 100: the read position must stay under 98.
    const Case cases[] = {
        { "root", 60, 44100.0, 8192, 98 },
        { "octave down", 48, 44100.0, 8192, 196 },
        { "octave up", 72, 44100.0, 8192, 49 },
        { "two octaves up", 84, 44100.0, 8192, 25 },
        { "wheel full down", 60, 44100.0, 0, 196 },
        { "half-rate zone", 60, 22050.0, 8192, 196 },
        { "48 kHz zone", 60, 48000.0, 8192, 91 },
    };
    for (const auto& c : cases)
    {
        EngineRig rig;
        auto samples = constantSamples (100, 1000);
        samples.back() = -30000;  // never read
        rig.sets.main.build ({ zone (samples, 60, 127, c.zoneRate) });
        rig.midi (0xE0, (uint8_t) (c.wheel & 0x7F), (uint8_t) (c.wheel >> 7));
        rig.noteOn (c.note);
        const auto out = rig.render (400);
        const float full = expectedOutput (1000.0, 1.0, 1.0);
        int sounding = 0;
        for (float s : out)
        {
            if (s != 0.0f)
            {
                EXPECT_EQ (s, full) << c.what;
                ++sounding;
            }
        }
        EXPECT_EQ (sounding, c.expectedSamples) << c.what;
        for (int t = 0; t < sounding; ++t)
            EXPECT_NE (out[(size_t) t], 0.0f) << c.what;
        EXPECT_EQ (rig.activeVoices(), 0) << c.what;
    }
}

TEST (VoicePlaybackLoop, LastSampleInterpolatesTowardsTheLoopStart)
{
    EngineRig rig;
    const auto samples = rampSamples (20, 100, 50);  // loop: indices 12..19
    rig.sets.main.build ({ loopedZone (samples, 60, 8, 0.5, 22050.0) });
    rig.noteOn (60);
    const auto out = rig.render (42);

    // Half a sample per output sample: position 19.5 at t = 39, 20 -> 12 at t = 40.
    EXPECT_EQ (out[38], expectedOutput (samples[19], 1.0, 1.0));
    EXPECT_EQ (out[39], expectedOutput (samples[19] + (samples[12] - samples[19]) * 0.5, 1.0, 1.0));
    EXPECT_EQ (out[40], expectedOutput (samples[12], 0.5, 1.0));
    EXPECT_EQ (out[41], expectedOutput (samples[12] + (samples[13] - samples[12]) * 0.5, 0.5, 1.0));
}

TEST (VoicePlaybackLoop, AdvanceBeyondTheLoopStepsBackAsOftenAsNeeded)
{
    // Length 10, loop 2 (indices 8, 9), four samples per output sample:
    // 0, 4, 8, 12 -> 8 (two passes), 12 -> 8, ...
    EngineRig rig;
    const auto samples = rampSamples (10, 100, 50);
    rig.sets.main.build ({ loopedZone (samples, 60, 2, 0.5) });
    rig.noteOn (84);
    const auto out = rig.render (5);
    EXPECT_EQ (out[2], expectedOutput (samples[8], 1.0, 1.0));
    EXPECT_EQ (out[3], expectedOutput (samples[8], 0.25, 1.0));
    EXPECT_EQ (out[4], expectedOutput (samples[8], 0.0625, 1.0));

    // A one-sample loop lands on the zone's last sample, whose successor is the loop start: itself.
    EngineRig single;
    single.sets.main.build ({ loopedZone (samples, 60, 1) });
    single.noteOn (84);
    const auto held = single.render (6);
    for (int t = 3; t < 6; ++t)
        EXPECT_EQ (held[(size_t) t], expectedOutput (samples[9], 1.0, 1.0)) << t;
}

TEST (VoicePlaybackLoop, ReadsStayInsideTheZoneForAnyAdvance)
{
    struct Case
    {
        uint32_t length, loopLength;
        int note;
        int wheel;
    };
    const Case cases[] = {
        { 64, 1, 96, 16383 }, { 64, 2, 96, 16383 }, { 64, 3, 84, 12000 }, { 64, 5, 90, 16383 },
        { 64, 7, 79, 9000 },  { 9, 9, 96, 16383 },  { 1, 1, 127, 16383 }, { 200, 31, 127, 16383 },
    };
    for (const auto& c : cases)
    {
        EngineRig rig;
        rig.sets.main.build ({ loopedZone (sineSamples (c.length, 0.1, 200.0), 60, c.loopLength) });
        rig.midi (0xE0, (uint8_t) (c.wheel & 0x7F), (uint8_t) (c.wheel >> 7));
        rig.noteOn (c.note);
        const float bound = expectedOutput (200.0, 1.0, 1.0);
        const auto out = rig.render (3000);
        for (float s : out)
            ASSERT_LE (std::fabs (s), bound) << "length " << c.length << " loop " << c.loopLength;
        const auto& v = rig.engine.voices[0];
        EXPECT_TRUE (v.active);
        EXPECT_LT (v.position, (double) c.length + 2.0 * 2.0 * 1000.0);
    }
}

TEST (VoicePlaybackLoop, LoopWithNowhereToGoBackPlaysThroughOnce)
{
    for (uint32_t loopLength : { 0u, 11u })
    {
        EngineRig rig;
        rig.sets.main.build ({ loopedZone (constantSamples (10, 500), 60, loopLength) });
        rig.noteOn (60);
        const auto out = rig.render (20);
        for (int t = 0; t < 20; ++t)
            EXPECT_EQ (out[(size_t) t], t < 8 ? expectedOutput (500.0, 1.0, 1.0) : 0.0f) << loopLength;
        EXPECT_EQ (rig.activeVoices(), 0);
    }
}

TEST (VoicePlayback, ZonesTooShortToInterpolateSoundNothing)
{
    for (size_t length : { 0u, 1u, 2u })
    {
        EngineRig rig;
        rig.sets.kind = 2;
        rig.sets.main.build ({ zone (constantSamples (length, 1000), 60) });
        rig.sets.tine.build ({ zone (constantSamples (length, 1000), 72) });
        rig.params.tinemix = 1.0f;
        rig.noteOn (60);
        for (float s : rig.render (4))
            EXPECT_EQ (s, 0.0f) << length;
        EXPECT_EQ (rig.activeVoices() + rig.activeTineVoices(), 0) << length;
    }
}

TEST (VoicePlayback, GainFloorEndsAVoiceAfterTheSampleThatCrossedIt)
{
    // Ten-sample loop over the whole zone halving each pass: the tenth pass
    // (t = 100) gives 0.5^10 < 0.001; that sample still sounds.
    EngineRig rig;
    rig.sets.main.build ({ loopedZone (constantSamples (10, 1000), 60, 10, 0.5) });
    rig.noteOn (60);
    const auto out = rig.render (102);
    EXPECT_EQ (out[99], expectedOutput (1000.0, std::pow (0.5, 9), 1.0));
    EXPECT_EQ (out[100], expectedOutput (1000.0, std::pow (0.5, 10), 1.0));
    EXPECT_EQ (out[101], 0.0f);
    EXPECT_EQ (rig.activeVoices(), 0);
}

TEST (VoicePlayback, LowVelocityMainVoiceLastsOneSample)
{
    for (int velocity = 1; velocity <= 6; ++velocity)
    {
        EngineRig rig;
        rig.sets.main.build ({ loopedZone (constantSamples (1000, 20000), 60, 500, 1.0) });
        rig.noteOn (60, velocity);
        const auto out = rig.render (3);
        EXPECT_NE (out[0], 0.0f) << velocity;
        const bool oneSample = velocity <= 4;
        EXPECT_EQ (out[1] == 0.0f, oneSample) << velocity;
        EXPECT_EQ (rig.activeVoices(), oneSample ? 0 : 1) << velocity;
    }
}

TEST (VoicePlayback, SilenceWithoutVoicesWhateverTheTremolo)
{
    EngineRig rig;
    rig.sets.main.build ({ zone (constantSamples (100, 1000), 60) });
    rig.params.tremon = true;
    rig.params.tremapm = 1.0f;
    for (float s : rig.render (50000))
        ASSERT_EQ (s, 0.0f);
}

TEST (VoicePlayback, TremoloGainMultipliesTheScaledSumInDouble)
{
    EngineRig rig;
    rig.sets.main.build ({ loopedZone (constantSamples (1000, 12345), 60, 500) });
    rig.params.tremon = true;
    rig.noteOn (60);
    const auto out = rig.render (200);
    Tremolo tremolo;
    for (size_t t = 0; t < out.size(); ++t)
    {
        tremolo.advance (1.0f / 44100.0f, true, 0.5f, 0.5f);
        const float sum = 0.0f + (float) (12345.0 * 1.0 * 1.0);
        ASSERT_EQ (out[t], (float) ((double) (sum * 0.25f * sampleScale) * tremolo.tremoloGain)) << t;
    }
}
