// Main envelope: stages, times, damper rule and sustain pedal.

#include <gtest/gtest.h>

#include "voice_fixtures.h"

using namespace voicefixtures;

namespace
{

// A set whose zones never run out: one looped zone per kind, loopGain 1.
EngineRig sustainingRig (short kind = 0, int sampleRateHz = 44100)
{
    EngineRig rig;
    rig.sampleRateHz = sampleRateHz;
    rig.sets.kind = kind;
    rig.sets.main.build ({ loopedZone (constantSamples (2000, 1000), 60, 1000) });
    return rig;
}

// Renders one sample at a time until voice 0 ends; returns the samples rendered.
int samplesUntilVoiceEnds (EngineRig& rig, int limit)
{
    for (int t = 1; t <= limit; ++t)
    {
        rig.render (1);
        if (! rig.engine.voices[0].active)
            return t;
    }
    return -1;
}

} // namespace

TEST (VoiceEnvelope, DefaultsGiveFullLevelAtOnceAndATenthOfASecondRelease)
{
    EngineRig rig = sustainingRig();
    rig.noteOn (60);
    const auto out = rig.render (1000);
    for (float s : out)
        ASSERT_EQ (s, expectedOutput (1000.0, 1.0, 1.0));
    EXPECT_EQ (rig.engine.voices[0].level, 1.0);

    rig.noteOff (60);
    const int steps = samplesUntilVoiceEnds (rig, 10000);
    EXPECT_GE (steps, 4410);
    EXPECT_LE (steps, 4411);
}

TEST (VoiceEnvelope, OneSecondAttackReachesFullLevelOneStepLate)
{
    struct Case
    {
        int rate;
        int stepsToFull;
    };
    for (const auto& c : { Case { 48000, 48001 }, Case { 44100, 44101 } })
    {
        EngineRig rig = sustainingRig (0, c.rate);
        rig.params.attack = 1.0f;
        rig.noteOn (60);
        rig.render (c.stepsToFull - 1);
        EXPECT_LT (rig.engine.voices[0].level, 1.0) << c.rate;
        EXPECT_EQ (rig.engine.voices[0].stage, attackStage) << c.rate;
        rig.render (1);
        EXPECT_EQ (rig.engine.voices[0].level, 1.0) << c.rate;
        EXPECT_EQ (rig.engine.voices[0].stage, decayStage) << c.rate;
    }
}

TEST (VoiceEnvelope, DecayFallsToSustainAndFollowsItsChanges)
{
    EngineRig rig = sustainingRig();
    rig.params.decay = 0.5f;
    rig.params.sustain = 0.25f;
    rig.noteOn (60);
    // 1 -> 0.25 at one unit per 0.5 s: 0.375 s after the first step.
    rig.render (1 + 16537);
    EXPECT_GT (rig.engine.voices[0].level, 0.25);
    rig.render (2);
    EXPECT_EQ (rig.engine.voices[0].level, (double) 0.25f);

    rig.params.sustain = 0.75f;  // raised: lifted at the next step
    rig.render (1);
    EXPECT_EQ (rig.engine.voices[0].level, (double) 0.75f);

    rig.params.sustain = 0.0f;   // lowered: falls at the decay rate, the voice stays
    rig.render (100);
    EXPECT_NEAR (rig.engine.voices[0].level, 0.75 - 100.0 / (0.5 * 44100.0), 1e-6);
    rig.render (44100);
    EXPECT_EQ (rig.engine.voices[0].level, 0.0);
    EXPECT_TRUE (rig.engine.voices[0].active);
}

TEST (VoiceEnvelope, TwoSecondReleaseFromHalfLevelEndsOneSecondLater)
{
    EngineRig rig = sustainingRig (0, 48000);
    rig.params.sustain = 0.5f;
    rig.params.release = 2.0f;
    rig.noteOn (60);
    rig.render (2);
    ASSERT_EQ (rig.engine.voices[0].level, 0.5);
    rig.noteOff (60);
    const int steps = samplesUntilVoiceEnds (rig, 100000);
    EXPECT_GE (steps, 48000);
    EXPECT_LE (steps, 48001);
}

