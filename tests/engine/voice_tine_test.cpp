// Tine layer: start, zone choice, fixed envelope, mix.

#include <gtest/gtest.h>

#include <cmath>

#include "voice_fixtures.h"

using namespace voicefixtures;

namespace
{

struct VoiceTine : ::testing::Test
{
    EngineRig rig;

    void SetUp() override
    {
        rig.sets.kind = 2;
        rig.sets.main.build ({ loopedZone (constantSamples (20000, 1000), 60, 10000) });
        // Roots 70, 72, 80, 86, each a long constant of its own value.
        rig.sets.tine.build ({ zone (constantSamples (60000, 70), 70), zone (constantSamples (60000, 72), 72),
                               zone (constantSamples (60000, 80), 80), zone (constantSamples (60000, 86), 86) });
        rig.params.tinemix = 1.0f;
    }

    const short* zoneStart (int k) const { return rig.sets.tine.table[(size_t) k].data; }
};

} // namespace

TEST_F (VoiceTine, ZoneIsNearestToTheKeyPlusOneOrTwoOctaves)
{
    struct Case
    {
        int key;
        bool octaveUp;
        int zone;
        int tineNote;
    };
    const Case cases[] = {
        { 60, false, 1, 72 }, { 60, true, 3, 84 }, { 57, false, 0, 69 }, { 120, true, 3, 144 },
        { 64, false, 1, 76 },  // 72 and 80 equally near: the earlier zone
        { 65, false, 2, 77 },
    };
    for (const auto& c : cases)
    {
        rig.engine.reset();
        rig.params.tineon = c.octaveUp;
        rig.noteOn (c.key);
        const auto& v = rig.engine.tineVoices[0];
        ASSERT_TRUE (v.active);
        EXPECT_EQ (v.start, zoneStart (c.zone)) << "key " << c.key;
        EXPECT_EQ (v.note, c.key);
        const int root = rig.sets.tine.table[(size_t) c.zone].rootNote;
        EXPECT_EQ (v.pitchRatio, std::pow (2.0, (double) (c.tineNote - root) / 12.0)) << "key " << c.key;
    }
}

TEST_F (VoiceTine, SwitchingOctaveUpLeavesSoundingTineVoicesAlone)
{
    rig.noteOn (60);
    rig.params.tineon = true;
    rig.noteOn (62);
    EXPECT_EQ (rig.engine.tineVoices[0].start, zoneStart (1));
    EXPECT_EQ (rig.engine.tineVoices[1].start, zoneStart (3));
}

TEST_F (VoiceTine, EnvelopeRisesInTenMillisecondsAndHoldsAtOneFifth)
{
    rig.noteOn (60);
    rig.render (440);
    EXPECT_LT (rig.engine.tineVoices[0].level, 1.0);
    rig.render (2);
    EXPECT_EQ (rig.engine.tineVoices[0].stage, decayStage);
    rig.render ((int) (0.24 * 44100.0) + 10);
    EXPECT_EQ (rig.engine.tineVoices[0].level, (double) 0.2f);
    rig.render (10000);
    EXPECT_EQ (rig.engine.tineVoices[0].level, (double) 0.2f);
}

TEST_F (VoiceTine, ReleasedKeyLosesItsTineWithinTenMillisecondsDespiteThePedal)
{
    rig.noteOn (60);
    rig.render (441 + 11000);
    rig.pedal (true);
    rig.noteOff (60);
    rig.render (441);
    EXPECT_EQ (rig.activeTineVoices(), 0);
    EXPECT_TRUE (rig.engine.voices[0].active);
    EXPECT_EQ (rig.engine.voices[0].level, 1.0);

    // From full level too.
    rig.noteOn (62);
    rig.render (442);
    rig.noteOff (62);
    rig.render (442);
    EXPECT_EQ (rig.activeTineVoices(), 0);
}

TEST_F (VoiceTine, TineMixScalesTheLayerAndZeroKeepsItRunningSilently)
{
    // A main zone of zeros leaves only the tine layer in the output.
    rig.sets.main.build ({ loopedZone (constantSamples (20000, 0), 60, 10000) });
    rig.params.tinemix = 0.0f;
    rig.noteOn (60);
    for (float s : rig.render (500))
        EXPECT_EQ (s, 0.0f);
    EXPECT_EQ (rig.activeTineVoices(), 1);

    rig.params.tinemix = 0.5f;
    const auto& v = rig.engine.tineVoices[0];
    const double gain = v.gain;
    const double levelBefore = v.level;
    const double position = v.position;
    const auto out = rig.render (1);
    const double level = rig.engine.tineVoices[0].level;
    EXPECT_LE (level, levelBefore);
    EXPECT_EQ (position, std::floor (position));  // root, same rate: whole positions
    const float contribution = (float) (0.5 * (72.0 * gain * level));
    EXPECT_EQ (out[0], (float) ((double) ((0.0f + contribution) * 0.25f * sampleScale) * 1.0));
}

TEST_F (VoiceTine, LowVelocityEndsTheMainVoiceButNotTheTine)
{
    rig.noteOn (60, 3);
    rig.render (10);
    EXPECT_EQ (rig.activeVoices(), 0);
    EXPECT_EQ (rig.activeTineVoices(), 1);
    const double r = 3.0 / 127.0;
    EXPECT_NEAR (rig.engine.tineVoices[0].gain, r * r, 1e-9);
}

TEST_F (VoiceTine, TineZoneRunsOutWhileTheKeyIsHeld)
{
    rig.sets.tine.build ({ zone (constantSamples (50, 72), 72) });
    rig.noteOn (60);
    rig.render (47);
    EXPECT_EQ (rig.activeTineVoices(), 1);
    rig.render (2);
    EXPECT_EQ (rig.activeTineVoices(), 0);
    EXPECT_TRUE (rig.engine.voices[0].active);
}

TEST_F (VoiceTine, MissingTineVoiceOrZonesLeaveTheMainVoice)
{
    for (auto& v : rig.engine.tineVoices)
        v.active = true;  // every tine slot busy
    rig.noteOn (60);
    EXPECT_TRUE (rig.engine.voices[0].active);

    rig.engine.reset();
    rig.sets.tine.build ({});
    rig.noteOn (60);
    EXPECT_TRUE (rig.engine.voices[0].active);
    EXPECT_EQ (rig.activeTineVoices(), 0);
}

TEST_F (VoiceTine, NoMainVoiceMeansNoTineVoice)
{
    for (int k = 0; k < 64; ++k)
        rig.noteOn (30 + k);
    EXPECT_EQ (rig.activeTineVoices(), 64);
    rig.engine.tineVoices[5].active = false;
    rig.noteOn (100);
    EXPECT_FALSE (rig.engine.tineVoices[5].active);
}

TEST_F (VoiceTine, OtherSetKindsHaveNoTineLayer)
{
    for (short kind : { 0, 1, 3 })
    {
        rig.engine.reset();
        rig.sets.kind = kind;
        rig.noteOn (60);
        rig.render (10);
        EXPECT_EQ (rig.activeTineVoices(), 0) << kind;
    }

    // A tine voice left from a kind-2 set is neither rendered nor released under another kind.
    rig.engine.reset();
    rig.sets.kind = 2;
    rig.noteOn (60);
    rig.sets.kind = 1;
    const double position = rig.engine.tineVoices[0].position;
    rig.render (10);
    rig.noteOff (60);
    EXPECT_EQ (rig.engine.tineVoices[0].position, position);
    EXPECT_EQ (rig.engine.tineVoices[0].stage, attackStage);
}