TEST (VoiceEnvelope, DamperRuleByKindAndNote)
{
    struct Case
    {
        short kind;
        int note;
        float release;
        bool falls;
    };
    const Case cases[] = {
        { 0, 84, 0.1f, false }, { 0, 83, 0.1f, true }, { 0, 127, 0.1f, false },
        { 1, 84, 0.1f, true },  { 2, 100, 0.1f, true }, { 7, 120, 0.1f, true },
        { 1, 60, 5.0f, false }, { 1, 60, 4.99f, true },
    };
    for (const auto& c : cases)
    {
        EngineRig rig = sustainingRig (c.kind);
        rig.params.release = c.release;
        rig.noteOn (c.note);
        rig.render (10);
        rig.noteOff (c.note);
        rig.render (10);
        EXPECT_EQ (rig.engine.voices[0].level < 1.0, c.falls) << "kind " << c.kind << " note " << c.note;
        EXPECT_TRUE (rig.engine.voices[0].active);
    }
}

TEST (VoiceEnvelope, PedalHoldsReleasedVoicesAndTheReleaseResumes)
{
    EngineRig rig = sustainingRig();
    rig.params.attack = 1.0f;
    rig.params.release = 1.0f;
    rig.noteOn (60);
    rig.noteOn (62);
    rig.render (22050);
    const double levelAtRelease = rig.engine.voices[0].level;
    ASSERT_NEAR (levelAtRelease, 0.5, 1e-3);

    rig.pedal (true);
    rig.noteOff (60);
    rig.render (2 * 44100);
    EXPECT_EQ (rig.engine.voices[0].stage, releaseStage);
    EXPECT_EQ (rig.engine.voices[0].level, levelAtRelease);
    EXPECT_EQ (rig.engine.voices[1].level, 1.0);  // held key: unaffected by the pedal

    rig.pedal (false);
    rig.render (1);
    EXPECT_EQ (rig.engine.voices[0].level, levelAtRelease - (double) (1.0f / 44100.0f / 1.0f));
    const int steps = 1 + samplesUntilVoiceEnds (rig, 100000);
    EXPECT_NEAR (steps, levelAtRelease * 44100.0, 2.0);
}

TEST (VoiceEnvelope, NoteOnAndOffInOneBlockSoundNothing)
{
    for (bool pedal : { false, true })
    {
        EngineRig rig;
        rig.sets.kind = 2;
        rig.sets.main.build ({ loopedZone (constantSamples (2000, 1000), 60, 1000) });
        rig.sets.tine.build ({ zone (constantSamples (2000, 1000), 72) });
        rig.params.tinemix = 1.0f;
        rig.pedal (pedal);
        rig.noteOn (60);
        rig.noteOff (60);
        for (float s : rig.render (64))
            EXPECT_EQ (s, 0.0f);
        EXPECT_EQ (rig.activeVoices(), 0);
        EXPECT_EQ (rig.activeTineVoices(), 0);
    }
    // Also on a key without damper.
    EngineRig rig = sustainingRig (0);
    rig.noteOn (100);
    rig.noteOff (100);
    for (float s : rig.render (16))
        EXPECT_EQ (s, 0.0f);
    EXPECT_EQ (rig.activeVoices(), 0);
}

TEST (VoiceEnvelope, ZeroReleaseEndsTheVoiceAtItsNextStep)
{
    EngineRig rig = sustainingRig();
    rig.params.release = 0.0f;
    rig.noteOn (60);
    rig.render (5);
    rig.noteOff (60);
    EXPECT_EQ (rig.render (1)[0], 0.0f);
    EXPECT_EQ (rig.activeVoices(), 0);
}
